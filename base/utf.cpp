#include "base/utf.h"

#include <cstdint>

namespace base {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

char Byte(char32_t bits) { return static_cast<char>(static_cast<unsigned char>(bits)); }

void EncodeUtf8(std::u16string_view text, std::string& out) {
  // Room for the longest form (three bytes per unit; a pair's four bytes take two units), then
  // cut to what was written: one resize instead of a check at every byte.
  const size_t start = out.size();
  out.resize(start + 3 * text.size());
  char* put = out.data() + start;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {  // the common case first
      *put++ = Byte(c);
      continue;
    }
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsSurrogate(c)) {
      c = kReplacement;
    }
    if (c < 0x800) {
      *put++ = Byte(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *put++ = Byte(0xE0 | (c >> 12));
      *put++ = Byte(0x80 | ((c >> 6) & 0x3F));
    } else {
      *put++ = Byte(0xF0 | (c >> 18));
      *put++ = Byte(0x80 | ((c >> 12) & 0x3F));
      *put++ = Byte(0x80 | ((c >> 6) & 0x3F));
    }
    *put++ = Byte(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<size_t>(put - out.data()));
}

// Continuation bytes a lead byte announces, or -1 for a byte that cannot start a sequence
// (a continuation byte, the overlong leads C0/C1, and F5-FF).
int ContinuationCount(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

void DecodeUtf8(std::string_view text, std::u16string& out) {
  static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
  static constexpr unsigned char kLeadBits[4] = {0x7F, 0x1F, 0x0F, 0x07};
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    const int need = ContinuationCount(lead);
    if (need < 0) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    const auto count = static_cast<size_t>(need);
    char32_t c = lead & kLeadBits[count];
    size_t k = 1;  // bytes of the sequence read so far
    for (; k <= count && i + k < text.size(); ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) break;
      c = (c << 6) | (b & 0x3Fu);
    }
    if (k != count + 1 || c < kMinimum[count] || c > 0x10FFFF || IsSurrogate(c)) {
      // The bytes read so far stand for one replacement character.
      out.push_back(static_cast<char16_t>(kReplacement));
      i += k;
      continue;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += k;
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  EncodeUtf8(text, out);
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  DecodeUtf8(text, out);
  return out;
}

void AppendUtf8(std::u16string_view text, std::string& out) {
  out.reserve(out.size() + text.size() * 3);
  EncodeUtf8(text, out);
}

void AppendUtf16(std::string_view text, std::u16string& out) {
  out.reserve(out.size() + text.size());
  DecodeUtf8(text, out);
}

std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace base
