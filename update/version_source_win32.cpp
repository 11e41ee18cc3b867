// On Windows the block is what the system's version API gives.
#include "platform/version_resource.h"
#include "update/version_source.h"

namespace update {

std::vector<uint8_t> ReadVersionBlock(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return {};
  return platform::ReadVersionResource(file);
}

}  // namespace update
