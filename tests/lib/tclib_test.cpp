#include "lib/tclib.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/error.h"

namespace {

using Fields = std::vector<std::u16string>;

enum class Op { kCollapseSpaces, kGetToken, kSplitToList, kExtractDirectory };

struct EdgeCase {
  Op op;
  std::u16string delimiter;  // GetToken and SplitToList
  std::u16string text;
  int32_t index;    // GetToken
  Fields expected;  // one item, except for SplitToList
};

// The edge cases of the four routines, written with "\" as the path separator.
const EdgeCase kEdgeCases[] = {
    {Op::kCollapseSpaces, u"", u"  a   b  ", 0, {u"a b"}},
    {Op::kCollapseSpaces, u"", u"\ta\t", 0, {u"a"}},
    {Op::kCollapseSpaces, u"", u"a\t\tb", 0, {u"a\t\tb"}},
    {Op::kCollapseSpaces, u"", u"   ", 0, {u""}},
    {Op::kCollapseSpaces, u"", u"", 0, {u""}},
    {Op::kGetToken, u":", u"10:20:30", 1, {u"10"}},
    {Op::kGetToken, u":", u"10:20:30", 2, {u"20"}},
    {Op::kGetToken, u":", u"10:20:30", 3, {u"30"}},
    {Op::kGetToken, u":", u"10:20:30", 4, {u""}},
    {Op::kGetToken, u":", u"10:20:30", 0, {u""}},
    {Op::kGetToken, u":", u"10:20:30", -1, {u""}},
    {Op::kGetToken, u":", u"10::30", 2, {u""}},
    {Op::kGetToken, u":", u"10::30", 3, {u"30"}},
    {Op::kGetToken, u":", u":5", 1, {u""}},
    {Op::kGetToken, u":", u":5", 2, {u"5"}},
    {Op::kGetToken, u":", u" 1 : 2", 1, {u" 1 "}},
    {Op::kGetToken, u":", u"7", 1, {u"7"}},
    {Op::kGetToken, u":", u"7", 2, {u""}},
    {Op::kGetToken, u" ", u"  a   b ", 1, {u"a"}},
    {Op::kGetToken, u" ", u"  a   b ", 2, {u"b"}},
    {Op::kGetToken, u" ", u"  a   b ", 3, {u""}},
    {Op::kSplitToList, u"\\", u"", 0, {}},
    {Op::kSplitToList, u"\\", u"a", 0, {u"a"}},
    {Op::kSplitToList, u"\\", u"a\\", 0, {u"a", u""}},
    {Op::kSplitToList, u"\\", u"\\a", 0, {u"", u"a"}},
    {Op::kSplitToList, u"\\", u"a\\\\b", 0, {u"a", u"", u"b"}},
    {Op::kSplitToList, u"\\", u"\\", 0, {u""}},
    {Op::kSplitToList, u"\\", u"\\\\", 0, {u"", u""}},
    {Op::kSplitToList, u" ", u" x  y ", 0, {u"x", u"y"}},
    {Op::kExtractDirectory, u"", u"C:\\Tools\\app.exe", 0, {u"C:\\Tools\\"}},
    {Op::kExtractDirectory, u"", u"C:\\Tools\\", 0, {u"C:\\Tools\\"}},
    {Op::kExtractDirectory, u"", u"C:\\", 0, {u"C:\\"}},
    {Op::kExtractDirectory, u"", u"\\\\server\\share\\app.exe", 0, {u"\\\\server\\share\\"}},
    {Op::kExtractDirectory, u"", u"C:\\a\\\\b.exe", 0, {u"C:\\a\\\\"}},
    {Op::kExtractDirectory, u"", u"app.exe", 0, {u""}},
    {Op::kExtractDirectory, u"", u"C:/Tools/app.exe", 0, {u""}},
    {Op::kExtractDirectory, u"", u"\\", 0, {u""}},
    {Op::kExtractDirectory, u"", u"", 0, {u""}},
};

// Swaps "\" and "/", turning a case for one separator into the same case for the other.
std::u16string SwapSeparators(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'\\') {
      c = u'/';
    } else if (c == u'/') {
      c = u'\\';
    }
  }
  return text;
}

Fields Call(const EdgeCase& c, char16_t separator) {
  switch (c.op) {
    case Op::kCollapseSpaces:
      return {tclib::CollapseSpaces(c.text)};
    case Op::kGetToken:
      return {tclib::GetToken(c.delimiter, c.text, c.index)};
    case Op::kSplitToList:
      return tclib::SplitToList(c.delimiter, c.text);
    case Op::kExtractDirectory:
      return {tclib::ExtractDirectory(c.text, separator)};
  }
  return {};
}

