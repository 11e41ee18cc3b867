// The DDE channel over Unix-domain sockets: the exchange, endpoints, and who may connect.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
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
                        std::u16string_view topic = u"DdeQuorvel", uint32_t format = 1)
      : server_(service, topic, format), thread_([this] { Run(); }) {}
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
    while (!stop_) server_.WaitAndDispatch(20, handlers);
  }
  void Add(Event e) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(e));
  }

  dde::Server server_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Event> events_;
  std::thread thread_;
};

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

}  // namespace
