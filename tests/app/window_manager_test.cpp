// The program's windows on a private X server with a window manager (openbox): closing the
// main window ends the run whatever else is open, and the main window's placement on a first
// run, a later run and an early end, and over many starts at the real screen's work area.
// Built a second time with QUORVEL_TEST_SCALE_FACTOR set: the placement cases then run with
// Qt's scaling at that factor, where the screen is smaller in the window's own pixels.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/environment.h"
#include "app/main_window.h"
#include "app/program.h"
#include "base/utf.h"
#include "db/ui/export_window.h"
#include "gis/dde_channel.h"
#include "gis/ui/password_window.h"
#include "jet/jet.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/support/test_env.h"
#include "ui/dialogs.h"
#include "x_close.h"

namespace {

namespace fs = std::filesystem;

const fs::path kProjects =
    fs::path(QUORVEL_FIXTURES_DIR) / "jet4" / "generated-jackcess-T_projectMain-1000.mdb";
constexpr std::u16string_view kWorkSection = u"作業環境";
constexpr std::u16string_view kPlacementSection = u"frmMain";

// One X server with openbox and one QApplication on it for the whole run.
class DisplayEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    display_ = std::make_unique<gistest::PrivateDisplay>(true);
    if (!display_->ok()) return;
    setenv("QT_QPA_PLATFORM", "xcb", 1);
#ifdef QUORVEL_TEST_SCALE_FACTOR
    setenv("QT_SCALE_FACTOR", QUORVEL_TEST_SCALE_FACTOR, 1);
#endif
    static int argc = 1;
    static char name[] = "app_window_manager_tests";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
    app::AddFontSubstitutions();
  }
  void TearDown() override {
    delete application_;
    application_ = nullptr;
    display_.reset();
  }
  static bool Ready() { return application_ != nullptr; }

 private:
  std::unique_ptr<gistest::PrivateDisplay> display_;
  static inline QApplication* application_ = nullptr;
};

[[maybe_unused]] testing::Environment* const kDisplay =
    testing::AddGlobalTestEnvironment(new DisplayEnvironment);

#ifdef QUORVEL_TEST_SCALE_FACTOR
#define WindowManagerTest ScaledWindowManagerTest
#endif

class WindowManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!DisplayEnvironment::Ready()) {
      if (fs::exists("/usr/bin/Xvfb") && fs::exists("/usr/bin/openbox")) {
        FAIL() << "Xvfb with openbox did not start";
      }
      GTEST_SKIP() << "no X server (Xvfb) with openbox available";
    }
  }

  fs::path SettingsFile(const gistest::TempDir& dir) const {
    return dir.path() / "ProjectQuorvel.ini";
  }

  // Settings with the basic database and no splash pause; no placement section.
  void WriteWorkSettings(const gistest::TempDir& dir) const {
    platform::WriteProfileString(SettingsFile(dir), kWorkSection, u"基本データベース",
                                 platform::FromPath(kProjects));
    platform::WriteProfileString(SettingsFile(dir), kWorkSection, u"スプラッシュ画像表示時間",
                                 u"0");
  }

  std::u16string Read(const gistest::TempDir& dir, std::u16string_view section,
                      std::u16string_view key) const {
    return platform::ReadProfileString(SettingsFile(dir), section, key, u"<missing>");
  }

  QSize SavedSize(const gistest::TempDir& dir) const {
    auto number = [&](std::u16string_view key) {
      try {
        return std::stoi(base::ToUtf8(Read(dir, kPlacementSection, key)));
      } catch (const std::exception&) {
        return -1;
      }
    };
    return QSize(number(u"Width"), number(u"Height"));
  }

  // Left, Top, Width and Height of the placement section.
  QRect SavedRect(const gistest::TempDir& dir) const {
    auto number = [&](std::u16string_view key) {
      try {
        return std::stoi(base::ToUtf8(Read(dir, kPlacementSection, key)));
      } catch (const std::exception&) {
        return -1;
      }
    };
    return QRect(number(u"Left"), number(u"Top"), number(u"Width"), number(u"Height"));
  }

  static std::string Describe(const QRect& rect) {
    return std::to_string(rect.left()) + "," + std::to_string(rect.top()) + " " +
           std::to_string(rect.width()) + "x" + std::to_string(rect.height());
  }

  // The environment of a run in `dir`: a work area of 1280 × 1024 (larger than the screen,
  // so that the designed size is kept) or, with `real_work_area`, the screen's own; no update
  // check; the GIS close command is recorded through `on_close`.
  app::AppEnvironment Environment(const gistest::TempDir& dir, std::function<void()> on_close,
                                  bool real_work_area = false) {
    app::AppEnvironment environment;
    environment.program_directory = platform::FromPath(dir.path()) + u"/";
    environment.work_area = [] { return QRect(0, 0, 1280, 1024); };
    if (real_work_area) environment.work_area = app::ProductionEnvironment().work_area;
    environment.pause = [](int) {};
    environment.check_for_update = [] {};
    environment.send_close_and_quit = std::move(on_close);
    return environment;
  }

  // The main window's designed client area with the menu bar above it.
  static QSize DesignedClientSize(const app::TfrmMain& window) {
    return QSize(624, 817 + window.menuBar()->height());
  }

  // Runs the program; once the main window is on screen with its frame (and `settled` holds,
  // by default the designed client area, or 15 seconds have passed), `while_shown` runs and
  // then the main window is closed through the window manager's close request. Returns the
  // milliseconds from the close request to the end of the message loop. Another window left
  // open is closed after three seconds, so that a loop that does not end fails the test instead
  // of hanging it.
  qint64 RunAndClose(app::Program& program, const std::function<void()>& while_shown,
                     std::function<bool()> settled = nullptr) {
    app::TfrmMain* window = program.main_window();
    QElapsedTimer since_close;
    QTimer::singleShot(0, window, [&] {
      // Generous limits: a loaded machine may keep the window manager busy for seconds, and
      // each wait ends as soon as its condition holds.
      constexpr int kPatienceMs = 15000;
      EXPECT_TRUE(QTest::qWaitForWindowExposed(window, kPatienceMs));
      EXPECT_TRUE(QTest::qWaitFor(
          [&] { return window->frameGeometry().size() != window->geometry().size(); },
          kPatienceMs));
      // The window manager may still be applying the placement; wait for the designed
      // client area (at most the limit, then the checks below report what it is).
      if (!settled) {
        settled = [&] { return window->geometry().size() == DesignedClientSize(*window); };
      }
      (void)QTest::qWaitFor(settled, kPatienceMs);
      while_shown();
      since_close.start();
      apptest::RequestWindowClose(window->winId());
      QTimer::singleShot(3000, qApp, [&program] {
        if (program.export_window() != nullptr) program.export_window()->close();
        if (program.password_window() != nullptr) program.password_window()->close();
      });
    });
    EXPECT_EQ(program.Run(), 0);
    return since_close.elapsed();
  }
};

