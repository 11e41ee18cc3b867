// PENDING: replaced by the CreateFileW/ReadFile/WriteFile implementation.
#include "jet/file/file.h"
#include "jet/jet.h"

namespace jet::file {
std::unique_ptr<ReadableFile> OpenShared(const std::filesystem::path&) { throw Error(u"未実装"); }
std::unique_ptr<WritableFile> CreateExclusive(const std::filesystem::path&) {
  throw Error(u"未実装");
}
std::optional<RegularFileStatus> StatusOfRegularFile(const std::filesystem::path&) {
  return std::nullopt;
}
int64_t LocalUtcOffsetSeconds(int64_t) { return 0; }
}  // namespace jet::file
