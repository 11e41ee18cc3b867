// The version resource of an executable file as the system's version API gives it
// (GetFileVersionInfoSizeW, then GetFileVersionInfoW): the VS_VERSIONINFO block, followed by
// whatever the system's copy adds after it. Empty when the file carries none or cannot be
// read. Values inside are looked up by update/ (QueryVersionValue), as VerQueryValueW would.
//
// Only the Windows build has this facility: a system without a version API has the block read
// from the file itself by update/ (the ELF section ".qvversion" or the PE resource section).
#ifndef QUORVEL_PLATFORM_VERSION_RESOURCE_H_
#define QUORVEL_PLATFORM_VERSION_RESOURCE_H_

#include <cstdint>
#include <filesystem>
#include <vector>

namespace platform {

std::vector<uint8_t> ReadVersionResource(const std::filesystem::path& file);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_VERSION_RESOURCE_H_
