// The update check and the updater launch through the real main window: start-up against a
// real HTTP server on 127.0.0.1, the status bar's double-click with the real updater stand-in
// on a private X server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <memory>

#include "app/main_window.h"
#include "app/program.h"
#include "base/utf.h"
#include "pe_builder.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/window.h"
#include "routed_server.h"
#include "temp_dir.h"
#include "tests/support/test_env.h"
#include "ui/dialogs.h"
#include "ui/qt_text.h"
#include "update/update_check.h"
#include "update/version_block.h"
#include "update/version_string.h"
#include "x_client.h"

namespace {

namespace fs = std::filesystem;
using update_test::HttpDate;
using update_test::Ok;
using update_test::RoutedServer;

constexpr int64_t kT = 1700000000;
const fs::path kProjects =
    fs::path(QUORVEL_FIXTURES_DIR) / "jet4" / "generated-jackcess-T_projectMain-1000.mdb";
constexpr std::u16string_view kRecordCountSuffix = u" 件のレコードが見つかりました";

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "update_window_tests";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete application_; }

 private:
  QApplication* application_ = nullptr;
};

[[maybe_unused]] testing::Environment* const kQt =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

void SetModified(const fs::path& path, int64_t seconds) {
  timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class UpdateWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  }

  UpdateWindowTest() {
    program_ = dir_ / "ProjectQuorvel.exe";
    platform::WriteProfileString(dir_ / "ProjectQuorvel.ini", u"作業環境", u"基本データベース",
                                 platform::FromPath(kProjects));
    WriteProgram(server_.Url("/ProjectQuorvel.zip"));
  }

  ~UpdateWindowTest() override {
    // End the updaters this test started, by the ids they logged.
    for (const auto& record :
         gistest::RecordsOf(gistest::ReadLog(dir_ / "_Updater.log"), "start")) {
      const pid_t pid = static_cast<pid_t>(std::stol(record.at(1)));
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // The program: a PE file whose version block names `url`, written at an even second.
  void WriteProgram(const std::string& url, bool with_translation = true) {
    update::VersionInfo info = update::ProgramVersionInfo(base::FromUtf8(url), u"1.0.0.0");
    if (!with_translation) info.translations.reset();
    update_test::WriteFile(
        program_, update_test::BuildPe({{16, 1, 0x0409, update::BuildVersionBlock(info)}}));
    SetModified(program_, kT);
  }

  void PutUpdaterStub() {
    gistest::CopyExecutable(gistest::UpdaterStubPath(), dir_ / "_Updater.exe");
  }

  std::unique_ptr<app::TfrmMain> Start() {
    app::AppEnvironment environment;
    environment.program_directory = platform::FromPath(dir_.path()) + u"/";
    environment.program_path = platform::FromPath(program_);
    environment.work_area = [] { return QRect(0, 0, 1920, 1040); };
    environment.pause = [](int) {};
    environment.send_close_and_quit = [] {};
    return std::make_unique<app::TfrmMain>(environment);
  }

  static std::u16string Status(const app::TfrmMain& window) { return window.StatusText(); }

  static void DoubleClickStatusBar(app::TfrmMain& window) {
    QTest::mouseDClick(window.StatusText1, Qt::LeftButton);
  }

  std::vector<gistest::LogRecord> UpdaterStarts() const {
    return gistest::RecordsOf(gistest::ReadLog(dir_ / "_Updater.log"), "start");
  }

  update_test::TempDir dir_;
  fs::path program_;
  RoutedServer server_;
  ui::DialogAnswers answers_;
};

TEST_F(UpdateWindowTest, NoUpdaterLeavesTheRecordCountAndSendsNothing) {
  server_.Route("/ProjectQuorvel.zip", Ok(HttpDate(kT + 60)));
  auto window = Start();
  EXPECT_TRUE(Status(*window).ends_with(kRecordCountSuffix))
      << ui::ToQString(Status(*window)).toStdString();
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(UpdateWindowTest, NewerArchiveWithUpdaterShowsTheNotice) {
  server_.Route("/ProjectQuorvel.zip", Ok(HttpDate(kT + 1)));
  PutUpdaterStub();
  auto window = Start();
  EXPECT_EQ(Status(*window), update::kUpdateNotice);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].method, "HEAD");
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(UpdateWindowTest, NoNewerArchiveEmptiesTheStatusBar) {
  struct Case {
    const char* name;
    update_test::HttpReply reply;
  };
  const Case cases[] = {
      {"equal time", Ok(HttpDate(kT))},
      {"older", Ok(HttpDate(kT - 1))},
      {"no Last-Modified", Ok()},
      {"404", update_test::Status(404)},
  };
  PutUpdaterStub();
  for (const Case& c : cases) {
    RoutedServer server;
    server.Route("/ProjectQuorvel.zip", c.reply);
    WriteProgram(server.Url("/ProjectQuorvel.zip"));
    auto window = Start();
    EXPECT_EQ(Status(*window), u"") << c.name;
    EXPECT_EQ(server.requests().size(), 1u) << c.name;
  }
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(UpdateWindowTest, VersionBlockWithoutTranslationIsReportedAndStartUpGoesOn) {
  WriteProgram(server_.Url("/ProjectQuorvel.zip"), false);
  auto window = Start();
  ASSERT_EQ(answers_.messages().size(), 1u);
  EXPECT_EQ(answers_.messages()[0].kind, ui::MessageKind::kError);
  EXPECT_TRUE(answers_.messages()[0].text.starts_with(update::kVersionInfoError));
  EXPECT_TRUE(Status(*window).ends_with(kRecordCountSuffix));
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(UpdateWindowTest, DoubleClickOnTheRecordCountDoesNothing) {
  PutUpdaterStub();
  auto window = Start();  // the server answers 404: status emptied
  window->SetStatusText(u"1000 件のレコードが見つかりました");
  window->show();
  const int left = window->x();
  DoubleClickStatusBar(*window);
  EXPECT_EQ(window->x(), left);
  EXPECT_TRUE(UpdaterStarts().empty());
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(UpdateWindowTest, DoubleClickWithoutUpdaterWarnsAndStays) {
  server_.Route("/ProjectQuorvel.zip", Ok(HttpDate(kT + 1)));
  PutUpdaterStub();
  auto window = Start();
  ASSERT_EQ(Status(*window), update::kUpdateNotice);
  fs::remove(dir_ / "_Updater.exe");
  window->show();
  const int left = window->x();
  DoubleClickStatusBar(*window);
  EXPECT_EQ(window->x(), left);
  ASSERT_EQ(answers_.messages().size(), 1u);
  EXPECT_EQ(answers_.messages()[0].kind, ui::MessageKind::kWarning);
  EXPECT_EQ(answers_.messages()[0].caption, u"警告");
  EXPECT_EQ(answers_.messages()[0].text, update::kUpdaterMissingWarning);
}

TEST_F(UpdateWindowTest, DoubleClicksStartTheUpdaterOnceAndMoveTheWindowEachTime) {
  // A private X server without a window manager: bringing a window to the front then raises
  // it and gives it the input focus.
  gistest::PrivateDisplay display(false);
  if (!display.ok()) {
    if (fs::exists("/usr/bin/Xvfb")) FAIL() << "Xvfb did not start";
    GTEST_SKIP() << "no X server (Xvfb) available";
  }
  gistest::PrivateRuntimeDir runtime(dir_.path());
  server_.Route("/ProjectQuorvel.zip", Ok(HttpDate(kT + 1)));
  PutUpdaterStub();
  auto window = Start();
  ASSERT_EQ(Status(*window), update::kUpdateNotice);
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->move(200, 50);
  const int width = window->frameGeometry().width();
  ASSERT_GT(width, 0);

  // First double-click: the window moves right by half its width and the updater starts with
  // the program path as its one argument.
  DoubleClickStatusBar(*window);
  EXPECT_EQ(window->x(), 200 + width / 2);
  ASSERT_TRUE(gistest::WaitFor([&] { return UpdaterStarts().size() == 1; }));
  const auto start = UpdaterStarts()[0];
  ASSERT_GE(start.size(), 4u);
  EXPECT_EQ(start[2], "1");
  EXPECT_EQ(start[3], program_.string());
  platform::WindowHandle updater_window = 0;
  ASSERT_TRUE(gistest::WaitFor([&] {
    updater_window = platform::FindTopLevelWindow(update::kUpdaterWindowTitle);
    return updater_window != 0 && platform::GetOwnerWindow(updater_window) != 0;
  }));
  const uint64_t owner = platform::GetOwnerWindow(updater_window);

  // Another window comes to the front meanwhile.
  update_test::XClient x;
  const uint64_t other = x.CreateWindow("Someone else");
  platform::BringWindowToForeground(other);
  ASSERT_TRUE(gistest::WaitFor([&] { return x.FocusWindow() == other; }));

  // Second double-click: the notice is still there; the window moves again and the running
  // updater is brought to the front instead of a second one being started.
  ASSERT_EQ(Status(*window), update::kUpdateNotice);
  DoubleClickStatusBar(*window);
  EXPECT_EQ(window->x(), 200 + width / 2 + width / 2);
  EXPECT_TRUE(gistest::WaitFor([&] { return x.FocusWindow() == owner; }));
  QTest::qWait(300);
  EXPECT_EQ(UpdaterStarts().size(), 1u);
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(UpdateWindowTest, TheNoticeReplacedByTheRecordCountNoLongerActs) {
  server_.Route("/ProjectQuorvel.zip", Ok(HttpDate(kT + 1)));
  PutUpdaterStub();
  auto window = Start();
  ASSERT_EQ(Status(*window), update::kUpdateNotice);
  window->ApplyKeywordFilter(u"");
  EXPECT_TRUE(Status(*window).ends_with(kRecordCountSuffix));
  window->show();
  const int left = window->x();
  DoubleClickStatusBar(*window);
  EXPECT_EQ(window->x(), left);
  EXPECT_TRUE(UpdaterStarts().empty());
}

#ifdef QUORVEL_PROGRAM_PATH
// The program itself carries its version block: the archive URL of the build and the version.
TEST(ProgramVersionTest, TheProgramCarriesItsVersionStrings) {
  using namespace std::string_literals;
  const std::u16string program = base::FromUtf8(QUORVEL_PROGRAM_PATH);
  EXPECT_EQ(update::GetVersionString(program, 4), base::FromUtf8(QUORVEL_TEST_ARCHIVE_URL) + u'\0');
  EXPECT_EQ(update::GetVersionString(program, 3), u"1.0.0.0\0"s);
  EXPECT_EQ(update::GetVersionString(program, 7), u"ProjectQuorvel.exe\0"s);
  EXPECT_EQ(update::GetVersionString(program, 0), u"");
}
#endif

}  // namespace