#ifndef QUORVEL_TEST_SCALE_FACTOR
// With the export window or the password window open, closing the main window ends the
// message loop at once; the other window is destroyed, then the shutdown sequence writes both
// sections of the settings file and sends the GIS close command.
TEST_F(WindowManagerTest, ClosingTheMainWindowEndsTheRunWhateverElseIsOpen) {
  const struct {
    const char* name;
    std::function<QWidget*(app::Program&)> open;
  } cases[] = {
      {"export window",
       [](app::Program& program) -> QWidget* {
         program.main_window()->SQLite1->trigger();
         return program.export_window();
       }},
      {"password window",
       [](app::Program& program) -> QWidget* {
         program.password_window()->ShowPasswordWindow();
         return program.password_window();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gistest::TempDir dir;
    WriteWorkSettings(dir);
    ui::DialogAnswers answers;
    QPointer<QWidget> other;
    bool other_gone_at_close_command = false;
    int close_commands = 0;
    qint64 elapsed = 0;
    {
      app::Program program(Environment(dir, [&] {
        ++close_commands;
        other_gone_at_close_command = other.isNull();
        EXPECT_TRUE(fs::exists(SettingsFile(dir)));
      }));
      ASSERT_FALSE(program.ended_during_startup());
      fs::remove(SettingsFile(dir));
      elapsed = RunAndClose(program, [&] {
        other = c.open(program);
        EXPECT_NE(other, nullptr);
        if (other != nullptr) {
          EXPECT_TRUE(QTest::qWaitForWindowExposed(other));
        }
      });
      EXPECT_LT(elapsed, 1000);
      EXPECT_FALSE(program.main_window()->isVisible());
    }
    EXPECT_TRUE(other.isNull());
    EXPECT_TRUE(other_gone_at_close_command);
    EXPECT_EQ(close_commands, 1);
    EXPECT_EQ(Read(dir, kWorkSection, u"基本データベース"), platform::FromPath(kProjects));
    EXPECT_EQ(Read(dir, kWorkSection, u"グリッドタイトル"), u"主題図");
    for (std::u16string_view key : {u"Top", u"Left", u"Width", u"Height"}) {
      EXPECT_NE(Read(dir, kPlacementSection, key), u"<missing>");
    }
  }
}

// Without a placement section the main window opens with its designed client area (624 × 817
// under the menu bar), and the outer size saved is the window's size with the window
// manager's frame. The next run opens at the same size and saves the same values; an early
// end on a first run (the window is never shown) saves the same outer size.
TEST_F(WindowManagerTest, FirstRunLaterRunAndEarlyEndSaveTheFramedSize) {
  gistest::TempDir dir;
  WriteWorkSettings(dir);
  QSize first_frame;
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ui::DialogAnswers answers;
    QSize client, frame;
    {
      app::Program program(Environment(dir, [] {}));
      ASSERT_FALSE(program.ended_during_startup());
      app::TfrmMain* window = program.main_window();
      RunAndClose(program, [&] {
        client = window->geometry().size();
        frame = window->frameGeometry().size();
        EXPECT_EQ(client, DesignedClientSize(*window));
        EXPECT_GT(frame.width(), client.width());
        EXPECT_GT(frame.height(), client.height());
      });
    }
    EXPECT_EQ(SavedSize(dir), frame);
    if (run == 1) first_frame = frame;
    EXPECT_EQ(frame, first_frame);
  }

  // An early end on a first run: no settings file, and the choice of a basic database is
  // refused.
  gistest::TempDir early;
  ui::DialogAnswers answers;
  answers.QueueFile(std::nullopt);
  {
    app::Program program(Environment(early, [] {}));
    ASSERT_TRUE(program.ended_during_startup());
    EXPECT_EQ(program.Run(), 0);
  }
  EXPECT_EQ(SavedSize(early), first_frame);
}

// Opening a project while the GIS application's window exists (here the stand-in, under a file
// name the running test does not count) restores its minimised owner window and makes it the
// active window, stacked above an ordinary window that was active before; the main window,
// kept above all ordinary windows, stays above it.
TEST_F(WindowManagerTest, OpeningAProjectRestoresAndActivatesTheGisWindow) {
  gistest::TempDir dir;
  gistest::PrivateRuntimeDir runtime(dir.path());
  const fs::path project = dir.path() / "川の地図.qvp";
  std::ofstream(project) << "x";
  const fs::path database = dir.path() / "projects.mdb";
  jet::CreateDatabase(database);
  {
    jet::Connection connection;
    connection.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                   platform::FromPath(database));
    connection.Open();
    connection.Execute(
        u"CREATE TABLE T_projectMain ([ID] INTEGER CONSTRAINT pkey PRIMARY KEY,"
        u"[TITLE] VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255))");
    connection.Execute(u"INSERT INTO T_projectMain (ID, TITLE, FILENAME) VALUES (1, 'map', '" +
                       platform::FromPath(project) + u"')");
  }
  const fs::path gis = dir.path() / "gis-stand-in";
  gistest::CopyExecutable(gistest::QuorvelStubPath(), gis);
  platform::WriteProfileString(SettingsFile(dir), kWorkSection, u"基本データベース",
                               platform::FromPath(database));
  platform::WriteProfileString(SettingsFile(dir), kWorkSection, u"スプラッシュ画像表示時間", u"0");
  platform::WriteProfileString(SettingsFile(dir), kWorkSection, u"クォルヴェルパス",
                               platform::FromPath(gis));

  gistest::Child stand_in(gis, {});
  platform::WindowHandle owner = 0;
  ASSERT_TRUE(gistest::WaitFor([&] {
    const platform::WindowHandle found = platform::FindTopLevelWindow(u"GIS Quorvel");
    owner = found != 0 ? platform::GetOwnerWindow(found) : 0;
    const auto order = apptest::StackingOrder();
    return owner != 0 && std::count(order.begin(), order.end(), owner) == 1;
  }));

  // The program's main initialises the DDE channel before the first window.
  ASSERT_TRUE(gis::InitializeDde());
  struct UninitializeAtEnd {
    ~UninitializeAtEnd() { gis::UninitializeDde(); }
  } uninitialize;
  ui::DialogAnswers answers;
  app::Program program(Environment(dir, [] {}));
  ASSERT_FALSE(program.ended_during_startup());
  app::TfrmMain* window = program.main_window();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  // Kept above every ordinary window from the start.
  EXPECT_TRUE(QTest::qWaitFor([&] { return apptest::KeptAbove(window->winId()); }));

  // An ordinary window is active and the GIS application's window is minimised.
  QWidget other;
  other.setWindowTitle(QStringLiteral("Someone else"));
  other.resize(300, 200);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return apptest::ActiveWindow() == other.winId(); }));
  apptest::Minimize(owner);
  ASSERT_TRUE(QTest::qWaitFor([&] { return platform::IsWindowMinimized(owner); }));

  // Enter on the project opens it.
  window->PageControl1->setCurrentWidget(window->TabSheet1);
  window->DBGrid1->setCurrentIndex(window->DBGrid1->model()->index(0, 0));
  QTest::keyClick(window->DBGrid1, Qt::Key_Return);
  for (const auto& m : answers.messages()) ADD_FAILURE() << base::ToUtf8(m.text);

  const auto position = [](uint64_t w) {
    const auto order = apptest::StackingOrder();
    return std::find(order.begin(), order.end(), w) - order.begin();
  };
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return !platform::IsWindowMinimized(owner) && apptest::ActiveWindow() == owner; }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return position(owner) > position(other.winId()); }));
  EXPECT_GT(position(window->winId()), position(owner));
  EXPECT_TRUE(apptest::KeptAbove(window->winId()));
  window->hide();
}

