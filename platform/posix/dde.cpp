// DDE over Unix-domain stream sockets (folder, names and wire form in dde_socket.h).
#include "platform/dde.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/fold.h"
#include "base/utf.h"
#include "platform/error.h"
#include "platform/posix/dde_socket.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "platform/text.h"

namespace platform::dde {
namespace {

bool FillAddress(const std::filesystem::path& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

bool SendAll(int fd, const std::string& bytes, int timeout_ms) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n =
        send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

// ---- client ----

struct Conversation::Link {
  int fd = -1;
  std::optional<uint32_t> format;
};

Conversation::Conversation(std::unique_ptr<Link> link) : link_(std::move(link)) {}

Conversation::~Conversation() { Disconnect(); }

std::optional<uint32_t> Conversation::format() const { return link_->format; }

bool Conversation::Execute(std::string_view data, uint32_t format) {
  if (link_->fd < 0 || data.size() > kMaxExecuteLength) return false;
  return SendAll(link_->fd, ExecuteFrame(data, format), 2000);
}

void Conversation::Disconnect() {
  if (link_->fd >= 0) close(link_->fd);
  link_->fd = -1;
}

// Nothing is held between connections: every conversation is a connection of its own.
struct Instance::State {};

Instance::Instance() {
  EnsureEndpointDirectory();
  initialized_ = true;
}

Instance::~Instance() = default;

void Instance::Uninitialize() { initialized_ = false; }

std::unique_ptr<Conversation> Instance::Connect(std::u16string_view service,
                                                std::u16string_view topic, int format_wait_ms) {
  if (!initialized_) throw Error(u"DDE が初期化されていません");
  const std::filesystem::path path = EndpointPath(service, topic);
  if (!DirectoryIsPrivate(path.parent_path())) return nullptr;
  sockaddr_un address;
  if (!FillAddress(path, address)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SystemError(u"DDE の接続を作成できません", errno);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      !PeerIsSameUser(fd)) {
    close(fd);
    return nullptr;
  }
  char bytes[4];
  size_t got = 0;
  while (got < sizeof bytes) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, format_wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = recv(fd, bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  auto link = std::make_unique<Conversation::Link>();
  link->fd = fd;
  if (got == sizeof bytes) link->format = GetU32(bytes);
  return std::unique_ptr<Conversation>(new Conversation(std::move(link)));
}

// ---- server ----

struct Server::Endpoint {
  using Clock = std::chrono::steady_clock;

  struct Peer {
    int fd = -1;
    uint64_t id = 0;
    std::string buffer;          // bytes of a frame not yet whole
    Clock::time_point heard_at;  // when the peer last sent something
  };

  // Connections taken in one round at most, so that a client connecting without pause cannot
  // keep the server from reading the conversations it holds.
  static constexpr int kAcceptsPerRound = 32;

  Endpoint(std::filesystem::path endpoint_path, uint32_t endpoint_format)
      : path(std::move(endpoint_path)), format(endpoint_format) {}
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  void Listen();
  std::vector<int> Descriptors(Clock::time_point now) const;
  // How long a wait may last before something is due: the end of an accept pause or a silent
  // conversation's time-out. Nothing when nothing is due.
  std::optional<Clock::duration> UntilDue(Clock::time_point now) const;
  void Accept(const Handlers& handlers);
  bool Read(Peer& peer, const Handlers& handlers);  // false when the conversation ended
  bool Silent(const Peer& peer, Clock::time_point now) const;

  std::filesystem::path path;
  int listen_fd = -1;
  uint64_t device = 0, inode = 0;  // of the socket file this server made
  uint32_t format;
  uint64_t next_id = 1;
  std::vector<Peer> peers;
  Limits limits;
  Clock::time_point accept_resumes_at{};  // no connection is taken before this
};

void Server::Endpoint::Listen() {
  EnsureEndpointDirectory();
  // The socket is bound and listening under a private name first and then linked to the
  // endpoint name, which fails when that name exists: a client never finds a socket that does
  // not accept yet, and two servers starting at once cannot take the name from each other.
  std::filesystem::path staging = path;
  staging += "." + std::to_string(getpid()) + ".new";
  sockaddr_un address, staging_address;
  if (!FillAddress(path, address) || !FillAddress(staging, staging_address)) {
    throw Error(u"DDE の名前が長すぎます: " + FromPath(path));
  }
  const auto fail = [&] {
    const int error = errno;
    if (listen_fd >= 0) close(listen_fd);
    listen_fd = -1;
    unlink(staging.c_str());
    throw SystemError(u"DDE サーバーを開始できません: " + FromPath(path), error);
  };
  listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd < 0) fail();
  unlink(staging.c_str());
  if (bind(listen_fd, reinterpret_cast<const sockaddr*>(&staging_address),
           sizeof staging_address) != 0 ||
      listen(listen_fd, 16) != 0) {
    fail();
  }
  if (link(staging.c_str(), path.c_str()) != 0) {
    if (errno != EEXIST) fail();
    // A socket file nobody accepts on is left over from a program that ended.
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool stale =
        probe >= 0 &&
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        (errno == ECONNREFUSED || errno == ENOENT);
    if (probe >= 0) close(probe);
    if (!stale) {
      errno = EEXIST;  // a running server holds the name
      fail();
    }
    unlink(path.c_str());
    if (link(staging.c_str(), path.c_str()) != 0) fail();
  }
  unlink(staging.c_str());
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    device = st.st_dev;
    inode = st.st_ino;
  }
}

Server::Endpoint::~Endpoint() {
  for (auto& peer : peers) close(peer.fd);
  if (listen_fd >= 0) close(listen_fd);
  if (device == 0 && inode == 0) return;  // never took the name
  // Only the socket file this server made; another server may have replaced it since.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode) {
    unlink(path.c_str());
  }
}

std::vector<int> Server::Endpoint::Descriptors(Clock::time_point now) const {
  std::vector<int> fds;
  // While accepting rests the listening socket is left out: it stays readable with the
  // connections waiting, and waiting on it would return at once.
  if (now >= accept_resumes_at) fds.push_back(listen_fd);
  for (const auto& peer : peers) fds.push_back(peer.fd);
  return fds;
}

std::optional<Server::Endpoint::Clock::duration> Server::Endpoint::UntilDue(
    Clock::time_point now) const {
  std::optional<Clock::time_point> due;
  const auto consider = [&](Clock::time_point at) {
    if (!due || at < *due) due = at;
  };
  if (now < accept_resumes_at) consider(accept_resumes_at);
  for (const auto& peer : peers) {
    if (peer.buffer.empty()) consider(peer.heard_at + limits.idle_timeout);
  }
  if (!due) return std::nullopt;
  return *due > now ? *due - now : Clock::duration::zero();
}

void Server::Endpoint::Accept(const Handlers& handlers) {
  if (Clock::now() < accept_resumes_at) return;
  for (int round = 0; round < kAcceptsPerRound; ++round) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;  // nothing more waiting
      // Out of descriptors or memory (or any other failure): the connection stays waiting and
      // taking it again at once would fail again, so accepting rests for a while.
      accept_resumes_at = Clock::now() + limits.accept_pause;
      return;
    }
    // Beyond the cap a connection is ended at once rather than left waiting, so that its client
    // learns it at once and a later client is taken as soon as a conversation ends.
    if (peers.size() >= limits.max_conversations || !PeerIsSameUser(fd)) {
      close(fd);
      continue;
    }
    // A client that posted its command and left already cannot be greeted; what it sent is
    // still read.
    std::string greeting;
    PutU32(greeting, format);
    SendAll(fd, greeting, 1000);
    Peer peer;
    peer.fd = fd;
    peer.id = next_id++;
    peer.heard_at = Clock::now();
    peers.push_back(std::move(peer));
    if (handlers.on_connect) handlers.on_connect(peers.back().id);
  }
}

