// Text and path utilities shared by the whole program, and the integer conversion of setting
// texts.
#ifndef QUORVEL_LIB_TCLIB_H_
#define QUORVEL_LIB_TCLIB_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_separator.h"

namespace tclib {

inline constexpr char16_t kPathSeparator = platform::kPathSeparator;

std::u16string CollapseSpaces(std::u16string_view text);
std::u16string GetToken(std::u16string_view delimiter, std::u16string_view text, int32_t index);
std::vector<std::u16string> SplitToList(std::u16string_view delimiter, std::u16string_view text);
std::u16string ExtractDirectory(std::u16string_view path, char16_t separator = kPathSeparator);

// Setting text to integer: optional leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow. StrToInt raises
// platform::Error "'%s' は整数ではありません"; StrToIntDef returns the default instead.
int32_t StrToInt(std::u16string_view text);
int32_t StrToIntDef(std::u16string_view text, int32_t default_value);

// The text with every full-width digit (U+FF10 to U+FF19, as a Japanese input method types
// them) replaced by its ASCII digit; every other code unit is kept. The length never changes.
std::u16string AsciiDigits(std::u16string_view text);

}  // namespace tclib

#endif  // QUORVEL_LIB_TCLIB_H_
