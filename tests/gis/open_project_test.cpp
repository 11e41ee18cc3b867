// Opening the selected project: the decisions and messages with recorded steps, and the main
// road with the real stand-in program.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/fold.h"
#include "base/utf.h"
#include "gis/open_project.h"
#include "lib/process.h"
#include "platform/error.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::TempDir;

std::u16string U(const fs::path& p) { return base::FromUtf8(p.string()); }

void Touch(const fs::path& p, bool executable = false) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "x";
  if (executable) chmod(p.c_str(), 0755);
}

// Records what OpenSelectedProject does instead of doing it.
class OpenProjectTest : public testing::Test {
 protected:
  gis::OpenProjectContext Context() {
    gis::OpenProjectContext c;
    c.read_filename = [this] { return filename_; };
    c.read_password = [this] { return password_; };
    c.quorvel_path_setting = [this] { return setting_; };
    c.warn = [this](std::u16string_view text) {
      steps_.push_back(u"warn:" + std::u16string(text));
    };
    c.program_directory = U(dir_.path() / "prog") + u"/";
    c.count_processes = [this](std::u16string_view name) {
      steps_.push_back(u"count:" + std::u16string(name));
      return running_;
    };
    c.launch_or_activate = [this](std::u16string_view path, std::u16string_view arg,
                                  std::u16string_view title) {
      steps_.push_back(u"launch:" + std::u16string(path) + u"|" + std::u16string(arg) + u"|" +
                       std::u16string(title));
    };
    c.send_read_project = [this](std::u16string_view file) {
      steps_.push_back(u"send:" + std::u16string(file));
    };
    return c;
  }

  TempDir dir_;
  std::u16string filename_, password_, setting_;
  int32_t running_ = 0;
  std::vector<std::u16string> steps_;
};

TEST_F(OpenProjectTest, MessagesHaveTheirExactTexts) {
  EXPECT_EQ(gis::kQuorvelMissingMessage,
            u"GIS Quorvelが見つかりません\r同じフォルダに置くか、正しいパスを指定してください");
  EXPECT_EQ(gis::kProjectMissingBeforeSendMessage,
            u"このプロジェクトファイルは見つかりませんでした\r正しいパスを指定してください");
  EXPECT_EQ(gis::kWrongPasswordMessage, u"設定されているパスワードと一致しません");
  EXPECT_EQ(gis::ProjectMissingBeforeStartMessage(u"/a b/c.qvp"),
            u"プロジェクトファイル\r\r/a "
            u"b/c.qvp\r\rは見つかりませんでした\r正しいパスを指定してください");
}

TEST_F(OpenProjectTest, NotRunningStartsTheDefaultGisApplicationThenSends) {
  const fs::path project = dir_.path() / "my projects" / "川 の 地図.qvp";
  Touch(project);
  Touch(dir_.path() / "prog" / "quorvel.exe", true);
  filename_ = U(project);
  gis::OpenSelectedProject(Context());
  const std::u16string exe = U(dir_.path() / "prog" / "quorvel.exe");
  EXPECT_EQ(steps_,
            (std::vector<std::u16string>{u"count:quorvel.exe",
                                         u"launch:" + exe + u"|" + U(project) + u"|GIS Quorvel",
                                         u"send:" + U(project)}));
}

TEST_F(OpenProjectTest, PathSettingIsUsedWhenItNamesAFile) {
  Touch(dir_.path() / "p.qvp");
  Touch(dir_.path() / "elsewhere" / "other-gis", true);
  filename_ = U(dir_.path() / "p.qvp");
  setting_ = U(dir_.path() / "elsewhere" / "other-gis");
  gis::OpenSelectedProject(Context());
  ASSERT_EQ(steps_.size(), 3u);
  EXPECT_EQ(steps_[1], u"launch:" + setting_ + u"|" + filename_ + u"|GIS Quorvel");
}

