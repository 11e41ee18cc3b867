// Commands to the GIS application over DDE, received by the real stand-in program.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "gis/dde_channel.h"
#include "platform/dde.h"
#include "platform/posix/dde_socket.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::Child;
using gistest::LogRecord;
using gistest::TempDir;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(CommandWireFormTest, CodePage932WithOneClosingNul) {
  struct Case {
    std::u16string command;
    std::string bytes;
  };
  const std::vector<Case> cases{
      {u"CLOSE_QUORVEL", std::string("CLOSE_QUORVEL") + '\0'},
      {u"READ_PROJECT@C:/a b/p.qvp", std::string("READ_PROJECT@C:/a b/p.qvp") + '\0'},
      {u"READ_PROJECT@/地図", std::string("READ_PROJECT@/") + Bytes({0x92, 0x6E, 0x90, 0x7D, 0})},
      // Characters the code page cannot hold become "?"; a surrogate pair is one character.
      {u"READ_PROJECT@/한/😀/x", std::string("READ_PROJECT@/?/?/x") + '\0'},
      {u"", std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gis::CommandWireForm(c.command), c.bytes) << base::ToUtf8(c.command);
  }
  EXPECT_EQ(gis::ReadProjectCommand(u"/p q/r.qvp"), u"READ_PROJECT@/p q/r.qvp");
}

// A folder with a copy of the stand-in, private DDE endpoints and no display.
class DdeChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
    instance_ = std::make_unique<platform::dde::Instance>();
  }

  void StartStub() {
    stub_ = std::make_unique<Child>(dir_.path() / "quorvel.exe", std::vector<std::string>{});
    ASSERT_TRUE(gistest::WaitFor(
        [&] { return fs::exists(platform::dde::EndpointPath(u"quorvel", u"DdeQuorvel")); }));
  }

  std::vector<LogRecord> Log() const { return gistest::ReadLog(dir_.path() / "quorvel-stub.log"); }
  std::vector<LogRecord> Executes() const { return gistest::RecordsOf(Log(), "execute"); }

  // The starter: records each request, then starts for real.
  gis::StarterFunction RecordingStarter() {
    return [this](std::u16string_view line, platform::ShowState show) {
      starts_.emplace_back(line, show);
      return platform::WinExecLike(line, show);
    };
  }

  gis::WarningFunction Warn() {
    return [this](std::u16string_view text) { warnings_.emplace_back(text); };
  }

  TempDir dir_;
  gistest::PrivateRuntimeDir runtime_{dir_.path()};
  std::unique_ptr<platform::dde::Instance> instance_;
  std::unique_ptr<Child> stub_;
  std::vector<std::pair<std::u16string, platform::ShowState>> starts_;
  std::vector<std::u16string> warnings_;
};

