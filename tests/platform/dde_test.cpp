// The DDE channel over Unix-domain sockets: the exchange, endpoints, and who may connect.
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/dde.h"
#include "platform/error.h"
#include "platform/posix/dde_socket.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::TempDir;
namespace dde = platform::dde;

// A server running in a thread of the test, recording every event.
class ServerThread {
 public:
  struct Event {
    std::string kind;
    uint64_t conversation;
    uint32_t format = 0;
    std::string data;
  };

  explicit ServerThread(std::u16string_view service = u"quorvel",
                        std::u16string_view topic = u"DdeQuorvel", uint32_t format = 1,
                        std::optional<dde::Server::Limits> limits = std::nullopt)
      : server_(service, topic, format), limits_(limits), thread_([this] { Run(); }) {}
  explicit ServerThread(const dde::Server::Limits& limits)
      : ServerThread(u"quorvel", u"DdeQuorvel", 1, limits) {}
  ~ServerThread() {
    stop_ = true;
    thread_.join();
  }

  std::vector<Event> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  size_t CountOf(const std::string& kind) {
    size_t n = 0;
    for (const auto& e : events()) n += e.kind == kind;
    return n;
  }
  const dde::Server& server() const { return server_; }

 private:
  void Run() {
    dde::Server::Handlers handlers;
    handlers.on_connect = [this](uint64_t id) { Add({"connect", id, 0, {}}); };
    handlers.on_disconnect = [this](uint64_t id) { Add({"disconnect", id, 0, {}}); };
    handlers.on_execute = [this](uint64_t id, uint32_t format, const std::string& data) {
      Add({"execute", id, format, data});
    };
    if (limits_) server_.SetLimits(*limits_);
    while (!stop_) server_.WaitAndDispatch(20, handlers);
  }
  void Add(Event e) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(e));
  }

  dde::Server server_;
  std::optional<dde::Server::Limits> limits_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Event> events_;
  std::thread thread_;
};

// A raw connection to an endpoint, -1 when it could not be made. A non-blocking one fails at
// once when the server's queue of waiting connections is full.
int RawConnect(const fs::path& path, bool nonblocking = false) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// What the server said on a raw connection within a generous bound.
enum class Answer { kGreeting, kClosedSilently, kNothing };

Answer AwaitAnswer(int fd) {
  std::string got;
  while (got.size() < 4) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return Answer::kNothing;
    char bytes[4];
    const ssize_t n = recv(fd, bytes, sizeof bytes - got.size(), 0);
    if (n <= 0) return got.empty() ? Answer::kClosedSilently : Answer::kNothing;
    got.append(bytes, static_cast<size_t>(n));
  }
  return Answer::kGreeting;
}

// Whether the server has ended a connection whose greeting was already read: waits within a
// generous bound for the end.
bool EndedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) return false;
  char byte;
  return recv(fd, &byte, 1, 0) == 0;
}

