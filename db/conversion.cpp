// Value conversion by target field type, shared by the export to SQLite and the import into
// a new Jet database.
#include "db/conversion.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "base/calendar.h"
#include "base/fold.h"
#include "platform/error.h"

namespace db {
namespace {

using jet::TFieldType;
using jet::Value;

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// The text as ASCII bytes for the number parsers; false when it holds anything else.
bool ToAsciiBytes(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c > 0x7E) return false;
    out.push_back(static_cast<char>(c));
  }
  return true;
}

[[noreturn]] void CannotConvert(const Value& value, std::u16string_view what) {
  std::u16string shown = ValueToText(value);
  if (shown.size() > 60) shown = shown.substr(0, 60) + u"…";
  throw platform::Error(u"'" + shown + u"' は" + std::u16string(what) + u"に変換できません");
}

// Reads a run of digits (at least min, at most max) as a number.
bool ReadNumber(std::u16string_view& text, size_t min, size_t max, int& out) {
  size_t n = 0;
  int v = 0;
  while (n < text.size() && n < max && text[n] >= u'0' && text[n] <= u'9') {
    v = v * 10 + (text[n] - u'0');
    ++n;
  }
  if (n < min) return false;
  text.remove_prefix(n);
  out = v;
  return true;
}

bool ReadChar(std::u16string_view& text, char16_t c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// "HH:MM[:SS[.fff]]" into milliseconds of the day.
bool ReadTime(std::u16string_view& text, int64_t& ms) {
  int h = 0, m = 0, s = 0, frac = 0;
  if (!ReadNumber(text, 1, 2, h) || !ReadChar(text, u':') || !ReadNumber(text, 2, 2, m)) {
    return false;
  }
  if (ReadChar(text, u':')) {
    if (!ReadNumber(text, 2, 2, s)) return false;
    if (ReadChar(text, u'.')) {
      std::u16string_view before = text;
      if (!ReadNumber(text, 1, 3, frac)) return false;
      for (size_t digits = before.size() - text.size(); digits < 3; ++digits) frac *= 10;
      while (!text.empty() && text.front() >= u'0' && text.front() <= u'9') {
        text.remove_prefix(1);  // digits below the millisecond are dropped
      }
    }
  }
  if (h > 23 || m > 59 || s > 59) return false;
  ms = ((static_cast<int64_t>(h) * 60 + m) * 60 + s) * 1000 + frac;
  return true;
}

double OleFromParts(int64_t days, int64_t ms) {
  return base::OleDate(days, static_cast<double>(ms) / 86400000.0);
}

std::u16string DoubleText(double v) {
  if (std::isnan(v)) return u"NaN";
  if (std::isinf(v)) return v > 0 ? u"INF" : u"-INF";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return Ascii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

std::u16string DateText(const jet::DateTime& date) {
  std::string iso = date.ToIsoString();  // YYYY-MM-DDTHH:MM:SS[.mmm]
  const size_t t = iso.find('T');
  if (t != std::string::npos) {
    if (iso.compare(t + 1, std::string::npos, "00:00:00") == 0) {
      iso.resize(t);
    } else {
      iso[t] = ' ';
    }
  }
  return Ascii(iso);
}

std::u16string CutText(std::u16string text, int32_t max_chars) {
  if (max_chars > 0 && text.size() > static_cast<size_t>(max_chars)) {
    size_t n = static_cast<size_t>(max_chars);
    // Never keep the first half of a surrogate pair alone.
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    text.resize(n);
  }
  return text;
}

bool ParseInteger(std::u16string_view text, int64_t& out) {
  std::string bytes;
  if (!ToAsciiBytes(text, bytes)) return false;
  std::string_view s = base::Trim(bytes);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto result = std::from_chars(s.data(), s.data() + s.size(), out);
  return result.ec == std::errc() && result.ptr == s.data() + s.size();
}

bool ParseDouble(std::u16string_view text, double& out) {
  std::string bytes;
  if (!ToAsciiBytes(text, bytes)) return false;
  std::string_view s = base::Trim(bytes);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto result = std::from_chars(s.data(), s.data() + s.size(), out);
  return result.ec == std::errc() && result.ptr == s.data() + s.size() && std::isfinite(out);
}

Value ToInteger(const Value& value, TFieldType type) {
  int64_t v = 0;
  switch (value.kind()) {
    case Value::Kind::kInteger:
      v = value.integer();
      break;
    case Value::Kind::kBoolean:
      v = value.boolean() ? 1 : 0;
      break;
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal: {
      const double d = value.number();
      if (!(d == std::trunc(d))) CannotConvert(value, u"整数");
      if (d < -9.2233720368547758e18 || d >= 9.2233720368547758e18) {
        throw OutOfRangeError(u"'" + ValueToText(value) +
                              u"' はこの欄の範囲の整数に変換できません");
      }
      v = static_cast<int64_t>(d);
      break;
    }
    case Value::Kind::kText:
      if (!ParseInteger(value.text(), v)) CannotConvert(value, u"整数");
      break;
    default:
      CannotConvert(value, u"整数");
  }
  int64_t low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
  if (type == TFieldType::ftSmallint) {
    low = -32768;
    high = 32767;
  } else if (type == TFieldType::ftLargeint) {
    low = std::numeric_limits<int64_t>::min();
    high = std::numeric_limits<int64_t>::max();
  }
  if (v < low || v > high) {
    throw OutOfRangeError(u"'" + ValueToText(value) + u"' はこの欄の範囲の整数に変換できません");
  }
  return Value::Integer(v);
}

Value ToFloat(const Value& value, TFieldType type) {
  double d = 0;
  switch (value.kind()) {
    case Value::Kind::kInteger:
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
      d = value.number();
      break;
    case Value::Kind::kBoolean:
      d = value.boolean() ? 1 : 0;
      break;
    case Value::Kind::kDateTime:
      d = value.date_time().ole;
      break;
    case Value::Kind::kText:
      if (!ParseDouble(value.text(), d)) CannotConvert(value, u"数値");
      break;
    default:
      CannotConvert(value, u"数値");
  }
  if (type == TFieldType::ftSingle) d = static_cast<double>(static_cast<float>(d));
  return Value::Double(d);
}

Value ToBoolean(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kBoolean:
      return value;
    case Value::Kind::kInteger:
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
      return Value::Boolean(value.number() != 0);
    case Value::Kind::kText: {
      const std::u16string_view t = base::Trim(value.text());
      if (base::EqualAsciiIgnoringCase(t, u"true") || base::EqualAsciiIgnoringCase(t, u"yes") ||
          base::EqualAsciiIgnoringCase(t, u"on")) {
        return Value::Boolean(true);
      }
      if (base::EqualAsciiIgnoringCase(t, u"false") || base::EqualAsciiIgnoringCase(t, u"no") ||
          base::EqualAsciiIgnoringCase(t, u"off")) {
        return Value::Boolean(false);
      }
      double d = 0;
      if (ParseDouble(t, d)) return Value::Boolean(d != 0);
      CannotConvert(value, u"真偽値");
    }
    default:
      CannotConvert(value, u"真偽値");
  }
}

Value ToDate(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kDateTime:
      return value;
    case Value::Kind::kInteger:
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
      return Value::FromDateTime(jet::DateTime{value.number()});
    case Value::Kind::kText: {
      jet::DateTime date;
      if (!ParseDateTimeText(value.text(), date)) CannotConvert(value, u"日付");
      return Value::FromDateTime(date);
    }
    default:
      CannotConvert(value, u"日付");
  }
}

}  // namespace

