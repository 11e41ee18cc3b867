// The HTTP client of the update check: HEAD requests, each exchange made by the platform's
// HTTP facility (platform/http.h), with redirects followed by our own loop, so that the rules
// below hold whatever the system's HTTP library does by itself.
//
// One request (one call of Head):
// - A response with a status in the 300s other than 304 that carries a Location header is
//   followed to that location, resolved against the current URL when relative. The method
//   stays HEAD, except after 303, which continues with GET (only the headers are read).
// - The 15th redirect response of one request is not followed: the request ends without error
//   and that response is the final one. So at most 14 redirects are followed.
// - Failure (an HttpError): no connection, a broken or timed-out transfer, a final status
//   outside 200 to 299 (304 and a redirect without Location included), a location that is no
//   http or https URL.
// - Time limits: `connect_timeout_ms` for each connection, `request_timeout_ms` for the whole
//   request with all its redirects.
#ifndef QUORVEL_UPDATE_HTTP_CLIENT_H_
#define QUORVEL_UPDATE_HTTP_CLIENT_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/http.h"

namespace update {

class HttpError : public platform::Error {
 public:
  using platform::Error::Error;
};

struct HttpClientOptions {
  long connect_timeout_ms = 3000;
  long request_timeout_ms = 5000;
  int redirect_limit = 15;  // the redirect response with this number is final
};

class HttpClient {
 public:
  explicit HttpClient(HttpClientOptions options = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sends HEAD to `url` (absolute) and follows redirects. Throws HttpError on failure.
  void Head(std::string_view url);

  // Like Head, but `location` is first resolved against `base` (a relative location of a
  // response is meant relative to the URL that gave it). An empty or unusable location is a
  // failure.
  void HeadLocation(std::string_view base, std::string_view location);

  // The status code of the last status line received during the last request; no value when
  // none arrived. A redirect that was followed counts when nothing came after it.
  std::optional<long> last_status() const { return last_status_; }
  // The Location header of that response, empty when absent.
  const std::string& last_location() const { return last_location_; }
  // The URL that gave that response.
  const std::string& last_url() const { return last_url_; }
  // The Last-Modified header of the final response of the last successful request.
  const std::optional<std::string>& last_modified() const { return last_modified_; }
  // How many requests went out during the last Head (the first and each redirect).
  int exchanges() const { return exchanges_; }

  // A response head as the platform's facility hands it out.
  using Response = platform::HttpResponse;

 private:
  Response Exchange(const std::string& url, bool use_get, long timeout_ms);

  HttpClientOptions options_;
  std::unique_ptr<platform::HttpSession> session_;
  std::optional<long> last_status_;
  std::string last_location_;
  std::string last_url_;
  std::optional<std::string> last_modified_;
  int exchanges_ = 0;
};

// `reference` resolved against the absolute URL `base`; no value when either is unusable or the
// result is no http or https URL.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace update

#endif  // QUORVEL_UPDATE_HTTP_CLIENT_H_
