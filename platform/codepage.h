// Code page 932 (Shift-JIS, Windows variant), the system ANSI code page of the program.
#ifndef QUORVEL_PLATFORM_CODEPAGE_H_
#define QUORVEL_PLATFORM_CODEPAGE_H_

#include <string>
#include <string_view>

namespace platform {

// UTF-16 to code page 932 by Windows' table without its best-fit mapping. Every character the
// code page cannot hold (a surrogate pair counts as one character, a lone surrogate too) is
// written as "?"; so is a character the table would write as the code of a look-alike (one that
// decodes to another character, as U+301C would as 81 60).
std::string ToCodePage932(std::u16string_view text);

// Code page 932 to UTF-16 by Windows' table, which also maps the single bytes 0x80, 0xA0 and
// 0xFD to 0xFF (to U+0080, U+F8F0 and U+F8F1 to U+F8F3). A lead byte with a trail byte the
// table does not assign becomes U+30FB, the code page's default character; so does a lead byte
// without its trail byte (at the end, or before a byte that cannot be one), and the byte after
// it is then read on its own. Every byte sequence decodes; nothing becomes U+FFFD.
std::u16string FromCodePage932(std::string_view bytes);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_CODEPAGE_H_