bool Server::Endpoint::Silent(const Peer& peer, Clock::time_point now) const {
  return peer.buffer.empty() && now - peer.heard_at >= limits.idle_timeout;
}

bool Server::Endpoint::Read(Peer& peer, const Handlers& handlers) {
  char chunk[4096];
  bool open = true;
  for (;;) {
    const ssize_t n = recv(peer.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      peer.buffer.append(chunk, static_cast<size_t>(n));
      peer.heard_at = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    open = false;  // end of the conversation, or an error
    break;
  }
  // Whole frames are delivered, also those that arrived just before the end.
  size_t at = 0;
  while (peer.buffer.size() - at >= kFrameHeader) {
    const char* p = peer.buffer.data() + at;
    const uint32_t length = GetU32(p + 5);
    if (p[0] != kExecuteTag || length > kMaxExecuteLength) {
      open = false;  // not our protocol: drop the conversation
      at = peer.buffer.size();
      break;
    }
    if (peer.buffer.size() - at - kFrameHeader < length) break;
    const std::string data(p + kFrameHeader, length);
    if (handlers.on_execute) handlers.on_execute(peer.id, GetU32(p + 1), data);
    at += kFrameHeader + length;
  }
  peer.buffer.erase(0, at);
  return open;
}

Server::Server(std::u16string_view service, std::u16string_view topic, uint32_t format)
    : endpoint_(std::make_unique<Endpoint>(EndpointPath(service, topic), format)) {
  endpoint_->Listen();
  NotifyStarterReady();
}

Server::~Server() = default;

void Server::Dispatch(const Handlers& handlers) {
  Endpoint& e = *endpoint_;
  e.Accept(handlers);
  for (size_t i = 0; i < e.peers.size();) {
    // A conversation that stays silent outside a frame only holds a descriptor: it is ended.
    if (e.Read(e.peers[i], handlers) && !e.Silent(e.peers[i], Endpoint::Clock::now())) {
      ++i;
      continue;
    }
    const uint64_t id = e.peers[i].id;
    close(e.peers[i].fd);
    e.peers.erase(e.peers.begin() + static_cast<std::ptrdiff_t>(i));
    if (handlers.on_disconnect) handlers.on_disconnect(id);
  }
}

bool Server::WaitAndDispatch(int timeout_ms, const Handlers& handlers) {
  const auto now = Endpoint::Clock::now();
  std::vector<pollfd> fds;
  for (int fd : endpoint_->Descriptors(now)) fds.push_back(pollfd{fd, POLLIN, 0});
  // The wait ends early when an accept pause or a silent conversation's time is up.
  int wait_ms = timeout_ms;
  if (const auto due = endpoint_->UntilDue(now)) {
    const auto due_ms = std::chrono::ceil<std::chrono::milliseconds>(*due).count();
    if (wait_ms < 0 || due_ms < wait_ms) wait_ms = static_cast<int>(due_ms);
  }
  int ready = poll(fds.data(), fds.size(), wait_ms);
  if (ready < 0 && errno == EINTR) ready = 0;
  Dispatch(handlers);
  return ready > 0;
}

const Server::Limits& Server::limits() const { return endpoint_->limits; }

void Server::SetLimits(const Limits& limits) { endpoint_->limits = limits; }

}  // namespace platform::dde