// Whether a connection is still open and quiet, without waiting.
bool StillOpen(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

class DdeTest : public testing::Test {
 protected:
  TempDir dir_;
  gistest::PrivateRuntimeDir runtime_{dir_.path()};
};

TEST_F(DdeTest, EndpointNamesFoldAsciiCase) {
  EXPECT_EQ(dde::EndpointDirectory(), runtime_.path() / "dde");
  EXPECT_EQ(dde::EndpointPath(u"quorvel", u"DdeQuorvel"),
            runtime_.path() / "dde" / "quorvel.ddequorvel");
  EXPECT_EQ(dde::EndpointPath(u"QUORVEL", u"ddequorvel"),
            dde::EndpointPath(u"quorvel", u"DdeQuorvel"));
}

TEST_F(DdeTest, FolderIsCreatedClosedToOthers) {
  dde::Instance instance;
  struct stat st;
  ASSERT_EQ(lstat(dde::EndpointDirectory().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, getuid());
}

TEST_F(DdeTest, FolderOpenToOthersIsRefused) {
  fs::create_directories(dde::EndpointDirectory());
  chmod(dde::EndpointDirectory().c_str(), 0755);
  EXPECT_THROW(dde::Instance(), platform::Error);
  EXPECT_THROW(dde::Server(u"quorvel", u"DdeQuorvel"), platform::Error);
}

TEST_F(DdeTest, FolderThatIsALinkIsRefused) {
  fs::create_directories(dir_.path() / "elsewhere");
  chmod((dir_.path() / "elsewhere").c_str(), 0700);
  fs::create_directory_symlink(dir_.path() / "elsewhere", dde::EndpointDirectory());
  EXPECT_THROW(dde::Instance(), platform::Error);
}

TEST_F(DdeTest, ExecuteArrivesAsOneFrameInItsOwnConversation) {
  ServerThread server;
  dde::Instance instance;
  std::string first("READ_PROJECT@/a b/c.qvp");
  first.push_back('\0');
  std::string second("CLOSE_QUORVEL");
  second.push_back('\0');
  {
    auto conversation = instance.Connect(u"QUORVEL", u"ddequorvel");
    ASSERT_NE(conversation, nullptr);
    EXPECT_EQ(conversation->format(), 1u);
    EXPECT_TRUE(conversation->Execute(first, 1));
  }
  {
    auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel");
    ASSERT_NE(conversation, nullptr);
    EXPECT_TRUE(conversation->Execute(second, 1));
  }
  ASSERT_TRUE(gistest::WaitFor([&] { return server.CountOf("disconnect") == 2; }));
  // Per conversation: connect, exactly one execute, disconnect.
  std::map<uint64_t, std::vector<ServerThread::Event>> by_conversation;
  for (const auto& e : server.events()) by_conversation[e.conversation].push_back(e);
  ASSERT_EQ(by_conversation.size(), 2u);
  std::vector<std::string> received;
  for (const auto& [id, events] : by_conversation) {
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, "connect");
    EXPECT_EQ(events[1].kind, "execute");
    EXPECT_EQ(events[1].format, 1u);
    EXPECT_EQ(events[2].kind, "disconnect");
    received.push_back(events[1].data);
  }
  EXPECT_EQ(received, (std::vector<std::string>{first, second}));
}

TEST_F(DdeTest, AnnouncedFormatIsReported) {
  ServerThread server(u"svc", u"top", 49158);
  dde::Instance instance;
  auto conversation = instance.Connect(u"svc", u"top");
  ASSERT_NE(conversation, nullptr);
  EXPECT_EQ(conversation->format(), 49158u);
}

TEST_F(DdeTest, NoServerGivesNoConversation) {
  dde::Instance instance;
  EXPECT_EQ(instance.Connect(u"quorvel", u"DdeQuorvel"), nullptr);
  // A socket file left behind by a program that ended.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = dde::EndpointPath(u"quorvel", u"DdeQuorvel").string();
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);  // bound, never listening: a stale socket
  EXPECT_EQ(instance.Connect(u"quorvel", u"DdeQuorvel"), nullptr);
  // A new server takes the stale name over.
  ServerThread server;
  auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel");
  EXPECT_NE(conversation, nullptr);
}

TEST_F(DdeTest, ASecondServerForTheSameEndpointIsRefused) {
  ServerThread first;
  EXPECT_THROW(dde::Server(u"quorvel", u"DdeQuorvel"), platform::Error);
  dde::Instance instance;
  EXPECT_NE(instance.Connect(u"quorvel", u"DdeQuorvel"), nullptr);
}