TEST_F(DdeChannelTest, ReadProjectArrivesAsOneExecuteWithTheCodePageBytes) {
  StartStub();
  const std::u16string path = u"/data/川 の 地図/한 site.qvp";
  gis::SendReadProject(instance_.get(), path, Warn(), RecordingStarter());
  ASSERT_TRUE(gistest::WaitFor([&] { return !gistest::RecordsOf(Log(), "disconnect").empty(); }));
  const auto executes = Executes();
  ASSERT_EQ(executes.size(), 1u);
  const std::string expected = std::string("READ_PROJECT@/data/") + Bytes({0x90, 0xEC}) + " " +
                               Bytes({0x82, 0xCC}) + " " + Bytes({0x92, 0x6E, 0x90, 0x7D}) +
                               "/? site.qvp" + '\0';
  EXPECT_EQ(executes[0][4], gistest::ToHex(expected));
  EXPECT_EQ(executes[0][3], "1");  // CF_TEXT
  EXPECT_EQ(executes[0][5], "READ_PROJECT@/data/川 の 地図/? site.qvp");
  // Its conversation ended after the one command.
  const std::string conversation = executes[0][2];
  size_t connects = 0, disconnects = 0;
  for (const auto& r : Log()) {
    if (r.size() > 2 && r[2] == conversation) {
      connects += r[0] == "connect";
      disconnects += r[0] == "disconnect";
    }
  }
  EXPECT_EQ(connects, 1u);
  EXPECT_EQ(disconnects, 1u);
  EXPECT_TRUE(starts_.empty());
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(DdeChannelTest, TwoCommandsUseTwoConversations) {
  StartStub();
  gis::SendReadProject(instance_.get(), u"/a.qvp", Warn(), RecordingStarter());
  gis::SendReadProject(instance_.get(), u"/b.qvp", Warn(), RecordingStarter());
  ASSERT_TRUE(
      gistest::WaitFor([&] { return gistest::RecordsOf(Log(), "disconnect").size() == 2; }));
  const auto executes = Executes();
  ASSERT_EQ(executes.size(), 2u);
  EXPECT_NE(executes[0][2], executes[1][2]);
  EXPECT_EQ(executes[0][5], "READ_PROJECT@/a.qvp");
  EXPECT_EQ(executes[1][5], "READ_PROJECT@/b.qvp");
}

// Nobody answers: "quorvel DdeQuorvel" is started (found here in the current directory),
// and the connection attempt that follows reaches it. No warning.
TEST_F(DdeChannelTest, NoServerStartsTheGisApplicationAndConnectsOnceMore) {
  const fs::path old = fs::current_path();
  fs::current_path(dir_.path());
  gis::SendReadProject(instance_.get(), u"/p/x.qvp", Warn(), RecordingStarter());
  fs::current_path(old);
  ASSERT_EQ(starts_.size(), 1u);
  EXPECT_EQ(starts_[0].first, u"quorvel DdeQuorvel");
  EXPECT_EQ(starts_[0].second, platform::ShowState::kShowMinNoActive);
  ASSERT_TRUE(gistest::WaitFor([&] { return Executes().size() == 1; }));
  const auto log = Log();
  const auto start = gistest::RecordsOf(log, "start");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0], (LogRecord{"start", start[0][1], "1", "DdeQuorvel"}));
  EXPECT_EQ(Executes()[0][5], "READ_PROJECT@/p/x.qvp");
  EXPECT_TRUE(warnings_.empty());
  kill(std::stoi(start[0][1]), SIGTERM);
}

TEST_F(DdeChannelTest, NoServerAndNoProgramSendsNothingAndSaysNothing) {
  const fs::path empty = dir_.path() / "empty";
  fs::create_directories(empty);
  const fs::path old = fs::current_path();
  fs::current_path(empty);
  gis::SendReadProject(instance_.get(), u"/p/x.qvp", Warn(),
                       [this](std::u16string_view line, platform::ShowState show) {
                         starts_.emplace_back(line, show);
                         return platform::WinExecLike(line, show);
                       });
  fs::current_path(old);
  EXPECT_EQ(starts_.size(), 1u);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_TRUE(Log().empty());
}

// The program is ending during start-up: the instance is gone already.
TEST_F(DdeChannelTest, ReleasedInstanceWarnsOnceSendsNothingStartsNothing) {
  StartStub();
  instance_->Uninitialize();
  int closes = 0;
  gis::SendCloseAndQuit(
      instance_.get(), Warn(), [&] { ++closes; }, RecordingStarter());
  EXPECT_EQ(warnings_, std::vector<std::u16string>{u"正しく送信ができませんでした"});
  EXPECT_EQ(closes, 1);  // the main window is asked to close all the same
  EXPECT_TRUE(starts_.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Executes().empty());
  gis::SendCloseAndQuit(
      nullptr, Warn(), [&] { ++closes; }, RecordingStarter());
  EXPECT_EQ(warnings_.size(), 2u);
  EXPECT_EQ(closes, 2);
}

// Shutdown with the close option ticked: the running GIS application is told to close and
// does.
TEST_F(DdeChannelTest, CloseAndQuitEndsTheRunningGisApplication) {
  StartStub();
  int closes = 0;
  gis::SendCloseAndQuit(
      instance_.get(), Warn(), [&] { ++closes; }, RecordingStarter());
  EXPECT_EQ(closes, 1);
  ASSERT_TRUE(stub_->WaitExit(std::chrono::seconds(10)).has_value());
  const auto executes = Executes();
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_EQ(executes[0][4], gistest::ToHex(std::string("CLOSE_QUORVEL") + '\0'));
  EXPECT_EQ(gistest::RecordsOf(Log(), "exit").size(), 1u);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_TRUE(starts_.empty());
}

