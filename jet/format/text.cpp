#include "jet/format/text.h"

namespace jet::format {

std::u16string DecodeText(std::span<const uint8_t> bytes) {
  std::u16string out;
  DecodeTextInto(bytes, out);
  return out;
}

void DecodeTextInto(std::span<const uint8_t> bytes, std::u16string& out) {
  out.clear();
  const bool compressed = bytes.size() > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (!compressed) {
    out.resize(bytes.size() / 2);  // an odd last byte belongs to no character
    for (size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return;
  }
  out.reserve(bytes.size() - 2);
  bool one_byte = true;
  size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == 0) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      out.push_back(bytes[i]);
      ++i;
    } else if (i + 1 < bytes.size()) {
      out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      i += 2;
    } else {
      break;
    }
  }
}

}  // namespace jet::format
