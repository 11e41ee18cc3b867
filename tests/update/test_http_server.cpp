#include "test_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace update_test {
namespace {

using Socket = std::intptr_t;

// How long one wait lasts before the stop flag is looked at again.
constexpr int kStopCheckMs = 100;

#ifdef _WIN32
// Winsock is started once for the process and stays started.
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup");
}
SOCKET Native(Socket fd) { return static_cast<SOCKET>(fd); }
void CloseSocket(Socket fd) { ::closesocket(Native(fd)); }
int Poll(pollfd* fds, unsigned long count, int timeout_ms) {
  return ::WSAPoll(fds, count, timeout_ms);
}
constexpr int kSendFlags = 0;
using SendLength = int;
constexpr int kShutWrite = SD_SEND;
Socket NewSocket() { return static_cast<Socket>(::socket(AF_INET, SOCK_STREAM, 0)); }
Socket Accept(Socket listener) {
  return static_cast<Socket>(::accept(Native(listener), nullptr, nullptr));
}
void SetNonBlocking(Socket fd) {
  u_long on = 1;
  ::ioctlsocket(Native(fd), static_cast<long>(FIONBIO), &on);
}
bool WouldBlock() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }
#else
void StartSockets() {}
int Native(Socket fd) { return static_cast<int>(fd); }
void CloseSocket(Socket fd) { ::close(Native(fd)); }
int Poll(pollfd* fds, nfds_t count, int timeout_ms) { return ::poll(fds, count, timeout_ms); }
constexpr int kSendFlags = MSG_NOSIGNAL;
using SendLength = size_t;
constexpr int kShutWrite = SHUT_WR;
// Sockets are not inherited by programs the tests start.
Socket NewSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
Socket Accept(Socket listener) {
  return ::accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
}
void SetNonBlocking(Socket fd) {
  ::fcntl(Native(fd), F_SETFL, ::fcntl(Native(fd), F_GETFL) | O_NONBLOCK);
}
bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
#endif

// Waits until `fd` has something to read or the server stops; false when it stops (or the
// wait fails). `limit_ms` < 0 waits without limit; a limit that passes counts as false.
bool WaitReadable(Socket fd, const std::atomic<bool>& stopping, int limit_ms) {
  int waited = 0;
  while (!stopping) {
    pollfd entry{};
    entry.fd = Native(fd);
    entry.events = POLLIN;
    const int ready = Poll(&entry, 1, kStopCheckMs);
    if (ready > 0) return true;
    if (ready < 0) return false;
    waited += kStopCheckMs;
    if (limit_ms >= 0 && waited >= limit_ms) return false;
  }
  return false;
}

Socket Listen(int* port) {
  StartSockets();
  const Socket fd = NewSocket();
  if (fd < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(Native(fd), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
               sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(Native(fd), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(Native(fd), 64) != 0) {
    CloseSocket(fd);
    throw std::runtime_error("bind/listen");
  }
  socklen_t len = sizeof addr;
  ::getsockname(Native(fd), reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

// Sends `data` unless the client goes or the server stops first. The socket does not block,
// so that a client that stops reading never holds the server's end: under Wine a blocking send
// to a client that closed its end with data unread waits for ever.
void WriteAll(Socket fd, const std::string& data, const std::atomic<bool>& stopping) {
  SetNonBlocking(fd);
  size_t done = 0;
  while (done < data.size() && !stopping) {
    const size_t piece = std::min<size_t>(data.size() - done, 1 << 20);
    const auto n =
        ::send(Native(fd), data.data() + done, static_cast<SendLength>(piece), kSendFlags);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || !WouldBlock()) return;
    pollfd entry{};
    entry.fd = Native(fd);
    entry.events = POLLOUT;
    if (Poll(&entry, 1, kStopCheckMs) < 0 || (entry.revents & (POLLERR | POLLHUP)) != 0) return;
  }
}

}  // namespace

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = Listen(&port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  stopping_ = true;
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  CloseSocket(listen_fd_);
}

std::string TestHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<HttpRequest> TestHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t TestHttpServer::CountRequests(std::string_view target) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const HttpRequest& r : requests_) n += r.target == target ? 1u : 0u;
  return n;
}

void TestHttpServer::AcceptLoop() {
  while (!stopping_) {
    if (!WaitReadable(listen_fd_, stopping_, -1)) continue;
    const Socket fd = Accept(listen_fd_);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    workers_.emplace_back([this, fd] {
      Serve(fd);
      CloseSocket(fd);
    });
  }
}

void TestHttpServer::Serve(Socket fd) {
  // Read the request head; stopping the server ends waiting.
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (!WaitReadable(fd, stopping_, -1)) return;
    char buffer[4096];
    const auto n = ::recv(Native(fd), buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
    if (head.size() > 65536) return;
  }
  HttpRequest request;
  size_t sp1 = head.find(' ');
  size_t sp2 = head.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return;
  request.method = head.substr(0, sp1);
  request.target = head.substr(sp1 + 1, sp2 - sp1 - 1);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  HttpReply reply = handler_(request);
  if (reply.close_without_answer) return;
  if (reply.never_answer) {
    while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
    return;
  }
  std::string out =
      "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
  for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (request.method != "HEAD") out += reply.body;
  WriteAll(fd, out, stopping_);
  ::shutdown(Native(fd), kShutWrite);
  // Wait for the client to close, so that it reads everything before the socket goes.
  char sink[512];
  while (WaitReadable(fd, stopping_, 2000) && ::recv(Native(fd), sink, sizeof sink, 0) > 0) {
  }
}

int UnusedPort() {
  int port = 0;
  CloseSocket(Listen(&port));
  return port;
}

}  // namespace update_test
