// What the program asks the file system about a file besides its content.
#ifndef QUORVEL_PLATFORM_FILE_INFO_H_
#define QUORVEL_PLATFORM_FILE_INFO_H_

#include <chrono>
#include <filesystem>
#include <optional>

namespace platform {

// The last-write time of the file or folder at `path` (links followed), in whole seconds
// (fractions dropped, also before 1970); nothing when it cannot be found.
std::optional<std::chrono::sys_seconds> LastWriteTime(const std::filesystem::path& path);

// The local time zone's current offset from UTC, in seconds east of UTC.
int64_t CurrentUtcOffsetSeconds();

}  // namespace platform

#endif  // QUORVEL_PLATFORM_FILE_INFO_H_
