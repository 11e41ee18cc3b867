#include "base/calendar.h"

#include <chrono>

namespace base {
namespace {

namespace chrono = std::chrono;

constexpr int64_t kCycleYears = 400;
constexpr int64_t kCycleDays = 146097;  // days of 400 Gregorian years

// Floor division, so that negative counts fall into the cycle before.
int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

bool IsLeapYear(int64_t year) {
  const int64_t in_cycle = year - FloorDiv(year, kCycleYears) * kCycleYears;
  return chrono::year(static_cast<int>(in_cycle)).is_leap();
}

unsigned DaysInMonth(int64_t year, unsigned month) {
  if (month < 1 || month > 12) return 0;
  const int64_t in_cycle = year - FloorDiv(year, kCycleYears) * kCycleYears;
  const chrono::year_month_day_last last(chrono::year(static_cast<int>(in_cycle)),
                                         chrono::month_day_last(chrono::month(month)));
  return static_cast<unsigned>(last.day());
}

bool IsValidDate(int64_t year, unsigned month, unsigned day) {
  return day >= 1 && day <= DaysInMonth(year, month);
}

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  // Years 0-399 of the proleptic calendar lie well inside std::chrono::year's range.
  const int64_t cycles = FloorDiv(year, kCycleYears);
  const int64_t in_cycle = year - cycles * kCycleYears;
  const chrono::year_month_day date(chrono::year(static_cast<int>(in_cycle)), chrono::month(month),
                                    chrono::day(day));
  const int64_t days = chrono::sys_days(date).time_since_epoch().count();
  return days + cycles * kCycleDays;
}

CivilDate CivilFromDays(int64_t days) {
  const int64_t cycles = FloorDiv(days, kCycleDays);
  const int64_t in_cycle = days - cycles * kCycleDays;  // 1970-01-01 up to 2369-12-31
  const chrono::year_month_day date{chrono::sys_days(chrono::days(in_cycle))};
  CivilDate out;
  out.year = static_cast<int>(date.year()) + cycles * kCycleYears;
  out.month = static_cast<unsigned>(date.month());
  out.day = static_cast<unsigned>(date.day());
  return out;
}

double OleDate(int64_t ole_day, double day_fraction) {
  const auto day = static_cast<double>(ole_day);
  return ole_day >= 0 ? day + day_fraction : day - day_fraction;
}

}  // namespace base
