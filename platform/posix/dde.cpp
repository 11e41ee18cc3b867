// The DDE channel over Unix-domain stream sockets (layout of the exchange in dde.h).
#include "platform/dde.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/fold.h"
#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform::dde {
namespace {

constexpr char kExecuteTag = 'E';
constexpr size_t kFrameHeader = 9;  // tag, format, length

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const char* p) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(p[i]);
  return value;
}

bool FillAddress(const std::filesystem::path& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

bool PeerIsSameUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  return credentials.uid == getuid();
}

// Whether the folder holding the sockets is ours alone; sockets elsewhere are never used.
bool DirectoryIsPrivate(const std::filesystem::path& dir) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
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

std::filesystem::path EndpointDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
    return std::filesystem::path(runtime) / "dde";
  }
  return std::filesystem::path("/tmp") / ("dde-" + std::to_string(getuid()));
}

std::filesystem::path EndpointPath(std::u16string_view service, std::u16string_view topic) {
  // Names go to the code page first, as DDE string handles do, then to file-name bytes.
  const std::u16string s = FromCodePage932(ToCodePage932(service));
  const std::u16string t = FromCodePage932(ToCodePage932(topic));
  return EndpointDirectory() / base::AsciiLower(base::ToUtf8(s) + "." + base::ToUtf8(t));
}

void EnsureEndpointDirectory() {
  const std::filesystem::path dir = EndpointDirectory();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw Error(u"DDE の通信用フォルダを作成できません: " + FromPath(dir));
  }
  if (!DirectoryIsPrivate(dir)) {
    throw Error(u"DDE の通信用フォルダが安全ではありません: " + FromPath(dir));
  }
}

// ---- client ----

Conversation::~Conversation() { Disconnect(); }

bool Conversation::Execute(std::string_view data, uint32_t format) {
  if (fd_ < 0 || data.size() > kMaxExecuteLength) return false;
  std::string frame;
  frame.reserve(kFrameHeader + data.size());
  frame.push_back(kExecuteTag);
  PutU32(frame, format);
  PutU32(frame, static_cast<uint32_t>(data.size()));
  frame.append(data);
  return SendAll(fd_, frame, 2000);
}

void Conversation::Disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

Instance::Instance() {
  EnsureEndpointDirectory();
  initialized_ = true;
}

std::unique_ptr<Conversation> Instance::Connect(std::u16string_view service,
                                                std::u16string_view topic, int format_wait_ms) {
  if (!initialized_) throw Error(u"DDE が初期化されていません");
  const std::filesystem::path path = EndpointPath(service, topic);
  if (!DirectoryIsPrivate(path.parent_path())) return nullptr;
  sockaddr_un address;
  if (!FillAddress(path, address)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Error(u"DDE の接続を作成できません");
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      !PeerIsSameUser(fd)) {
    close(fd);
    return nullptr;
  }
  std::optional<uint32_t> format;
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
  if (got == sizeof bytes) format = GetU32(bytes);
  return std::unique_ptr<Conversation>(new Conversation(fd, format));
}

// ---- server ----

Server::Server(std::u16string_view service, std::u16string_view topic, uint32_t format)
    : path_(EndpointPath(service, topic)), format_(format) {
  EnsureEndpointDirectory();
  // The socket is bound and listening under a private name first and then linked to the
  // endpoint name, which fails when that name exists: a client never finds a socket that does
  // not accept yet, and two servers starting at once cannot take the name from each other.
  std::filesystem::path staging = path_;
  staging += "." + std::to_string(getpid()) + ".new";
  sockaddr_un address, staging_address;
  if (!FillAddress(path_, address) || !FillAddress(staging, staging_address)) {
    throw Error(u"DDE の名前が長すぎます: " + FromPath(path_));
  }
  const auto fail = [&] {
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    unlink(staging.c_str());
    throw Error(u"DDE サーバーを開始できません: " + FromPath(path_));
  };
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) fail();
  unlink(staging.c_str());
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&staging_address),
           sizeof staging_address) != 0 ||
      listen(listen_fd_, 16) != 0) {
    fail();
  }
  if (link(staging.c_str(), path_.c_str()) != 0) {
    if (errno != EEXIST) fail();
    // A socket file nobody accepts on is left over from a program that ended.
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool stale =
        probe >= 0 &&
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        (errno == ECONNREFUSED || errno == ENOENT);
    if (probe >= 0) close(probe);
    if (!stale) fail();
    unlink(path_.c_str());
    if (link(staging.c_str(), path_.c_str()) != 0) fail();
  }
  unlink(staging.c_str());
  struct stat st;
  if (stat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  NotifyStarterReady();
}

Server::~Server() {
  for (auto& peer : peers_) close(peer.fd);
  if (listen_fd_ >= 0) close(listen_fd_);
  // Only the socket file this server made; another server may have replaced it since.
  struct stat st;
  if (stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    unlink(path_.c_str());
  }
}

std::vector<int> Server::PollDescriptors() const {
  std::vector<int> fds{listen_fd_};
  for (const auto& peer : peers_) fds.push_back(peer.fd);
  return fds;
}

void Server::Accept(const Handlers& handlers) {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // nothing more waiting
    }
    if (!PeerIsSameUser(fd)) {
      close(fd);
      continue;
    }
    // A client that posted its command and left already cannot be greeted; what it sent is
    // still read.
    std::string greeting;
    PutU32(greeting, format_);
    SendAll(fd, greeting, 1000);
    Peer peer;
    peer.fd = fd;
    peer.id = next_id_++;
    peers_.push_back(std::move(peer));
    if (handlers.on_connect) handlers.on_connect(peers_.back().id);
  }
}

bool Server::Read(Peer& peer, const Handlers& handlers) {
  char chunk[4096];
  bool open = true;
  for (;;) {
    const ssize_t n = recv(peer.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      peer.buffer.append(chunk, static_cast<size_t>(n));
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

void Server::Dispatch(const Handlers& handlers) {
  Accept(handlers);
  for (size_t i = 0; i < peers_.size();) {
    if (Read(peers_[i], handlers)) {
      ++i;
      continue;
    }
    const uint64_t id = peers_[i].id;
    close(peers_[i].fd);
    peers_.erase(peers_.begin() + static_cast<std::ptrdiff_t>(i));
    if (handlers.on_disconnect) handlers.on_disconnect(id);
  }
}

bool Server::WaitAndDispatch(int timeout_ms, const Handlers& handlers) {
  std::vector<pollfd> fds;
  for (int fd : PollDescriptors()) fds.push_back(pollfd{fd, POLLIN, 0});
  int ready = poll(fds.data(), fds.size(), timeout_ms);
  if (ready < 0 && errno == EINTR) ready = 0;
  Dispatch(handlers);
  return ready > 0;
}

}  // namespace platform::dde
