// DDE between a client instance of the test and a server, on every system: the server runs in
// another thread of the test, or in another process (this executable started in its server
// mode), the way the program and the GIS application meet.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dde.h"
#include "platform/error.h"
#include "platform/program_path.h"
#include "tests/support/test_env.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#endif

namespace {

namespace dde = platform::dde;
using std::chrono::milliseconds;

// "READ_PROJECT@C:\データ\案件.qpj" in code page 932, ended by NUL as a command string is sent.
const std::string kReadProject =
    std::string("READ_PROJECT@C:\\\x83\x66\x81\x5B\x83\x5E\\\x88\xC4\x8C\x8F.qpj") + '\0';

// A bound for waits that end on an event; reaching it means the event never came.
constexpr auto kPatience = std::chrono::seconds(20);

using gistest::ToHex;

std::string Unhex(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }
std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

// Lets the thread's DDE windows answer while the test waits: a conversation the server ends is
// acknowledged through the client thread's messages.
void PumpMessages() {
#ifdef _WIN32
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
#endif
}

// ---- the server side, in a thread or a process ----

// What a server is told to do: serve until it has seen `executes` execute transactions and
// `disconnects` conversations end with none left open.
struct ServerOrder {
  std::u16string service;
  std::u16string topic = u"DdeQuorvel";
  size_t max_conversations = dde::kMaxConversations;
  int idle_ms = static_cast<int>(dde::kIdleTimeout.count());
  size_t executes = 1;
  size_t disconnects = 1;
};

// One line a server reports: "ready", "error", "connect ID", "execute ID FORMAT HEX",
// "disconnect ID".
void Serve(const ServerOrder& order, const std::function<void(const std::string&)>& report) {
  std::optional<dde::Server> server;
  try {
    server.emplace(order.service, order.topic);
  } catch (const platform::Error&) {
    report("error");
    return;
  }
  dde::Server::Limits limits;
  limits.max_conversations = order.max_conversations;
  limits.idle_timeout = milliseconds(order.idle_ms);
  server->SetLimits(limits);
  report("ready");
  size_t executes = 0, disconnects = 0, open = 0;
  dde::Server::Handlers handlers;
  handlers.on_connect = [&](uint64_t id) {
    ++open;
    report("connect " + std::to_string(id));
  };
  handlers.on_execute = [&](uint64_t id, uint32_t format, const std::string& data) {
    ++executes;
    report("execute " + std::to_string(id) + " " + std::to_string(format) + " " + ToHex(data));
  };
  handlers.on_disconnect = [&](uint64_t id) {
    ++disconnects;
    --open;
    report("disconnect " + std::to_string(id));
  };
  const auto give_up = std::chrono::steady_clock::now() + 2 * kPatience;
  while (!(executes >= order.executes && disconnects >= order.disconnects && open == 0) &&
         std::chrono::steady_clock::now() < give_up) {
    server->WaitAndDispatch(50, handlers);
  }
}

struct Event {
  std::string kind;
  uint64_t conversation = 0;
  uint32_t format = 0;
  std::string data;
};

// A running server and the events it reported.
class ServerPeer {
 public:
  virtual ~ServerPeer() = default;

  // Whether the server started; false when it refused to.
  bool AwaitStart() {
    const auto started = [&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return started_;
    };
    return WaitUntil([&] { return started().has_value(); }) && *started();
  }

  // Waits, pumping the thread's messages, until `done` holds for the events.
  bool WaitUntil(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= give_up) return false;
      PumpMessages();
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, milliseconds(10));
    }
    return true;
  }

  // The events once the server has finished its order.
  std::vector<Event> Finish() {
    while (!finished_) {
      PumpMessages();
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, milliseconds(10));
    }
    Join();
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  size_t CountOf(const std::string& kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& e : events_) n += e.kind == kind;
    return n;
  }

 protected:
  void Report(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::istringstream in(line);
    Event e;
    in >> e.kind;
    if (e.kind == "ready" || e.kind == "error") {
      started_ = e.kind == "ready";
    } else {
      std::string hex;
      in >> e.conversation >> e.format >> hex;
      e.data = Unhex(hex);
      events_.push_back(std::move(e));
    }
    changed_.notify_all();
  }
  void Finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    if (!started_) started_ = false;
    changed_.notify_all();
  }
  virtual void Join() = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<bool> started_;
  std::vector<Event> events_;
  std::atomic<bool> finished_{false};
};

class ServerThread : public ServerPeer {
 public:
  explicit ServerThread(const ServerOrder& order)
      : thread_([this, order] {
          Serve(order, [this](const std::string& line) { Report(line); });
          Finished();
        }) {}
  ~ServerThread() override { Join(); }

