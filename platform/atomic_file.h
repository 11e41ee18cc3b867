// Whole-file reads and atomic whole-file replacement.
#ifndef QUORVEL_PLATFORM_ATOMIC_FILE_H_
#define QUORVEL_PLATFORM_ATOMIC_FILE_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The bytes of a file. std::nullopt when no file of that name exists; throws
// std::system_error when it exists but cannot be read (a folder, no permission) or is larger
// than max_size bytes.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& file, size_t max_size);

// Replaces the file's content with bytes, or creates the file. The bytes go into a new
// temporary file in the same folder, which is flushed to the disk and then renamed over the
// target, so the target holds either its old or its new content, never a part. A symbolic
// link is followed, and an existing file keeps its permission bits. An existing file that may
// not be written (read-only) is refused. Throws std::system_error; the old file is then as it
// was and no temporary file is left behind.
void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ATOMIC_FILE_H_
