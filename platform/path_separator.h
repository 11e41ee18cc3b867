// The separator between the parts of a path, as the program writes it in its texts: "\" on
// Windows, "/" on POSIX (the file system's preferred separator).
#ifndef QUORVEL_PLATFORM_PATH_SEPARATOR_H_
#define QUORVEL_PLATFORM_PATH_SEPARATOR_H_

#include <filesystem>

namespace platform {

inline constexpr char16_t kPathSeparator =
    static_cast<char16_t>(std::filesystem::path::preferred_separator);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PATH_SEPARATOR_H_
