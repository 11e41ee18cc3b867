#include "jet/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/utf.h"

namespace jet::json {

std::string Quote(std::u16string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += base::ToUtf8(text.substr(i, 2));
      ++i;
    } else if (high || low || c < 0x20) {
      switch (c) {
        case u'\b':
          out += "\\b";
          break;
        case u'\f':
          out += "\\f";
          break;
        case u'\n':
          out += "\\n";
          break;
        case u'\r':
          out += "\\r";
          break;
        case u'\t':
          out += "\\t";
          break;
        default: {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
          out += buffer;
        }
      }
    } else if (c == u'"') {
      out += "\\\"";
    } else if (c == u'\\') {
      out += "\\\\";
    } else {
      out += base::ToUtf8(text.substr(i, 1));
    }
  }
  out += '"';
  return out;
}

std::string Number(double value) {
  if (std::isnan(value)) return "\"NaN\"";
  if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  if (value == 0) return "0";
  // Shortest round-trip digits in scientific form: d[.ddd]e±x.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific);
  const std::string sci(buffer, result.ptr);
  const size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // drop the point
  const int exponent = std::stoi(sci.substr(e + 1));
  const int k = static_cast<int>(digits.size());
  const int n = exponent + 1;  // the decimal point sits after n digits
  std::string out = value < 0 ? "-" : "";
  if (k <= n && n <= 21) {
    out += digits + std::string(static_cast<size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out += digits.substr(0, static_cast<size_t>(n)) + "." + digits.substr(static_cast<size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0." + std::string(static_cast<size_t>(-n), '0') + digits;
  } else {
    out += digits.substr(0, 1);
    if (k > 1) out += "." + digits.substr(1);
    out += "e";
    out += n - 1 >= 0 ? "+" : "-";
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

std::string GuidText(const Guid& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                g[14], g[15]);
  return buffer;
}

std::string FromValue(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return "null";
    case Value::Kind::kBoolean:
      return value.boolean() ? "true" : "false";
    case Value::Kind::kInteger:
      return std::to_string(value.integer());
    case Value::Kind::kDouble:
      return Number(value.number());
    case Value::Kind::kCurrency:
      return "\"" + value.currency().ToString() + "\"";
    case Value::Kind::kDecimal:
      return "\"" + value.decimal().ToString() + "\"";
    case Value::Kind::kDateTime:
      return "\"" + value.date_time().ToIsoString() + "\"";
    case Value::Kind::kText:
      return Quote(value.text());
    case Value::Kind::kBinary: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string out = "\"";
      for (const uint8_t b : value.binary()) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      return out + "\"";
    }
    case Value::Kind::kGuid:
      return "\"" + GuidText(value.guid()) + "\"";
  }
  return "null";
}

std::string Fields(const std::vector<Field>& fields) {
  std::string out = "[";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += "{\"name\":" + Quote(fields[i].name) + ",\"type\":\"" +
           std::string(FieldTypeName(fields[i].type)) + "\",\"jetType\":\"" +
           std::string(ColumnTypeName(fields[i].column_type)) +
           "\",\"size\":" + std::to_string(fields[i].size) + "}";
  }
  return out + "]";
}

std::string Row(const std::vector<Value>& row) {
  std::string out = "[";
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) out += ',';
    out += FromValue(row[i]);
  }
  return out + "]";
}

std::string Result(const Dataset& dataset) {
  std::string out = "{\"fields\":" + Fields(dataset.fields()) + ",\"rows\":[";
  const int field_count = static_cast<int>(dataset.fields().size());
  for (int64_t row = 0; row < dataset.record_count(); ++row) {
    if (row) out += ',';
    out += '[';
    for (int f = 0; f < field_count; ++f) {
      if (f) out += ',';
      out += FromValue(dataset.ValueAt(row, f));
    }
    out += ']';
  }
  return out + "]}";
}

}  // namespace jet::json
