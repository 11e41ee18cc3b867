#include "update/http_date.h"

#include <array>
#include <chrono>
#include <string>

#include "base/calendar.h"
#include "base/fold.h"

namespace update {
namespace {

constexpr std::array<std::string_view, 7> kShortDays = {"mon", "tue", "wed", "thu",
                                                        "fri", "sat", "sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};

struct NamedZone {
  std::string_view name;
  int hours;
};
constexpr std::array<NamedZone, 12> kZones = {{{"gmt", 0},
                                               {"ut", 0},
                                               {"utc", 0},
                                               {"z", 0},
                                               {"est", -5},
                                               {"edt", -4},
                                               {"cst", -6},
                                               {"cdt", -5},
                                               {"mst", -7},
                                               {"mdt", -6},
                                               {"pst", -8},
                                               {"pdt", -7}}};

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

template <size_t N>
int IndexOf(const std::array<std::string_view, N>& names, std::string_view word) {
  const std::string lower = base::AsciiLower(word);
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == lower) return static_cast<int>(i);
  }
  return -1;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  bool AtEnd() const { return p_ == s_.size(); }
  void SkipSpaces() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t')) ++p_;
  }
  bool Eat(char c) {
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  std::string_view PeekWord() const {
    size_t e = p_;
    while (e < s_.size() && IsAlpha(s_[e])) ++e;
    return s_.substr(p_, e - p_);
  }
  void Skip(size_t n) { p_ += n; }
  bool NextIsDigit() const { return p_ < s_.size() && IsDigit(s_[p_]); }

  // Up to `max_digits` decimal digits, at least one; `count` receives how many.
  std::optional<int> Number(int max_digits, int* count = nullptr) {
    int value = 0;
    int n = 0;
    while (n < max_digits && p_ < s_.size() && IsDigit(s_[p_])) {
      value = value * 10 + (s_[p_] - '0');
      ++p_;
      ++n;
    }
    if (n == 0 || (p_ < s_.size() && IsDigit(s_[p_]))) return std::nullopt;
    if (count) *count = n;
    return value;
  }

 private:
  std::string_view s_;
  size_t p_ = 0;
};

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

std::optional<TimeOfDay> ReadTime(Scanner& in) {
  TimeOfDay t;
  auto h = in.Number(2);
  if (!h || !in.Eat(':')) return std::nullopt;
  auto m = in.Number(2);
  if (!m) return std::nullopt;
  t.hour = *h;
  t.minute = *m;
  if (in.Eat(':')) {
    auto s = in.Number(2);
    if (!s) return std::nullopt;
    t.second = *s;
  }
  if (t.hour > 23 || t.minute > 59 || t.second > 60) return std::nullopt;
  return t;
}

// The zone after the time, as seconds east of UTC; none given is UTC.
std::optional<int> ReadZone(Scanner& in) {
  in.SkipSpaces();
  if (in.AtEnd()) return 0;
  bool negative = false;
  if (in.Eat('+') || (negative = in.Eat('-'))) {
    int digits = 0;
    auto hhmm = in.Number(4, &digits);
    if (!hhmm || digits != 4 || *hhmm % 100 > 59) return std::nullopt;
    int seconds = (*hhmm / 100) * 3600 + (*hhmm % 100) * 60;
    return negative ? -seconds : seconds;
  }
  std::string word = base::AsciiLower(in.PeekWord());
  for (const NamedZone& zone : kZones) {
    if (zone.name == word) {
      in.Skip(word.size());
      return zone.hours * 3600;
    }
  }
  return std::nullopt;
}

int CurrentYear() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day(today).year());
}

}  // namespace

std::optional<int64_t> ParseHttpDate(std::string_view text, int current_year) {
  Scanner in(text);
  in.SkipSpaces();
  std::string_view word = in.PeekWord();
  if (!word.empty() && (IndexOf(kShortDays, word) >= 0 || IndexOf(kLongDays, word) >= 0)) {
    in.Skip(word.size());
    in.Eat(',');
    in.SkipSpaces();
    word = in.PeekWord();
  }

  int year = 0;
  int year_digits = 0;
  int month = 0;
  int day = 0;
  std::optional<TimeOfDay> time;
  int zone = 0;
  if (!word.empty()) {
    // asctime: month, day, time, year; no zone
    month = IndexOf(kMonths, word) + 1;
    if (month == 0) return std::nullopt;
    in.Skip(word.size());
    in.SkipSpaces();
    auto d = in.Number(2);
    if (!d) return std::nullopt;
    day = *d;
    in.SkipSpaces();
    time = ReadTime(in);
    if (!time) return std::nullopt;
    in.SkipSpaces();
    auto y = in.Number(4, &year_digits);
    if (!y || year_digits != 4) return std::nullopt;
    year = *y;
    in.SkipSpaces();
    auto z = ReadZone(in);
    if (!z) return std::nullopt;
    zone = *z;
  } else {
    auto d = in.Number(2);
    if (!d) return std::nullopt;
    day = *d;
    const bool dashes = in.Eat('-');
    if (!dashes) in.SkipSpaces();
    std::string_view month_word = in.PeekWord();
    month = IndexOf(kMonths, month_word) + 1;
    if (month == 0) return std::nullopt;
    in.Skip(month_word.size());
    if (dashes) {
      if (!in.Eat('-')) return std::nullopt;
    } else {
      in.SkipSpaces();
    }
    auto y = in.Number(4, &year_digits);
    if (!y || (year_digits != 2 && year_digits != 4)) return std::nullopt;
    year = *y;
    in.SkipSpaces();
    time = ReadTime(in);
    if (!time) return std::nullopt;
    auto z = ReadZone(in);
    if (!z) return std::nullopt;
    zone = *z;
  }
  in.SkipSpaces();
  if (!in.AtEnd()) return std::nullopt;

  if (year_digits == 2) {
    int now = current_year != 0 ? current_year : CurrentYear();
    int full = (now / 100) * 100 + year;
    if (full > now + 50) full -= 100;
    year = full;
  }
  if (!base::IsValidDate(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) {
    return std::nullopt;
  }

  int64_t seconds =
      base::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      time->hour * 3600 + time->minute * 60 + time->second;
  return seconds - zone;
}

}  // namespace update
