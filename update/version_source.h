// Where an executable file keeps its version block: our Linux executables in the ELF section
// ".qvversion" (put there at build time), Windows executables in the version resource of the
// PE resource section. On Windows the system's version API reads it (platform/
// version_resource.h); elsewhere the file is read here.
#ifndef QUORVEL_UPDATE_VERSION_SOURCE_H_
#define QUORVEL_UPDATE_VERSION_SOURCE_H_

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace update {

inline constexpr std::string_view kVersionSectionName = ".qvversion";

// The largest block read: a block's own length field cannot say more.
inline constexpr size_t kMaxVersionBlockSize = 0xFFFF;

// The version block of `file`, as the system's size query and copy would give it: on Windows
// through the version API, elsewhere ReadVersionBlockFromFile. Empty when the file is missing
// or unreadable, or carries no block.
std::vector<uint8_t> ReadVersionBlock(const std::filesystem::path& file);

// The version block read from the file itself: the ELF section or the PE version resource.
// Empty when the file is missing or unreadable, is neither ELF nor PE, or carries no block. A
// damaged file gives an empty or shortened block; it is never read outside its bounds.
std::vector<uint8_t> ReadVersionBlockFromFile(const std::filesystem::path& file);

}  // namespace update

#endif  // QUORVEL_UPDATE_VERSION_SOURCE_H_
