// HTTP dates (the Last-Modified header) to seconds since 1970-01-01 00:00:00 UTC.
#ifndef QUORVEL_UPDATE_HTTP_DATE_H_
#define QUORVEL_UPDATE_HTTP_DATE_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace update {

// Reads the three forms that HTTP/1.1 recipients accept:
//   "Sun, 06 Nov 1994 08:49:37 GMT"    (the preferred form; also with a 1-digit day)
//   "Sunday, 06-Nov-94 08:49:37 GMT"   (the obsolete RFC 850 form)
//   "Sun Nov  6 08:49:37 1994"         (the C library's asctime form, UTC)
// The first two may name their zone as GMT, UT, UTC, Z, a North American zone (EST, EDT, CST,
// CDT, MST, MDT, PST, PDT) or a numeric offset (+0900); a missing zone means UTC. Names of
// days and months compare without regard to case; the weekday is optional and not checked
// against the date. A two-digit year that would lie more than 50 years after `current_year`
// is taken from the century before (0: the current year of the system clock). Anything else,
// an impossible date or time, or text left over gives no value.
std::optional<int64_t> ParseHttpDate(std::string_view text, int current_year = 0);

}  // namespace update

#endif  // QUORVEL_UPDATE_HTTP_DATE_H_