TEST_F(OpenProjectTest, EmptyOrWrongSettingFallsBackWithoutAMessage) {
  Touch(dir_.path() / "p.qvp");
  Touch(dir_.path() / "prog" / "quorvel.exe", true);
  filename_ = U(dir_.path() / "p.qvp");
  for (const auto& setting :
       {std::u16string(), U(dir_.path() / "nothing.exe"), U(dir_.path() / "prog")}) {
    steps_.clear();
    setting_ = setting;
    gis::OpenSelectedProject(Context());
    ASSERT_EQ(steps_.size(), 3u) << base::ToUtf8(setting);
    EXPECT_EQ(steps_[1], u"launch:" + U(dir_.path() / "prog" / "quorvel.exe") + u"|" + filename_ +
                             u"|GIS Quorvel");
  }
}

TEST_F(OpenProjectTest, GisApplicationMissingStopsWithItsMessage) {
  Touch(dir_.path() / "p.qvp");
  filename_ = U(dir_.path() / "p.qvp");
  setting_ = U(dir_.path() / "nothing.exe");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_,
            (std::vector<std::u16string>{u"count:quorvel.exe",
                                         u"warn:" + std::u16string(gis::kQuorvelMissingMessage)}));
}

TEST_F(OpenProjectTest, ProjectMissingBeforeAStartNamesThePath) {
  Touch(dir_.path() / "prog" / "quorvel.exe", true);
  filename_ = U(dir_.path() / "gone" / "p.qvp");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_, (std::vector<std::u16string>{
                        u"count:quorvel.exe",
                        u"warn:" + gis::ProjectMissingBeforeStartMessage(filename_)}));
}

TEST_F(OpenProjectTest, RunningOnlySendsAndLooksAtNoSetting) {
  running_ = 2;
  Touch(dir_.path() / "p.qvp");
  filename_ = U(dir_.path() / "p.qvp");
  bool setting_read = false;
  auto context = Context();
  context.quorvel_path_setting = [&] {
    setting_read = true;
    return std::u16string();
  };
  gis::OpenSelectedProject(context);
  EXPECT_EQ(steps_, (std::vector<std::u16string>{u"count:quorvel.exe", u"send:" + filename_}));
  EXPECT_FALSE(setting_read);
}

TEST_F(OpenProjectTest, RunningWithTheProjectMissingSaysSo) {
  running_ = 1;
  filename_ = U(dir_.path() / "gone.qvp");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_, (std::vector<std::u16string>{
                        u"count:quorvel.exe",
                        u"warn:" + std::u16string(gis::kProjectMissingBeforeSendMessage)}));
}

// No current row: both fields read as empty.
TEST_F(OpenProjectTest, NoCurrentRow) {
  Touch(dir_.path() / "prog" / "quorvel.exe", true);
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_.back(), u"warn:" + gis::ProjectMissingBeforeStartMessage(u""));
  EXPECT_EQ(
      steps_.back(),
      u"warn:プロジェクトファイル\r\r\r\rは見つかりませんでした\r正しいパスを指定してください");
  steps_.clear();
  fs::remove(dir_.path() / "prog" / "quorvel.exe");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_.back(), u"warn:" + std::u16string(gis::kQuorvelMissingMessage));
  steps_.clear();
  running_ = 1;
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_.back(), u"warn:" + std::u16string(gis::kProjectMissingBeforeSendMessage));
}

TEST_F(OpenProjectTest, AFolderIsNotAProjectFile) {
  running_ = 1;
  fs::create_directories(dir_.path() / "folder.qvp");
  filename_ = U(dir_.path() / "folder.qvp");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(steps_.back(), u"warn:" + std::u16string(gis::kProjectMissingBeforeSendMessage));
}

TEST_F(OpenProjectTest, RelativePathsAreTakenFromTheCurrentDirectory) {
  running_ = 1;
  Touch(dir_.path() / "rel" / "p.qvp");
  const fs::path old = fs::current_path();
  fs::current_path(dir_.path());
  filename_ = u"rel/p.qvp";
  gis::OpenSelectedProject(Context());
  fs::current_path(old);
  EXPECT_EQ(steps_.back(), u"send:rel/p.qvp");
}

