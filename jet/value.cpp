// Values and field-type names.
#include <cmath>
#include <cstdio>

#include "base/calendar.h"
#include "base/utf.h"
#include "jet/jet.h"

namespace jet {

std::string_view FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftUnknown:
      return "ftUnknown";
    case TFieldType::ftString:
      return "ftString";
    case TFieldType::ftWideString:
      return "ftWideString";
    case TFieldType::ftMemo:
      return "ftMemo";
    case TFieldType::ftWideMemo:
      return "ftWideMemo";
    case TFieldType::ftSmallint:
      return "ftSmallint";
    case TFieldType::ftInteger:
      return "ftInteger";
    case TFieldType::ftLargeint:
      return "ftLargeint";
    case TFieldType::ftAutoInc:
      return "ftAutoInc";
    case TFieldType::ftBoolean:
      return "ftBoolean";
    case TFieldType::ftFloat:
      return "ftFloat";
    case TFieldType::ftSingle:
      return "ftSingle";
    case TFieldType::ftDate:
      return "ftDate";
    case TFieldType::ftTime:
      return "ftTime";
    case TFieldType::ftDateTime:
      return "ftDateTime";
    case TFieldType::ftByte:
      return "ftByte";
    case TFieldType::ftCurrency:
      return "ftCurrency";
    case TFieldType::ftFMTBcd:
      return "ftFMTBcd";
    case TFieldType::ftGuid:
      return "ftGuid";
    case TFieldType::ftBlob:
      return "ftBlob";
    case TFieldType::ftVarBytes:
      return "ftVarBytes";
  }
  return "ftUnknown";
}

std::string_view ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
      return "Boolean";
    case ColumnType::kByte:
      return "Byte";
    case ColumnType::kInteger:
      return "Integer";
    case ColumnType::kLong:
      return "Long";
    case ColumnType::kCurrency:
      return "Currency";
    case ColumnType::kSingle:
      return "Single";
    case ColumnType::kDouble:
      return "Double";
    case ColumnType::kDateTime:
      return "DateTime";
    case ColumnType::kBinary:
      return "Binary";
    case ColumnType::kText:
      return "Text";
    case ColumnType::kOle:
      return "OLE";
    case ColumnType::kMemo:
      return "Memo";
    case ColumnType::kGuid:
      return "ReplicationID";
    case ColumnType::kNumeric:
      return "Decimal";
  }
  return "Unknown";
}

namespace {

// Decimal digits of an unsigned 128-bit number.
std::string Digits(unsigned __int128 v) {
  if (v == 0) return "0";
  std::string out;
  while (v > 0) {
    out.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return std::string(out.rbegin(), out.rend());
}

// Places a decimal point `scale` digits from the right of `digits`, padding with zeros.
std::string WithScale(std::string digits, int scale) {
  if (scale <= 0) return digits;
  if (static_cast<int>(digits.size()) <= scale) {
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  }
  digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  return digits;
}

struct Broken {
  int64_t year;
  unsigned month, day, hour, minute, second, millisecond;
};

// Splits an OLE date into calendar fields. The integer part counts days from 1899-12-30
// (negative before it); the fraction's magnitude is the time of day.
Broken BreakOleDate(double ole) {
  double day_part = std::trunc(ole);
  double fraction = std::fabs(ole - day_part);
  auto ms = static_cast<int64_t>(std::llround(fraction * 86400000.0));
  if (ms >= 86400000) {  // rounding reached the next midnight
    ms -= 86400000;
    day_part += ole < 0 ? -1 : 1;
  }
  Broken b{};
  const base::CivilDate date = base::CivilFromOleDay(static_cast<int64_t>(day_part));
  b.year = date.year;
  b.month = date.month;
  b.day = date.day;
  b.hour = static_cast<unsigned>(ms / 3600000);
  b.minute = static_cast<unsigned>(ms / 60000 % 60);
  b.second = static_cast<unsigned>(ms / 1000 % 60);
  b.millisecond = static_cast<unsigned>(ms % 1000);
  return b;
}

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

[[noreturn]] void WrongKind(const char* wanted) {
  throw Error(u"値の型が違います (" + Ascii(wanted) + u" ではありません)");
}

}  // namespace

std::string Decimal::ToString() const {
  std::string s = WithScale(Digits(mantissa), scale);
  if (negative && mantissa != 0) s.insert(0, 1, '-');
  return s;
}

double Decimal::ToDouble() const {
  double v = static_cast<double>(mantissa) / std::pow(10.0, scale);
  return negative ? -v : v;
}

std::string Currency::ToString() const {
  const bool negative = ten_thousandths < 0;
  // The magnitude of INT64_MIN does not fit an int64_t; use unsigned arithmetic.
  unsigned __int128 magnitude = negative
                                    ? static_cast<unsigned __int128>(-(ten_thousandths + 1)) + 1
                                    : static_cast<unsigned __int128>(ten_thousandths);
  std::string s = WithScale(Digits(magnitude), 4);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (negative) s.insert(0, 1, '-');
  return s;
}

std::string DateTime::ToIsoString() const {
  const Broken b = BreakOleDate(ole);
  char buffer[64];
  if (b.millisecond != 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u.%03u",
                  static_cast<long long>(b.year), b.month, b.day, b.hour, b.minute, b.second,
                  b.millisecond);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u",
                  static_cast<long long>(b.year), b.month, b.day, b.hour, b.minute, b.second);
  }
  return buffer;
}

