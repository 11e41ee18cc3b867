// How the atomic writers name their temporary files, shared by every system's implementation:
// the target's name behind a dot, ".tmp", the writer's process id, a counter and a random
// number (".ProjectQuorvel.ini.tmp4711-0-123456789"). The process id in the name lets a later
// run tell a leftover of a writer that died from a file a running writer still fills.
#ifndef QUORVEL_PLATFORM_TEMPORARY_NAME_H_
#define QUORVEL_PLATFORM_TEMPORARY_NAME_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform::temporary {

using NativeString = std::filesystem::path::string_type;
using NativeView = std::basic_string_view<std::filesystem::path::value_type>;

// A fresh name for a temporary file of `base_name` written by process `process_id`.
NativeString Name(const NativeString& base_name, uint64_t process_id);

// Whether two names are the same file name on this system (exact on POSIX, without case on
// Windows).
using SameName = bool (*)(NativeView a, NativeView b);

// The process id in a name that Name gave for `base_name`, with one of SQLite's companion
// suffixes ("-journal", "-wal", "-shm") allowed behind it; 0 when it is no such name.
uint64_t Owner(NativeView name, const NativeString& base_name, SameName same);

// The folder `file` lies in ("." for a bare name).
std::filesystem::path FolderOf(const std::filesystem::path& file);

// Makes a new empty temporary file for `base_name` in `folder` through `create_new`, which
// must fail with std::errc::file_exists when the name is taken; another name is tried then,
// up to 100 names. Sets `path` to the file made, or clears it and returns the error.
std::error_code CreateNew(
    const std::filesystem::path& folder, const NativeString& base_name, uint64_t process_id,
    const std::function<std::error_code(const std::filesystem::path&)>& create_new,
    std::filesystem::path& path);

}  // namespace platform::temporary

#endif  // QUORVEL_PLATFORM_TEMPORARY_NAME_H_
