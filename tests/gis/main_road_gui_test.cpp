// The main road through the real main window (offscreen): a double-click in the project grid
// opens the project in the real stand-in, behind the password window where the project has a
// password, and the close option ends the stand-in at shutdown.
#include <gtest/gtest.h>

#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <thread>

#include "app/main_window.h"
#include "app/program.h"
#include "app/project_model.h"
#include "base/utf.h"
#include "gis/dde_channel.h"
#include "gis/open_project.h"
#include "gis/ui/password_window.h"
#include "jet/jet.h"
#include "lib/process.h"
#include "platform/profile.h"
#include "tests/support/test_env.h"
#include "ui/dialogs.h"

namespace {

namespace fs = std::filesystem;
using gistest::LogRecord;

QApplication& App() {
  static int argc = 1;
  static char name[] = "gis_app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

std::u16string U(const fs::path& p) { return base::FromUtf8(p.string()); }

// Single quotes doubled inside a literal.
std::u16string Literal(std::u16string_view text) {
  std::u16string out = u"'";
  for (char16_t c : text) {
    out += c;
    if (c == u'\'') out += c;
  }
  return out + u"'";
}

class MainRoadGuiTest : public testing::Test {
 protected:
  void SetUp() override {
    App();
    unsetenv("DISPLAY");  // no window of the stand-in is looked for: it is started
    open_ = dir_.path() / "my projects" / "川 の 地図.qvp";
    locked_ = dir_.path() / "locked.qvp";
    gone_ = dir_.path() / "gone.qvp";
    fs::create_directories(open_.parent_path());
    std::ofstream(open_) << "x";
    std::ofstream(locked_) << "x";

    const fs::path database = dir_.path() / "projects.mdb";
    jet::CreateDatabase(database);
    {
      jet::Connection connection;
      connection.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                     U(database));
      connection.Open();
      connection.Execute(
          u"CREATE TABLE T_projectMain ([ID] INTEGER CONSTRAINT pkey PRIMARY KEY,"
          u"[TITLE] VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255))");
      connection.Execute(u"INSERT INTO T_projectMain (ID, TITLE, FILENAME) VALUES (1, 'open', " +
                         Literal(U(open_)) + u")");
      connection.Execute(
          u"INSERT INTO T_projectMain (ID, TITLE, FILENAME, PASSWORD) VALUES (2, 'locked', " +
          Literal(U(locked_)) + u", 'Pass 1')");
      connection.Execute(u"INSERT INTO T_projectMain (ID, TITLE, FILENAME) VALUES (3, 'gone', " +
                         Literal(U(gone_)) + u")");
    }
    platform::WriteProfileString(dir_.path() / "ProjectQuorvel.ini", u"作業環境",
                                 u"基本データベース", U(database));
    ASSERT_TRUE(gis::InitializeDde());
    old_cwd_ = fs::current_path();
    fs::current_path(dir_.path());
  }

  void TearDown() override {
    program_.reset();
    gis::UninitializeDde();
    fs::current_path(old_cwd_);
    for (const auto& r : gistest::RecordsOf(Log(), "start")) kill(std::stoi(r[1]), SIGTERM);
  }

  void StartProgram() {
    app::AppEnvironment environment;
    environment.program_directory = U(dir_.path()) + u"/";
    environment.work_area = [] { return QRect(0, 0, 1280, 1000); };
    environment.pause = [](int) {};
    environment.check_for_update = [] {};
    // send_close_and_quit is left empty: the real close command runs at shutdown.
    program_ = std::make_unique<app::Program>(environment);
    window_ = program_->main_window();
    ASSERT_FALSE(program_->ended_during_startup());
    window_->show();
    ASSERT_EQ(window_->DataSourceT_projectMain()->rowCount(), 3);
    ASSERT_TRUE(window_->ckQuitAll->isChecked());
    ASSERT_NE(Password(), nullptr);
    ASSERT_EQ(window_->password_window(), Password());
  }

  void DoubleClickRow(int row) {
    QTableView* grid = window_->DBGrid1;
    const QModelIndex index = window_->DataSourceT_projectMain()->index(row, 0);
    grid->setCurrentIndex(index);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
  }

  // The password window the program owns and the main window shows.
  gis::TfrmPassword* Password() const { return program_->password_window(); }

  std::vector<LogRecord> Log() const { return gistest::ReadLog(dir_.path() / "quorvel-stub.log"); }
  size_t Executes() const { return gistest::RecordsOf(Log(), "execute").size(); }
  std::vector<std::u16string> Messages() const {
    std::vector<std::u16string> texts;
    for (const auto& m : answers_.messages()) texts.push_back(m.text);
    return texts;
  }

  gistest::TempDir dir_;
  gistest::PrivateRuntimeDir runtime_{dir_.path()};
  fs::path open_, locked_, gone_, old_cwd_;
  ui::DialogAnswers answers_;
  std::unique_ptr<app::Program> program_;
  app::TfrmMain* window_ = nullptr;
};

TEST_F(MainRoadGuiTest, DoubleClicksOpenProjectsInTheStandInAndShutdownClosesIt) {
  gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
  StartProgram();
  const std::string open_path = open_.string();

  // A project without a password: the stand-in starts with the project on its command line
  // and the open command arrives over DDE.
  DoubleClickRow(0);
  EXPECT_FALSE(Password()->isVisible());
  ASSERT_TRUE(gistest::WaitFor([&] {
    for (const auto& r : gistest::RecordsOf(Log(), "start")) {
      if (r.size() == 4 && r[3] == open_path) return true;
    }
    return false;
  }));
  ASSERT_TRUE(gistest::WaitFor([&] {
    return tclib::CountProcessesByName(u"quorvel.exe") >= 1 &&
           gistest::FreshStartSettled(Log(), open_path);
  }));
  const size_t starts = gistest::RecordsOf(Log(), "start").size();
  const size_t first = Executes();

  // A second double-click only sends.
  DoubleClickRow(0);
  ASSERT_TRUE(gistest::WaitFor([&] { return Executes() == first + 1; }));
  EXPECT_EQ(gistest::RecordsOf(Log(), "start").size(), starts);

  // A project with a password: the password window refuses near misses with the exact text.
  DoubleClickRow(1);
  ASSERT_TRUE(Password()->isVisible());
  for (const QString& wrong :
       {QStringLiteral("pass 1"), QStringLiteral(" Pass 1"), QStringLiteral("Pass 1 ")}) {
    Password()->editPassword->setText(wrong);
    Password()->BitBtn1->click();
  }
  EXPECT_EQ(Messages(), std::vector<std::u16string>(3, u"設定されているパスワードと一致しません"));
  EXPECT_TRUE(Password()->isVisible());
  Password()->editPassword->setText(QStringLiteral("Pass 1"));
  Password()->BitBtn1->click();
  EXPECT_FALSE(Password()->isVisible());
  ASSERT_TRUE(gistest::WaitFor([&] { return Executes() == first + 2; }));
  EXPECT_EQ(gistest::RecordsOf(Log(), "execute").back()[5], "READ_PROJECT@" + locked_.string());

  // A project whose file is missing, with the GIS application running.
  answers_.Clear();
  DoubleClickRow(2);
  EXPECT_EQ(Messages(),
            std::vector<std::u16string>{
                u"このプロジェクトファイルは見つかりませんでした\r正しいパスを指定してください"});
  EXPECT_EQ(answers_.messages()[0].caption, u"警告");

  // Shutdown with the close option ticked: the stand-in is told to close, and does.
  answers_.Clear();
  program_.reset();
  ASSERT_TRUE(gistest::WaitFor([&] {
    return gistest::RecordsOf(Log(), "exit").size() == gistest::RecordsOf(Log(), "start").size();
  }));
  const auto executes = gistest::RecordsOf(Log(), "execute");
  EXPECT_EQ(executes.back()[4], gistest::ToHex(std::string("CLOSE_QUORVEL") + '\0'));
  EXPECT_TRUE(answers_.messages().empty());
}

TEST_F(MainRoadGuiTest, MissingGisApplicationAndMissingProjectMessages) {
  StartProgram();
  DoubleClickRow(0);
  EXPECT_EQ(Messages(),
            std::vector<std::u16string>{u"GIS Quorvelが見つかりません\r同じフォルダに置く"
                                        u"か、正しいパスを指定してください"});
  gistest::CopyExecutable(gistest::QuorvelStubPath(), dir_.path() / "quorvel.exe");
  answers_.Clear();
  DoubleClickRow(2);
  EXPECT_EQ(Messages(), std::vector<std::u16string>{u"プロジェクトファイル\r\r" + U(gone_) +
                                                    u"\r\rは見つかりませんでした\r正しいパスを指"
                                                    u"定してください"});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Log().empty());

  // Shutdown with no GIS application running: the start attempt runs the stand-in, which
  // then gets the close command. No warning.
  answers_.Clear();
  program_.reset();
  ASSERT_TRUE(gistest::WaitFor([&] { return !gistest::RecordsOf(Log(), "exit").empty(); }));
  const auto start = gistest::RecordsOf(Log(), "start");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0][3], "DdeQuorvel");
  EXPECT_EQ(gistest::RecordsOf(Log(), "execute").at(0)[5], "CLOSE_QUORVEL");
  EXPECT_TRUE(answers_.messages().empty());
}

}  // namespace