// A server on "quorvel"/"DdeQuorvel" that announces the given data format and keeps the
// format of each execute frame that arrives, serving on a thread of its own.
class FormatServer {
 public:
  explicit FormatServer(uint32_t announced)
      : server_(u"quorvel", u"DdeQuorvel", announced), thread_([this] { Run(); }) {}
  ~FormatServer() {
    stop_ = true;
    thread_.join();
  }
  std::vector<uint32_t> Formats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return formats_;
  }

 private:
  void Run() {
    platform::dde::Server::Handlers handlers;
    handlers.on_execute = [this](uint64_t, uint32_t format, const std::string&) {
      std::lock_guard<std::mutex> lock(mutex_);
      formats_.push_back(format);
    };
    while (!stop_) server_.WaitAndDispatch(20, handlers);
  }

  platform::dde::Server server_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<uint32_t> formats_;
  std::thread thread_;
};

// The frames carry the format the server announced; a server that announces none (format 0)
// gets plain text (CF_TEXT).
TEST_F(DdeChannelTest, FramesCarryTheAnnouncedFormatOrPlainTextForNone) {
  const struct {
    uint32_t announced;
    uint32_t sent;
  } cases[] = {
      {platform::dde::kNoFormat, platform::dde::kClipboardText},
      {platform::dde::kClipboardText, platform::dde::kClipboardText},
      {13, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.announced);
    FormatServer server(c.announced);
    gis::SendReadProject(instance_.get(), u"/f.qvp", Warn(), RecordingStarter());
    gis::SendCloseAndQuit(
        instance_.get(), Warn(), [] {}, RecordingStarter());
    ASSERT_TRUE(gistest::WaitFor([&] { return server.Formats().size() == 2; }));
    EXPECT_EQ(server.Formats(), (std::vector<uint32_t>{c.sent, c.sent}));
  }
  EXPECT_TRUE(starts_.empty());
  EXPECT_TRUE(warnings_.empty());
}

// The run's own instance, as the program uses it.
TEST_F(DdeChannelTest, RunInstanceSendsUntilReleased) {
  StartStub();
  ASSERT_TRUE(gis::InitializeDde());
  EXPECT_TRUE(gis::DdeInitialized());
  gis::SendReadProject(u"/r.qvp", Warn());
  ASSERT_TRUE(gistest::WaitFor([&] { return Executes().size() == 1; }));
  gis::UninitializeDde();
  EXPECT_FALSE(gis::DdeInitialized());
  int closes = 0;
  gis::SendCloseAndQuit(Warn(), [&] { ++closes; });
  EXPECT_EQ(warnings_, std::vector<std::u16string>{u"正しく送信ができませんでした"});
  EXPECT_EQ(closes, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Executes().size(), 1u);
}

// Without a runtime folder the program and the stand-in, a separate process, both find the
// sockets in the user's cache folder and meet there.
TEST(DdeChannelFolderTest, WithoutRuntimeFolderBothSidesMeetInTheCacheFolder) {
  unsetenv("DISPLAY");
  TempDir dir;
  const fs::path home = dir.path() / "home";
  gistest::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  gistest::ScopedEnv cache_home("XDG_CACHE_HOME", std::nullopt);
  gistest::ScopedEnv home_env("HOME", home.string());
  gistest::CopyExecutable(gistest::QuorvelStubPath(), dir.path() / "quorvel.exe");
  Child stub(dir.path() / "quorvel.exe", std::vector<std::string>{});
  const fs::path endpoint = home / ".cache" / "dde" / "quorvel.ddequorvel";
  EXPECT_EQ(platform::dde::EndpointPath(u"quorvel", u"DdeQuorvel"), endpoint);
  ASSERT_TRUE(gistest::WaitFor([&] { return fs::exists(endpoint); }));
  platform::dde::Instance instance;
  size_t starts = 0;
  std::vector<std::u16string> warnings;
  gis::SendReadProject(
      &instance, u"/a.qvp", [&](std::u16string_view text) { warnings.emplace_back(text); },
      [&](std::u16string_view, platform::ShowState) {
        ++starts;
        return uint32_t{0};
      });
  const fs::path log = dir.path() / "quorvel-stub.log";
  ASSERT_TRUE(gistest::WaitFor(
      [&] { return !gistest::RecordsOf(gistest::ReadLog(log), "execute").empty(); }));
  EXPECT_EQ(gistest::RecordsOf(gistest::ReadLog(log), "execute")[0][5], "READ_PROJECT@/a.qvp");
  EXPECT_EQ(starts, 0u);
  EXPECT_TRUE(warnings.empty());
}

}  // namespace
