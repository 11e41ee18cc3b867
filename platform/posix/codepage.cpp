// Code page 932 by two tables made once from glibc's iconv, trimmed to Windows' own mapping:
//   - glibc decodes neither 0x80, 0xA0 nor 0xFD to 0xFF; Windows' table gives them U+0080,
//     U+F8F0 and U+F8F1 to U+F8F3, and so do the tables here (both ways).
//   - glibc encodes some characters to a code of a look-alike (U+301C and U+FF5E both to 81 60,
//     U+00A5 to 5C). Windows does so only in its best-fit mapping, which the program does not
//     use: a character that does not come back from the code it is written as is not held by
//     the code page and becomes "?".
//   - A pair the code page does not assign decodes to U+30FB, the code page's default Unicode
//     character, as Windows gives it, not to U+FFFD.
#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace platform {
namespace {

constexpr char16_t kDefaultCharacter = u'\u30FB';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// The single bytes Windows maps that glibc does not.
char16_t WindowsOnlySingleByte(unsigned char b) {
  switch (b) {
    case 0x80:
      return u'\u0080';
    case 0xA0:
      return u'\uF8F0';
    case 0xFD:
      return u'\uF8F1';
    case 0xFE:
      return u'\uF8F2';
    case 0xFF:
      return u'\uF8F3';
    default:
      return 0;
  }
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts `in` whole; false when iconv refuses it.
  bool Convert(const char* in, size_t in_size, char* out, size_t out_size, size_t& written) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* source = const_cast<char*>(in);
    char* target = out;
    size_t target_left = out_size;
    if (iconv(cd_, &source, &in_size, &target, &target_left) == static_cast<size_t>(-1)) {
      return false;
    }
    written = out_size - target_left;
    return in_size == 0;
  }

 private:
  iconv_t cd_;
};

struct Tables {
  // Single bytes (0 for lead bytes) and lead-trail pairs (lead << 8 | trail; 0 when the pair
  // is not assigned).
  std::array<char16_t, 256> single{};
  std::array<char16_t, 65536> pair{};
  // The code of each BMP character: the byte, or lead << 8 | trail; 0 when the code page does
  // not hold it (U+0000 is the byte 0 and handled before the table).
  std::array<uint16_t, 65536> code{};
};

Tables MakeTables() {
  Tables tables;
  Iconv decoder("UTF-16LE", "CP932");
  char out[8];
  size_t written = 0;
  auto decode = [&](const char* in, size_t size) -> char16_t {
    if (!decoder.Convert(in, size, out, sizeof out, written) || written != 2) return 0;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
  };
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    if (IsLeadByte(byte)) continue;
    const char in = static_cast<char>(byte);
    char16_t c = WindowsOnlySingleByte(byte);
    if (c == 0) c = decode(&in, 1);
    tables.single[byte] = c;
  }
  for (int lead = 0; lead < 256; ++lead) {
    if (!IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0; trail < 256; ++trail) {
      if (!IsTrailByte(static_cast<unsigned char>(trail))) continue;
      const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      tables.pair[static_cast<size_t>(lead << 8 | trail)] = decode(in, 2);
    }
  }
  // Encoding: iconv's choice among duplicate codes (the NEC and IBM rows) is Windows' choice;
  // a code that decodes to another character is a look-alike and not taken.
  Iconv encoder("CP932", "UTF-16LE");
  for (uint32_t c = 1; c < 65536; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    uint16_t code = 0;
    if (encoder.Convert(in, 2, out, sizeof out, written)) {
      if (written == 1) {
        code = static_cast<unsigned char>(out[0]);
        if (tables.single[code] != c) code = 0;
      } else if (written == 2) {
        code = static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                     static_cast<unsigned char>(out[1]));
        if (tables.pair[code] != c) code = 0;
      }
    }
    tables.code[c] = code;
  }
  for (int b = 0x80; b < 256; ++b) {
    const char16_t c = WindowsOnlySingleByte(static_cast<unsigned char>(b));
    if (c != 0) tables.code[c] = static_cast<uint16_t>(b);
  }
  return tables;
}

const Tables& TheTables() {
  static const std::unique_ptr<const Tables> tables = std::make_unique<const Tables>(MakeTables());
  return *tables;
}

}  // namespace

std::string ToCodePage932(std::u16string_view text) {
  const Tables& tables = TheTables();
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      // The code page holds nothing outside the BMP: a pair is one "?", a lone surrogate too.
      if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
      out.push_back('?');
    } else if (const uint16_t code = tables.code[c]; code == 0) {
      out.push_back('?');
    } else if (code < 0x100) {
      out.push_back(static_cast<char>(code));
    } else {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    }
  }
  return out;
}

std::u16string FromCodePage932(std::string_view bytes) {
  const Tables& tables = TheTables();
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (!IsLeadByte(b)) {
      out.push_back(b < 0x80 ? static_cast<char16_t>(b) : tables.single[b]);
    } else if (i + 1 < bytes.size() && IsTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
      const char16_t c =
          tables.pair[static_cast<size_t>(b << 8 | static_cast<unsigned char>(bytes[i + 1]))];
      out.push_back(c != 0 ? c : kDefaultCharacter);
      ++i;
    } else {
      // A lead byte without its trail byte: the default character, and the byte after it is
      // read on its own, so that a line end or "=" behind a damaged character stays.
      out.push_back(kDefaultCharacter);
    }
  }
  return out;
}

}  // namespace platform
