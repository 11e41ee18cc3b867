// A real HTTP/1.1 server on 127.0.0.1 for the update-check tests. Each connection carries one
// request; the test's handler decides the answer, or that none comes. Every request is
// recorded.
#ifndef QUORVEL_TESTS_UPDATE_TEST_HTTP_SERVER_H_
#define QUORVEL_TESTS_UPDATE_TEST_HTTP_SERVER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace update_test {

struct HttpRequest {
  std::string method;
  std::string target;
};

struct HttpReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Keep the connection open and never write anything.
  bool never_answer = false;
  // Close the connection at once without writing anything.
  bool close_without_answer = false;
};

class TestHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  explicit TestHttpServer(Handler handler);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view path) const;
  std::vector<HttpRequest> requests() const;
  size_t CountRequests(std::string_view target) const;

 private:
  // A socket of either system (an int on POSIX, a SOCKET on Windows).
  using Socket = std::intptr_t;

  void AcceptLoop();
  void Serve(Socket fd);

  Handler handler_;
  Socket listen_fd_ = -1;
  // Set when the server stops: every wait looks at it at least every few tenths of a second.
  std::atomic<bool> stopping_{false};
  int port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<HttpRequest> requests_;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int UnusedPort();

}  // namespace update_test

#endif  // QUORVEL_TESTS_UPDATE_TEST_HTTP_SERVER_H_