bool IsTextFieldType(TFieldType type) {
  return type == TFieldType::ftString || type == TFieldType::ftWideString ||
         type == TFieldType::ftMemo || type == TFieldType::ftWideMemo;
}

bool IsIntegerFieldType(TFieldType type) {
  return type == TFieldType::ftSmallint || type == TFieldType::ftInteger ||
         type == TFieldType::ftLargeint || type == TFieldType::ftAutoInc;
}

bool IsFloatFieldType(TFieldType type) {
  return type == TFieldType::ftFloat || type == TFieldType::ftSingle;
}

bool IsDateFieldType(TFieldType type) {
  return type == TFieldType::ftDate || type == TFieldType::ftTime || type == TFieldType::ftDateTime;
}

std::u16string ValueToText(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kText:
      return value.text();
    case Value::Kind::kDouble:
      return DoubleText(value.number());
    case Value::Kind::kDateTime:
      return DateText(value.date_time());
    default:
      return value.ToDisplayText();
  }
}

bool ParseDateTimeText(std::u16string_view text, jet::DateTime& out) {
  text = base::Trim(text);
  std::u16string_view rest = text;
  int64_t ms = 0;
  // A time alone.
  if (ReadTime(rest, ms) && rest.empty()) {
    out.ole = OleFromParts(0, ms);
    return true;
  }
  rest = text;
  bool negative_year = ReadChar(rest, u'-');
  int year = 0, month = 0, day = 0;
  if (!ReadNumber(rest, 4, 4, year)) return false;
  char16_t separator = rest.empty() ? u'\0' : rest.front();
  if (separator != u'-' && separator != u'/') return false;
  rest.remove_prefix(1);
  if (!ReadNumber(rest, 1, 2, month) || !ReadChar(rest, separator) ||
      !ReadNumber(rest, 1, 2, day)) {
    return false;
  }
  const int64_t y = negative_year ? -year : year;
  if (!base::IsValidDate(y, static_cast<unsigned>(month), static_cast<unsigned>(day))) {
    return false;
  }
  if (!rest.empty()) {
    if (rest.front() != u' ' && rest.front() != u'T') return false;
    rest.remove_prefix(1);
    if (!ReadTime(rest, ms) || !rest.empty()) return false;
  }
  const int64_t days =
      base::OleDayFromCivil(y, static_cast<unsigned>(month), static_cast<unsigned>(day));
  out.ole = OleFromParts(days, ms);
  return true;
}

Value ConvertForField(Value value, TFieldType type, int32_t max_chars) {
  if (value.is_null()) return value;
  if (IsTextFieldType(type)) {
    if (value.kind() == Value::Kind::kText) {
      if (max_chars <= 0 || value.text().size() <= static_cast<size_t>(max_chars)) return value;
      return Value::Text(CutText(value.text(), max_chars));
    }
    return Value::Text(CutText(ValueToText(value), max_chars));
  }
  if (IsIntegerFieldType(type)) return ToInteger(value, type);
  if (IsFloatFieldType(type)) return ToFloat(value, type);
  if (type == TFieldType::ftBoolean) return ToBoolean(value);
  if (IsDateFieldType(type)) return ToDate(value);
  return value;
}

std::u16string CompletionMessage(const CopyCounts& counts) {
  std::u16string message = u"処理完了";
  if (counts.refused > 0) {
    message += u"\r";
    message += Ascii(std::to_string(counts.refused));
    message += u" 件のレコードを書き込めませんでした";
  }
  if (counts.truncated > 0) {
    message += u"\r";
    message += TruncatedRowsMessage(counts.truncated);
  }
  return message;
}

std::u16string TruncatedRowsMessage(int64_t rows) {
  return Ascii(std::to_string(rows)) + u" 件のレコードの文字列を 255 文字に切り詰めました";
}

}  // namespace db
