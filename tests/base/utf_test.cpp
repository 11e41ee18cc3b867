// UTF-8 <-> UTF-16: well-formed text round-trips, ill-formed input becomes U+FFFD.
#include "base/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

TEST(UtfTest, WellFormedTextRoundTrips) {
  struct Case {
    std::u16string_view utf16;
    std::string_view utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {std::u16string_view(u"\0x", 2), std::string_view("\0x", 2)},
      {u"\u007F\u0080", "\x7F\xC2\x80"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"東京都 道路台帳", "東京都 道路台帳"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U00010000", "\xF0\x90\x80\x80"},
      {u"\U0001F600!", "\xF0\x9F\x98\x80!"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
  }
}

TEST(UtfTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  struct Case {
    std::u16string utf16;
    std::string_view utf8;
  };
  const Case cases[] = {
      {{char16_t{0xD800}}, "\xEF\xBF\xBD"},
      {{char16_t{0xDC00}}, "\xEF\xBF\xBD"},
      {{u'a', char16_t{0xD83D}, u'b'},
       "a\xEF\xBF\xBD"
       "b"},
      {{char16_t{0xDE00}, char16_t{0xD83D}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
}

TEST(UtfTest, IllFormedUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},              // a stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},    // C0/C1 never start a sequence
      {"\xE0\x80\xAF", u"\uFFFD"},      // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD"},      // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},    // F5 never starts a sequence
      {"\xE6\x9D", u"\uFFFD"},          // truncated at the end
      {"\xE6\x9Dx", u"\uFFFDx"},        // truncated before an ASCII byte
      {"\xF0\x9F\x98", u"\uFFFD"},      // truncated four-byte form
      {"a\xFF"
       "b",
       u"a\uFFFD"
       "b"},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
}

TEST(UtfTest, AppendFormsKeepWhatIsThere) {
  std::string narrow = "x:";
  AppendUtf8(u"äö", narrow);
  EXPECT_EQ(narrow, "x:äö");
  // A reused buffer: cleared by the caller, capacity kept.
  const size_t capacity = narrow.capacity();
  narrow.clear();
  AppendUtf8(u"ab", narrow);
  EXPECT_EQ(narrow, "ab");
  EXPECT_EQ(narrow.capacity(), capacity);

  std::u16string wide = u"y:";
  AppendUtf16("漢\x80", wide);
  EXPECT_EQ(wide, u"y:漢\uFFFD");
}

}  // namespace
}  // namespace base