TEST_F(OpenProjectTest, AFailedStartSendsNothing) {
  Touch(dir_.path() / "p.qvp");
  Touch(dir_.path() / "prog" / "quorvel.exe", true);
  filename_ = U(dir_.path() / "p.qvp");
  auto context = Context();
  context.launch_or_activate = [](auto, auto, auto) {
    throw platform::Error(u"プロセスの生成に失敗しました");
  };
  EXPECT_THROW(gis::OpenSelectedProject(context), platform::Error);
  EXPECT_EQ(steps_, std::vector<std::u16string>{u"count:quorvel.exe"});
}

TEST_F(OpenProjectTest, DoubleClickWithoutPasswordOpensAtOnce) {
  running_ = 1;
  Touch(dir_.path() / "p.qvp");
  filename_ = U(dir_.path() / "p.qvp");
  int shown = 0;
  gis::ProjectDoubleClicked(Context(), [&] { ++shown; });
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(steps_.back(), u"send:" + filename_);
}

TEST_F(OpenProjectTest, DoubleClickWithPasswordShowsThePasswordWindowOnly) {
  for (const std::u16string password : {u"secret", u" ", u"  "}) {
    steps_.clear();
    password_ = password;
    int shown = 0;
    gis::ProjectDoubleClicked(Context(), [&] { ++shown; });
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(steps_.empty());
  }
}

TEST_F(OpenProjectTest, PasswordMustMatchExactly) {
  running_ = 1;
  Touch(dir_.path() / "p.qvp");
  filename_ = U(dir_.path() / "p.qvp");
  password_ = u"Secret";
  for (const std::u16string typed :
       {u"secret", u"SECRET", u" Secret", u"Secret ", u"", u"Secre", u"Ｓecret"}) {
    steps_.clear();
    EXPECT_FALSE(gis::AuthenticateAndOpen(Context(), typed)) << base::ToUtf8(typed);
    EXPECT_EQ(steps_, std::vector<std::u16string>{u"warn:設定されているパスワードと一致しません"});
  }
  steps_.clear();
  EXPECT_TRUE(gis::AuthenticateAndOpen(Context(), u"Secret"));
  EXPECT_EQ(steps_, (std::vector<std::u16string>{u"count:quorvel.exe", u"send:" + filename_}));
}

// The password compared and the project opened are those of the row current at the click.
TEST_F(OpenProjectTest, PasswordOfTheRowCurrentWhenPressed) {
  running_ = 1;
  Touch(dir_.path() / "a.qvp");
  Touch(dir_.path() / "b.qvp");
  filename_ = U(dir_.path() / "a.qvp");
  password_ = u"alpha";
  int shown = 0;
  gis::ProjectDoubleClicked(Context(), [&] { ++shown; });
  filename_ = U(dir_.path() / "b.qvp");  // the user selects another row meanwhile
  password_ = u"beta";
  EXPECT_FALSE(gis::AuthenticateAndOpen(Context(), u"alpha"));
  EXPECT_TRUE(gis::AuthenticateAndOpen(Context(), u"beta"));
  EXPECT_EQ(steps_.back(), u"send:" + filename_);
}

// ---- the main road with the real stand-in ----

// The stand-in copies running from `folder` (the machine's other processes are left out).
int32_t CountStubsIn(const fs::path& folder, std::u16string_view name) {
  int32_t count = 0;
  DIR* proc = opendir("/proc");
  while (const dirent* e = readdir(proc)) {
    char target[4096];
    const std::string link = std::string("/proc/") + e->d_name + "/exe";
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0 || !gistest::ProcessAlive(std::atoi(e->d_name))) continue;
    const fs::path exe(std::string(target, static_cast<size_t>(n)));
    if (exe.parent_path() == folder &&
        base::AsciiUpper(U(exe.filename())) == base::AsciiUpper(name)) {
      ++count;
    }
  }
  closedir(proc);
  return count;
}

