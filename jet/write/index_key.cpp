#include "jet/write/index_key.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/utf.h"

namespace jet::write {
namespace {

constexpr size_t kMaxKeyCharacters = 255;

// Inline sort code of one character: one or two bytes; `ignorable` marks characters that
// add no inline code but a trailer entry instead (apostrophe, hyphen).
struct CharCode {
  uint8_t first = 0;   // 0: not supported
  uint8_t second = 0;  // 0: one-byte code
  bool ignorable = false;
};

constexpr std::array<uint8_t, 26> kLetterCodes = {
    0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
    0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};
constexpr std::array<uint8_t, 10> kDigitCodes = {0x36, 0x38, 0x3A, 0x3C, 0x3E,
                                                 0x40, 0x42, 0x44, 0x46, 0x48};

CharCode CodeOf(char16_t c) {
  if (c >= u'A' && c <= u'Z') return {kLetterCodes[c - u'A']};
  if (c >= u'a' && c <= u'z') return {kLetterCodes[c - u'a']};
  if (c >= u'0' && c <= u'9') return {kDigitCodes[c - u'0']};
  if (c >= 0x09 && c <= 0x0D) return {0x08, static_cast<uint8_t>(0x03 + (c - 0x09))};
  switch (c) {
    case u' ':
      return {0x07};
    case u'!':
      return {0x09};
    case u'"':
      return {0x0A};
    case u'#':
      return {0x0C};
    case u'$':
      return {0x0E};
    case u'%':
      return {0x10};
    case u'&':
      return {0x12};
    case u'(':
      return {0x14};
    case u')':
      return {0x16};
    case u'*':
      return {0x18};
    case u',':
      return {0x1A};
    case u'.':
      return {0x1C};
    case u'/':
      return {0x1E};
    case u':':
      return {0x20};
    case u';':
      return {0x22};
    case u'?':
      return {0x24};
    case u'@':
      return {0x26};
    case u'[':
      return {0x27};
    case u'\\':
      return {0x29};
    case u']':
      return {0x2A};
    case u'+':
      return {0x2C};
    case u'<':
      return {0x2E};
    case u'=':
      return {0x30};
    case u'>':
      return {0x32};
    case u'^':
      return {0x2B, 0x02};
    case u'_':
      return {0x2B, 0x03};
    case u'`':
      return {0x2B, 0x07};
    case u'{':
      return {0x2B, 0x09};
    case u'|':
      return {0x2B, 0x0B};
    case u'}':
      return {0x2B, 0x0D};
    case u'~':
      return {0x2B, 0x0F};
    case u'\'':
      return {0x80, 0, true};
    case u'-':
      return {0x82, 0, true};
    default:
      return {};
  }
}

std::u16string_view KeyPart(std::u16string_view text) {
  if (text.size() > kMaxKeyCharacters) text = text.substr(0, kMaxKeyCharacters);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

// Ascending text bytes (without the leading 7F flag): codes, 01, trailer, 00.
std::string TextKeyBytes(std::u16string_view text) {
  text = KeyPart(text);
  std::string out;
  // Ignorable characters are recorded with the number of inline-coded characters before
  // them. Mixing them with two-byte codes has no verified encoding, so it is refused.
  std::vector<std::pair<size_t, uint8_t>> ignorables;
  size_t inline_count = 0;
  bool two_byte_seen = false;
  for (char16_t c : text) {
    CharCode code = CodeOf(c);
    if (code.first == 0) {
      throw Error(u"索引のキーに使えない文字があります: U+" + base::FromUtf8([&] {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
                    return std::string(buf);
                  }()));
    }
    if (code.ignorable) {
      ignorables.emplace_back(inline_count, code.first);
      continue;
    }
    out.push_back(static_cast<char>(code.first));
    if (code.second != 0) {
      out.push_back(static_cast<char>(code.second));
      two_byte_seen = true;
    }
    ++inline_count;
  }
  if (!ignorables.empty() && two_byte_seen) {
    throw Error(
        u"索引のキーに、この組み合わせの記号 (' または - と ^_`{|}~ や制御文字) は使えません");
  }
  out.push_back(0x01);
  if (!ignorables.empty()) {
    out.append("\x01\x01\x01", 3);
    for (auto [position, code] : ignorables) {
      uint32_t v = 0x8000u | static_cast<uint32_t>(7 + 4 * position);
      if (v > 0xFFFF) throw Error(u"索引のキーにする文字列が長すぎます");
      out.push_back(static_cast<char>(v >> 8));
      out.push_back(static_cast<char>(v & 0xFF));
      out.push_back(0x06);
      out.push_back(static_cast<char>(code));
    }
  }
  out.push_back(0x00);
  return out;
}

void AppendBigEndian(std::string& key, uint64_t bits, int bytes, bool ascending) {
  for (int i = bytes - 1; i >= 0; --i) {
    uint8_t b = static_cast<uint8_t>(bits >> (8 * i));
    key.push_back(static_cast<char>(ascending ? b : static_cast<uint8_t>(~b)));
  }
}

void AppendSignedInteger(std::string& key, int64_t v, int bytes, bool ascending) {
  uint64_t bits = static_cast<uint64_t>(v);
  bits ^= uint64_t{1} << (8 * bytes - 1);
  AppendBigEndian(key, bits, bytes, ascending);
}

void AppendFloat(std::string& key, uint64_t bits, int bytes, bool ascending) {
  uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  bits = (bits & sign) ? (~bits & mask) : (bits ^ sign);
  AppendBigEndian(key, bits, bytes, ascending);
}

}  // namespace

std::optional<char16_t> UnsupportedKeyCharacter(std::u16string_view text) {
  for (char16_t c : KeyPart(text)) {
    if (CodeOf(c).first == 0) return c;
  }
  return std::nullopt;
}

bool IsIndexableType(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kText:
      return true;
    default:
      return false;
  }
}

void AppendKeyPiece(std::string& key, ColumnType type, const Value& value, bool ascending) {
  if (type == ColumnType::kBoolean) {
    bool yes = !value.is_null() && value.boolean();
    key.push_back(static_cast<char>(ascending ? 0x7F : 0x80));
    uint8_t b = yes ? 0x00 : 0xFF;
    key.push_back(static_cast<char>(ascending ? b : static_cast<uint8_t>(~b)));
    return;
  }
  if (value.is_null()) {
    key.push_back(static_cast<char>(ascending ? 0x00 : 0xFF));
    return;
  }
  key.push_back(static_cast<char>(ascending ? 0x7F : 0x80));
  switch (type) {
    case ColumnType::kByte:
      AppendBigEndian(key, static_cast<uint8_t>(value.integer()), 1, ascending);
      return;
    case ColumnType::kInteger:
      AppendSignedInteger(key, value.integer(), 2, ascending);
      return;
    case ColumnType::kLong:
      AppendSignedInteger(key, value.integer(), 4, ascending);
      return;
    case ColumnType::kCurrency:
      AppendSignedInteger(key, value.currency().ten_thousandths, 8, ascending);
      return;
    case ColumnType::kSingle: {
      float f = static_cast<float>(value.number());
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      AppendFloat(key, bits, 4, ascending);
      return;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d = type == ColumnType::kDateTime ? value.date_time().ole : value.number();
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      AppendFloat(key, bits, 8, ascending);
      return;
    }
    case ColumnType::kText: {
      std::string bytes = TextKeyBytes(value.text());
      if (ascending) {
        key += bytes;
      } else {
        for (char c : bytes) key.push_back(static_cast<char>(~static_cast<uint8_t>(c)));
        key.push_back(0x00);
      }
      return;
    }
    default:
      throw Error(u"この型の列には索引を作れません");
  }
}

}  // namespace jet::write
