#include "jet/format/index_key.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "jet/format/constants.h"
#include "jet/format/corruption.h"

namespace jet::format {
namespace {

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

// The character each code stands for, the capital where a letter has two: the inverse of
// CodeOf over the characters it supports (all of them below 0x80).
struct CodeTable {
  std::array<char16_t, 256> one_byte{};                   // code -> character, 0: none
  std::array<std::array<char16_t, 256>, 256> two_byte{};  // first, second -> character
  std::array<char16_t, 256> ignorable{};
};

const CodeTable& Codes() {
  static const CodeTable table = [] {
    CodeTable t;
    for (char16_t c = 0x7F; c > 0; --c) {  // downwards, so that capitals win
      const CharCode code = CodeOf(c);
      if (code.first == 0) continue;
      if (code.ignorable) {
        t.ignorable[code.first] = c;
      } else if (code.second != 0) {
        t.two_byte[code.first][code.second] = c;
      } else {
        t.one_byte[code.first] = c;
      }
    }
    return t;
  }();
  return table;
}

std::u16string_view KeyPart(std::u16string_view text) {
  if (text.size() > kMaxKeyCharacters) text = text.substr(0, kMaxKeyCharacters);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

// Ascending text bytes (without the leading flag): codes, end of codes, trailer, end.
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
  out.push_back(static_cast<char>(kTextKeyCodesEnd));
  if (!ignorables.empty()) {
    out.append(3, static_cast<char>(kTextKeyTrailerStart));
    for (auto [position, code] : ignorables) {
      const size_t v =
          kTextKeyTrailerFlag | (kTextKeyPositionBase + kTextKeyPositionStep * position);
      if (v > 0xFFFF) throw Error(u"索引のキーにする文字列が長すぎます");
      out.push_back(static_cast<char>(v >> 8));
      out.push_back(static_cast<char>(v & 0xFF));
      out.push_back(static_cast<char>(kTextKeyTrailerMark));
      out.push_back(static_cast<char>(code));
    }
  }
  out.push_back(static_cast<char>(kTextKeyEnd));
  return out;
}

void AppendBigEndian(std::string& key, uint64_t bits, int bytes, bool ascending) {
  for (int i = bytes - 1; i >= 0; --i) {
    uint8_t b = static_cast<uint8_t>(bits >> (8 * i));
    key.push_back(static_cast<char>(ascending ? b : static_cast<uint8_t>(~b)));
  }
}

uint64_t SignBit(int bytes) { return uint64_t{1} << (8 * bytes - 1); }
uint64_t WidthMask(int bytes) {
  return bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
}

void AppendSignedInteger(std::string& key, int64_t v, int bytes, bool ascending) {
  uint64_t bits = static_cast<uint64_t>(v) ^ SignBit(bytes);
  AppendBigEndian(key, bits, bytes, ascending);
}

void AppendFloat(std::string& key, uint64_t bits, int bytes, bool ascending) {
  const uint64_t sign = SignBit(bytes);
  bits = (bits & sign) ? (~bits & WidthMask(bytes)) : (bits ^ sign);
  AppendBigEndian(key, bits, bytes, ascending);
}

[[noreturn]] void BadKey(std::u16string_view what) {
  ThrowCorrupt(u"索引のキーが不正です: " + std::u16string(what));
}

// Reads a key's bytes in their ascending form, whichever direction the piece has.
class KeyBytes {
 public:
  KeyBytes(std::string_view key, size_t& pos, bool ascending)
      : key_(key), pos_(pos), invert_(ascending ? 0 : 0xFF) {}
  uint8_t Next() {
    if (pos_ >= key_.size()) BadKey(u"途中で切れています");
    return static_cast<uint8_t>(static_cast<uint8_t>(key_[pos_++]) ^ invert_);
  }
  uint64_t BigEndian(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | Next();
    return v;
  }

