#include "jet/write/row_codec.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "base/calendar.h"
#include "base/fold.h"
#include "base/utf.h"
#include "jet/format/record.h"

namespace jet::write {
namespace {

[[noreturn]] void Refuse(const ColumnModel& column, std::u16string_view what) {
  throw Error(u"列 '" + column.name + u"' に" + std::u16string(what));
}

std::u16string Trim(std::u16string_view s) { return std::u16string(base::TrimSpacesAndTabs(s)); }

std::optional<double> ParseNumber(std::u16string_view text) {
  std::u16string t = Trim(text);
  if (t.empty()) return std::nullopt;
  std::string ascii;
  for (char16_t c : t) {
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  char* end = nullptr;
  double v = std::strtod(ascii.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  if (ascii.find_first_of("xXnN") != std::string::npos) return std::nullopt;  // hex, nan, inf
  return v;
}

std::optional<double> ParseDate(std::u16string_view text) {
  std::u16string t = Trim(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  std::string a = base::ToUtf8(t);
  char sep1 = 0, sep2 = 0;
  int consumed = 0;
  if (std::sscanf(a.c_str(), "%d%c%d%c%d%n", &y, &sep1, &mo, &sep2, &d, &consumed) != 5 ||
      sep1 != sep2 || (sep1 != '-' && sep1 != '/')) {
    return std::nullopt;
  }
  std::string rest = a.substr(static_cast<size_t>(consumed));
  if (!rest.empty()) {
    int n = 0;
    if (std::sscanf(rest.c_str(), "%*[ T]%d:%d%n", &h, &mi, &n) != 2) return std::nullopt;
    std::string tail = rest.substr(static_cast<size_t>(n));
    if (!tail.empty()) {
      int n2 = 0;
      if (std::sscanf(tail.c_str(), ":%d%n", &s, &n2) != 1 ||
          static_cast<size_t>(n2) != tail.size()) {
        return std::nullopt;
      }
    }
  }
  if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59 ||
      !base::IsValidDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d))) {
    return std::nullopt;
  }
  const int64_t days =
      base::OleDayFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  return base::OleDate(days, (h * 3600 + mi * 60 + s) / 86400.0);
}

std::optional<Guid> ParseGuid(std::u16string_view text) {
  std::u16string t = Trim(text);
  if (t.size() == 38 && t.front() == u'{' && t.back() == u'}') t = t.substr(1, 36);
  if (t.size() != 36) return std::nullopt;
  uint8_t raw[16];
  int n = 0;
  for (size_t i = 0; i < t.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (t[i] != u'-') return std::nullopt;
      ++i;
      continue;
    }
    auto hex = [](char16_t c) -> int {
      if (c >= u'0' && c <= u'9') return c - u'0';
      if (c >= u'a' && c <= u'f') return c - u'a' + 10;
      if (c >= u'A' && c <= u'F') return c - u'A' + 10;
      return -1;
    };
    int hi = hex(t[i]), lo = hex(t[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    raw[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  // The first three groups are stored little-endian.
  Guid g{raw[3], raw[2], raw[1],  raw[0],  raw[5],  raw[4],  raw[7],  raw[6],
         raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
  return g;
}

int64_t ToInteger(const ColumnModel& column, const Value& v, int64_t lo, int64_t hi) {
  double d;
  switch (v.kind()) {
    case Value::Kind::kInteger: {
      int64_t i = v.integer();
      if (i < lo || i > hi) Refuse(column, u"範囲外の数値は入れられません");
      return i;
    }
    case Value::Kind::kBoolean:
      return v.boolean() ? -1 : 0;
    case Value::Kind::kText: {
      auto n = ParseNumber(v.text());
      if (!n) Refuse(column, u"数値でない値は入れられません");
      d = *n;
      break;
    }
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
    case Value::Kind::kDateTime:
      d = v.number();
      break;
    default:
      Refuse(column, u"この種類の値は入れられません");
  }
  d = std::nearbyint(d);
  if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi))) {
    Refuse(column, u"範囲外の数値は入れられません");
  }
  return static_cast<int64_t>(d);
}

double ToDouble(const ColumnModel& column, const Value& v) {
  if (v.kind() == Value::Kind::kText) {
    auto n = ParseNumber(v.text());
    if (!n) Refuse(column, u"数値でない値は入れられません");
    return *n;
  }
  switch (v.kind()) {
    case Value::Kind::kInteger:
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
    case Value::Kind::kDateTime:
    case Value::Kind::kBoolean:
      return v.number();
    default:
      Refuse(column, u"この種類の値は入れられません");
  }
}

}  // namespace

Value ConvertForColumn(const ColumnModel& column, const std::optional<Value>& given) {
  if (column.type == ColumnType::kBoolean) {
    if (!given || given->is_null()) return Value::Boolean(false);
    const Value& v = *given;
    if (v.kind() == Value::Kind::kBoolean) return v;
    if (v.kind() == Value::Kind::kText) {
      const std::u16string t = base::AsciiUpper(Trim(v.text()));
      if (t == u"TRUE" || t == u"YES" || t == u"ON") return Value::Boolean(true);
      if (t == u"FALSE" || t == u"NO" || t == u"OFF") return Value::Boolean(false);
      auto n = ParseNumber(t);
      if (!n) Refuse(column, u"Yes/No に変換できない値は入れられません");
      return Value::Boolean(*n != 0);
    }
    return Value::Boolean(ToDouble(column, v) != 0);
  }
  if (!given || given->is_null()) return Value();
  const Value& v = *given;
  switch (column.type) {
    case ColumnType::kByte:
      return Value::Integer(ToInteger(column, v, 0, 255));
    case ColumnType::kInteger:
      return Value::Integer(ToInteger(column, v, -32768, 32767));
    case ColumnType::kLong:
      return Value::Integer(ToInteger(column, v, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max()));
    case ColumnType::kSingle: {
      double d = ToDouble(column, v);
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
        Refuse(column, u"範囲外の数値は入れられません");
      }
      if (!std::isfinite(d)) Refuse(column, u"無限大や非数は入れられません");
      return Value::Double(static_cast<double>(static_cast<float>(d)));
    }
    case ColumnType::kDouble: {
      double d = ToDouble(column, v);
      if (!std::isfinite(d)) Refuse(column, u"無限大や非数は入れられません");
      return Value::Double(d);
    }
    case ColumnType::kCurrency: {
      if (v.kind() == Value::Kind::kCurrency) return v;
      if (v.kind() == Value::Kind::kInteger) {
        int64_t i = v.integer();
        if (i > 922337203685477LL || i < -922337203685477LL) {
          Refuse(column, u"範囲外の数値は入れられません");
        }
        return Value::FromCurrency({i * 10000});
      }
      double d = std::nearbyint(ToDouble(column, v) * 10000.0);
      if (!(std::fabs(d) < 9.2e18)) Refuse(column, u"範囲外の数値は入れられません");
      return Value::FromCurrency({static_cast<int64_t>(d)});
    }
    case ColumnType::kDateTime: {
      if (v.kind() == Value::Kind::kDateTime) {
        if (!std::isfinite(v.date_time().ole)) Refuse(column, u"不正な日付は入れられません");
        return v;
      }
      if (v.kind() == Value::Kind::kText) {
        auto d = ParseDate(v.text());
        if (!d) Refuse(column, u"日付に変換できない値は入れられません");
        return Value::FromDateTime({*d});
      }
      double d = ToDouble(column, v);
      if (!std::isfinite(d)) Refuse(column, u"不正な日付は入れられません");
      return Value::FromDateTime({d});
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      std::u16string text = v.kind() == Value::Kind::kText ? v.text() : v.ToDisplayText();
      if (column.type == ColumnType::kText && text.size() > static_cast<size_t>(column.max_chars)) {
        Refuse(column, u"長すぎる文字列は入れられません (" +
                           base::FromUtf8(std::to_string(text.size())) + u" 文字、上限 " +
                           base::FromUtf8(std::to_string(column.max_chars)) + u" 文字)");
      }
      if (text.size() > 0x1FFFFFFF / 2) Refuse(column, u"長すぎる文字列は入れられません");
      return Value::Text(std::move(text));
    }
    case ColumnType::kBinary:
    case ColumnType::kOle: {
      if (v.kind() != Value::Kind::kBinary) Refuse(column, u"バイナリでない値は入れられません");
      if (column.type == ColumnType::kBinary && v.binary().size() > column.length) {
        Refuse(column, u"長すぎるバイナリ値は入れられません");
      }
      if (v.binary().size() > 0x3FFFFFFF) Refuse(column, u"長すぎるバイナリ値は入れられません");
      return v;
    }
    case ColumnType::kGuid: {
      if (v.kind() == Value::Kind::kGuid) return v;
      if (v.kind() == Value::Kind::kText) {
        auto g = ParseGuid(v.text());
        if (g) return Value::FromGuid(*g);
      }
      Refuse(column, u"GUID に変換できない値は入れられません");
    }
    default:
      Refuse(column, u"この型の値は書き込めません");
  }
}

std::string VariableBytes(const ColumnModel& column, const Value& v) {
  return format::EncodeVariableValue(column.type, (column.extra_flags & kColumnCompressible) != 0,
                                     v);
}

}  // namespace jet::write
