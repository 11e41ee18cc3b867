// Text helpers of the SQL module: case folding, literal conversions and error messages.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

// The lower-case partners of the scripts whose letters come in simple upper/lower pairs;
// everything else below kFoldTableSize folds to itself.
constexpr std::array<char16_t, kFoldTableSize> MakeFoldTable() {
  std::array<char16_t, kFoldTableSize> t{};
  for (unsigned c = 0; c < kFoldTableSize; ++c) t[c] = static_cast<char16_t>(c);
  auto shift = [&t](unsigned first, unsigned last, int by) {
    for (unsigned c = first; c <= last; ++c) {
      t[c] = static_cast<char16_t>(static_cast<int>(c) + by);
    }
  };
  // Capitals on the even code units with the small letter after them, or on the odd ones.
  auto pairs = [&t](unsigned first, unsigned last, bool capital_even) {
    for (unsigned c = first; c <= last; ++c) {
      if ((c % 2 == 0) == capital_even) t[c] = static_cast<char16_t>(c + 1);
    }
  };
  shift(u'A', u'Z', 32);
  t[0x00B5] = 0x03BC;  // micro sign folds to Greek mu
  shift(0x00C0, 0x00D6, 32);
  shift(0x00D8, 0x00DE, 32);
  pairs(0x0100, 0x012F, true);  // Latin Extended-A; U+0130/U+0131 (dotted/dotless i) stay
  pairs(0x0132, 0x0137, true);
  pairs(0x0139, 0x0148, false);
  pairs(0x014A, 0x0177, true);
  t[0x0178] = 0x00FF;
  pairs(0x0179, 0x017E, false);
  t[0x017F] = u's';    // long s
  t[0x0386] = 0x03AC;  // Greek
  shift(0x0388, 0x038A, 37);
  t[0x038C] = 0x03CC;
  shift(0x038E, 0x038F, 63);
  shift(0x0391, 0x03A1, 32);
  shift(0x03A3, 0x03AB, 32);
  t[0x03C2] = 0x03C3;         // final sigma
  shift(0x0400, 0x040F, 80);  // Cyrillic
  shift(0x0410, 0x042F, 32);
  pairs(0x0460, 0x0481, true);
  pairs(0x048A, 0x04BF, true);
  t[0x04C0] = 0x04CF;  // palochka
  pairs(0x04C1, 0x04CE, false);
  pairs(0x04D0, 0x052F, true);
  // The full-width Latin capitals U+FF21-U+FF3A are folded by Fold itself.
  return t;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

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

constinit const std::array<char16_t, kFoldTableSize> kFoldTable = MakeFoldTable();

char16_t FoldCase(char16_t c) { return Fold(c); }

std::u16string FoldString(std::u16string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = Fold(text[i]);
  return out;
}

int CompareFolded(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = Fold(a[i]);
    const char16_t y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

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
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > static_cast<int64_t>(DaysInMonth(year, static_cast<unsigned>(month)))) {
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
  double days = 0;
  if (has_date) {
    // 1899-12-30 is 25569 days before 1970-01-01.
    days = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + 25569);
  }
  // Before 1899-12-30 the day count is negative and the time still counts forward.
  return DateTime{days < 0 ? days - fraction : days + fraction};
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