 private:
  std::string_view key_;
  size_t& pos_;
  uint8_t invert_;
};

int64_t SignedInteger(KeyBytes& in, int bytes) {
  uint64_t bits = in.BigEndian(bytes) ^ SignBit(bytes);
  if (bits & SignBit(bytes)) bits |= ~WidthMask(bytes);  // sign-extend
  return static_cast<int64_t>(bits);
}

uint64_t FloatBits(KeyBytes& in, int bytes) {
  const uint64_t stored = in.BigEndian(bytes);
  const uint64_t sign = SignBit(bytes);
  return (stored & sign) ? (stored ^ sign) : (~stored & WidthMask(bytes));
}

std::u16string DecodeText(KeyBytes& in) {
  const CodeTable& codes = Codes();
  std::u16string inline_text;
  for (uint8_t b = in.Next(); b != kTextKeyCodesEnd; b = in.Next()) {
    char16_t c = codes.one_byte[b];
    if (c == 0) {
      const uint8_t second = in.Next();
      c = codes.two_byte[b][second];
    }
    if (c == 0) BadKey(u"文字の並べ替えコードが不明です");
    inline_text.push_back(c);
  }
  uint8_t b = in.Next();
  if (b == kTextKeyEnd) return inline_text;
  if (b != kTextKeyTrailerStart || in.Next() != kTextKeyTrailerStart ||
      in.Next() != kTextKeyTrailerStart) {
    BadKey(u"文字列の終わりが不正です");
  }
  std::u16string text;
  size_t taken = 0;
  for (b = in.Next(); b != kTextKeyEnd; b = in.Next()) {
    const uint16_t v = static_cast<uint16_t>((b << 8) | in.Next());
    const uint16_t code = static_cast<uint16_t>(v & ~kTextKeyTrailerFlag);
    if (!(v & kTextKeyTrailerFlag) || code < kTextKeyPositionBase ||
        (code - kTextKeyPositionBase) % kTextKeyPositionStep != 0 ||
        in.Next() != kTextKeyTrailerMark) {
      BadKey(u"記号の位置が不正です");
    }
    const size_t position = static_cast<size_t>(code - kTextKeyPositionBase) / kTextKeyPositionStep;
    const char16_t c = codes.ignorable[in.Next()];
    if (c == 0 || position < taken || position > inline_text.size()) {
      BadKey(u"記号の位置が不正です");
    }
    text.append(inline_text, taken, position - taken);
    taken = position;
    text.push_back(c);
  }
  text.append(inline_text, taken);
  return text;
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
  const uint8_t flag = ascending ? kKeyValueAscending : kKeyValueDescending;
  if (type == ColumnType::kBoolean) {
    bool yes = !value.is_null() && value.boolean();
    key.push_back(static_cast<char>(flag));
    uint8_t b = yes ? kKeyYes : kKeyNo;
    key.push_back(static_cast<char>(ascending ? b : static_cast<uint8_t>(~b)));
    return;
  }
  if (value.is_null()) {
    key.push_back(static_cast<char>(ascending ? kKeyNullAscending : kKeyNullDescending));
    return;
  }
  key.push_back(static_cast<char>(flag));
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
        key.push_back(static_cast<char>(kTextKeyEnd));
      }
      return;
    }
    default:
      throw Error(u"この型の列には索引を作れません");
  }
}

Value DecodeKeyPiece(std::string_view key, size_t& pos, ColumnType type, bool ascending) {
  if (pos >= key.size()) BadKey(u"途中で切れています");
  const uint8_t flag = static_cast<uint8_t>(key[pos++]);
  if (type != ColumnType::kBoolean &&
      flag == (ascending ? kKeyNullAscending : kKeyNullDescending)) {
    return Value::Null();
  }
  if (flag != (ascending ? kKeyValueAscending : kKeyValueDescending)) {
    BadKey(u"値の印が不正です");
  }
  KeyBytes in(key, pos, ascending);
  switch (type) {
    case ColumnType::kBoolean: {
      const uint8_t b = in.Next();
      if (b != kKeyYes && b != kKeyNo) BadKey(u"Yes/No の値が不正です");
      return Value::Boolean(b == kKeyYes);
    }
    case ColumnType::kByte:
      return Value::Integer(static_cast<int64_t>(in.BigEndian(1)));
    case ColumnType::kInteger:
      return Value::Integer(SignedInteger(in, 2));
    case ColumnType::kLong:
      return Value::Integer(SignedInteger(in, 4));
    case ColumnType::kCurrency:
      return Value::FromCurrency(Currency{SignedInteger(in, 8)});
    case ColumnType::kSingle: {
      const uint32_t bits = static_cast<uint32_t>(FloatBits(in, 4));
      float f;
      std::memcpy(&f, &bits, 4);
      return Value::Double(f);
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      const uint64_t bits = FloatBits(in, 8);
      double d;
      std::memcpy(&d, &bits, 8);
      return type == ColumnType::kDateTime ? Value::FromDateTime(DateTime{d}) : Value::Double(d);
    }
    case ColumnType::kText: {
      std::u16string text = DecodeText(in);
      if (!ascending) {
        if (pos >= key.size() || static_cast<uint8_t>(key[pos]) != kTextKeyEnd) {
          BadKey(u"降順の文字列の終わりがありません");
        }
        ++pos;
      }
      return Value::Text(std::move(text));
    }
    default:
      BadKey(u"この型の列は索引に入りません");
  }
}

}  // namespace jet::format
