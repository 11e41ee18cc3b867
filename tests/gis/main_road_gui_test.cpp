// The main road through the real main window (offscreen): a double-click in the project grid
// opens the project in the real stand-in, behind the password window where the project has a
// password, and the close option ends the stand-in at shutdown.
#include <gtest/gtest.h>

#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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
#include "ui/qt_text.h"

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
    environment.open_folder = [this](const std::u16string& folder) {
      folders_opened_.push_back(folder);
      return true;
    };
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

  void SelectRow(int row) {
    window_->DBGrid1->setCurrentIndex(window_->DataSourceT_projectMain()->index(row, 0));
  }

  // The grid's row data for one role.
  QVariant RowData(int row, Qt::ItemDataRole role) const {
    auto* model = window_->DataSourceT_projectMain();
    return model->data(model->index(row, 0), role);
  }

  std::u16string MissingBeforeStart(const fs::path& file) const {
    return u"プロジェクトファイル\r\r" + U(file) +
           u"\r\rは見つかりませんでした\r正しいパスを指定してください";
  }

  std::vector<std::u16string> folders_opened_;
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

  // A project whose file is missing, with the GIS application running: the message names the
  // file.
  answers_.Clear();
  DoubleClickRow(2);
  EXPECT_EQ(Messages(), std::vector<std::u16string>{MissingBeforeStart(gone_)});
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

  // Shutdown with the close option ticked and no GIS application running: nothing is started
  // just to be closed, and nothing is said.
  ASSERT_TRUE(window_->ckQuitAll->isChecked());
  ASSERT_EQ(tclib::CountProcessesByName(u"quorvel.exe"), 0);
  answers_.Clear();
  program_.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(tclib::CountProcessesByName(u"quorvel.exe"), 0);
  EXPECT_TRUE(answers_.messages().empty());
}

// Enter (main or keypad) on the list takes the double-click's road: a missing file is named, a
// protected project asks for its password in a window that names it and starts empty, any
// other project goes to the GIS application (here: not found). Tab and Shift+Tab leave the
// list without moving its current row.
TEST_F(MainRoadGuiTest, EnterOpensAndTabLeavesTheList) {
  StartProgram();
  window_->PageControl1->setCurrentWidget(window_->TabSheet1);
  QTableView* grid = window_->DBGrid1;
  grid->setFocus();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    SCOPED_TRACE(key);
    const Qt::KeyboardModifiers modifiers =
        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    answers_.Clear();
    SelectRow(2);
    QTest::keyClick(grid, key, modifiers);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{MissingBeforeStart(gone_)});

    answers_.Clear();
    SelectRow(0);
    QTest::keyClick(grid, key, modifiers);
    EXPECT_EQ(Messages(),
              std::vector<std::u16string>{u"GIS Quorvelが見つかりません\r同じフォルダに置く"
                                          u"か、正しいパスを指定してください"});

    answers_.Clear();
    SelectRow(1);
    QTest::keyClick(grid, key, modifiers);
    EXPECT_TRUE(Messages().empty());
    ASSERT_TRUE(Password()->isVisible());
    EXPECT_EQ(Password()->labelProject->text(),
              QStringLiteral("「locked」のパスワードを入力してください。"));
    EXPECT_TRUE(Password()->editPassword->text().isEmpty());
    Password()->editPassword->setText(QStringLiteral("Pass"));
    Password()->close();
  }

  // Tab leaves for the next control that takes focus by Tab, Shift+Tab for the previous one.
  const auto next_stop = [&](bool forward) {
    QWidget* w = grid;
    do {
      w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
    } while (w != grid && !(w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)));
    return w;
  };
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "Tab" : "Shift+Tab");
    // Without a window manager another top-level window of the program (the splash) may
    // hold the activation; the test hands it to the main window.
    QApplication::setActiveWindow(window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
    grid->setFocus();
    SelectRow(1);
    ASSERT_TRUE(grid->hasFocus());
    QWidget* expected = next_stop(forward);
    ASSERT_NE(expected, grid);
    if (forward) {
      QTest::keyClick(grid, Qt::Key_Tab);
    } else {
      QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
    }
    EXPECT_EQ(QApplication::focusWidget(), expected)
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                        : "none");
    EXPECT_EQ(grid->currentIndex().row(), 1);
  }
}

