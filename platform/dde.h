// Dynamic Data Exchange between programs of the same user, as a DDE client and a DDE server
// see it: a client instance connects to a service and topic and posts execute transactions in
// a conversation; a server of a service and topic receives them. Names compare without regard
// to ASCII case. How the programs reach each other is the implementation's business.
#ifndef QUORVEL_PLATFORM_DDE_H_
#define QUORVEL_PLATFORM_DDE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::dde {

// The clipboard format of plain text (CF_TEXT).
inline constexpr uint32_t kClipboardText = 1;
// The data format a server announces when it names none.
inline constexpr uint32_t kNoFormat = 0;

// One conversation, client side.
class Conversation {
 public:
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // The data format the server announced, or nothing when it announced none in time.
  std::optional<uint32_t> format() const;

  // Posts one execute transaction; the answer is not awaited. Returns whether it was handed
  // to the conversation.
  bool Execute(std::string_view data, uint32_t format);

  // Ends the conversation (also done by the destructor).
  void Disconnect();

  struct Link;  // the implementation's connection

 private:
  friend class Instance;
  explicit Conversation(std::unique_ptr<Link> link);
  std::unique_ptr<Link> link_;
};

// The client instance of a program run. Connections can be made only while it is
// initialised; after Uninitialize every Connect raises platform::Error.
class Instance {
 public:
  // Initialises the instance. Raises platform::Error when DDE cannot be used. The instance
  // and its conversations belong to the thread that made it: it is used and destroyed there.
  Instance();
  ~Instance();  // uninitialises
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool initialized() const { return initialized_; }
  // Releases DDE; the conversations made by this instance end.
  void Uninitialize();

  // A conversation with the server of service and topic, or nullptr when no server of this
  // user answers there. Waits at most `format_wait_ms` for the server's data format.
  std::unique_ptr<Conversation> Connect(std::u16string_view service, std::u16string_view topic,
                                        int format_wait_ms = 2000);

  struct State;  // the implementation's hold on DDE, shared with the conversations

 private:
  bool initialized_ = false;
  std::shared_ptr<State> state_;
};

// What one server takes on, so that clients connecting in great numbers or staying silent can
// neither use up the program's descriptors nor keep it busy:
// conversations held at once; a connection beyond them is taken and closed without a word,
inline constexpr size_t kMaxConversations = 64;
// how long a conversation may send nothing, outside a frame, before it is ended,
inline constexpr std::chrono::milliseconds kIdleTimeout{30000};
// how long new connections are left waiting after taking one failed for want of descriptors or
// memory (trying again at once would only fail again).
inline constexpr std::chrono::milliseconds kAcceptPause{100};

// The server of one service and topic. Single-threaded: the thread that made it calls Dispatch
// or WaitAndDispatch, and the handlers run inside those calls.
class Server {
 public:
  struct Handlers {
    std::function<void(uint64_t conversation)> on_connect;
    std::function<void(uint64_t conversation, uint32_t format, const std::string& data)> on_execute;
    std::function<void(uint64_t conversation)> on_disconnect;
  };

  struct Limits {
    size_t max_conversations = kMaxConversations;
    std::chrono::milliseconds idle_timeout = kIdleTimeout;
    std::chrono::milliseconds accept_pause = kAcceptPause;
  };

  // Starts serving. A server of the same service and topic that ended without cleaning up is
  // replaced; a running one raises platform::Error, as does any other failure.
  Server(std::u16string_view service, std::u16string_view topic, uint32_t format = kClipboardText);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Takes waiting conversations and what arrived in them, without blocking, calling the
  // handlers for each event.
  void Dispatch(const Handlers& handlers);

  // Waits up to `timeout_ms` for activity, then dispatches. Returns whether anything was
  // ready.
  bool WaitAndDispatch(int timeout_ms, const Handlers& handlers);

  // The limits in force, the constants above unless changed. Changing them is meant for tests
  // that must reach a limit quickly; programs keep the defaults. Conversations already held
  // are not ended by a lower cap.
  const Limits& limits() const;
  void SetLimits(const Limits& limits);

  struct Endpoint;  // the implementation's listening side and conversations

 private:
  std::unique_ptr<Endpoint> endpoint_;
};

}  // namespace platform::dde

#endif  // QUORVEL_PLATFORM_DDE_H_
