// Code page 932 (Shift-JIS, Windows variant), the system ANSI code page of the program.
#ifndef QUORVEL_PLATFORM_CODEPAGE_H_
#define QUORVEL_PLATFORM_CODEPAGE_H_

#include <string>
#include <string_view>

namespace platform {

// UTF-16 to code page 932. Every character the code page cannot hold (a surrogate pair
// counts as one character, a lone surrogate too) is written as "?".
std::string ToCodePage932(std::u16string_view text);

// Code page 932 to UTF-16; bytes that are not valid code page 932 become U+FFFD.
std::u16string FromCodePage932(std::string_view bytes);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_CODEPAGE_H_
