// Without a version API, the block is read from the file itself.
#include "update/version_source.h"

namespace update {

std::vector<uint8_t> ReadVersionBlock(const std::filesystem::path& file) {
  return ReadVersionBlockFromFile(file);
}

}  // namespace update
