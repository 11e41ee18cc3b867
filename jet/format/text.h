// Text values. Jet 4.0 stores text as UCS-2 little-endian, or in its compressed form:
//   FF FE, then bytes that are each one character U+0001–U+00FF ("compressed mode"); a 00
//   byte switches between that mode and plain UCS-2 pairs, and back.
// Only values longer than two bytes that start with FF FE are compressed.
#ifndef QUORVEL_JET_FORMAT_TEXT_H_
#define QUORVEL_JET_FORMAT_TEXT_H_

#include <cstdint>
#include <span>
#include <string>

namespace jet::format {

std::u16string DecodeText(std::span<const uint8_t> bytes);
// The same into `out`, whose storage is reused (scans decode many values into one buffer).
void DecodeTextInto(std::span<const uint8_t> bytes, std::u16string& out);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_TEXT_H_