class MainRoadTest : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
    project_ = dir_.path() / "my projects" / "川 の 地図.qvp";
    Touch(project_);
    ASSERT_TRUE(gis::InitializeDde());
    // The start attempt of the DDE channel looks in the program's folder first, then in the
    // current one: here the current folder holds the stand-in.
    old_cwd_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    gis::UninitializeDde();
    for (const auto& r : gistest::RecordsOf(Log(), "start")) kill(std::stoi(r[1]), SIGTERM);
    gistest::WaitFor([&] { return CountStubsIn(dir_.path(), u"quorvel.exe") == 0; });
  }

  gis::OpenProjectContext Context() {
    gis::OpenProjectContext c;
    c.read_filename = [this] { return U(project_); };
    c.read_password = [] { return std::u16string(); };
    c.quorvel_path_setting = [] { return std::u16string(); };
    c.warn = [this](std::u16string_view text) { warnings_.emplace_back(text); };
    c.program_directory = U(dir_.path()) + u"/";
    c.count_processes = [this](std::u16string_view name) {
      return CountStubsIn(dir_.path(), name);
    };
    return c;
  }
  std::vector<gistest::LogRecord> Log() const {
    return gistest::ReadLog(dir_.path() / "quorvel-stub.log");
  }

  TempDir dir_;
  gistest::PrivateRuntimeDir runtime_{dir_.path()};
  fs::path project_, old_cwd_;
  std::vector<std::u16string> warnings_;
};

TEST_F(MainRoadTest, FreshStartGetsTheCommandLineAndTheCommandThenOnlySends) {
  gis::ProjectDoubleClicked(Context(), [] { FAIL() << "no password window expected"; });
  const std::string path = project_.string();
  // The command line carries the project, unquoted, as one argument.
  ASSERT_TRUE(gistest::WaitFor([&] {
    for (const auto& r : gistest::RecordsOf(Log(), "start")) {
      if (r.size() == 4 && r[2] == "1" && r[3] == path) return true;
    }
    return false;
  }));
  // The open command arrives too.
  ASSERT_TRUE(gistest::WaitFor([&] { return gistest::FreshStartSettled(Log(), path); }));
  ASSERT_TRUE(gistest::WaitFor([&] { return CountStubsIn(dir_.path(), u"quorvel.exe") == 1; }));
  const size_t starts = gistest::RecordsOf(Log(), "start").size();
  const size_t executes = gistest::RecordsOf(Log(), "execute").size();

  // A second double-click only sends.
  gis::ProjectDoubleClicked(Context(), [] { FAIL(); });
  ASSERT_TRUE(gistest::WaitFor(
      [&] { return gistest::RecordsOf(Log(), "execute").size() == executes + 1; }));
  EXPECT_EQ(gistest::RecordsOf(Log(), "execute").back()[5], "READ_PROJECT@" + path);
  EXPECT_EQ(gistest::RecordsOf(Log(), "start").size(), starts);
  EXPECT_EQ(CountStubsIn(dir_.path(), u"quorvel.exe"), 1);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(MainRoadTest, PasswordGateOpensOnlyOnTheRightPassword) {
  auto context = Context();
  context.read_password = [] { return std::u16string(u"Pass 1"); };
  int shown = 0;
  gis::ProjectDoubleClicked(context, [&] { ++shown; });
  EXPECT_EQ(shown, 1);
  for (const std::u16string wrong : {u"pass 1", u" Pass 1", u"Pass 1 "}) {
    EXPECT_FALSE(gis::AuthenticateAndOpen(context, wrong));
  }
  EXPECT_EQ(warnings_, std::vector<std::u16string>(3, u"設定されているパスワードと一致しません"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(gis::AuthenticateAndOpen(context, u"Pass 1"));
  ASSERT_TRUE(
      gistest::WaitFor([&] { return gistest::FreshStartSettled(Log(), project_.string()); }));
  EXPECT_EQ(warnings_.size(), 3u);
}

TEST_F(MainRoadTest, MissingMessagesWithTheRealFiles) {
  fs::remove(dir_.path() / "quorvel.exe");
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(warnings_, std::vector<std::u16string>{std::u16string(gis::kQuorvelMissingMessage)});
  gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
  fs::remove(project_);
  warnings_.clear();
  gis::OpenSelectedProject(Context());
  EXPECT_EQ(warnings_,
            std::vector<std::u16string>{gis::ProjectMissingBeforeStartMessage(U(project_))});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Log().empty());
}

}  // namespace
