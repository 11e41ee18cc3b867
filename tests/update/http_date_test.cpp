// HTTP dates in the three forms, zones and offsets, and what is refused.
#include <gtest/gtest.h>

#include "base/calendar.h"
#include "update/http_date.h"

namespace update {
namespace {

// 1994-11-06 08:49:37 UTC
constexpr int64_t kExample = 784111777;

TEST(HttpDateTest, Accepted) {
  struct Case {
    const char* text;
    int64_t expected;
  };
  const Case cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kExample},
      {"Sun Nov  6 08:49:37 1994", kExample},
      {"Sun Nov 6 08:49:37 1994", kExample},
      {"sun, 06 nov 1994 08:49:37 gmt", kExample},
      {"06 Nov 1994 08:49:37 GMT", kExample},
      {"Sun, 6 Nov 1994 08:49:37 GMT", kExample},
      {"  Sun, 06 Nov 1994 08:49:37 GMT  ", kExample},
      {"Sun, 06 Nov 1994 08:49:37 UTC", kExample},
      {"Sun, 06 Nov 1994 08:49:37 UT", kExample},
      {"Sun, 06 Nov 1994 08:49:37", kExample},
      {"Sun, 06 Nov 1994 17:49:37 +0900", kExample},
      {"Sun, 06 Nov 1994 03:49:37 EST", kExample},
      {"Sun, 06 Nov 1994 00:49:37 PST", kExample},
      {"Sun, 06 Nov 1994 01:49:37 PDT", kExample},
      {"Sun, 06 Nov 1994 08:19:37 -0030", kExample},
      {"Sun, 06 Nov 1994 08:49 GMT", kExample - 37},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
      {"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
      {"Thursday, 29-Feb-24 12:00:00 GMT", 1709208000},
      {"Thu Feb 29 12:00:00 2024", 1709208000},
      {"Sat, 31 Dec 2005 23:59:60 GMT", 1136073600},  // a leap second
  };
  for (const Case& c : cases) {
    std::optional<int64_t> t = ParseHttpDate(c.text, 2026);
    ASSERT_TRUE(t) << c.text;
    EXPECT_EQ(*t, c.expected) << c.text;
  }
}

TEST(HttpDateTest, TwoDigitYearsNeverLieMoreThanFiftyYearsAhead) {
  EXPECT_EQ(ParseHttpDate("Thursday, 01-Jan-70 00:00:00 GMT", 2026),
            base::DaysFromCivil(2070, 1, 1) * 86400);
  EXPECT_EQ(ParseHttpDate("Monday, 01-Jan-76 00:00:00 GMT", 2026),
            base::DaysFromCivil(2076, 1, 1) * 86400);
  EXPECT_EQ(ParseHttpDate("Saturday, 01-Jan-77 00:00:00 GMT", 2026),
            base::DaysFromCivil(1977, 1, 1) * 86400);
  EXPECT_EQ(ParseHttpDate("Sunday, 01-Jan-30 00:00:00 GMT", 2026),
            base::DaysFromCivil(2030, 1, 1) * 86400);
  EXPECT_EQ(ParseHttpDate("Friday, 01-Jan-76 00:00:00 GMT", 2050),
            base::DaysFromCivil(2076, 1, 1) * 86400);
}

TEST(HttpDateTest, Refused) {
  const char* cases[] = {
      "",
      "garbage",
      "yesterday",
      "0",
      "1994-11-06T08:49:37Z",
      "Sun, 06 Nov 1994",
      "Sun, 06 Nov 1994 08:49:37 GMT trailing",
      "Sun, 06 Foo 1994 08:49:37 GMT",
      "Sun, 31 Nov 1994 08:49:37 GMT",
      "Sun, 29 Feb 2023 08:49:37 GMT",
      "Sun, 00 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Nov 1994 08:49:61 GMT",
      "Sun, 06 Nov 1994 08:49:37 XYZ",
      "Sun, 06 Nov 1994 08:49:37 +09",
      "Sun, 06 Nov 1994 08:49:37 +0960",
      "Sun, 06 Nov 994 08:49:37 GMT",
      "Sun, 06 Nov 19945 08:49:37 GMT",
      "Sun, 123 Nov 1994 08:49:37 GMT",
      "Sun Nov  6 08:49:37 94",
      "Someday, 06 Nov 1994 08:49:37 GMT",
      "Sunday, 06-Nov 94 08:49:37 GMT",
      "Sun, 06 Nov 1994 8h49 GMT",
  };
  for (const char* text : cases) {
    EXPECT_FALSE(ParseHttpDate(text, 2026)) << text;
  }
}

}  // namespace
}  // namespace update
