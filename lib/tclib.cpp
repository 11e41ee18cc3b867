// Text and path utilities: field splitting, blank collapsing, the directory of a path, and the
// integer conversion of setting texts.
#include "lib/tclib.h"

#include <limits>

#include "base/fold.h"
#include "platform/error.h"

namespace tclib {
namespace {

constexpr char16_t kBlank = u' ';

bool IsBlankDelimiter(std::u16string_view delimiter) {
  return delimiter.size() == 1 && delimiter[0] == kBlank;
}

// Position of the delimiter in text, or npos. An empty delimiter never occurs, so the whole
// text is one field.
size_t FindDelimiter(std::u16string_view text, std::u16string_view delimiter) {
  if (delimiter.empty()) return std::u16string_view::npos;
  return text.find(delimiter);
}

}  // namespace

std::u16string CollapseSpaces(std::u16string_view text) {
  const std::u16string_view trimmed = base::Trim(text);
  std::u16string result;
  result.reserve(trimmed.size());
  int blanks_in_row = 0;
  for (const char16_t c : trimmed) {
    if (c == kBlank) {
      ++blanks_in_row;
      if (blanks_in_row == 1) result.push_back(c);
    } else {
      result.push_back(c);
      blanks_in_row = 0;
    }
  }
  return result;
}

std::u16string GetToken(std::u16string_view delimiter, std::u16string_view text, int32_t index) {
  std::u16string collapsed;
  if (IsBlankDelimiter(delimiter)) {
    collapsed = CollapseSpaces(text);
    text = collapsed;
  }
  if (index <= 0) return {};
  std::u16string_view rest = text;
  std::u16string_view field;
  for (int32_t pass = 1; pass <= index; ++pass) {
    const size_t p = FindDelimiter(rest, delimiter);
    if (p == std::u16string_view::npos) {
      // The last field: every further pass would yield an empty field.
      return pass == index ? std::u16string(rest) : std::u16string();
    }
    field = rest.substr(0, p);
    rest.remove_prefix(p + delimiter.size());
  }
  return std::u16string(field);
}

std::vector<std::u16string> SplitToList(std::u16string_view delimiter, std::u16string_view text) {
  std::u16string collapsed;
  if (IsBlankDelimiter(delimiter)) {
    collapsed = CollapseSpaces(text);
    text = collapsed;
  }
  std::vector<std::u16string> fields;
  std::u16string_view rest = text;
  // At most as many passes as the text has code units: a text of nothing but delimiters gives
  // one empty field per delimiter and none after the last.
  for (size_t pass = 0; pass < text.size(); ++pass) {
    const size_t p = FindDelimiter(rest, delimiter);
    if (p == std::u16string_view::npos) {
      fields.emplace_back(rest);
      break;
    }
    fields.emplace_back(rest.substr(0, p));
    rest.remove_prefix(p + delimiter.size());
  }
  return fields;
}

std::u16string ExtractDirectory(std::u16string_view path, char16_t separator) {
  const std::u16string_view delimiter(&separator, 1);
  const std::vector<std::u16string> fields = SplitToList(delimiter, path);
  if (fields.size() < 2) return {};
  std::u16string directory;
  for (size_t i = 0; i + 1 < fields.size(); ++i) {
    directory += fields[i];
    directory.push_back(separator);
  }
  return directory;
}

namespace {

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The conversion behind StrToInt and StrToIntDef; false when the text is not an integer.
//
// Decimal values must lie within the signed 32-bit range, so "-2147483648" converts and
// "2147483648" fails. Hexadecimal digits give a 32-bit pattern (up to FFFFFFFF, leading zeros
// allowed) that is taken as a signed 32-bit value, so "$FFFFFFFF" is -1 and "$80000000" is
// -2147483648, as the runtime of the original program did; a minus sign then negates that
// value within 32 bits ("-$FFFFFFFF" is 1). Hex values needing more than 32 bits fail.
bool ParseInt32(std::u16string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == kBlank) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;  // no digits at all

  if (hex) {
    uint32_t bits = 0;
    for (; i < text.size(); ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0) return false;
      if (bits > (std::numeric_limits<uint32_t>::max() >> 4)) return false;
      bits = (bits << 4) | static_cast<uint32_t>(digit);
    }
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
  }

  // Accumulate the magnitude; the negative range is one larger than the positive one.
  const uint32_t limit = negative ? 2147483648u : 2147483647u;
  uint32_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return false;
    const uint32_t digit = c - u'0';
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
  return true;
}

}  // namespace

int32_t StrToInt(std::u16string_view text) {
  int32_t value = 0;
  if (!ParseInt32(text, value)) {
    throw platform::Error(u"'" + std::u16string(text) + u"' は整数ではありません");
  }
  return value;
}

int32_t StrToIntDef(std::u16string_view text, int32_t default_value) {
  int32_t value = 0;
  return ParseInt32(text, value) ? value : default_value;
}

std::u16string AsciiDigits(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'\uFF10' && c <= u'\uFF19') c = static_cast<char16_t>(u'0' + (c - u'\uFF10'));
  }
  return out;
}

}  // namespace tclib
