#include "test_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace update_test {
namespace {

int Listen(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
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

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = Listen(&port_);
  if (::pipe2(stop_fd_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  char byte = 1;
  (void)!::write(stop_fd_[1], &byte, 1);
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  ::close(listen_fd_);
  ::close(stop_fd_[0]);
  ::close(stop_fd_[1]);
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
  while (true) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard lock(mutex_);
      workers_.emplace_back([this, fd] {
        Serve(fd);
        ::close(fd);
      });
    }
  }
}

void TestHttpServer::Serve(int fd) {
  // Read the request head; the stop pipe ends waiting at once.
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) return;
    if (fds[1].revents != 0) return;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
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
    pollfd stop = {stop_fd_[0], POLLIN, 0};
    while (::poll(&stop, 1, -1) < 0) {
    }
    return;
  }
  std::string out =
      "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
  for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (request.method != "HEAD") out += reply.body;
  WriteAll(fd, out);
  ::shutdown(fd, SHUT_WR);
  // Wait for the client to close, so that it reads everything before the socket goes.
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd_[0], POLLIN, 0}};
  char sink[512];
  while (::poll(fds, 2, 2000) > 0 && fds[1].revents == 0 && ::recv(fd, sink, sizeof sink, 0) > 0) {
  }
}

int UnusedPort() {
  int port = 0;
  int fd = Listen(&port);
  ::close(fd);
  return port;
}

}  // namespace update_test
