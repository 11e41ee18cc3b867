// One HTTP exchange: a HEAD or GET request to an absolute http or https URL, with a limit for
// making the connection and one for the whole exchange, and no redirect followed (the caller
// decides about those). Only the response's head is read: a body is never fetched. An
// interim response (1xx) is replaced by the one after it.
//
// The Linux build runs it over libcurl, the Windows build over WinHTTP.
#ifndef QUORVEL_PLATFORM_HTTP_H_
#define QUORVEL_PLATFORM_HTTP_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

enum class HttpMethod { kHead, kGet };

// What a response told, as far as it arrived.
struct HttpResponse {
  // The status of the last status line received; none when no status line arrived.
  std::optional<long> status;
  // The first Location header, trimmed; `location_seen` tells an empty one from none.
  std::string location;
  bool location_seen = false;
  // The first Last-Modified header, trimmed.
  std::optional<std::string> last_modified;
};

// A failed exchange: no connection, a broken or timed-out transfer, no status line. Carries
// what had arrived of the response before the failure.
class HttpExchangeError : public Error {
 public:
  HttpExchangeError(std::u16string message, HttpResponse partial)
      : Error(std::move(message)), partial_(std::move(partial)) {}
  const HttpResponse& partial() const { return partial_; }

 private:
  HttpResponse partial_;
};

// Exchanges made one after another share one session (and may reuse its connections).
class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Sends one request to `url` and returns the response's head. Throws HttpExchangeError, with
  // a Japanese message that names the URL, when no complete response head arrives within the
  // limits: `connect_timeout_ms` for making the connection, `total_timeout_ms` for all of it.
  HttpResponse Exchange(const std::string& url, HttpMethod method, long connect_timeout_ms,
                        long total_timeout_ms);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// `reference` resolved against the absolute URL `base` (an empty base: `reference` must be
// absolute itself); nothing when either is unusable or the result is no http or https URL.
std::optional<std::string> ResolveHttpUrl(std::string_view base, std::string_view reference);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_HTTP_H_