bool Value::boolean() const {
  if (auto* v = std::get_if<1>(&storage_)) return *v;
  WrongKind("Boolean");
}

int64_t Value::integer() const {
  if (auto* v = std::get_if<2>(&storage_)) return *v;
  if (auto* v = std::get_if<1>(&storage_)) return *v ? -1 : 0;
  WrongKind("Integer");
}

double Value::number() const {
  switch (kind()) {
    case Kind::kDouble:
      return std::get<3>(storage_);
    case Kind::kInteger:
      return static_cast<double>(std::get<2>(storage_));
    case Kind::kBoolean:
      return std::get<1>(storage_) ? -1.0 : 0.0;
    case Kind::kCurrency:
      return static_cast<double>(std::get<4>(storage_).ten_thousandths) / 1e4;
    case Kind::kDecimal:
      return std::get<5>(storage_).ToDouble();
    case Kind::kDateTime:
      return std::get<6>(storage_).ole;
    default:
      WrongKind("Number");
  }
}

const Currency& Value::currency() const {
  if (auto* v = std::get_if<4>(&storage_)) return *v;
  WrongKind("Currency");
}

const Decimal& Value::decimal() const {
  if (auto* v = std::get_if<5>(&storage_)) return *v;
  WrongKind("Decimal");
}

const DateTime& Value::date_time() const {
  if (auto* v = std::get_if<6>(&storage_)) return *v;
  WrongKind("DateTime");
}

const std::u16string& Value::text() const {
  if (auto* v = std::get_if<7>(&storage_)) return *v;
  WrongKind("Text");
}

std::u16string& Value::TextToFill() {
  if (auto* v = std::get_if<7>(&storage_)) return *v;
  return storage_.emplace<7>();
}

const Bytes& Value::binary() const {
  if (auto* v = std::get_if<8>(&storage_)) return *v;
  WrongKind("Binary");
}

const Guid& Value::guid() const {
  if (auto* v = std::get_if<9>(&storage_)) return *v;
  WrongKind("GUID");
}

std::u16string Value::ToDisplayText() const {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (kind()) {
    case Kind::kNull:
      return u"";
    case Kind::kBoolean:
      return std::get<1>(storage_) ? u"True" : u"False";
    case Kind::kInteger:
      return Ascii(std::to_string(std::get<2>(storage_)));
    case Kind::kDouble: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.15g", std::get<3>(storage_));
      return Ascii(buffer);
    }
    case Kind::kCurrency:
      return Ascii(std::get<4>(storage_).ToString());
    case Kind::kDecimal:
      return Ascii(std::get<5>(storage_).ToString());
    case Kind::kDateTime: {
      const Broken b = BreakOleDate(std::get<6>(storage_).ole);
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%04lld/%02u/%02u %02u:%02u:%02u",
                    static_cast<long long>(b.year), b.month, b.day, b.hour, b.minute, b.second);
      return Ascii(buffer);
    }
    case Kind::kText:
      return std::get<7>(storage_);
    case Kind::kBinary: {
      std::u16string out;
      for (uint8_t byte : std::get<8>(storage_)) {
        out.push_back(static_cast<char16_t>(kHex[byte >> 4]));
        out.push_back(static_cast<char16_t>(kHex[byte & 15]));
      }
      return out;
    }
    case Kind::kGuid: {
      const Guid& g = std::get<9>(storage_);
      // The first three groups are stored little-endian.
      static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      std::u16string out = u"{";
      for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back(u'-');
        const uint8_t byte = g[static_cast<size_t>(kOrder[i])];
        out.push_back(
            static_cast<char16_t>(kHex[byte >> 4] >= 'a' ? kHex[byte >> 4] - 32 : kHex[byte >> 4]));
        out.push_back(
            static_cast<char16_t>(kHex[byte & 15] >= 'a' ? kHex[byte & 15] - 32 : kHex[byte & 15]));
      }
      out.push_back(u'}');
      return out;
    }
  }
  return u"";
}

}  // namespace jet
