// The process list, bare command lines and program starts, with real processes: what holds
// on POSIX only (children, descriptors, the ready pipe of the loader start). The cases shared
// with Windows are in process_window_shared_test.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "lib/process.h"
#include "platform/dde.h"
#include "platform/error.h"
#include "platform/process.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::Child;
using gistest::TempDir;

void MakeExecutable(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "#!/bin/sh\nexit 0\n";
  chmod(path.c_str(), 0755);
}

std::u16string U(const fs::path& p) { return base::FromUtf8(p.string()); }

// ---- counting by executable file name ----

struct CountCase {
  const char16_t* name;
  std::vector<std::u16string> names;
  int32_t expected;
};

void PrintTo(const CountCase& c, std::ostream* out) {
  *out << base::ToUtf8(c.name) << " among " << c.names.size() << " names";
}

class CountNamesTest : public testing::TestWithParam<CountCase> {};

TEST_P(CountNamesTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(tclib::CountNamesMatching(GetParam().name, GetParam().names), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CountNamesTest,
    testing::Values(
        CountCase{u"quorvel.exe", {u"quorvel.exe", u"QUORVEL.EXE", u"Quorvel.Exe", u"bash"}, 3},
        CountCase{u"QUORVEL.EXE", {u"quorvel.exe"}, 1},
        // Full-width and accented letters are not folded.
        CountCase{u"quorvel.exe", {u"ｑuorvel.exe", u"quorvél.exe", u"QUORVEL.ＥＸＥ"}, 0},
        CountCase{u"ｑuorvel.exe", {u"ｑuorvel.exe", u"ｑUORVEL.EXE", u"Ｑuorvel.exe"}, 2},
        // File names only: a name with a folder never matches; neither does an empty name.
        CountCase{u"/usr/bin/quorvel.exe", {u"quorvel.exe"}, 0},
        CountCase{u"", {u"quorvel.exe", u"bash"}, 0},
        CountCase{u"quorvel.exe", {u"quorvel.exe ", u"quorvel.ex", u"xquorvel.exe"}, 0}));

TEST(SnapshotTest, LeavesOutEndedProcessesNotYetCollected) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(0);
  ASSERT_TRUE(gistest::WaitFor([&] { return !gistest::ProcessAlive(pid); }));
  const auto snapshot = platform::SnapshotProcesses();
  ASSERT_TRUE(snapshot.has_value());
  for (const auto& entry : *snapshot) EXPECT_NE(entry.process_id, pid);
  int status = 0;
  waitpid(pid, &status, 0);
}

// Copies of the stand-in under names that differ only in letter case are all counted; a
// full-width look-alike is not.
TEST(CountProcessesByNameTest, CountsRealProcessesWhateverTheirAsciiCase) {
  TempDir dir;
  const std::vector<std::string> names{"quorvel.exe", "QUORVEL.EXE", "Quorvel.Exe", "ｑuorvel.exe"};
  const int32_t before = tclib::CountProcessesByName(u"quorvel.exe");
  const int32_t before_full_width = tclib::CountProcessesByName(u"ｑuorvel.exe");
  std::vector<std::unique_ptr<Child>> children;
  for (size_t i = 0; i < names.size(); ++i) {
    const fs::path folder = dir.path() / ("copy" + std::to_string(i));
    fs::create_directories(folder / "run");
    chmod((folder / "run").c_str(), 0700);
    gistest::CopyExecutable(gistest::QuorvelStubPath(), folder / names[i]);
    // Each copy gets DDE endpoints of its own, so that all of them keep running.
    children.push_back(std::make_unique<Child>(
        folder / names[i], std::vector<std::string>{},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + (folder / "run").string(), "DISPLAY="}));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const fs::path log = dir.path() / ("copy" + std::to_string(i)) / "quorvel-stub.log";
    ASSERT_TRUE(gistest::WaitFor([&] {
      return !gistest::RecordsOf(gistest::ReadLog(log), "start").empty();
    })) << names[i];
  }
  EXPECT_EQ(tclib::CountProcessesByName(u"quorvel.exe"), before + 3);
  EXPECT_EQ(tclib::CountProcessesByName(u"QUORVEL.exe"), before + 3);
  EXPECT_EQ(tclib::CountProcessesByName(u"ｑuorvel.exe"), before_full_width + 1);
  EXPECT_EQ(tclib::CountProcessesByName(U(dir.path() / "copy0" / "quorvel.exe")), 0);
  EXPECT_EQ(tclib::CountProcessesByName(u""), 0);
  children.clear();
  EXPECT_EQ(tclib::CountProcessesByName(u"quorvel.exe"), before);
}

// ---- bare command lines ----

TEST(LaunchCommandLineTest, JoinsPathAndArgumentWithOneBlankAndNoQuotes) {
  EXPECT_EQ(tclib::LaunchCommandLine(u"/opt/GIS dir/quorvel.exe", u"/data/my project.qvp"),
            u"/opt/GIS dir/quorvel.exe /data/my project.qvp");
  EXPECT_EQ(tclib::LaunchCommandLine(u"/opt/quorvel.exe", u""), u"/opt/quorvel.exe ");
  EXPECT_EQ(tclib::LaunchCommandLine(u"", u"x"), u" x");
}

