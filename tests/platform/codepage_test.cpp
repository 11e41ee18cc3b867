#include "platform/codepage.h"

#include <gtest/gtest.h>

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
    // Windows' table without best fit: characters written in the code of a look-alike only by
    // the best-fit mapping (or by glibc's table) are not in the code page.
    {u"\u301C", "3F"},  // wave dash; the code page's 81 60 is the full-width tilde
    {u"\uFF5E", "81 60"},
    {u"\u00A5", "3F"},  // yen sign; 5C is the backslash
    {u"\u2212", "3F"},  // minus sign; 81 7C is the full-width hyphen-minus
    {u"\uFF0D", "81 7C"},
    {u"\u7E8A", "FA 5C"},  // a character in both extension rows: the IBM row, as Windows
    {u"\uE000", "F0 40"},  // user-defined characters
    {u"\u0080\uF8F0\uF8F1\uF8F3", "80 A0 FD FF"},  // Windows' single bytes
    {std::u16string(u"x\xD800y"), "78 3F 79"},     // lone high surrogate
    {std::u16string(u"x\xDC00y"), "78 3F 79"},     // lone low surrogate
    {std::u16string(u"x\xD800"), "78 3F"},         // high surrogate at the end
    {std::u16string(u"\xDC00\xD800"), "3F 3F"},    // reversed pair: two lone surrogates
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
    // A lead byte without its trail byte becomes the code page's default character U+30FB, as
    // an unassigned pair does in Windows; Wine would take the byte after it into the pair, and
    // the conversion keeps that byte on both systems.
    {"\x81", u"\u30FB"},        // lead byte at the end
    {"\x81\x0A", u"\u30FB\n"},  // a line end after a broken lead byte is kept
    {"\x81\x3D"
     "a",
     u"\u30FB=a"},            // so is an "=" after it
    {"\x81 ", u"\u30FB "},    // and a blank
    {"\x85\x40", u"\u30FB"},  // a pair the code page does not assign
    {"\xEB\x40", u"\u30FB"},
    {"\xF0\x40", u"\uE000"},                // user-defined characters
    {"\xED\x40\xFA\x5C", u"\u7E8A\u7E8A"},  // the NEC and the IBM row of one character
    // Single bytes Windows' table maps (glibc's does not): the old C1 byte and private-use
    // characters for the bytes no character uses.
    {"\x80\xA0\xFD\xFE\xFF", u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3"},
    {"a\xFF"
     "b",
     u"a\uF8F3b"},
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
  EXPECT_EQ(text.find(u'\uFFFD'), std::u16string::npos);
  // What decodes encodes back to the same text.
  EXPECT_TRUE(platform::FromCodePage932(platform::ToCodePage932(text)) == text);
}

TEST(CodePage932Test, LargeInvalidInputIsLinear) {
  const std::string garbage(4 << 20, '\xFF');
  EXPECT_EQ(platform::FromCodePage932(garbage), std::u16string(garbage.size(), u'\uF8F3'));
  std::string unassigned;
  for (int i = 0; i < (1 << 20); ++i) unassigned += "\x85\x40";
  EXPECT_EQ(platform::FromCodePage932(unassigned), std::u16string(1 << 20, u'\u30FB'));
  const std::u16string lone(1 << 20, u'\xD800');
  EXPECT_EQ(platform::ToCodePage932(lone), std::string(lone.size(), '?'));
}

}  // namespace
