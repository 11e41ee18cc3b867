#include "jet/format/text.h"

namespace jet::format {

std::u16string DecodeText(std::span<const uint8_t> bytes) {
  std::u16string out;
  DecodeTextInto(bytes, out);
  return out;
}

void DecodeTextInto(std::span<const uint8_t> bytes, std::u16string& out) {
  const bool compressed = bytes.size() > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (!compressed) {
    out.resize(bytes.size() / 2);  // an odd last byte belongs to no character
    const uint8_t* in = bytes.data();
    for (char16_t& c : out) {
      c = static_cast<char16_t>(in[0] | (in[1] << 8));
      in += 2;
    }
    return;
  }
  // No text is longer than its bytes: write into room for that many, then cut.
  out.resize(bytes.size() - 2);
  char16_t* put = out.data();
  bool one_byte = true;
  size_t i = 2;
  const size_t n = bytes.size();
  while (i < n) {
    const uint8_t b = bytes[i];
    if (b == 0) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      *put++ = b;
      ++i;
    } else if (i + 1 < n) {
      *put++ = static_cast<char16_t>(b | (bytes[i + 1] << 8));
      i += 2;
    } else {
      break;
    }
  }
  out.resize(static_cast<size_t>(put - out.data()));
}

}  // namespace jet::format
