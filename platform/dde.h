// The DDE channel between programs of the same user, over Unix-domain stream sockets.
//
// The endpoint of service S and topic T is the socket "<dir>/<s>.<t>", both names folded to
// ASCII lower case, where <dir> is "$XDG_RUNTIME_DIR/dde", else "/tmp/dde-<uid>", a folder of
// mode 0700 owned by the user. A conversation is one connection. The server speaks first:
//   u32 LE  data format of the conversation (kClipboardText = 1)
// then each execute transaction is one frame from the client:
//   u8      'E'
//   u32 LE  data format
//   u32 LE  length
//   ...     the data bytes
// Closing the connection ends the conversation. The client never waits for an answer. Both
// sides refuse peers of other users.
#ifndef QUORVEL_PLATFORM_DDE_H_
#define QUORVEL_PLATFORM_DDE_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::dde {

inline constexpr uint32_t kClipboardText = 1;
// Frames larger than this end the conversation.
inline constexpr uint32_t kMaxExecuteLength = 1u << 20;

// The socket folder (not created).
std::filesystem::path EndpointDirectory();

// The socket path of a service and topic (names folded to ASCII lower case).
std::filesystem::path EndpointPath(std::u16string_view service, std::u16string_view topic);

// Creates the socket folder with mode 0700, or checks that the existing one is a real folder
// owned by the user and closed to everyone else. Raises platform::Error otherwise.
void EnsureEndpointDirectory();

// One conversation, client side.
class Conversation {
 public:
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // The data format the server announced, or nothing when it announced none in time.
  std::optional<uint32_t> format() const { return format_; }

  // Posts one execute transaction; the answer is not awaited. Returns whether the frame was
  // handed to the connection.
  bool Execute(std::string_view data, uint32_t format);

  // Ends the conversation (also done by the destructor).
  void Disconnect();

 private:
  friend class Instance;
  Conversation(int fd, std::optional<uint32_t> format) : fd_(fd), format_(format) {}
  int fd_;
  std::optional<uint32_t> format_;
};

// The client instance of a program run. Connections can be made only while it is
// initialised; after Uninitialize every Connect raises platform::Error.
class Instance {
 public:
  // Initialises: makes sure the socket folder exists. Raises platform::Error when it cannot.
  Instance();
  ~Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool initialized() const { return initialized_; }
  void Uninitialize() { initialized_ = false; }

  // A conversation with the server of service and topic, or nullptr when no server of this
  // user answers there. Waits at most `format_wait_ms` for the server's data format.
  std::unique_ptr<Conversation> Connect(std::u16string_view service, std::u16string_view topic,
                                        int format_wait_ms = 2000);

 private:
  bool initialized_ = false;
};

// The server of one service and topic. Single-threaded: the owner polls the descriptors it
// reports and calls Dispatch.
class Server {
 public:
  struct Handlers {
    std::function<void(uint64_t conversation)> on_connect;
    std::function<void(uint64_t conversation, uint32_t format, const std::string& data)> on_execute;
    std::function<void(uint64_t conversation)> on_disconnect;
  };

  // Listens on the endpoint. A stale socket file (nobody accepting) is replaced; a live one
  // raises platform::Error, as does any other failure.
  Server(std::u16string_view service, std::u16string_view topic, uint32_t format = kClipboardText);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // The descriptors to wait on for reading.
  std::vector<int> PollDescriptors() const;

  // Accepts waiting conversations and reads what arrived, without blocking, calling the
  // handlers for each event.
  void Dispatch(const Handlers& handlers);

  // Waits up to `timeout_ms` for activity, then dispatches. Returns whether anything was
  // ready.
  bool WaitAndDispatch(int timeout_ms, const Handlers& handlers);

 private:
  struct Peer {
    int fd = -1;
    uint64_t id = 0;
    std::string buffer;
  };
  void Accept(const Handlers& handlers);
  bool Read(Peer& peer, const Handlers& handlers);  // false when the conversation ended

  std::filesystem::path path_;
  int listen_fd_ = -1;
  uint64_t device_ = 0, inode_ = 0;  // of the socket file this server made
  uint32_t format_;
  uint64_t next_id_ = 1;
  std::vector<Peer> peers_;
};

}  // namespace platform::dde

#endif  // QUORVEL_PLATFORM_DDE_H_
