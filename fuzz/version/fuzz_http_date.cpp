// Last-Modified texts from the fuzzer: parsing never fails hard, and whatever is accepted is a
// real instant that formats back to a date the parser reads the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "update/http_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<int64_t> seconds = update::ParseHttpDate(text, 2026);
  if (!seconds) return 0;
  std::time_t t = static_cast<std::time_t>(*seconds);
  std::tm utc{};
  if (gmtime_r(&t, &utc) == nullptr || utc.tm_year + 1900 > 9999 || utc.tm_year + 1900 < 1) {
    return 0;
  }
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char again[64];
  std::snprintf(again, sizeof again, "%02d %s %04d %02d:%02d:%02d GMT", utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  if (update::ParseHttpDate(again, 2026) != seconds) std::abort();
  return 0;
}