TEST_F(DdeTest, ServerRemovesOnlyItsOwnSocketFile) {
  const fs::path path = dde::EndpointPath(u"quorvel", u"DdeQuorvel");
  {
    dde::Server server(u"quorvel", u"DdeQuorvel");
    EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
  EXPECT_TRUE(fs::is_empty(dde::EndpointDirectory()));
}

TEST_F(DdeTest, ReleasedInstanceRaises) {
  dde::Instance instance;
  instance.Uninitialize();
  EXPECT_FALSE(instance.initialized());
  EXPECT_THROW(instance.Connect(u"quorvel", u"DdeQuorvel"), platform::Error);
}

TEST_F(DdeTest, MalformedFramesEndOnlyThatConversation) {
  ServerThread server;
  const std::string path = dde::EndpointPath(u"quorvel", u"DdeQuorvel").string();
  auto raw_send = [&](const std::string& bytes) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
  };
  raw_send(std::string("X\1\0\0\0\4\0\0\0abcd", 13));     // unknown tag
  raw_send(std::string("E\1\0\0\0\xff\xff\xff\x7f", 9));  // far too long
  raw_send(std::string("E\1\0\0\0\x10\0\0\0short", 14));  // ends inside the data
  dde::Instance instance;
  auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel");
  ASSERT_NE(conversation, nullptr);
  EXPECT_TRUE(conversation->Execute("ok", 1));
  conversation.reset();
  ASSERT_TRUE(gistest::WaitFor([&] { return server.CountOf("disconnect") == 4; }));
  EXPECT_EQ(server.CountOf("execute"), 1u);
  EXPECT_EQ(server.events().back().kind, "disconnect");
}

// A process of another user may reach the socket only through a folder opened for the test;
// even then the server refuses it before saying anything.
TEST_F(DdeTest, PeerOfAnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ServerThread server;
  const fs::path path = dde::EndpointPath(u"quorvel", u"DdeQuorvel");
  chmod(dir_.path().c_str(), 0711);
  chmod(runtime_.path().c_str(), 0711);
  chmod(dde::EndpointDirectory().c_str(), 0711);
  chmod(path.c_str(), 0777);
  int result_pipe[2];
  ASSERT_EQ(pipe(result_pipe), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char result = 'x';
    if (setgid(65534) == 0 && setuid(65534) == 0) {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, path.c_str());
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        result = 'c';  // could not even connect
      } else {
        char greeting[4];
        const ssize_t n = recv(fd, greeting, sizeof greeting, 0);
        result = n == 0 ? 'r' /* refused: closed without a word */ : 'g';
      }
    }
    (void)!write(result_pipe[1], &result, 1);
    _exit(0);
  }
  close(result_pipe[1]);
  char result = 0;
  ASSERT_EQ(read(result_pipe[0], &result, 1), 1);
  close(result_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(result, 'r');
  EXPECT_EQ(server.CountOf("connect"), 0u);
  chmod(dde::EndpointDirectory().c_str(), 0700);
}

// ---- where the socket folder lives ----

// Who may add names to a folder besides its owner: group or others with write access.
bool OthersMayAddNames(const fs::path& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return true;
  return (st.st_mode & S_IWOTH) != 0 || st.st_uid != getuid();
}