// A program in a folder with blanks, given an argument with blanks, both unquoted.
TEST(CreateProcessTest, StartsTheProgramWithTheRestAsOneArgument) {
  TempDir dir;
  gistest::PrivateRuntimeDir runtime(dir.path());
  const fs::path folder = dir.path() / "GIS folder" / "bin dir";
  fs::create_directories(folder);
  gistest::CopyExecutable(gistest::QuorvelStubPath(), folder / "quorvel.exe");
  const std::string argument = dir.path().string() + "/my projects/川 の 地図.qvp";
  const std::u16string line = U(folder / "quorvel.exe") + u" " + base::FromUtf8(argument);

  const int64_t pid = platform::CreateProcessFromCommandLine(line);
  ASSERT_GT(pid, 0);
  // Not a child of ours: nothing is left for us to collect.
  int status = 0;
  EXPECT_EQ(waitpid(static_cast<pid_t>(pid), &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  const fs::path log = folder / "quorvel-stub.log";
  ASSERT_TRUE(gistest::WaitFor(
      [&] { return !gistest::RecordsOf(gistest::ReadLog(log), "start").empty(); }));
  const auto start = gistest::RecordsOf(gistest::ReadLog(log), "start").at(0);
  ASSERT_EQ(start.size(), 4u);
  EXPECT_EQ(start[1], std::to_string(pid));
  EXPECT_EQ(start[2], "1");
  EXPECT_EQ(start[3], argument);

  kill(static_cast<pid_t>(pid), SIGTERM);
  EXPECT_TRUE(gistest::WaitFor([&] { return !gistest::ProcessAlive(static_cast<pid_t>(pid)); }));
}

TEST(CreateProcessTest, InheritsTheCurrentDirectoryAndNoDescriptors) {
  TempDir dir;
  const int leaked = open("/dev/null", O_RDONLY);  // without close-on-exec
  ASSERT_GE(leaked, 3);
  const fs::path script = dir.path() / "report";
  std::ofstream(script) << "#!/bin/sh\npwd > \"$1.pwd\"\n"
                        << "if [ -e /proc/$$/fd/" << leaked
                        << " ]; then echo open; else echo closed; fi"
                        << " > \"$1.fd\"\n";
  chmod(script.c_str(), 0755);
  const fs::path work = dir.path() / "work dir";
  fs::create_directories(work);
  const fs::path old = fs::current_path();
  fs::current_path(work);
  const fs::path out = dir.path() / "out";
  platform::CreateProcessFromCommandLine(U(script) + u" " + U(out));
  close(leaked);
  fs::current_path(old);
  std::string state;
  ASSERT_TRUE(gistest::WaitFor([&] {
    std::ifstream in(out.string() + ".fd");
    return static_cast<bool>(std::getline(in, state));
  }));
  EXPECT_EQ(state, "closed");
  std::string cwd;
  std::getline(std::ifstream(out.string() + ".pwd"), cwd);
  EXPECT_EQ(cwd, work.string());
}

TEST(LaunchOrActivateTest, MissingProgramRaisesTheErrorAndStartsNothing) {
  TempDir dir;
  unsetenv("DISPLAY");  // no display: no window is found
  try {
    tclib::LaunchOrActivate(U(dir.path() / "quorvel.exe"), u"/p.qvp", u"GIS Quorvel");
    FAIL();
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.message(), u"プロセスの生成に失敗しました");
  }
}

// ---- the program-loader start ----

// The loader start returns once the started program's DDE endpoint accepts, so that a
// connection right after it succeeds.
TEST(WinExecLikeTest, ReturnsWhenTheStartedProgramServes) {
  TempDir dir;
  gistest::PrivateRuntimeDir runtime(dir.path());
  unsetenv("DISPLAY");
  gistest::CopyExecutable(gistest::QuorvelStubPath(), dir.path() / "quorvel.exe");
  const fs::path old = fs::current_path();
  fs::current_path(dir.path());
  const uint32_t result =
      platform::WinExecLike(u"quorvel DdeQuorvel", platform::ShowState::kShowMinNoActive);
  fs::current_path(old);
  EXPECT_GE(result, 32u);
  platform::dde::Instance instance;
  auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel");
  ASSERT_NE(conversation, nullptr);
  std::string close_command = "CLOSE_QUORVEL";
  close_command.push_back('\0');
  conversation->Execute(close_command, 1);
  conversation.reset();
  const fs::path log = dir.path() / "quorvel-stub.log";
  ASSERT_TRUE(
      gistest::WaitFor([&] { return !gistest::RecordsOf(gistest::ReadLog(log), "exit").empty(); }));
  const auto start = gistest::RecordsOf(gistest::ReadLog(log), "start").at(0);
  EXPECT_EQ(start, (gistest::LogRecord{"start", start[1], "1", "DdeQuorvel"}));
}

TEST(WinExecLikeTest, ReturnsWhenTheStartedProgramEnds) {
  TempDir dir;
  MakeExecutable(dir.path() / "quick.exe");
  const fs::path old = fs::current_path();
  fs::current_path(dir.path());
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_GE(platform::WinExecLike(u"quick arg", platform::ShowState::kShowMinNoActive, 60000), 32u);
  fs::current_path(old);
  // Well before the 60 s limit given.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
}

}  // namespace
