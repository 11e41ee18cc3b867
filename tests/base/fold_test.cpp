// The one rule for names and LIKE, the ASCII-only helpers and trimming.
#include "base/fold.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf.h"

namespace base {
namespace {

TEST(FoldTest, FoldsEachScriptToItsSmallLetter) {
  struct Case {
    char16_t in, out;
  };
  const Case cases[] = {
      {u'A', u'a'},     {u'Z', u'z'},     {u'a', u'a'},
      {u'@', u'@'},     {u'[', u'['},  // ASCII edges
      {u'×', u'×'},     {u'÷', u'÷'},     {u'Ä', u'ä'},
      {u'Þ', u'þ'},     {u'µ', u'μ'},  // Latin-1
      {u'Ā', u'ā'},     {u'Ł', u'ł'},     {u'Ÿ', u'ÿ'},
      {u'ſ', u's'},     {u'İ', u'İ'},  // Extended-A
      {u'ı', u'ı'},     {u'Ω', u'ω'},     {u'Ά', u'ά'},
      {u'ς', u'σ'},     {u'Ϊ', u'ϊ'},  // Greek
      {u'Я', u'я'},     {u'Ѐ', u'ѐ'},     {u'Ѡ', u'ѡ'},
      {u'Ӏ', u'ӏ'},     {u'Ԯ', u'ԯ'},  // Cyrillic
      {u'Ｚ', u'ｚ'},   {u'Ａ', u'ａ'},   {u'ｚ', u'ｚ'},
      {u'＠', u'＠'},   {u'［', u'［'},  // full-width
      {u'あ', u'あ'},   {u'漢', u'漢'},   {u'ア', u'ア'},
      {0xD800, 0xD800}, {0xFFFF, 0xFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldCase(c.in), c.out) << static_cast<unsigned>(c.in);
  }
  // Folding twice changes nothing more.
  for (unsigned c = 0; c < 65536; ++c) {
    const char16_t once = FoldCase(static_cast<char16_t>(c));
    ASSERT_EQ(FoldCase(once), once) << c;
  }
}

TEST(FoldTest, ComparesTextsAfterFolding) {
  struct Case {
    std::u16string_view a, b;
    int order;  // sign of CompareIgnoringCase
  };
  const Case cases[] = {
      {u"", u"", 0},         {u"Äx", u"äX", 0},  {u"ΣΟΦΊΑ", u"σοφία", 0}, {u"ＡＢＣ", u"ａｂｃ", 0},
      {u"Abc", u"abd", -1},  {u"abc", u"ab", 1},  // a proper prefix sorts first
      {u"ab", u"ABC", -1},   {u"Z", u"_", 1},     // letters compare as small letters, after "_"
      {u"a", u"Ａ", -1},                          // full-width stays after ASCII
      {u"漢字", u"漢字", 0}, {u"x", u"x ", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.a) + " / " + ToUtf8(c.b));
    const int order = CompareIgnoringCase(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order);
    EXPECT_EQ(EqualIgnoringCase(c.a, c.b), c.order == 0);
    const int reverse = CompareIgnoringCase(c.b, c.a);
    EXPECT_EQ((reverse > 0) - (reverse < 0), -c.order);
    EXPECT_EQ(FoldString(c.a) == FoldString(c.b), c.order == 0);
  }
}

TEST(FoldTest, AsciiHelpersFoldOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpper(u"sqlite äx ｚ"), u"SQLITE äX ｚ");
  EXPECT_EQ(AsciiUpper(u"aZz09_ｑé日"), u"AZZ09_ｑé日");
  EXPECT_EQ(AsciiLower("Last-Modified: GMT"), "last-modified: gmt");
  EXPECT_TRUE(EqualAsciiIgnoringCase(u"RowId", u"ROWID"));
  EXPECT_FALSE(EqualAsciiIgnoringCase(u"Äx", u"äx"));
  EXPECT_FALSE(EqualAsciiIgnoringCase(u"oid", u"oids"));
  EXPECT_TRUE(EqualAsciiIgnoringCase("Content-Length", "content-length"));
  EXPECT_FALSE(EqualAsciiIgnoringCase("[", "{"));
  // On ASCII text the ASCII helpers and the one rule agree.
  for (char16_t c = 0; c < 0x80; ++c) {
    const char16_t other = static_cast<char16_t>(c ^ 0x20);
    EXPECT_EQ(EqualAsciiIgnoringCase(std::u16string(1, c), std::u16string(1, other)),
              EqualIgnoringCase(std::u16string(1, c), std::u16string(1, other)))
        << static_cast<unsigned>(c);
  }
}

TEST(FoldTest, Trims) {
  struct Case {
    std::u16string_view in, trimmed, spaces_and_tabs;
  };
  const Case cases[] = {
      {u"", u"", u""},
      {u"  a b  ", u"a b", u"a b"},
      {u"\t\r\na\x01\n", u"a", u"\r\na\x01\n"},
      {u"\u3000a\u3000", u"\u3000a\u3000", u"\u3000a\u3000"},  // the ideographic space stays
      {u" \t ", u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.in));
    EXPECT_EQ(Trim(c.in), c.trimmed);
    EXPECT_EQ(TrimSpacesAndTabs(c.in), c.spaces_and_tabs);
    const std::string narrow = ToUtf8(c.in);
    EXPECT_EQ(FromUtf8(Trim(std::string_view(narrow))), c.trimmed);
  }
}

}  // namespace
}  // namespace base