 private:
  void Join() override {
    if (thread_.joinable()) thread_.join();
  }
  std::thread thread_;
};

// This executable in its server mode; its standard output carries the reports line by line.
class ServerProcess : public ServerPeer {
 public:
  explicit ServerProcess(const ServerOrder& order) {
    const std::vector<std::string> arguments{"--dde-server",
                                             Narrow(order.service),
                                             Narrow(order.topic),
                                             std::to_string(order.max_conversations),
                                             std::to_string(order.idle_ms),
                                             std::to_string(order.executes),
                                             std::to_string(order.disconnects)};
    Start(arguments);
    reader_ = std::thread([this] {
      std::string pending;
      char chunk[512];
      for (;;) {
        const long n = ReadSome(chunk, sizeof chunk);
        if (n <= 0) break;
        pending.append(chunk, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
          std::string line = pending.substr(0, end);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          pending.erase(0, end + 1);
          Report(line);
        }
      }
      Finished();
    });
  }
  ~ServerProcess() override { Join(); }

 private:
  void Join() override {
    if (reader_.joinable()) reader_.join();
    Reap();
  }

#ifdef _WIN32
  void Start(const std::vector<std::string>& arguments) {
    std::wstring command = L"\"";
    const std::u16string program = platform::ProgramPath();
    command.append(program.begin(), program.end());
    command += L"\"";
    for (const auto& a : arguments) command += L" " + std::wstring(a.begin(), a.end());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end_, &write_end, &inherit, 0)) return;
    SetHandleInformation(read_end_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &started)) {
      CloseHandle(started.hThread);
      process_ = started.hProcess;
    }
    CloseHandle(write_end);
  }
  long ReadSome(char* buffer, size_t size) {
    DWORD got = 0;
    if (read_end_ == nullptr ||
        !ReadFile(read_end_, buffer, static_cast<DWORD>(size), &got, nullptr)) {
      return -1;
    }
    return static_cast<long>(got);
  }
  void Reap() {
    if (process_ != nullptr) {
      WaitForSingleObject(process_, INFINITE);
      CloseHandle(process_);
      process_ = nullptr;
    }
    if (read_end_ != nullptr) CloseHandle(read_end_);
    read_end_ = nullptr;
  }
  HANDLE read_end_ = nullptr;
  HANDLE process_ = nullptr;
#else
  void Start(const std::vector<std::string>& arguments) {
    int ends[2];
    if (pipe(ends) != 0) return;
    const std::string program = Narrow(platform::ProgramPath());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], 1);
      close(ends[0]);
      close(ends[1]);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(ends[1]);
    read_end_ = ends[0];
  }
  long ReadSome(char* buffer, size_t size) {
    return read_end_ < 0 ? -1 : static_cast<long>(read(read_end_, buffer, size));
  }
  void Reap() {
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (read_end_ >= 0) close(read_end_);
    read_end_ = -1;
  }
  int read_end_ = -1;
  pid_t pid_ = -1;
#endif

  std::thread reader_;
};

// The server's side of the test when this executable runs as the server of another test
// process: arguments as ServerProcess passes them.
int ServeForParent(char** argv) {
  ServerOrder order;
  order.service = Widen(argv[2]);
  order.topic = Widen(argv[3]);
  order.max_conversations = std::stoul(argv[4]);
  order.idle_ms = std::stoi(argv[5]);
  order.executes = std::stoul(argv[6]);
  order.disconnects = std::stoul(argv[7]);
  Serve(order, [](const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  });
  return 0;
}

// ---- the cases, with the server in a thread and in a process ----

enum class Where { kThread, kProcess };

class DdeCasesTest : public testing::TestWithParam<Where> {
 protected:
  // A service name of this test process alone, so that test processes running at the same
  // time never meet.
  std::u16string Service(std::u16string_view base = u"quorvel") const {
    return std::u16string(base) + Widen(std::to_string(ProcessId()));
  }

  std::unique_ptr<ServerPeer> StartServer(const ServerOrder& order) {
    std::unique_ptr<ServerPeer> server;
    if (GetParam() == Where::kThread) {
      server = std::make_unique<ServerThread>(order);
    } else {
      server = std::make_unique<ServerProcess>(order);
    }
    return server;
  }
};

// Each event's conversation with its events in order.
std::vector<std::vector<Event>> ByConversation(const std::vector<Event>& events) {
  std::vector<std::vector<Event>> out;
  std::vector<uint64_t> ids;
  for (const auto& e : events) {
    size_t i = 0;
    while (i < ids.size() && ids[i] != e.conversation) ++i;
    if (i == ids.size()) {
      ids.push_back(e.conversation);
      out.emplace_back();
    }
    out[i].push_back(e);
  }
  return out;
}