std::string Describe(const EdgeCase& c) {
  static const char* const kNames[] = {"CollapseSpaces", "GetToken", "SplitToList",
                                       "ExtractDirectory"};
  return std::string(kNames[static_cast<int>(c.op)]) + "(delimiter '" + base::ToUtf8(c.delimiter) +
         "', text '" + base::ToUtf8(c.text) + "', index " + std::to_string(c.index) + ")";
}

TEST(TextUtilitiesTest, EdgeCasesWithBackslashSeparator) {
  for (const EdgeCase& c : kEdgeCases) {
    EXPECT_EQ(Call(c, u'\\'), c.expected) << Describe(c);
  }
}

TEST(TextUtilitiesTest, EdgeCasesWithSlashSeparator) {
  for (const EdgeCase& original : kEdgeCases) {
    EdgeCase c = original;
    c.delimiter = SwapSeparators(c.delimiter);
    c.text = SwapSeparators(c.text);
    for (std::u16string& field : c.expected) field = SwapSeparators(field);
    EXPECT_EQ(Call(c, u'/'), c.expected) << Describe(c);
  }
}

TEST(TextUtilitiesTest, PlatformSeparatorIsTheDefault) {
  const std::u16string path = std::u16string(u"dir") + tclib::kPathSeparator + u"file.ini";
  EXPECT_EQ(tclib::ExtractDirectory(path), std::u16string(u"dir") + tclib::kPathSeparator);
}

TEST(TextUtilitiesTest, TrimmingTakesEveryControlCharacterButNoOtherSpace) {
  EXPECT_EQ(tclib::CollapseSpaces(std::u16string(u"\0\r\n a  b\x1F\x01", 10)), u"a b");
  // The ideographic space and the no-break space are ordinary characters.
  EXPECT_EQ(tclib::CollapseSpaces(u"\u3000a\u3000\u3000b\u00A0"), u"\u3000a\u3000\u3000b\u00A0");
  EXPECT_EQ(tclib::GetToken(u" ", u"a\u3000b c", 1), u"a\u3000b");
}

TEST(TextUtilitiesTest, GetTokenWithHugeIndexReturnsQuickly) {
  EXPECT_EQ(tclib::GetToken(u":", u"1:2", std::numeric_limits<int32_t>::max()), u"");
  EXPECT_EQ(tclib::GetToken(u":", u"", std::numeric_limits<int32_t>::max()), u"");
  EXPECT_EQ(tclib::GetToken(u":", u"a", std::numeric_limits<int32_t>::min()), u"");
}

TEST(TextUtilitiesTest, OnlyDelimitersGiveOneEmptyFieldEach) {
  EXPECT_EQ(tclib::SplitToList(u":", u":::"), (Fields{u"", u"", u""}));
  EXPECT_EQ(tclib::SplitToList(u":", u"::a"), (Fields{u"", u"", u"a"}));
  EXPECT_EQ(tclib::SplitToList(u" ", u"    "), Fields{});
}

TEST(TextUtilitiesTest, ColourTextSplitsIntoThreeNumbers) {
  EXPECT_EQ(tclib::SplitToList(u":", u"200:255:255"), (Fields{u"200", u"255", u"255"}));
  EXPECT_EQ(tclib::GetToken(u":", u"200:255:255", 3), u"255");
}

// Delimiters other than one character are never passed by the program; these pin down what
// the routines do with them: a longer delimiter is searched as a whole, an empty one never
// occurs.
TEST(TextUtilitiesTest, OtherDelimiterLengths) {
  EXPECT_EQ(tclib::SplitToList(u"::", u"a::b:c"), (Fields{u"a", u"b:c"}));
  EXPECT_EQ(tclib::GetToken(u"::", u"a::b:c", 2), u"b:c");
  EXPECT_EQ(tclib::SplitToList(u"", u"abc"), Fields{u"abc"});
  EXPECT_EQ(tclib::GetToken(u"", u"abc", 1), u"abc");
  EXPECT_EQ(tclib::GetToken(u"", u"abc", 2), u"");
}

TEST(TextUtilitiesTest, SurrogatePairsAndJapaneseAreOrdinaryCharacters) {
  EXPECT_EQ(tclib::GetToken(u":", u"作業:\U00020BB7:環境", 2), u"\U00020BB7");
  EXPECT_EQ(tclib::ExtractDirectory(u"C:\\データ\\基本.mdb", u'\\'), u"C:\\データ\\");
}

