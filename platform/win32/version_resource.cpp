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
  return block;
}

}  // namespace platform
