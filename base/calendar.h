// Calendar arithmetic on the proleptic Gregorian calendar, over std::chrono's civil dates.
// Day counts are int64 and exact for every year an int64 day count can reach: the calendar
// repeats every 400 years, so whole cycles are counted here and std::chrono handles the rest.
//
// OLE Automation dates (Jet's Date/Time, the data-access layer's TDateTime) count days from
// 1899-12-30 with the time of day as the fraction. Before 1899-12-30 the day is negative and
// the fraction's magnitude still counts forward from midnight: -1.25 is 1899-12-29 06:00.
#ifndef QUORVEL_BASE_CALENDAR_H_
#define QUORVEL_BASE_CALENDAR_H_

#include <cstdint>

namespace base {

struct CivilDate {
  int64_t year = 1970;
  unsigned month = 1;  // 1-12
  unsigned day = 1;    // 1-31
};

bool IsLeapYear(int64_t year);
// Days of a month (1-12) of a year; 0 for a month outside 1-12.
unsigned DaysInMonth(int64_t year, unsigned month);
// Whether month and day name a day of that year.
bool IsValidDate(int64_t year, unsigned month, unsigned day);

// Days from 1970-01-01 to a valid date (negative before it), and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
CivilDate CivilFromDays(int64_t days);

// 1970-01-01 as an OLE day: 1899-12-30 lies 25569 days before it.
inline constexpr int64_t kUnixEpochOleDay = 25569;

// OLE day of a valid date, and the date of an OLE day.
inline int64_t OleDayFromCivil(int64_t year, unsigned month, unsigned day) {
  return DaysFromCivil(year, month, day) + kUnixEpochOleDay;
}
inline CivilDate CivilFromOleDay(int64_t ole_day) {
  return CivilFromDays(ole_day - kUnixEpochOleDay);
}

// An OLE date from its day and a time of day given as a fraction of a day in [0, 1).
double OleDate(int64_t ole_day, double day_fraction);

}  // namespace base

#endif  // QUORVEL_BASE_CALENDAR_H_
