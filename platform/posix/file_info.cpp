// File times from stat; the UTC offset from the C library's local-time conversion.
#include "platform/file_info.h"

#include <sys/stat.h>

#include <ctime>

namespace platform {

std::optional<std::chrono::sys_seconds> LastWriteTime(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return std::chrono::sys_seconds(std::chrono::seconds(info.st_mtim.tv_sec));
}

int64_t CurrentUtcOffsetSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<int64_t>(local.tm_gmtoff);
}

}  // namespace platform
