// File-system paths from the program's UTF-16 text and back (UTF-8 on POSIX). Invalid input
// never fails: ill-formed sequences become U+FFFD. Texts other than paths convert with
// base/utf.h.
#ifndef QUORVEL_PLATFORM_TEXT_H_
#define QUORVEL_PLATFORM_TEXT_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

std::filesystem::path ToPath(std::u16string_view text);
std::u16string FromPath(const std::filesystem::path& path);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_TEXT_H_
