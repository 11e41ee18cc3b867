// UTF-16 <-> UTF-8 and file-system paths. Invalid input never fails: ill-formed sequences
// become U+FFFD.
#ifndef QUORVEL_PLATFORM_TEXT_H_
#define QUORVEL_PLATFORM_TEXT_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// A path from the program's UTF-16 text and back (UTF-8 on POSIX).
std::filesystem::path ToPath(std::u16string_view text);
std::u16string FromPath(const std::filesystem::path& path);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_TEXT_H_