// The environment's folders decide where the sockets live. Whichever is used, the socket folder
// sits where only the user can add names, so that no other user can take its name first: a
// shared temporary folder never holds it.
TEST(DdeFolderTest, FolderFollowsTheEnvironmentAndOnlyTheUserCanTakeItsName) {
  TempDir dir;
  const fs::path run = dir.path() / "run", cache = dir.path() / "cache", home = dir.path() / "home";
  fs::create_directories(run);
  chmod(run.c_str(), 0700);
  struct Case {
    const char* what;
    std::optional<std::string> runtime, cache_home, home;
    fs::path expected;
  };
  const std::vector<Case> cases{
      {"runtime folder", run.string(), cache.string(), home.string(), run / "dde"},
      {"no runtime folder: cache folder", std::nullopt, cache.string(), home.string(),
       cache / "dde"},
      {"empty runtime, no cache: home's cache", "", std::nullopt, home.string(),
       home / ".cache" / "dde"},
      {"relative names count as unset", "run", "cache", home.string(), home / ".cache" / "dde"},
      {"empty cache: home's cache", std::nullopt, "", home.string(), home / ".cache" / "dde"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    gistest::ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
    gistest::ScopedEnv cache_home("XDG_CACHE_HOME", c.cache_home);
    gistest::ScopedEnv home_env("HOME", c.home);
    EXPECT_EQ(dde::EndpointDirectory(), c.expected);
    ASSERT_NO_THROW(dde::EnsureEndpointDirectory());
    EXPECT_FALSE(OthersMayAddNames(c.expected.parent_path()));
    EXPECT_TRUE(dde::DirectoryIsPrivate(c.expected));
  }
  // A fresh home's cache folder is made closed to others.
  struct stat st {};
  ASSERT_EQ(stat((home / ".cache").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Without HOME the password database names the home.
  gistest::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  gistest::ScopedEnv cache_home("XDG_CACHE_HOME", std::nullopt);
  gistest::ScopedEnv home_env("HOME", std::nullopt);
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(dde::EndpointDirectory(), fs::path(entry->pw_dir) / ".cache" / "dde");
}

// Without a runtime folder: what another party may have placed in the user's cache folder, and
// whether DDE can then be used. Where it can, a server and a client meet there.
TEST(DdeFolderTest, CacheFolderIsUsedOnlyWhenNobodyElseCanTakeTheName) {
  constexpr uid_t kOtherUser = 65534;
  struct Case {
    const char* what;
    bool needs_root;  // to give a folder to another user
    std::function<void(const fs::path& cache)> prepare;
    bool usable;
  };
  const std::vector<Case> cases{
      {"fresh home", false, [](const fs::path&) {}, true},
      {"cache folder is a link to a private folder", false,
       [](const fs::path& cache) {
         fs::create_directories(cache.parent_path() / "elsewhere");
         chmod((cache.parent_path() / "elsewhere").c_str(), 0700);
         fs::create_directory_symlink(cache.parent_path() / "elsewhere", cache);
       },
       true},
      {"cache folder open to all like a temporary folder", false,
       [](const fs::path& cache) {
         fs::create_directories(cache);
         chmod(cache.c_str(), 01777);
       },
       false},
      {"cache folder of another user", true,
       [&](const fs::path& cache) {
         fs::create_directories(cache);
         chmod(cache.c_str(), 0755);
         ASSERT_EQ(chown(cache.c_str(), kOtherUser, kOtherUser), 0);
       },
       false},
      {"socket folder made by another user", true,
       [&](const fs::path& cache) {
         fs::create_directories(cache / "dde");
         chmod(cache.c_str(), 0700);
         chmod((cache / "dde").c_str(), 0700);
         ASSERT_EQ(chown((cache / "dde").c_str(), kOtherUser, kOtherUser), 0);
       },
       false},
      {"socket folder open to others", false,
       [](const fs::path& cache) {
         fs::create_directories(cache / "dde");
         chmod(cache.c_str(), 0700);
         chmod((cache / "dde").c_str(), 0755);
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && getuid() != 0) continue;
    TempDir dir;
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    gistest::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    gistest::ScopedEnv cache_home("XDG_CACHE_HOME", std::nullopt);
    gistest::ScopedEnv home_env("HOME", home.string());
    c.prepare(home / ".cache");
    if (!c.usable) {
      EXPECT_THROW(dde::Instance(), platform::Error);
      EXPECT_THROW(dde::Server(u"quorvel", u"DdeQuorvel"), platform::Error);
      continue;
    }
    dde::Server server(u"quorvel", u"DdeQuorvel");
    dde::Instance instance;
    auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel", 0);
    ASSERT_NE(conversation, nullptr);
    EXPECT_TRUE(conversation->Execute("ok", 1));
    std::string received;
    dde::Server::Handlers handlers;
    handlers.on_execute = [&](uint64_t, uint32_t, const std::string& data) { received = data; };
    ASSERT_TRUE(gistest::WaitFor([&] {
      server.WaitAndDispatch(20, handlers);
      return !received.empty();
    }));
    EXPECT_EQ(received, "ok");
  }
}

// ---- what one server takes on ----

// Connections beyond the cap are ended at once without a greeting; once a held conversation
// ends, the next client is served.
TEST_F(DdeTest, ConnectionsBeyondTheCapAreEndedAtOnce) {
  dde::Server::Limits limits;
  limits.max_conversations = 3;
  ServerThread server(limits);
  const fs::path path = dde::EndpointPath(u"quorvel", u"DdeQuorvel");
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(RawConnect(path));
    ASSERT_GE(held.back(), 0);
    EXPECT_EQ(AwaitAnswer(held.back()), Answer::kGreeting);
  }
  const int beyond = RawConnect(path);
  ASSERT_GE(beyond, 0);
  EXPECT_EQ(AwaitAnswer(beyond), Answer::kClosedSilently);
  close(beyond);
  EXPECT_EQ(server.CountOf("connect"), 3u);
  close(held[0]);
  ASSERT_TRUE(gistest::WaitFor([&] { return server.CountOf("disconnect") == 1; }));
  dde::Instance instance;
  auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel", 10000);
  ASSERT_NE(conversation, nullptr);
  EXPECT_EQ(conversation->format(), 1u);
  EXPECT_TRUE(conversation->Execute("ok", 1));
  ASSERT_TRUE(gistest::WaitFor([&] { return server.CountOf("execute") == 1; }));
  for (size_t i = 1; i < held.size(); ++i) close(held[i]);
}

// A conversation that sends nothing is ended after the idle time; one inside a frame is kept
// until the frame is whole, and then ends when it falls silent in its turn.
TEST_F(DdeTest, SilentConversationsEndButAPartialFrameIsAwaited) {
  dde::Server::Limits limits;
  limits.idle_timeout = std::chrono::milliseconds(1000);
  ServerThread server(limits);
  const fs::path path = dde::EndpointPath(u"quorvel", u"DdeQuorvel");
  const int silent = RawConnect(path);
  const int partial = RawConnect(path);
  ASSERT_GE(silent, 0);
  ASSERT_GE(partial, 0);
  ASSERT_EQ(AwaitAnswer(silent), Answer::kGreeting);
  ASSERT_EQ(AwaitAnswer(partial), Answer::kGreeting);
  const std::string frame = dde::ExecuteFrame("later", 1);
  ASSERT_EQ(send(partial, frame.data(), 4, MSG_NOSIGNAL), 4);
  EXPECT_TRUE(EndedByServer(silent));
  EXPECT_TRUE(StillOpen(partial));
  EXPECT_TRUE(gistest::WaitFor([&] { return server.CountOf("disconnect") == 1; }));
  ASSERT_EQ(send(partial, frame.data() + 4, frame.size() - 4, MSG_NOSIGNAL),
            static_cast<ssize_t>(frame.size() - 4));
  EXPECT_TRUE(EndedByServer(partial));
  ASSERT_TRUE(gistest::WaitFor([&] { return server.CountOf("disconnect") == 2; }));
  ASSERT_EQ(server.CountOf("execute"), 1u);
  for (const auto& e : server.events()) {
    if (e.kind == "execute") {
      EXPECT_EQ(e.data, "later");
    }
  }
  close(silent);
  close(partial);
}

// A server process without free descriptors: connections pile up waiting and taking one fails
// each time. The server must rest instead of trying again at once (its CPU time over a second
// stays low), and once the flood leaves, a client is served. The descriptor limit is lowered in
// a child process so that the test process keeps its own.
TEST_F(DdeTest, ServerOutOfDescriptorsRestsAndServesOnceTheFloodLeaves) {
  int control[2], events[2], figures[2];
  ASSERT_EQ(pipe(control), 0);
  ASSERT_EQ(pipe2(events, O_CLOEXEC), 0);
  ASSERT_EQ(pipe(figures), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(control[1]);
    close(events[0]);
    close(figures[0]);
    fcntl(control[0], F_SETFL, O_NONBLOCK);
    fcntl(events[1], F_SETFL, O_NONBLOCK);  // never blocks the server; the test reads enough
    const auto tell = [&](char kind) { (void)!write(events[1], &kind, 1); };
    try {
      dde::Server server(u"quorvel", u"DdeQuorvel");
      // A handful of descriptors left for conversations.
      const int lowest_free = fcntl(events[1], F_DUPFD, 0);
      close(lowest_free);
      const rlimit limit{static_cast<rlim_t>(lowest_free + 4),
                         static_cast<rlim_t>(lowest_free + 4)};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
      dde::Server::Handlers handlers;
      handlers.on_connect = [&](uint64_t) { tell('c'); };
      handlers.on_execute = [&](uint64_t, uint32_t, const std::string&) { tell('e'); };
      tell('r');
      for (;;) {
        server.WaitAndDispatch(20, handlers);
        char order = 0;
        if (read(control[0], &order, 1) != 1) continue;
        if (order == 'q') break;
        // 'm': one second of serving, measured in CPU time of this process.
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
          server.WaitAndDispatch(20, handlers);
        }
        getrusage(RUSAGE_SELF, &after);
        const auto micros = [](const timeval& t) { return t.tv_sec * 1000000L + t.tv_usec; };
        const long numbers[2] = {
            micros(after.ru_utime) + micros(after.ru_stime) - micros(before.ru_utime) -
                micros(before.ru_stime),
            static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count())};
        (void)!write(figures[1], numbers, sizeof numbers);
      }
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  close(control[0]);
  close(events[1]);
  close(figures[1]);
  std::string told;
  const auto await_event = [&](char kind) {
    while (told.find(kind) == std::string::npos) {
      pollfd p{events[0], POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      char bytes[64];
      const ssize_t n = read(events[0], bytes, sizeof bytes);
      if (n <= 0) return false;
      told.append(bytes, static_cast<size_t>(n));
    }
    return true;
  };
  const auto order = [&](char what) { (void)!write(control[1], &what, 1); };
  struct Reap {
    pid_t pid;
    int fd;
    ~Reap() {
      const char quit = 'q';
      (void)!write(fd, &quit, 1);
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (waitpid(pid, &status, WNOHANG) == 0) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
        }
      }
      close(fd);
    }
  } reap{pid, control[1]};
  ASSERT_TRUE(await_event('r'));

  // Far more connections than the server can hold; the rest wait in its queue or are refused.
  const fs::path path = dde::EndpointPath(u"quorvel", u"DdeQuorvel");
  std::vector<int> flood;
  for (int i = 0; i < 200; ++i) {
    const int fd = RawConnect(path, true);
    if (fd >= 0) flood.push_back(fd);
  }
  ASSERT_GT(flood.size(), 8u);
  ASSERT_TRUE(await_event('c'));

  order('m');
  long numbers[2] = {0, 0};
  pollfd p{figures[0], POLLIN, 0};
  ASSERT_GT(poll(&p, 1, 20000), 0);
  ASSERT_EQ(read(figures[0], numbers, sizeof numbers), static_cast<ssize_t>(sizeof numbers));
  const double cpu_percent =
      100.0 * static_cast<double>(numbers[0]) / static_cast<double>(std::max(numbers[1], 1L));
  std::cout << "server CPU while out of descriptors: " << cpu_percent << " %\n";
  RecordProperty("cpu_percent", std::to_string(cpu_percent));
  EXPECT_LT(cpu_percent, 10.0);

  // The flood leaves; a client is served.
  for (int fd : flood) close(fd);
  dde::Instance instance;
  auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel", 10000);
  ASSERT_NE(conversation, nullptr);
  EXPECT_EQ(conversation->format(), 1u);
  EXPECT_TRUE(conversation->Execute("ok", 1));
  EXPECT_TRUE(await_event('e'));
  close(events[0]);
  close(figures[0]);
}

}  // namespace