// One conversation: connect, execute, disconnect. The data arrives byte for byte as CF_TEXT,
// however the client writes the names' case.
TEST_P(DdeCasesTest, ExecuteArrivesByteForByte) {
  struct Case {
    const char* what;
    std::u16string service_base;  // the client's spelling of the service, before the suffix
    std::u16string topic;         // the client's spelling of the topic
    std::string data;
  };
  const std::vector<Case> cases{
      {"code page 932 command", u"quorvel", u"DdeQuorvel", kReadProject},
      {"names in other case", u"QUORVEL", u"ddequorvel", kReadProject},
      {"command without its NUL", u"quorvel", u"DdeQuorvel", "CLOSE_QUORVEL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServerOrder order;
    order.service = Service();
    auto server = StartServer(order);
    ASSERT_TRUE(server->AwaitStart());
    {
      dde::Instance instance;
      auto conversation = instance.Connect(Service(c.service_base), c.topic);
      ASSERT_NE(conversation, nullptr);
      EXPECT_EQ(conversation->format(), dde::kClipboardText);
      EXPECT_TRUE(conversation->Execute(c.data, dde::kClipboardText));
    }
    const auto conversations = ByConversation(server->Finish());
    ASSERT_EQ(conversations.size(), 1u);
    const auto& events = conversations[0];
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, "connect");
    EXPECT_EQ(events[1].kind, "execute");
    EXPECT_EQ(events[1].format, dde::kClipboardText);
    EXPECT_EQ(ToHex(events[1].data), ToHex(c.data));
    EXPECT_EQ(events[2].kind, "disconnect");
  }
}

// No server answers for another service or topic, nor when none runs.
TEST_P(DdeCasesTest, ConnectWithoutAServerGivesNothing) {
  struct Case {
    const char* what;
    bool server_runs;
    std::u16string service_base;
    std::u16string topic;
  };
  const std::vector<Case> cases{
      {"no server", false, u"quorvel", u"DdeQuorvel"},
      {"other topic", true, u"quorvel", u"OtherTopic"},
      {"other service", true, u"quorvelx", u"DdeQuorvel"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<ServerPeer> server;
    if (c.server_runs) {
      ServerOrder order;
      order.service = Service();
      order.executes = 1;  // ended by the conversation that closes the case
      server = StartServer(order);
      ASSERT_TRUE(server->AwaitStart());
    }
    dde::Instance instance;
    EXPECT_EQ(instance.Connect(Service(c.service_base), c.topic), nullptr);
    if (server) {
      auto conversation = instance.Connect(Service(), u"DdeQuorvel");
      ASSERT_NE(conversation, nullptr);
      EXPECT_TRUE(conversation->Execute("end", dde::kClipboardText));
      conversation.reset();
      // Only the closing conversation reached the server.
      EXPECT_EQ(ByConversation(server->Finish()).size(), 1u);
    }
  }
}

// Two conversations at once, each with its own id, data and end.
TEST_P(DdeCasesTest, TwoConversationsAtOnce) {
  ServerOrder order;
  order.service = Service();
  order.executes = 2;
  order.disconnects = 2;
  auto server = StartServer(order);
  ASSERT_TRUE(server->AwaitStart());
  // Each conversation from its own instance, as two runs of the program make them. Wine's DDEML
  // refuses a second conversation of one instance with the same service and topic ("conv
  // already exists"); Windows' does not, and the program never holds two.
  dde::Instance one, other;
  auto first = one.Connect(Service(), u"DdeQuorvel");
  auto second = other.Connect(Service(), u"DdeQuorvel");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->Execute("second", dde::kClipboardText));
  EXPECT_TRUE(first->Execute(kReadProject, dde::kClipboardText));
  ASSERT_TRUE(server->WaitUntil([&] { return server->CountOf("execute") == 2; }));
  EXPECT_EQ(server->CountOf("disconnect"), 0u);
  first->Disconnect();
  ASSERT_TRUE(server->WaitUntil([&] { return server->CountOf("disconnect") == 1; }));
  second.reset();
  const auto conversations = ByConversation(server->Finish());
  ASSERT_EQ(conversations.size(), 2u);
  std::vector<std::string> received;
  for (const auto& events : conversations) {
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, "connect");
    EXPECT_EQ(events[1].kind, "execute");
    EXPECT_EQ(events[2].kind, "disconnect");
    received.push_back(events[1].data);
  }
  EXPECT_EQ(received, (std::vector<std::string>{kReadProject, "second"}));
}

