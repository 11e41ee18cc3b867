#include "jet/format/text.h"

#include <bit>
#include <cstring>

#include "jet/format/constants.h"

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
    if constexpr (std::endian::native == std::endian::little) {
      // UTF-16LE is the character's own layout in memory here. (An empty span may have no
      // address at all, which memcpy must not be given.)
      if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
    } else {
      const uint8_t* in = bytes.data();
      for (char16_t& c : out) {
        c = static_cast<char16_t>(in[0] | (in[1] << 8));
        in += 2;
      }
    }
    return;
  }
  // No text is longer than its bytes: write into room for that many, then cut.
  out.resize(bytes.size() - 2);
  char16_t* put = out.data();
  const uint8_t* in = bytes.data() + 2;
  const uint8_t* const end = bytes.data() + bytes.size();
  bool one_byte = true;
  while (in < end) {
    if (one_byte) {
      // A run of one-byte characters lasts until the next zero byte, which switches modes.
      const auto* zero =
          static_cast<const uint8_t*>(std::memchr(in, 0, static_cast<size_t>(end - in)));
      const uint8_t* const run_end = zero != nullptr ? zero : end;
      while (in < run_end) *put++ = *in++;
      if (in == end) break;
      one_byte = false;
      ++in;
    } else if (*in == 0) {
      one_byte = true;
      ++in;
    } else if (end - in >= 2) {
      *put++ = static_cast<char16_t>(in[0] | (in[1] << 8));
      in += 2;
    } else {
      break;
    }
  }
  out.resize(static_cast<size_t>(put - out.data()));
}

std::string EncodeText(std::u16string_view text, bool compressible) {
  const bool starts_with_marker = !text.empty() && text[0] == 0xFEFF;
  bool all_narrow = true;
  for (char16_t c : text) {
    if (c == 0 || c > 0xFF) {
      all_narrow = false;
      break;
    }
  }
  std::string out;
  if (compressible && all_narrow && text.size() > 2 && text.size() + 2 <= kPageSize &&
      !starts_with_marker) {
    out.reserve(2 + text.size());
    out.push_back(static_cast<char>(0xFF));
    out.push_back(static_cast<char>(0xFE));
    for (char16_t c : text) out.push_back(static_cast<char>(c));
    return out;
  }
  size_t at = starts_with_marker ? 3 : 0;
  out.resize(at + 2 * text.size());
  char* p = out.data();
  if (starts_with_marker) {
    p[0] = static_cast<char>(0xFF);
    p[1] = static_cast<char>(0xFE);
    p[2] = 0x00;
  }
  for (char16_t c : text) {
    p[at++] = static_cast<char>(c & 0xFF);
    p[at++] = static_cast<char>(c >> 8);
  }
  return out;
}

}  // namespace jet::format
