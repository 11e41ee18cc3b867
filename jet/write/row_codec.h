// Values into the bytes of a Jet 4.0 row.
//
// A row: u16 column count, the fixed area (fixed columns at their offsets), the variable
// columns' data in slot order, u16 end-of-data offset, one u16 start offset per variable
// slot (last slot first), u16 variable column count, the null mask (bit n = column n present;
// for Yes/No columns the bit is the value). A table without variable columns has only the
// column count, the fixed area and the null mask.
#ifndef QUORVEL_JET_WRITE_ROW_CODEC_H_
#define QUORVEL_JET_WRITE_ROW_CODEC_H_

#include <optional>
#include <string>
#include <vector>

#include "jet/jet.h"
#include "jet/write/table_model.h"

namespace jet::write {

// Largest row the writer stores (what other writers accept; a page could take 4080).
inline constexpr size_t kMaxRowLength = 4060;
// Long values up to this many bytes stay inside the row.
inline constexpr size_t kMaxInlineLongValue = 64;
// Long values up to this many bytes go into one LVAL row; longer ones into a chain.
inline constexpr size_t kMaxSingleLongValue = 4076;
inline constexpr size_t kLongValueChainPiece = 4072;

// Converts a given value to the column's kind: Integer for Byte/Integer/Long, Double for
// Single/Double, Currency, DateTime, Boolean, Text for Text/Memo, Binary for Binary/OLE,
// Guid. Not given (nullopt) and NULL give NULL, except Yes/No, which has no NULL and gives
// No. Throws jet::Error with a message naming the column when the value cannot be stored
// (out of range, unconvertible text, text longer than the column).
Value ConvertForColumn(const ColumnModel& column, const std::optional<Value>& value);

// The stored bytes of a text: UCS-2 little-endian, or the compressed form (FF FE, then one
// byte per character, with 00 switching between one- and two-byte characters) when the
// column allows it and that is shorter. A text starting with U+FEFF is always stored in the
// marked form, so that it cannot be mistaken for the marker.
std::string EncodeText(std::u16string_view text, bool compressible);

// The fixed-area bytes of a non-NULL fixed value.
void EncodeFixed(uint8_t* out, ColumnType type, const Value& value);

// The bytes of a variable-length value (Text, Binary) or of long-value data (Memo, OLE).
std::string VariableBytes(const ColumnModel& column, const Value& value);

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_ROW_CODEC_H_
