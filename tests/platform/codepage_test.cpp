#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string Units(std::u16string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char16_t c : text) {
    if (!out.empty()) out.push_back(' ');
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(c >> shift) & 15]);
  }
  return out;
}

struct EncodeCase {
  std::u16string text;
  std::string bytes;  // as hex
};

const EncodeCase kEncodeCases[] = {
    {u"", ""},
    {u"A=1\r\n", "41 3D 31 0D 0A"},
    {u"作業環境", "8D EC 8B C6 8A C2 8B AB"},
    {u"基本データベース", "8A EE 96 7B 83 66 81 5B 83 5E 83 78 81 5B 83 58"},
    {u"ｱ", "B1"},                   // half-width katakana, one byte
    {u"①", "87 40"},                // a character of the code page's own extension
    {u"表", "95 5C"},               // its trail byte is the backslash
    {u"a\U0001F600b", "61 3F 62"},  // a surrogate pair is one character: one "?"
    {u"\U00020BB7", "3F"},          // not in the code page
    {u"é", "3F"},
    {std::u16string(u"x\xD800y"), "78 3F 79"},   // lone high surrogate
    {std::u16string(u"x\xDC00y"), "78 3F 79"},   // lone low surrogate
    {std::u16string(u"x\xD800"), "78 3F"},       // high surrogate at the end
    {std::u16string(u"\xDC00\xD800"), "3F 3F"},  // reversed pair: two lone surrogates
    {std::u16string(u"a\0b", 3), "61 00 62"},
};

TEST(CodePage932Test, FromUtf16) {
  for (const EncodeCase& c : kEncodeCases) {
    EXPECT_EQ(Hex(platform::ToCodePage932(c.text)), c.bytes) << Units(c.text);
  }
}

struct DecodeCase {
  std::string bytes;
  std::u16string text;
};

const DecodeCase kDecodeCases[] = {
    {"", u""},
    {"\x8D\xEC\x8B\xC6\x8A\xC2\x8B\xAB", u"作業環境"},
    {"\x95\x5C\x5C", u"表\\"},
    {"\xB1", u"ｱ"},
    {"\x81", u"\uFFFD"},        // lead byte at the end
    {"\x81\x0A", u"\uFFFD\n"},  // a line end after a broken lead byte is kept
    {"\x81\x3D"
     "a",
     u"\uFFFD=a"},            // so is an "=" after it
    {"\x85\x40", u"\uFFFD"},  // a pair the code page does not assign
    {"\xFF\xFE", u"\uFFFD\uFFFD"},
    {"a\xFF"
     "b",
     u"a\uFFFDb"},
    {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
};

TEST(CodePage932Test, ToUtf16) {
  for (const DecodeCase& c : kDecodeCases) {
    EXPECT_EQ(Units(platform::FromCodePage932(c.bytes)), Units(c.text)) << Hex(c.bytes);
  }
}

TEST(CodePage932Test, EveryTwoByteSequenceDecodesWithoutFailing) {
  std::string all;
  for (int lead = 0; lead < 256; ++lead) {
    for (int trail = 0; trail < 256; ++trail) {
      all.push_back(static_cast<char>(lead));
      all.push_back(static_cast<char>(trail));
    }
  }
  const std::u16string text = platform::FromCodePage932(all);
  EXPECT_GE(text.size(), all.size() / 2);
  EXPECT_LE(text.size(), all.size());
  // What decodes encodes back to the same text; U+FFFD is not in the code page and becomes "?".
  std::u16string expected = text;
  std::replace(expected.begin(), expected.end(), u'\uFFFD', u'?');
  EXPECT_TRUE(platform::FromCodePage932(platform::ToCodePage932(text)) == expected);
}

TEST(CodePage932Test, LargeInvalidInputIsLinear) {
  const std::string garbage(4 << 20, '\xFF');
  EXPECT_EQ(platform::FromCodePage932(garbage).size(), garbage.size());
  const std::u16string lone(1 << 20, u'\xD800');
  EXPECT_EQ(platform::ToCodePage932(lone), std::string(lone.size(), '?'));
}

}  // namespace
