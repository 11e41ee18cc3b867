// File times from GetFileAttributesExW; the UTC offset from the time-zone information.
#include "platform/file_info.h"

#include <windows.h>

namespace platform {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeOfUnixEpoch = 116444736000000000;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;

}  // namespace

std::optional<std::chrono::sys_seconds> LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime) -
      kFileTimeOfUnixEpoch;
  // Whole seconds, fractions dropped also before 1970 (rounding towards minus infinity).
  int64_t seconds = ticks / kFileTimeTicksPerSecond;
  if (ticks % kFileTimeTicksPerSecond < 0) --seconds;
  return std::chrono::sys_seconds(std::chrono::seconds(seconds));
}

int64_t CurrentUtcOffsetSeconds() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = ::GetTimeZoneInformation(&zone);
  if (kind == TIME_ZONE_ID_INVALID) return 0;
  LONG bias = zone.Bias;  // minutes west of UTC
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  return -static_cast<int64_t>(bias) * 60;
}

}  // namespace platform
