#include "jet/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>

#include "base/utf.h"

namespace jet::json {

namespace {

// Characters JSON writes as they are (as UTF-8): everything but controls, the quote, the
// backslash and surrogates (a paired one is written as its character, through the run).
bool Plain(char16_t c) {
  return c >= 0x20 && c != u'"' && c != u'\\' && (c < 0xD800 || c > 0xDFFF);
}

bool High(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool Low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendEscaped(char16_t c, std::string& out) {
  switch (c) {
    case u'"':
      out += "\\\"";
      return;
    case u'\\':
      out += "\\\\";
      return;
    case u'\b':
      out += "\\b";
      return;
    case u'\f':
      out += "\\f";
      return;
    case u'\n':
      out += "\\n";
      return;
    case u'\r':
      out += "\\r";
      return;
    case u'\t':
      out += "\\t";
      return;
    default: {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    }
  }
}

}  // namespace

void AppendQuoted(std::u16string_view text, std::string& out) {
  out += '"';
  size_t run = 0;  // start of the characters not yet written
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (Plain(c)) continue;
    if (High(c) && i + 1 < text.size() && Low(text[i + 1])) {
      ++i;  // a pair: one character, written with its run
      continue;
    }
    base::AppendUtf8(text.substr(run, i - run), out);
    AppendEscaped(c, out);
    run = i + 1;
  }
  base::AppendUtf8(text.substr(run), out);
  out += '"';
}

std::string Quote(std::u16string_view text) {
  std::string out;
  AppendQuoted(text, out);
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

void AppendValue(const Value& value, std::string& out) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      out += "null";
      return;
    case Value::Kind::kBoolean:
      out += value.boolean() ? "true" : "false";
      return;
    case Value::Kind::kInteger: {
      char buffer[24];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, value.integer()).ptr;
      out.append(buffer, end);
      return;
    }
    case Value::Kind::kDouble:
      out += Number(value.number());
      return;
    case Value::Kind::kCurrency:
      out += "\"" + value.currency().ToString() + "\"";
      return;
    case Value::Kind::kDecimal:
      out += "\"" + value.decimal().ToString() + "\"";
      return;
    case Value::Kind::kDateTime:
      out += "\"" + value.date_time().ToIsoString() + "\"";
      return;
    case Value::Kind::kText:
      AppendQuoted(value.text(), out);
      return;
    case Value::Kind::kBinary: {
      static constexpr char kHex[] = "0123456789abcdef";
      out += '"';
      for (const uint8_t b : value.binary()) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      out += '"';
      return;
    }
    case Value::Kind::kGuid:
      out += "\"" + GuidText(value.guid()) + "\"";
      return;
  }
  out += "null";
}

std::string FromValue(const Value& value) {
  std::string out;
  AppendValue(value, out);
  return out;
}

std::string Fields(const std::vector<Field>& fields) {
  std::string out = "[";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += "{\"name\":";
    AppendQuoted(fields[i].name, out);
    out += ",\"type\":\"" + std::string(FieldTypeName(fields[i].type)) + "\",\"jetType\":\"" +
           std::string(ColumnTypeName(fields[i].column_type)) +
           "\",\"size\":" + std::to_string(fields[i].size) + "}";
  }
  return out + "]";
}

std::string Row(const std::vector<Value>& row) {
  std::string out = "[";
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) out += ',';
    AppendValue(row[i], out);
  }
  return out + "]";
}

void WriteResult(const Dataset& dataset, const std::function<void(std::string_view)>& write) {
  // Written in pieces of about this size, so that a large result never sits in memory twice.
  constexpr size_t kPiece = size_t{64} << 10;
  std::string out = "{\"fields\":" + Fields(dataset.fields()) + ",\"rows\":[";
  const int field_count = static_cast<int>(dataset.fields().size());
  for (int64_t row = 0; row < dataset.record_count(); ++row) {
    if (row) out += ',';
    out += '[';
    for (int f = 0; f < field_count; ++f) {
      if (f) out += ',';
      AppendValue(dataset.ValueAt(row, f), out);
    }
    out += ']';
    if (out.size() >= kPiece) {
      write(out);
      out.clear();
    }
  }
  out += "]}";
  write(out);
}

std::string Result(const Dataset& dataset) {
  std::string result;
  WriteResult(dataset, [&result](std::string_view piece) { result += piece; });
  return result;
}

}  // namespace jet::json