// A second server of the same service and topic, whatever the case of its names, is refused;
// the first keeps serving.
TEST_P(DdeCasesTest, SecondServerOfTheSameNamesIsRefused) {
  ServerOrder order;
  order.service = Service();
  auto server = StartServer(order);
  ASSERT_TRUE(server->AwaitStart());
  EXPECT_THROW(dde::Server(Service(), u"DdeQuorvel"), platform::Error);
  EXPECT_THROW(dde::Server(Service(u"QuorVel"), u"DDEQUORVEL"), platform::Error);
  dde::Instance instance;
  auto conversation = instance.Connect(Service(), u"DdeQuorvel");
  ASSERT_NE(conversation, nullptr);
  EXPECT_TRUE(conversation->Execute("still here", dde::kClipboardText));
  conversation.reset();
  // The server checks for a running one by connecting to it, which the first may see as a
  // conversation that ends at once: only the client's conversation carries data.
  size_t with_data = 0;
  for (const auto& events : ByConversation(server->Finish())) {
    for (const auto& e : events) with_data += e.kind == "execute" && e.data == "still here";
  }
  EXPECT_EQ(with_data, 1u);
}

// Beyond the cap a client gets no working conversation; once a held one ends, the next is
// served.
TEST_P(DdeCasesTest, ConversationBeyondTheCapIsNotServed) {
  ServerOrder order;
  order.service = Service();
  order.max_conversations = 1;
  order.disconnects = 2;
  auto server = StartServer(order);
  ASSERT_TRUE(server->AwaitStart());
  dde::Instance instance;
  auto held = instance.Connect(Service(), u"DdeQuorvel");
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(server->WaitUntil([&] { return server->CountOf("connect") == 1; }));
  // DDE refuses the connection (no conversation); the socket stand-in takes it and closes it
  // without announcing a format.
  auto beyond = instance.Connect(Service(), u"DdeQuorvel", 1000);
  EXPECT_TRUE(beyond == nullptr || !beyond->format().has_value());
  beyond.reset();
  held.reset();
  ASSERT_TRUE(server->WaitUntil([&] { return server->CountOf("disconnect") == 1; }));
  auto next = instance.Connect(Service(), u"DdeQuorvel");
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(next->Execute("next", dde::kClipboardText));
  next.reset();
  const auto events = server->Finish();
  size_t connects = 0;
  for (const auto& e : events) connects += e.kind == "connect";
  EXPECT_EQ(connects, 2u);
  EXPECT_EQ(events.back().kind, "disconnect");
}

// A conversation that sends nothing for the idle time is ended by the server.
TEST_P(DdeCasesTest, SilentConversationIsEnded) {
  ServerOrder order;
  order.service = Service();
  order.idle_ms = 300;
  order.executes = 0;
  auto server = StartServer(order);
  ASSERT_TRUE(server->AwaitStart());
  dde::Instance instance;
  auto conversation = instance.Connect(Service(), u"DdeQuorvel");
  ASSERT_NE(conversation, nullptr);
  ASSERT_TRUE(server->WaitUntil([&] { return server->CountOf("disconnect") == 1; }));
  const auto conversations = ByConversation(server->Finish());
  ASSERT_EQ(conversations.size(), 1u);
  ASSERT_EQ(conversations[0].size(), 2u);
  EXPECT_EQ(conversations[0][0].kind, "connect");
  EXPECT_EQ(conversations[0][1].kind, "disconnect");
}

INSTANTIATE_TEST_SUITE_P(Peers, DdeCasesTest, testing::Values(Where::kThread, Where::kProcess),
                         [](const testing::TestParamInfo<Where>& param) {
                           return param.param == Where::kThread ? "InAThread" : "InAProcess";
                         });

TEST(DdeInstanceTest, ReleasedInstanceRaises) {
  dde::Instance instance;
  EXPECT_TRUE(instance.initialized());
  instance.Uninitialize();
  EXPECT_FALSE(instance.initialized());
  EXPECT_THROW(instance.Connect(u"quorvel", u"DdeQuorvel"), platform::Error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 8 && std::string(argv[1]) == "--dde-server") return ServeForParent(argv);
#ifndef _WIN32
  // The socket stand-in's endpoints go to a private folder of this run, not the user's.
  char folder[] = "/tmp/dde-cases-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 2;
  setenv("XDG_RUNTIME_DIR", folder, 1);
#endif
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
#ifndef _WIN32
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
#endif
  return result;
}
