// Processes and windows with real stand-in programs, case tables that run on POSIX and on
// Windows (under Wine in the cross build). Where the systems name a program differently the
// row says for which system it holds: on Windows a program name without an extension only
// ever means that name with ".exe" added (CreateProcessW, WinExec), while on POSIX a file
// without an extension is a program as it is.
#include <array>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "platform/error.h"
#include "platform/path_separator.h"
#include "platform/process.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::TempDir;

constexpr bool kOnWindows = platform::kPathSeparator == u'\\';

// For which system a row of a table holds.
enum class On { kBoth, kPosix, kWindows };

bool HoldsHere(On on) { return on == On::kBoth || (on == On::kWindows) == kOnWindows; }

std::u16string U(const fs::path& p) { return platform::FromPath(p); }

// A file that POSIX can execute; Windows goes by the name alone.
void MakeExecutable(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "#!/bin/sh\nexit 0\n";
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

void MakePlainFile(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "data\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

bool InSnapshot(int64_t pid, std::u16string_view exe_file) {
  const auto snapshot = platform::SnapshotProcesses();
  if (!snapshot) return false;
  for (const auto& entry : *snapshot) {
    if (entry.process_id == pid) return entry.exe_file == exe_file;
  }
  return false;
}

// The first "start" record of a stand-in's log, once there is one.
gistest::LogRecord WaitForStart(const fs::path& log) {
  gistest::LogRecord start;
  gistest::WaitFor([&] {
    const auto records = gistest::RecordsOf(gistest::ReadLog(log), "start");
    if (records.empty()) return false;
    start = records.front();
    return true;
  });
  return start;
}

// ---- the process list ----

TEST(SharedSnapshotTest, ListsThisProcessByItsExecutableFileName) {
  const std::u16string name = U(platform::ToPath(platform::ProgramPath()).filename());
  EXPECT_TRUE(InSnapshot(gistest::ThisProcessId(), name)) << base::ToUtf8(name);
}

// ---- bare command lines ----

TEST(SharedSplitBareCommandLineTest, TakesTheShortestPrefixNamingAProgram) {
  TempDir dir;
  const fs::path d = dir.path();
  MakeExecutable(d / "a" / "prog.exe");
  MakeExecutable(d / "b" / "dir with blank" / "tool.exe");
  MakeExecutable(d / "c" / "dir.exe");  // shadows "dir with blank" through ".exe" added
  MakeExecutable(d / "c" / "dir with blank" / "tool.exe");
  MakeExecutable(d / "g" / "dir");  // no extension: a program on POSIX only
  MakeExecutable(d / "g" / "dir with blank" / "tool.exe");
  MakePlainFile(d / "e" / "plain");
  fs::create_directories(d / "f" / "folder");

  // A line that starts with a blank (built by appending: GCC 12 warns wrongly about a
  // restrict overlap in `u" " + text`).
  std::u16string leading_blank = u" ";
  leading_blank += U(d / "a" / "prog.exe");
  struct Case {
    On on;
    std::u16string line;
    std::optional<fs::path> program;
    std::optional<std::u16string> argument;
  };
  const std::vector<Case> cases{
      {On::kBoth, U(d / "a" / "prog.exe") + u" arg with  blanks ", d / "a" / "prog.exe",
       u"arg with  blanks "},
      {On::kBoth, U(d / "a" / "prog.exe"), d / "a" / "prog.exe", std::nullopt},
      {On::kBoth, U(d / "a" / "prog.exe") + u" ", d / "a" / "prog.exe", u""},
      // A name without an extension also matches with ".exe" added.
      {On::kBoth, U(d / "a" / "prog") + u" x", d / "a" / "prog.exe", u"x"},
      {On::kBoth, U(d / "b" / "dir with blank" / "tool.exe") + u" x y",
       d / "b" / "dir with blank" / "tool.exe", u"x y"},
      {On::kBoth, U(d / "b" / "dir with blank" / "tool") + u" /p/日本.qvp",
       d / "b" / "dir with blank" / "tool.exe", u"/p/日本.qvp"},
      {On::kBoth, U(d / "c" / "dir with blank" / "tool.exe") + u" x", d / "c" / "dir.exe",
       U(fs::path("with blank") / "tool.exe") + u" x"},
      // A file without an extension: on POSIX it is the program; Windows only tries "dir.exe"
      // and goes on to the longer prefix (Wine's CreateProcessW also tries the name as given).
      {On::kPosix, U(d / "g" / "dir with blank" / "tool.exe") + u" x", d / "g" / "dir",
       u"with blank/tool.exe x"},
      {On::kWindows, U(d / "g" / "dir with blank" / "tool.exe") + u" x",
       d / "g" / "dir with blank" / "tool.exe", u"x"},
      {On::kBoth, U(d / "missing") + u" x", std::nullopt, std::nullopt},
      {On::kBoth, U(d / "e" / "plain") + u" x", std::nullopt, std::nullopt},
      {On::kBoth, U(d / "f" / "folder") + u" x", std::nullopt, std::nullopt},
      {On::kBoth, u"", std::nullopt, std::nullopt},
      {On::kBoth, leading_blank, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    if (!HoldsHere(c.on)) continue;
    SCOPED_TRACE(base::ToUtf8(c.line));
    const auto split = platform::SplitBareCommandLine(c.line);
    ASSERT_EQ(split.has_value(), c.program.has_value());
    if (!split) continue;
    EXPECT_EQ(split->program, *c.program);
    EXPECT_EQ(split->argument, c.argument);
  }
}

// A stand-in in a folder with blanks, given an argument with blanks, both unquoted: it runs
// with the whole rest as its one argument and is in the process list under its file name.
TEST(SharedCreateProcessTest, StartsTheProgramWithTheRestAsOneArgument) {
  TempDir dir;
  const fs::path folder = dir.path() / "GIS folder" / "bin dir";
  fs::create_directories(folder);
  gistest::CopyExecutable(gistest::UpdaterStubPath(), folder / "_Updater.exe");
  const std::u16string argument =
      U(dir.path() / "my projects") + platform::kPathSeparator + u"川 の 地図.qvp";
  const int64_t pid =
      platform::CreateProcessFromCommandLine(U(folder / "_Updater.exe") + u" " + argument);
  ASSERT_GT(pid, 0);
  const auto start = WaitForStart(folder / "_Updater.log");
  EXPECT_EQ(start, (gistest::LogRecord{"start", std::to_string(pid), "1", base::ToUtf8(argument)}));
  EXPECT_TRUE(InSnapshot(pid, u"_Updater.exe"));
  EXPECT_TRUE(gistest::EndProcess(pid));
  EXPECT_FALSE(InSnapshot(pid, u"_Updater.exe"));
}

TEST(SharedCreateProcessTest, MissingProgramRaisesTheError) {
  TempDir dir;
  for (const auto& line : {U(dir.path() / "no such" / "quorvel.exe") + u" x",
                           U(dir.path() / "quorvel.exe"), std::u16string(), std::u16string(u" ")}) {
    SCOPED_TRACE(base::ToUtf8(line));
    try {
      platform::CreateProcessFromCommandLine(line);
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.message(), u"プロセスの生成に失敗しました");
    }
  }
}

// ---- the program-loader start ----

TEST(SharedFindLoaderProgramTest, SearchesProgramDirectoryThenCurrentThenPath) {
  TempDir dir;
  const fs::path d = dir.path();
  MakeExecutable(d / "prog" / "quorvel.exe");
  MakeExecutable(d / "cur" / "quorvel.exe");
  MakeExecutable(d / "cur" / "only-here");
  MakeExecutable(d / "p1" / "tool");
  MakeExecutable(d / "p2" / "tool.exe");
  MakeExecutable(d / "p2" / "other.exe");
  const std::vector<fs::path> path{d / "p1", fs::path(), d / "p2"};
  struct Case {
    On on;
    std::u16string word;
    fs::path program_directory;
    std::optional<fs::path> found;
  };
  const std::vector<Case> cases{
      {On::kBoth, u"quorvel", d / "prog", d / "prog" / "quorvel.exe"},
      {On::kBoth, u"quorvel.exe", d / "prog", d / "prog" / "quorvel.exe"},
      {On::kBoth, u"quorvel", d / "none", d / "cur" / "quorvel.exe"},
      // File names: exact on POSIX, without regard to case on Windows.
      {On::kPosix, u"QUORVEL", d / "none", std::nullopt},
      {On::kWindows, u"QUORVEL", d / "none", d / "cur" / "QUORVEL.exe"},
      {On::kPosix, u"only-here", d / "prog", d / "cur" / "only-here"},
      {On::kWindows, u"only-here", d / "prog", std::nullopt},
      // PATH in order, its empty entry skipped; Windows passes over the file without ".exe".
      {On::kPosix, u"tool", d / "prog", d / "p1" / "tool"},
      {On::kWindows, u"tool", d / "prog", d / "p2" / "tool.exe"},
      {On::kBoth, u"other", d / "prog", d / "p2" / "other.exe"},
      // A word with a folder is a path, taken from the current folder when relative.
      {On::kBoth, U(d / "p2" / "other"), d / "prog", d / "p2" / "other.exe"},
      {On::kBoth, U(fs::path("..") / "p2" / "other"), d / "prog",
       d / "cur" / ".." / "p2" / "other.exe"},
      {On::kBoth, u"missing", d / "prog", std::nullopt},
      {On::kBoth, u"", d / "prog", std::nullopt},
  };
  for (const auto& c : cases) {
    if (!HoldsHere(c.on)) continue;
    SCOPED_TRACE(base::ToUtf8(c.word));
    EXPECT_EQ(platform::FindLoaderProgram(c.word, c.program_directory, d / "cur", path), c.found);
  }
}

// Changes the current folder while it lives.
class ScopedCurrentPath {
 public:
  explicit ScopedCurrentPath(const fs::path& path) : old_(fs::current_path()) {
    fs::current_path(path);
  }
  ~ScopedCurrentPath() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(SharedWinExecLikeTest, StartsTheProgramFoundInTheCurrentFolder) {
  TempDir dir;
  gistest::CopyExecutable(gistest::UpdaterStubPath(), dir.path() / "_Updater.exe");
  uint32_t result = 0;
  {
    const ScopedCurrentPath current(dir.path());
    result = platform::WinExecLike(u"_Updater first second", platform::ShowState::kShowMinNoActive);
  }
  EXPECT_GE(result, 32u);
  const auto start = WaitForStart(dir.path() / "_Updater.log");
  ASSERT_EQ(start.size(), 4u);
  EXPECT_EQ(start[2], "1");
  EXPECT_EQ(start[3], "first second");
  const int64_t pid = std::stoll(start[1]);
  EXPECT_TRUE(InSnapshot(pid, u"_Updater.exe"));
  EXPECT_TRUE(gistest::EndProcess(pid));
}

TEST(SharedWinExecLikeTest, ReportsAProgramThatIsNotFound) {
  TempDir dir;
  const ScopedCurrentPath current(dir.path());
  EXPECT_EQ(platform::WinExecLike(u"no-such-program-here DdeQuorvel",
                                  platform::ShowState::kShowMinNoActive),
            platform::kLoaderFileNotFound);
}

// ---- windows of the stand-ins ----

struct StandIn {
  const char* name;
  fs::path (*program)();
  const char* file_name;
  const char* log;
  std::u16string title;
};

void PrintTo(const StandIn& s, std::ostream* out) { *out << s.name; }

class SharedWindowTest : public testing::TestWithParam<StandIn> {
 protected:
  // Starts a copy of the stand-in and waits for its window with an owner. Skips the test when
  // there is no display to show windows on, or the stand-in ended for want of DDE.
  platform::WindowHandle Start() {
    display_ = std::make_unique<gistest::PrivateDisplay>(true);
    if (!display_->ok()) return 0;
    const StandIn& s = GetParam();
    runtime_ = std::make_unique<gistest::PrivateRuntimeDir>(dir_.path());
    gistest::CopyExecutable(s.program(), dir_.path() / s.file_name);
    child_ =
        std::make_unique<gistest::Child>(dir_.path() / s.file_name, std::vector<std::string>{});
    platform::WindowHandle found = 0;
    gistest::WaitFor([&] {
      found = platform::FindTopLevelWindow(s.title);
      return (found != 0 && platform::GetOwnerWindow(found) != 0) ||
             !gistest::RecordsOf(gistest::ReadLog(dir_.path() / s.log), "exit").empty();
    });
    return found;
  }

  bool EndedForWantOfDde() {
    return !gistest::RecordsOf(gistest::ReadLog(dir_.path() / GetParam().log), "dde-unavailable")
                .empty();
  }

  TempDir dir_;
  std::unique_ptr<gistest::PrivateDisplay> display_;
  std::unique_ptr<gistest::PrivateRuntimeDir> runtime_;
  std::unique_ptr<gistest::Child> child_;
};

TEST_P(SharedWindowTest, FindsTheWindowByTitleWithItsOwner) {
  const platform::WindowHandle window = Start();
  if (!display_->ok()) GTEST_SKIP() << "no display";
  if (EndedForWantOfDde()) GTEST_SKIP() << "the stand-in found no DDE server";
  ASSERT_NE(window, 0u);
  const platform::WindowHandle owner = platform::GetOwnerWindow(window);
  EXPECT_NE(owner, 0u);
  EXPECT_NE(owner, window);
  EXPECT_EQ(platform::GetOwnerWindow(owner), 0u);
  // Titles match exactly: a part of the title finds nothing.
  const std::u16string& title = GetParam().title;
  EXPECT_EQ(platform::FindTopLevelWindow(title.substr(0, title.size() - 1)), 0u);
  EXPECT_EQ(platform::FindTopLevelWindow(title + u" "), 0u);
  EXPECT_EQ(platform::FindTopLevelWindow(u""), 0u);

  // A window that is gone is not found, and acting on it does nothing.
  child_.reset();
  EXPECT_TRUE(gistest::WaitFor([&] { return platform::FindTopLevelWindow(title) == 0; }));
  EXPECT_EQ(platform::GetOwnerWindow(window), 0u);
  EXPECT_FALSE(platform::IsWindowMinimized(owner));
  platform::RestoreWindow(owner);
  platform::BringWindowToForeground(owner);
}

// On Windows the frame is computed from the window's styles (the window manager of X11 tells
// it instead, and a display without one tells nothing): it must be the frame the window has.
TEST_P(SharedWindowTest, FrameExtentsAreTheFrameTheWindowHas) {
  const platform::WindowHandle window = Start();
  if (!display_->ok()) GTEST_SKIP() << "no display";
  if (EndedForWantOfDde()) GTEST_SKIP() << "the stand-in found no DDE server";
  ASSERT_NE(window, 0u);
  const std::optional<std::array<int, 4>> measured = gistest::MeasuredFrame(window);
  if (!measured) GTEST_SKIP() << "the frame belongs to the window manager here";
  const std::optional<platform::FrameExtents> told = platform::RequestFrameExtents(window, 500);
  ASSERT_TRUE(told.has_value());
  EXPECT_EQ((std::array<int, 4>{told->left, told->right, told->top, told->bottom}), *measured);
  EXPECT_GT(told->top, told->bottom);  // the title bar
  EXPECT_EQ(platform::RequestFrameExtents(0, 500), std::nullopt);
}

TEST_P(SharedWindowTest, RestoresTheMinimisedOwner) {
  const platform::WindowHandle window = Start();
  if (!display_->ok()) GTEST_SKIP() << "no display";
  if (EndedForWantOfDde()) GTEST_SKIP() << "the stand-in found no DDE server";
  ASSERT_NE(window, 0u);
  const platform::WindowHandle owner = platform::GetOwnerWindow(window);
  ASSERT_NE(owner, 0u);
  EXPECT_FALSE(platform::IsWindowMinimized(owner));
  gistest::MinimizeWindow(owner);
  ASSERT_TRUE(gistest::WaitFor([&] { return platform::IsWindowMinimized(owner); }));
  platform::RestoreWindow(owner);
  EXPECT_TRUE(gistest::WaitFor([&] { return !platform::IsWindowMinimized(owner); }));
}

INSTANTIATE_TEST_SUITE_P(
    StandIns, SharedWindowTest,
    testing::Values(StandIn{"Updater", &gistest::UpdaterStubPath, "_Updater.exe", "_Updater.log",
                            u"ツール自動バージョンアップ"},
                    StandIn{"Gis", &gistest::QuorvelStubPath, "quorvel.exe", "quorvel-stub.log",
                            u"GIS Quorvel"}),
    [](const testing::TestParamInfo<StandIn>& param) { return std::string(param.param.name); });

}  // namespace