#endif  // QUORVEL_TEST_SCALE_FACTOR

// Started, closed and started again, the main window comes back where it was and as large as
// it was, with the screen's own work area: the settings file holds the same four values after
// every run. A placement larger than the screen (at a larger scale the screen is smaller in
// the window's pixels), or no placement at all, first has its size fitted to the work area
// and then holds as well.
static bool FitsIn(const QRect& window, const QRect& work_area) {
  return window.width() <= work_area.width() && window.height() <= work_area.height();
}

TEST_F(WindowManagerTest, PlacementHoldsOverFiveStarts) {
  const struct {
    const char* name;
    std::optional<QRect> saved;  // Left, Top, Width, Height in the file; none: no section
  } cases[] = {
      {"away from the corner", QRect(200, 100, 700, 650)},
      {"smaller than designed", QRect(300, 150, 500, 400)},
      {"at the corner", QRect(0, 0, 640, 600)},
      {"no placement yet", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gistest::TempDir dir;
    WriteWorkSettings(dir);
    if (c.saved) {
      const std::array<std::pair<std::u16string_view, int>, 4> keys = {{
          {u"Left", c.saved->left()},
          {u"Top", c.saved->top()},
          {u"Width", c.saved->width()},
          {u"Height", c.saved->height()},
      }};
      for (const auto& [key, value] : keys) {
        platform::WriteProfileString(SettingsFile(dir), kPlacementSection, key,
                                     base::FromUtf8(std::to_string(value)));
      }
    }
    const QRect work_area = app::ProductionEnvironment().work_area();
    // What the file holds after the first run: the placement fitted to the work area.
    std::optional<QRect> held;
    for (int run = 1; run <= 5; ++run) {
      SCOPED_TRACE(run);
      ui::DialogAnswers answers;
      QRect shown;
      {
        app::Program program(Environment(
            dir, [] {}, true));
        ASSERT_FALSE(program.ended_during_startup());
        app::TfrmMain* window = program.main_window();
        std::optional<QRect> expected = held;
        if (!expected && c.saved && work_area.contains(*c.saved)) expected = c.saved;
        RunAndClose(
            program, [&] { shown = window->frameGeometry(); },
            [&] {
              return expected ? window->frameGeometry() == *expected
                              : FitsIn(window->frameGeometry(), work_area);
            });
      }
      const QRect saved = SavedRect(dir);
      // The window was where the file says it is, and no larger than the work area.
      EXPECT_EQ(saved, shown);
      EXPECT_TRUE(FitsIn(shown, work_area)) << Describe(shown) << " on " << Describe(work_area);
      if (c.saved && work_area.contains(*c.saved)) {
        EXPECT_EQ(saved, *c.saved);
      }
      if (held) {
        EXPECT_EQ(saved, *held) << Describe(saved) << " after " << Describe(*held);
      }
      held = saved;
    }
  }
}

}  // namespace
