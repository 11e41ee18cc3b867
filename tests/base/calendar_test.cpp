// Civil dates, day counts and OLE Automation dates.
#include "base/calendar.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(CalendarTest, DayCountsOfCivilDates) {
  struct Case {
    int64_t year;
    unsigned month, day;
    int64_t days;     // since 1970-01-01
    int64_t ole_day;  // since 1899-12-30
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 25569},
      {1969, 12, 31, -1, 25568},
      {1899, 12, 30, -25569, 0},
      {1899, 12, 29, -25570, -1},
      {1900, 1, 1, -25567, 2},
      {1900, 3, 1, -25508, 61},     // 1900 is no leap year
      {2000, 2, 29, 11016, 36585},  // 2000 is one
      {2000, 3, 1, 11017, 36586},
      {2024, 2, 29, 19782, 45351},
      {100, 1, 1, -683003, -657434},  // the first day a Jet date literal allows
      {9999, 12, 31, 2932896, 2958465},
      {1, 1, 1, -719162, -693593},
      {0, 3, 1, -719468, -693899},
      {-1, 12, 31, -719529, -693960},
      {-400, 1, 1, -865625, -840056},
      {2400, 2, 29, 157113, 182682},
      {10000, 1, 1, 2932897, 2958466},
      {40000, 6, 15, 13890338, 13915907},  // beyond std::chrono::year's own range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                 std::to_string(c.day));
    EXPECT_TRUE(IsValidDate(c.year, c.month, c.day));
    EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days);
    EXPECT_EQ(OleDayFromCivil(c.year, c.month, c.day), c.ole_day);
    const CivilDate back = CivilFromDays(c.days);
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    const CivilDate from_ole = CivilFromOleDay(c.ole_day);
    EXPECT_EQ(from_ole.year, c.year);
    EXPECT_EQ(from_ole.month, c.month);
    EXPECT_EQ(from_ole.day, c.day);
  }
}

TEST(CalendarTest, EveryDayOfFourCenturiesRoundTrips) {
  int64_t expected = DaysFromCivil(1800, 1, 1);
  for (int64_t year = 1800; year < 2200; ++year) {
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 1; day <= DaysInMonth(year, month); ++day) {
        ASSERT_EQ(DaysFromCivil(year, month, day), expected) << year << "-" << month << "-" << day;
        const CivilDate back = CivilFromDays(expected);
        ASSERT_EQ(back.year, year);
        ASSERT_EQ(back.month, month);
        ASSERT_EQ(back.day, day);
        ++expected;
      }
    }
  }
}

TEST(CalendarTest, LeapYearsMonthLengthsAndInvalidDates) {
  struct Case {
    int64_t year;
    unsigned month, day;
    bool valid;
  };
  const Case cases[] = {
      {2024, 2, 29, true},  {2023, 2, 29, false},  {1900, 2, 29, false}, {2000, 2, 29, true},
      {-4, 2, 29, true},    {-100, 2, 29, false},  {2023, 4, 31, false}, {2023, 4, 30, true},
      {2023, 12, 31, true}, {2023, 12, 32, false}, {2023, 13, 1, false}, {2023, 0, 1, false},
      {2023, 1, 0, false},  {9999, 12, 31, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidDate(c.year, c.month, c.day), c.valid)
        << c.year << "-" << c.month << "-" << c.day;
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_TRUE(IsLeapYear(-400));
  EXPECT_FALSE(IsLeapYear(-1));
  EXPECT_EQ(DaysInMonth(2023, 2), 28u);
  EXPECT_EQ(DaysInMonth(2024, 2), 29u);
  EXPECT_EQ(DaysInMonth(2024, 11), 30u);
  EXPECT_EQ(DaysInMonth(2024, 0), 0u);
  EXPECT_EQ(DaysInMonth(2024, 13), 0u);
}

TEST(CalendarTest, OleDatesCountTheTimeForwardOnBothSidesOfDayZero) {
  struct Case {
    int64_t ole_day;
    double fraction, ole;
  };
  const Case cases[] = {
      {0, 0.0, 0.0},     {0, 0.25, 0.25},
      {1, 0.5, 1.5},     {-1, 0.25, -1.25},  // 1899-12-29 06:00
      {-2, 0.75, -2.75}, {2958465, 0.5, 2958465.5},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(OleDate(c.ole_day, c.fraction), c.ole) << c.ole_day << " " << c.fraction;
  }
}

}  // namespace
}  // namespace base
