// The version resource through the system's version API.
#include "platform/version_resource.h"

#include <windows.h>

namespace platform {

std::vector<uint8_t> ReadVersionResource(const std::filesystem::path& file) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<uint8_t> block(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return {};
  // The buffer holds the block and room the API keeps for its own use behind it; the block's
  // first field is its length.
  if (block.size() >= 2) {
    const size_t length = static_cast<size_t>(block[0] | (block[1] << 8));
    if (length <= block.size()) block.resize(length);
  }
  return block;
}

}  // namespace platform