struct IntCase {
  std::u16string text;
  bool ok;
  int32_t value;
};

// Decimal values must fit in 32 signed bits. Hexadecimal digits give a 32-bit pattern read as
// a signed value (so FFFFFFFF is -1), and a minus sign negates that within 32 bits.
const IntCase kIntCases[] = {
    {u"0", true, 0},
    {u"123", true, 123},
    {u"   42", true, 42},
    {u"+7", true, 7},
    {u"-7", true, -7},
    {u"  -15", true, -15},
    {u"-0", true, 0},
    {u"000000000000000123", true, 123},
    {u"2147483647", true, 2147483647},
    {u"-2147483648", true, std::numeric_limits<int32_t>::min()},
    {u"$1F", true, 31},
    {u"x1f", true, 31},
    {u"X1F", true, 31},
    {u"0x1F", true, 31},
    {u"0X1f", true, 31},
    {u"0x280", true, 640},
    {u" -$10", true, -16},
    {u"-0x10", true, -16},
    {u"+$A", true, 10},
    {u"$7FFFFFFF", true, 2147483647},
    {u"$80000000", true, std::numeric_limits<int32_t>::min()},
    {u"0xFFFFFFFF", true, -1},
    {u"-$FFFFFFFF", true, 1},
    {u"0x00000000000000FF", true, 255},
    {u"", false, 0},
    {u" ", false, 0},
    {u"12 ", false, 0},
    {u"12a", false, 0},
    {u"1 2", false, 0},
    {u"\t12", false, 0},
    {u"\u300012", false, 0},
    {u"1.5", false, 0},
    {u"1e3", false, 0},
    {u"2147483648", false, 0},
    {u"-2147483649", false, 0},
    {u"99999999999999999999", false, 0},
    {u"$100000000", false, 0},
    {u"0x", false, 0},
    {u"$", false, 0},
    {u"x", false, 0},
    {u"-", false, 0},
    {u"+", false, 0},
    {u"--1", false, 0},
    {u"+-1", false, 0},
    {u"$-1", false, 0},
    {u"0x-1", false, 0},
    {u"0x0x1", false, 0},
    {u"$ 1", false, 0},
    {u"0x1G", false, 0},
    {u"１２", false, 0},  // full-width digits
    {u"abc", false, 0},
    {std::u16string(u"12\0", 3), false, 0},
};

TEST(StrToIntTest, ConvertsOrRefuses) {
  for (const IntCase& c : kIntCases) {
    // Built in steps: GCC 12 warns wrongly (-Wrestrict) about "'" + std::string&&.
    std::string shown = "'";
    shown += base::ToUtf8(c.text);
    shown += "'";
    EXPECT_EQ(tclib::StrToIntDef(c.text, 12345), c.ok ? c.value : 12345) << shown;
    if (c.ok) {
      EXPECT_EQ(tclib::StrToInt(c.text), c.value) << shown;
    } else {
      try {
        tclib::StrToInt(c.text);
        ADD_FAILURE() << shown << " converted";
      } catch (const platform::Error& error) {
        EXPECT_EQ(error.message(), u"'" + c.text + u"' は整数ではありません") << shown;
      }
    }
  }
}

TEST(StrToIntTest, MessageQuotesTheTextAsGiven) {
  try {
    tclib::StrToInt(u" 14pt");
    FAIL() << "converted";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.message(), u"' 14pt' は整数ではありません");
    EXPECT_STREQ(error.what(), "' 14pt' は整数ではありません");
  }
}

TEST(AsciiDigitsTest, FullWidthDigitsBecomeAsciiAndNothingElseChanges) {
  const struct {
    std::u16string_view text;
    std::u16string_view expected;
  } cases[] = {
      {u"", u""},
      {u"０１２３４５６７８９", u"0123456789"},
      {u"１０００", u"1000"},
      {u"1２", u"12"},
      {u"－１", u"－1"},                   // the full-width minus is not a digit
      {u"１６ｐｔ", u"16ｐｔ"},            // nor are full-width letters
      {u"\uFF0F\uFF1A", u"\uFF0F\uFF1A"},  // the neighbours of the digit block stay
      {u"一二三", u"一二三"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tclib::AsciiDigits(c.text), c.expected) << base::ToUtf8(c.text);
  }
  // Once made ASCII, a setting text converts like one typed in ASCII.
  EXPECT_EQ(tclib::StrToInt(tclib::AsciiDigits(u"１４")), 14);
}

}  // namespace
