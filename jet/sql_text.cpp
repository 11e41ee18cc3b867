// Text helpers of the SQL module: literal conversions and error messages.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/calendar.h"
#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads 1 to max_digits digits at text[i]; advances i.
bool ReadDigits(std::u16string_view text, size_t& i, int max_digits, int64_t& out) {
  out = 0;
  int count = 0;
  while (i < text.size() && IsDigit(text[i]) && count < max_digits) {
    out = out * 10 + (text[i] - u'0');
    ++i;
    ++count;
  }
  return count > 0 && !(i < text.size() && IsDigit(text[i]));
}

// "hh:mm[:ss[.fff]]" from text[i] to the end; the time as a fraction of a day.
bool ReadTime(std::u16string_view text, size_t i, double& fraction) {
  int64_t h = 0, m = 0, s = 0, ms = 0;
  if (!ReadDigits(text, i, 2, h) || i >= text.size() || text[i] != u':') return false;
  ++i;
  if (!ReadDigits(text, i, 2, m)) return false;
  if (i < text.size() && text[i] == u':') {
    ++i;
    if (!ReadDigits(text, i, 2, s)) return false;
    if (i < text.size() && text[i] == u'.') {
      ++i;
      int64_t digits = 0;
      const size_t start = i;
      if (!ReadDigits(text, i, 3, digits)) return false;
      for (size_t n = i - start; n < 3; ++n) digits *= 10;
      ms = digits;
    }
  }
  if (i != text.size() || h > 23 || m > 59 || s > 59) return false;
  fraction = static_cast<double>(((h * 60 + m) * 60 + s) * 1000 + ms) / 86400000.0;
  return true;
}

}  // namespace

double ChronologicalDate(double ole) {
  if (!(ole < 0)) return ole;
  const double days = std::trunc(ole);
  return days + (days - ole);  // the fraction's magnitude counts forward from midnight
}

std::optional<Value> ParseNumberText(std::u16string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 400) return std::nullopt;
  std::string ascii;
  size_t i = 0;
  bool whole = true;
  if (text[i] == u'+' || text[i] == u'-') ascii.push_back(static_cast<char>(text[i++]));
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]))
    ascii.push_back(static_cast<char>(text[i++])), ++digits;
  if (i < text.size() && text[i] == u'.') {
    whole = false;
    ascii.push_back('.');
    ++i;
    while (i < text.size() && IsDigit(text[i]))
      ascii.push_back(static_cast<char>(text[i++])), ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    whole = false;
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      ascii.push_back(static_cast<char>(text[i++]));
    }
    size_t exponent_digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      ascii.push_back(static_cast<char>(text[i++]));
      ++exponent_digits;
    }
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  if (whole) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(ascii.c_str(), &end, 10);
    if (errno == 0 && end == ascii.c_str() + ascii.size()) return Value::Integer(v);
  }
  const double d = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(d)) return std::nullopt;
  return Value::Double(d);
}

std::optional<DateTime> ParseDateText(std::u16string_view text) {
  text = Trim(text);
  size_t i = 0;
  int64_t a = 0, b = 0, c = 0;
  int64_t year = 0, month = 0, day = 0;
  bool has_date = false;
  if (ReadDigits(text, i, 4, a) && i < text.size() && (text[i] == u'-' || text[i] == u'/')) {
    const char16_t separator = text[i];
    const size_t first_length = i;
    ++i;
    if (!ReadDigits(text, i, 2, b) || i >= text.size() || text[i] != separator) {
      return std::nullopt;
    }
    ++i;
    if (first_length >= 3) {  // YYYY-MM-DD or YYYY/MM/DD
      if (!ReadDigits(text, i, 2, c)) return std::nullopt;
      year = a, month = b, day = c;
    } else {  // M/D/YYYY, as Jet reads a date literal
      if (separator != u'/' || !ReadDigits(text, i, 4, c)) {
        return std::nullopt;
      }
      month = a, day = b, year = c;
    }
    has_date = true;
  } else {
    i = 0;
  }
  double fraction = 0;
  if (has_date) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 ||
        !base::IsValidDate(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) {
      return std::nullopt;
    }
    if (i < text.size()) {
      if (!IsBlank(text[i]) && text[i] != u'T') return std::nullopt;
      while (i < text.size() && (IsBlank(text[i]) || text[i] == u'T')) ++i;
      if (!ReadTime(text, i, fraction)) return std::nullopt;
    }
  } else if (!ReadTime(text, 0, fraction)) {
    return std::nullopt;
  }
  const int64_t days = has_date ? base::OleDayFromCivil(year, static_cast<unsigned>(month),
                                                        static_cast<unsigned>(day))
                                : 0;
  // Before 1899-12-30 the day count is negative and the time still counts forward.
  return DateTime{base::OleDate(days, fraction)};
}

std::u16string AsciiToUtf16(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string PositionText(size_t offset) { return AsciiToUtf16(std::to_string(offset)); }

void ThrowSyntaxError(std::u16string_view sql, size_t position, size_t length,
                      std::u16string_view detail) {
  std::u16string message = u"SQL の構文エラー: ";
  if (position >= sql.size()) {
    message += u"文の終わり (" + PositionText(sql.size() + 1) + u" 文字目)";
  } else {
    constexpr size_t kShown = 20;
    length = std::max<size_t>(1, std::min(length, sql.size() - position));
    std::u16string found(sql.substr(position, std::min(length, kShown)));
    for (char16_t& ch : found) {
      if (ch < 0x20) ch = u' ';
    }
    if (length > kShown) found += u"…";
    message += PositionText(position + 1) + u" 文字目付近「" + found + u"」";
  }
  message += u": ";
  message += detail;
  throw Error(std::move(message));
}

void ThrowStatementError(size_t position, std::u16string_view detail) {
  std::u16string message = u"SQL のエラー: " + PositionText(position + 1) + u" 文字目付近: ";
  message += detail;
  throw Error(std::move(message));
}

}  // namespace jet::sql
