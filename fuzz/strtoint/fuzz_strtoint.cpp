// The integer conversion against a second implementation that works on whole digit strings.
// Input bytes become UTF-16 code units; bytes from 0xF0 up stand for a few wide characters
// that look like digits or blanks.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "lib/tclib.h"
#include "platform/error.h"

namespace {

std::optional<int32_t> Expected(const std::u16string& text) {
  size_t i = text.find_first_not_of(u' ');
  if (i == std::u16string::npos) return std::nullopt;
  bool negative = false;
  if (text[i] == u'+' || text[i] == u'-') negative = text[i++] == u'-';
  const std::u16string rest = text.substr(i);
  bool hex = false;
  std::u16string digits = rest;
  if (rest.starts_with(u"0x") || rest.starts_with(u"0X")) {
    hex = true;
    digits = rest.substr(2);
  } else if (!rest.empty() && (rest[0] == u'$' || rest[0] == u'x' || rest[0] == u'X')) {
    hex = true;
    digits = rest.substr(1);
  }
  if (digits.empty()) return std::nullopt;
  const std::u16string allowed = hex ? u"0123456789abcdefABCDEF" : u"0123456789";
  if (digits.find_first_not_of(allowed) != std::u16string::npos) return std::nullopt;
  const size_t first = digits.find_first_not_of(u'0');
  digits = first == std::u16string::npos ? u"0" : digits.substr(first);
  if (digits.size() > (hex ? 8u : 10u)) return std::nullopt;
  const std::string narrow(digits.begin(), digits.end());
  const int64_t magnitude = std::strtoll(narrow.c_str(), nullptr, hex ? 16 : 10);
  if (hex) {
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char16_t kWide[] = {u'\u3000', u'１', u'\u0660', u'\t', u'\0',
                                   u'\xD800', u'ｘ', u'＄',     u'－', u'\u00A0'};
  std::u16string text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(data[i] >= 0xF0 ? kWide[(data[i] - 0xF0) % 10] : char16_t{data[i]});
  }
  const std::optional<int32_t> expected = Expected(text);
  const int32_t a = tclib::StrToIntDef(text, 7);
  const int32_t b = tclib::StrToIntDef(text, -7);
  if (expected) {
    if (a != *expected || b != *expected) std::abort();
  } else if (a != 7 || b != -7) {
    std::abort();
  }
  try {
    const int32_t value = tclib::StrToInt(text);
    if (!expected || value != *expected) std::abort();
  } catch (const platform::Error& error) {
    if (expected || error.message() != u"'" + text + u"' は整数ではありません") std::abort();
  }
  return 0;
}
