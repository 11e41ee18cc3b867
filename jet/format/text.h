// Text values. Jet 4.0 stores text as UCS-2 little-endian, or in its compressed form:
//   FF FE, then bytes that are each one character U+0001–U+00FF ("compressed mode"); a 00
//   byte switches between that mode and plain UCS-2 pairs, and back.
// Only values longer than two bytes that start with FF FE are compressed.
#ifndef QUORVEL_JET_FORMAT_TEXT_H_
#define QUORVEL_JET_FORMAT_TEXT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace jet::format {

std::u16string DecodeText(std::span<const uint8_t> bytes);
// The same into `out`, whose storage is reused (scans decode many values into one buffer).
void DecodeTextInto(std::span<const uint8_t> bytes, std::u16string& out);

// The stored bytes of a text: UCS-2 little-endian, or the compressed form (FF FE, then one
// byte per character) when `compressible` (the column's flag) and every character fits in
// one byte, the text is longer than two characters and its compressed form fits in a page,
// as Access does. A text starting with U+FEFF is always stored in the marked form switched
// straight to two-byte characters (FF FE 00, then UCS-2), so that it cannot be mistaken
// for the marker.
std::string EncodeText(std::u16string_view text, bool compressible);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_TEXT_H_
