// A test HTTP server with routes the test sets, and a few route families:
//   /chain/<n>/<k>   redirect (302) to /chain/<n>/<k+1> while k < n, then 200
//   /loop            redirects to itself without end
// Replies for other targets come from the route table; unknown targets get 404.
#ifndef QUORVEL_TESTS_UPDATE_ROUTED_SERVER_H_
#define QUORVEL_TESTS_UPDATE_ROUTED_SERVER_H_

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "test_http_server.h"

namespace update_test {

// Removes a variable from the environment of this process.
inline void UnsetEnvironment(const char* name) {
#ifdef _WIN32
  ::_putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

// An HTTP date in the preferred form for seconds since 1970 UTC.
inline std::string HttpDate(int64_t seconds) {
  // The civil calendar of <chrono>, which also covers moments before 1970 on every system.
  using namespace std::chrono;
  const sys_seconds moment{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss<std::chrono::seconds> time{moment - day};
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kDays[weekday{day}.c_encoding()], static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return buffer;
}

inline HttpReply Ok(std::optional<std::string> last_modified = std::nullopt) {
  HttpReply r;
  if (last_modified) r.headers.emplace_back("Last-Modified", *last_modified);
  return r;
}

inline HttpReply Redirect(int status, std::optional<std::string> location,
                          std::optional<std::string> last_modified = std::nullopt) {
  HttpReply r;
  r.status = status;
  if (location) r.headers.emplace_back("Location", *location);
  if (last_modified) r.headers.emplace_back("Last-Modified", *last_modified);
  return r;
}

inline HttpReply Status(int status) {
  HttpReply r;
  r.status = status;
  return r;
}

inline HttpReply NeverAnswer() {
  HttpReply r;
  r.never_answer = true;
  return r;
}

inline HttpReply CloseWithoutAnswer() {
  HttpReply r;
  r.close_without_answer = true;
  return r;
}

class RoutedServer {
 public:
  RoutedServer() : server_([this](const HttpRequest& r) { return Handle(r); }) {}

  // The reply for `target`; several replies for one target are given in turn, the last one
  // then for every later request.
  void Route(const std::string& target, HttpReply reply) {
    std::lock_guard lock(mutex_);
    routes_[target].push_back(std::move(reply));
  }
  // Last-Modified of the end of a chain, and of its redirect responses.
  void SetChainHeaders(std::optional<std::string> final_modified,
                       std::optional<std::string> redirect_modified) {
    std::lock_guard lock(mutex_);
    chain_final_modified_ = std::move(final_modified);
    chain_redirect_modified_ = std::move(redirect_modified);
  }

  std::string Url(std::string_view path) const { return server_.Url(path); }
  int port() const { return server_.port(); }
  std::vector<HttpRequest> requests() const { return server_.requests(); }
  size_t CountRequests(std::string_view target) const { return server_.CountRequests(target); }

 private:
  HttpReply Handle(const HttpRequest& request) {
    std::lock_guard lock(mutex_);
    auto it = routes_.find(request.target);
    if (it != routes_.end()) {
      HttpReply reply = it->second.front();
      if (it->second.size() > 1) it->second.pop_front();
      return reply;
    }
    if (request.target == "/loop") return Redirect(302, "/loop");
    int n = 0;
    int k = 0;
    if (std::sscanf(request.target.c_str(), "/chain/%d/%d", &n, &k) == 2) {
      if (k < n) {
        return Redirect(302, "/chain/" + std::to_string(n) + "/" + std::to_string(k + 1),
                        chain_redirect_modified_);
      }
      return Ok(chain_final_modified_);
    }
    return Status(404);
  }

  std::mutex mutex_;
  std::map<std::string, std::deque<HttpReply>> routes_;
  std::optional<std::string> chain_final_modified_;
  std::optional<std::string> chain_redirect_modified_;
  TestHttpServer server_;  // last: stops before the routes go
};

}  // namespace update_test

#endif  // QUORVEL_TESTS_UPDATE_ROUTED_SERVER_H_
