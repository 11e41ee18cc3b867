// Opening a project in the real GIS stand-in, from a fresh start to the close command, on
// POSIX and on Windows (under Wine in the cross build): the program is started with the
// project on its command line, the open command follows over DDE in code page 932, and the
// close command ends the stand-in.
#include <fstream>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "gis/dde_channel.h"
#include "gis/open_project.h"
#include "platform/path_separator.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::TempDir;

std::u16string U(const fs::path& p) { return platform::FromPath(p); }

class SharedOpenProjectTest : public testing::Test {
 protected:
  void SetUp() override {
    gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
    // Built from UTF-16: a narrow literal would be read in the ANSI code page on Windows.
    project_ = dir_.path() / "my projects" / platform::ToPath(u"川 の 地図.qvp");
    fs::create_directories(project_.parent_path());
    std::ofstream(project_) << "project\n";
    ASSERT_TRUE(gis::InitializeDde());
    // The DDE channel's start attempt looks in the program's folder, then in the current
    // one: here the current folder holds the stand-in.
    old_cwd_ = fs::current_path();
    fs::current_path(dir_.path());
  }

  void TearDown() override {
    fs::current_path(old_cwd_);
    gis::UninitializeDde();
    // Copies that did not end by the close command are ended here.
    const auto log = Log();
    for (const auto& start : gistest::RecordsOf(log, "start")) {
      bool ended = false;
      for (const auto& exit : gistest::RecordsOf(log, "exit")) ended |= exit[1] == start[1];
      if (!ended) gistest::EndProcess(std::stoll(start[1]));
    }
  }

  std::vector<gistest::LogRecord> Log() const {
    return gistest::ReadLog(dir_.path() / "quorvel-stub.log");
  }

  // The log as text, for failure messages.
  std::string LogText() const {
    std::string text;
    for (const auto& record : Log()) {
      for (const auto& field : record) text += field + " | ";
      text += "\n";
    }
    for (const auto& start : gistest::RecordsOf(Log(), "start")) {
      const bool alive = gistest::ProcessAlive(static_cast<pid_t>(std::stoll(start[1])));
      text += start[1] + (alive ? " runs\n" : " ended\n");
    }
    return text;
  }

  // The copies of this test's folder still running, by their log: the machine may run other
  // copies of the stand-in at the same time.
  int32_t RunningCopies() const {
    const auto log = Log();
    return static_cast<int32_t>(gistest::RecordsOf(log, "start").size()) -
           static_cast<int32_t>(gistest::RecordsOf(log, "exit").size());
  }

  gis::OpenProjectContext Context() {
    gis::OpenProjectContext c;
    c.read_filename = [this] { return U(project_); };
    c.read_password = [] { return std::u16string(); };
    c.quorvel_path_setting = [] { return std::u16string(); };
    c.warn = [this](std::u16string_view text) { warnings_.emplace_back(text); };
    c.program_directory = U(dir_.path()) + platform::kPathSeparator;
    c.count_processes = [this](std::u16string_view) { return RunningCopies(); };
    return c;
  }

  TempDir dir_;
  gistest::PrivateRuntimeDir runtime_{dir_.path()};
  // No window of another test's stand-in may be taken for this one's (POSIX: no display).
  gistest::ScopedEnv display_{"DISPLAY", std::nullopt};
  fs::path project_, old_cwd_;
  std::vector<std::u16string> warnings_;
};

TEST_F(SharedOpenProjectTest, FreshStartOpensTheProjectThenTheCloseCommandEndsIt) {
  const std::string path = base::ToUtf8(U(project_));
  gis::OpenSelectedProject(Context());

  // The command line carries the project, unquoted, as one argument.
  ASSERT_TRUE(gistest::WaitFor([&] {
    for (const auto& r : gistest::RecordsOf(Log(), "start")) {
      if (r.size() == 4 && r[2] == "1" && r[3] == path) return true;
    }
    return false;
  }));
  // The open command arrives as code page 932 with its closing NUL.
  ASSERT_TRUE(gistest::WaitFor([&] { return gistest::FreshStartSettled(Log(), path); }))
      << LogText();
  const std::string wire = gis::CommandWireForm(gis::ReadProjectCommand(U(project_)));
  for (const auto& r : gistest::RecordsOf(Log(), "execute")) {
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[3], "1");  // CF_TEXT
    EXPECT_EQ(r[4], gistest::ToHex(wire));
  }
  ASSERT_TRUE(gistest::WaitFor([&] { return RunningCopies() == 1; }));

  bool closed = false;
  gis::SendCloseAndQuit([this](std::u16string_view text) { warnings_.emplace_back(text); },
                        [&] { closed = true; });
  EXPECT_TRUE(closed);
  ASSERT_TRUE(gistest::WaitFor([&] { return RunningCopies() == 0; }));
  const auto executes = gistest::RecordsOf(Log(), "execute");
  ASSERT_FALSE(executes.empty());
  EXPECT_EQ(executes.back()[5], "CLOSE_QUORVEL");
  EXPECT_EQ(executes.back()[4], gistest::ToHex(std::string("CLOSE_QUORVEL") + '\0'));
  EXPECT_TRUE(warnings_.empty());
}

}  // namespace
