// A Memo or OLE value. The row holds a 12-byte header:
//    0  u32  bits 0-29 data length; the top bits give the form:
//            0x80 in byte 3 = inline, the data follows at 12
//            0x40           = one row on a long-value page, at the row pointer
//            0x00           = a chain of rows, starting at the row pointer
//    4  u32  row pointer (forms 0x40 and 0x00)
//    8  u32  not used by readers
// A chain row is a u32 row pointer of the next piece (0 in the last) followed by data.
// Long-value pages are data pages whose owner field reads "LVAL".
#ifndef QUORVEL_JET_FORMAT_LONG_VALUE_H_
#define QUORVEL_JET_FORMAT_LONG_VALUE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/constants.h"
#include "jet/format/pager.h"

namespace jet::format {

// The data of a long value from its row field. Throws jet::Error for a damaged value,
// including a chain that loops or ends early.
std::vector<uint8_t> ReadLongValue(Pager& pager, std::span<const uint8_t> field);

// The 12-byte header of a long value of `length` bytes in `form` (kLongValueInline,
// kLongValueSingle or kLongValueChain); `first` is the row that holds the data or the first
// piece of the chain (none for the inline form).
std::string EncodeLongValueHeader(uint32_t length, uint8_t form, RowPointer first = {});

// The row field of a long value kept inside the row: the header in the inline form, then
// the data.
std::string EncodeInlineLongValue(std::string_view data);

// One row of a chain: the row pointer of the next piece (none in the last), then the data.
std::string EncodeLongValueChainPiece(RowPointer next, std::string_view data);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_LONG_VALUE_H_