// The row menu opens, shows the folder and copies the path of the row it was asked on; the
// row's tooltip gives the title and the path; a row whose file is missing is greyed with a
// mark once the check has answered, and the mark follows the file when the list changes.
TEST_F(MainRoadGuiTest, RowMenuTooltipAndMissingMark) {
  StartProgram();
  window_->PageControl1->setCurrentWidget(window_->TabSheet1);
  QTableView* grid = window_->DBGrid1;

  // A right-click on a row pops up the menu for that row.
  const QModelIndex third = window_->DataSourceT_projectMain()->index(2, 0);
  const QPoint at = grid->visualRect(third).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
  QApplication::sendEvent(grid->viewport(), &event);
  QMenu* popup = grid->findChild<QMenu*>(QStringLiteral("ProjectMenu"));
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(grid->currentIndex().row(), 2);
  popup->close();

  const auto trigger = [&](int row, const QString& text) {
    std::unique_ptr<QMenu> menu(window_->ProjectMenu(row));
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("開く"), QStringLiteral("フォルダを開く"),
                                  QStringLiteral("パスをコピー")}));
    for (QAction* action : menu->actions()) {
      if (action->text() == text) action->trigger();
    }
  };
  const struct {
    int row;
    fs::path file;
  } rows[] = {{0, open_}, {1, locked_}, {2, gone_}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.row);
    folders_opened_.clear();
    QGuiApplication::clipboard()->clear();
    trigger(r.row, QStringLiteral("パスをコピー"));
    EXPECT_EQ(ui::ToU16(QGuiApplication::clipboard()->text()), U(r.file));
    trigger(r.row, QStringLiteral("フォルダを開く"));
    EXPECT_EQ(folders_opened_, std::vector<std::u16string>{U(r.file.parent_path())});
  }
  EXPECT_FALSE(Password()->isVisible());
  answers_.Clear();
  trigger(1, QStringLiteral("開く"));  // the password gate, as on a double-click
  EXPECT_TRUE(Password()->isVisible());
  Password()->close();
  trigger(2, QStringLiteral("開く"));
  EXPECT_EQ(Messages(), std::vector<std::u16string>{MissingBeforeStart(gone_)});

  // Tooltips and the missing mark.
  for (int row = 0; row < 3; ++row) (void)RowData(row, Qt::DecorationRole);  // asks the worker
  ASSERT_TRUE(QTest::qWaitFor([&] { return RowData(2, Qt::DecorationRole).isValid(); }));
  EXPECT_EQ(RowData(0, Qt::ToolTipRole).toString(),
            QStringLiteral("open\n") + ui::ToQString(U(open_)));
  EXPECT_EQ(
      RowData(2, Qt::ToolTipRole).toString(),
      QStringLiteral("gone\n") + ui::ToQString(U(gone_)) + QStringLiteral("（見つかりません）"));
  EXPECT_TRUE(RowData(2, Qt::ForegroundRole).isValid());
  EXPECT_EQ(RowData(2, Qt::DisplayRole).toString(), QStringLiteral("gone"));
  for (int row : {0, 1}) {
    EXPECT_FALSE(RowData(row, Qt::DecorationRole).isValid()) << row;
    EXPECT_FALSE(RowData(row, Qt::ForegroundRole).isValid()) << row;
  }

  // The file appears and the list is narrowed: the mark goes; it is removed again and the
  // list changes: the mark comes back.
  std::ofstream(gone_) << "x";
  window_->editKeyword->setText(QStringLiteral("gone"));
  ASSERT_EQ(window_->DataSourceT_projectMain()->rowCount(), 1);
  (void)RowData(0, Qt::DecorationRole);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !RowData(0, Qt::DecorationRole).isValid(); }));
  fs::remove(gone_);
  window_->editKeyword->setText(QString());
  ASSERT_EQ(window_->DataSourceT_projectMain()->rowCount(), 3);
  (void)RowData(2, Qt::DecorationRole);
  EXPECT_TRUE(QTest::qWaitFor([&] { return RowData(2, Qt::DecorationRole).isValid(); }));
}

}  // namespace
