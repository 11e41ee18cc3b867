// The loader's search for a program (FindLoaderProgram in platform/process.h), shared by every
// system: the order of the folders is the same everywhere, and only what makes a file a
// program differs. Used by the systems' process code only.
#ifndef QUORVEL_PLATFORM_LOADER_SEARCH_H_
#define QUORVEL_PLATFORM_LOADER_SEARCH_H_

#include <filesystem>
#include <optional>

namespace platform::loader {

// The program `path` names, if any: the file itself or, for a name without an extension, the
// name with ".exe" added. Each system defines it in its process code.
std::optional<std::filesystem::path> MatchProgram(const std::filesystem::path& path);

}  // namespace platform::loader

#endif  // QUORVEL_PLATFORM_LOADER_SEARCH_H_
