// The main window driven by object name: start-up and shutdown, the settings tab, the
// project grid and the keyword filter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <memory>

#include "app/main_window.h"
#include "app/program.h"
#include "app/project_model.h"
#include "app/splash.h"
#include "app_test_support.h"
#include "db/basic_database.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"

namespace {

using apptest::Recorder;
using apptest::ScratchDir;
using apptest::WriteSetting;

constexpr std::u16string_view kWork = u"作業環境";

std::u16string U16(const apptest::fs::path& path) { return platform::FromPath(path); }

template <typename T>
T* Find(QWidget* form, const char* name) {
  T* widget = form->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

std::u16string Text(QWidget* form, const char* name) {
  return ui::ToU16(Find<QLineEdit>(form, name)->text());
}

void ConfigureProjects(const ScratchDir& dir) {
  WriteSetting(dir, kWork, u"基本データベース", U16(apptest::kProjects));
}

void ProcessDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MainWindow, DesignedLayoutTextsAndFlags) {
  ScratchDir dir("layout");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  EXPECT_EQ(window.objectName(), "frmMain");
  EXPECT_EQ(window.windowTitle(), "プロジェクトクォルヴェル");
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(window.font().family(), "Tahoma");
  EXPECT_EQ(window.font().pointSize(), 8);

  QAction* export_item = window.findChild<QAction*>("SQLite1");
  ASSERT_NE(export_item, nullptr);
  EXPECT_EQ(export_item->text(), "モバイルクォルヴェル用(SQLite)に書き出す(&S)");
  ASSERT_EQ(window.menuBar()->actions().size(), 1);
  EXPECT_EQ(window.menuBar()->actions()[0]->text(), "ファイル(&F)");

  EXPECT_EQ(Find<QWidget>(&window, "Panel1")->height(), 29);
  EXPECT_EQ(Find<QLabel>(&window, "Image1")->size(), QSize(28, 27));
  QLineEdit* keyword = Find<QLineEdit>(&window, "editKeyword");
  EXPECT_EQ(keyword->font().family(), "ＭＳ Ｐ明朝");
  EXPECT_EQ(keyword->font().pointSize(), 12);
  EXPECT_EQ(keyword->toolTip(), "キーワードを入れると絞込み検索ができます。");

  QTabWidget* tabs = Find<QTabWidget>(&window, "PageControl1");
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), "プロジェクト");
  EXPECT_EQ(tabs->tabText(1), "設定");
  EXPECT_EQ(tabs->widget(0)->objectName(), "TabSheet1");
  EXPECT_EQ(tabs->widget(1)->objectName(), "TabSheet3");
  EXPECT_EQ(tabs->currentWidget()->objectName(), "TabSheet3");

  QTableView* grid = Find<QTableView>(&window, "DBGrid1");
  EXPECT_EQ(grid->toolTip(), "ダブルクリックで開きます");
  EXPECT_EQ(grid->font().family(), "ＭＳ ゴシック");
  EXPECT_EQ(grid->horizontalHeader()->font().family(), "Tahoma");
  EXPECT_EQ(grid->horizontalHeader()->font().pointSize(), 8);
  EXPECT_EQ(grid->model()->columnCount(), 1);
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(Find<QStatusBar>(&window, "StatusBar1")->height(), 19);

  const struct {
    const char* name;
    QRect geometry;
    const char* caption;
  } groups[] = {
      {"GroupBox5", QRect(0, 5, 613, 46), "基本データベース"},
      {"GroupBox2", QRect(0, 57, 613, 46),
       "GIS Quorvelのパス（指定なしで同フォルダにあるとみなします）"},
      {"GroupBox1", QRect(3, 109, 142, 50), "スプラッシュ画像表示時間"},
      {"GroupBox3", QRect(148, 109, 465, 50), "グリッドの設定"},
      {"GroupBox4", QRect(3, 165, 178, 50), "その他"},
  };
  for (const auto& group : groups) {
    QGroupBox* box = Find<QGroupBox>(&window, group.name);
    EXPECT_EQ(box->geometry(), group.geometry) << group.name;
    EXPECT_EQ(box->title(), QString::fromUtf8(group.caption));
  }
  EXPECT_EQ(Find<QPushButton>(&window, "bbtnKihonMDB")->geometry(), QRect(5, 14, 52, 25));
  EXPECT_EQ(Find<QPushButton>(&window, "bbtnKihonMDB")->text(), "選択");
  EXPECT_EQ(Find<QPushButton>(&window, "bbtnQuorvelPath")->text(), "選択");
  EXPECT_EQ(Find<QLineEdit>(&window, "editKihonMDB")->geometry().topLeft(), QPoint(63, 17));
  EXPECT_EQ(Find<QLineEdit>(&window, "editKihonMDB")->width(), 541);
  EXPECT_EQ(Find<QPushButton>(&window, "BitBtn1")->text(), "交互行の背景色");
  EXPECT_EQ(Find<QPushButton>(&window, "BitBtn1")->geometry(), QRect(277, 18, 89, 25));
  QCheckBox* quit_all = Find<QCheckBox>(&window, "ckQuitAll");
  EXPECT_EQ(quit_all->text(), "終了時にはクォルヴェルも終了する");
  EXPECT_TRUE(quit_all->isChecked());
  EXPECT_TRUE(answers.messages().empty());
}

TEST(MainWindow, NoSettingsFileDefaultsDialogAndCancelEndsButStillSaves) {
  ScratchDir dir("nosettings");
  Recorder recorder;
  ui::DialogAnswers answers;
  answers.QueueFile(std::nullopt);
  {
    app::Program program(apptest::TestEnvironment(dir, &recorder));
    app::TfrmMain* window = program.main_window();
    EXPECT_TRUE(program.ended_during_startup());
    EXPECT_EQ(program.Run(), 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Text(window, "editKihonMDB"), u"");
    EXPECT_EQ(Text(window, "editSplashTime"), u"1000");
    EXPECT_EQ(Text(window, "editQuorvelPath"), u"");
    EXPECT_EQ(Text(window, "editGridFontSize"), u"16");
    EXPECT_EQ(Text(window, "editGridTitle"), u"主題図");
    EXPECT_EQ(Text(window, "editColorGridalternately"), u"200:255:255");
    EXPECT_EQ(window->pos(), QPoint(0, 0));  // the work area's corner
    ASSERT_EQ(answers.shown().size(), 2u);
    const ui::ShownDialog& dialog = answers.shown()[0];
    EXPECT_EQ(dialog.type, ui::ShownDialog::Type::kOpenFile);
    EXPECT_EQ(dialog.caption, u"基本データベースの選択");
    ASSERT_EQ(dialog.file_options.filters.size(), 2u);
    EXPECT_EQ(dialog.file_options.filters[0].name, u"Mobile Quorvelデータベース");
    EXPECT_EQ(dialog.file_options.filters[0].patterns, u"*.mdb;*.sqlite");
    EXPECT_EQ(dialog.file_options.filters[1].name, u"全てのファイル(*.*)");
    EXPECT_EQ(dialog.file_options.filters[1].patterns, u"*.*");
    EXPECT_EQ(answers.shown()[1].text, u"このシステムではデータベースを選択しないと動作しません");
    EXPECT_EQ(answers.shown()[1].caption, u"エラー");
    EXPECT_EQ(recorder.pauses, std::vector<int>{1000});
  }
  // The early end skips the update check and never tries to close the GIS application.
  EXPECT_TRUE(recorder.steps.empty());
  const std::vector<std::u16string> lines = apptest::SettingsLines(dir);
  const std::vector<std::u16string> expected_keys = {u"[作業環境]",
                                                     u"基本データベース=",
                                                     u"スプラッシュ画像表示時間=",
                                                     u"クォルヴェルパス=",
                                                     u"グリッドフォントサイズ=",
                                                     u"グリッドタイトル=",
                                                     u"グリッドの交互の背景色=",
                                                     u"[frmMain]",
                                                     u"Top=",
                                                     u"Left=",
                                                     u"Width=",
                                                     u"Height="};
  std::vector<std::u16string> found;
  for (const std::u16string& line : lines) {
    if (line.empty()) continue;
    const size_t equals = line.find(u'=');
    found.push_back(equals == std::u16string::npos ? line : line.substr(0, equals + 1));
  }
  EXPECT_EQ(found, expected_keys);
  EXPECT_NE(std::find(lines.begin(), lines.end(), u"グリッドタイトル=主題図"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), u"Top=0"), lines.end());
}

TEST(MainWindow, ConfiguredDatabaseListedByIdWithCount) {
  ScratchDir dir("configured");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  {
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    EXPECT_TRUE(answers.shown().empty());
    EXPECT_EQ(window.StatusText(), u"1000 件のレコードが見つかりました");
    QTableView* grid = Find<QTableView>(&window, "DBGrid1");
    ASSERT_EQ(grid->model()->rowCount(), 1000);
    EXPECT_EQ(grid->model()->data(grid->model()->index(0, 0)).toString(), "Sample project");
    EXPECT_EQ(grid->model()->data(grid->model()->index(1, 0)).toString(), "東京都 道路台帳");
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "主題図");
    EXPECT_EQ(grid->font().pointSize(), 16);
    EXPECT_EQ(window.ADODataSetT_projectMain().command_text(),
              u"SELECT * FROM T_projectMain  ORDER BY ID");
    EXPECT_EQ(recorder.steps, std::vector<std::string>{"update"});
    // The row the user picks is the dataset's current row (what a double-click opens).
    grid->setCurrentIndex(grid->model()->index(4, 0));
    EXPECT_EQ(window.ADODataSetT_projectMain().record_number(), 5);
    EXPECT_EQ(window.ADODataSetT_projectMain().FieldByName(u"TITLE").text(),
              u"ひらがな と カタカナ");
  }
  EXPECT_EQ(recorder.steps, (std::vector<std::string>{"update", "close"}));
  EXPECT_EQ(recorder.settings_file_existed_at_close, std::vector<bool>{true});
}

TEST(MainWindow, TypingFiltersOnEveryKeystroke) {
  ScratchDir dir("typing");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  window.show();
  QLineEdit* keyword = Find<QLineEdit>(&window, "editKeyword");
  QTableView* grid = Find<QTableView>(&window, "DBGrid1");
  jet::Connection check_connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(apptest::kProjects), u"", u"", check_connection), 0);
  auto expected_count = [&](const std::u16string& typed) {
    jet::Dataset check(&check_connection);
    db::OpenTableQuery(check, db::kProjectTable, u"", u"");
    db::OpenTableQuery(check, db::kProjectTable, db::BuildKeywordFilter(check, typed), u"");
    return check.record_count();
  };
  keyword->setFocus();
  std::u16string typed;
  for (const char* key :
       {"S", "a", "m", "p", "l", "e", " ", "p", "r", "o", "j", "e", "c", "t", " ", "#", "1", "1"}) {
    QTest::keyClicks(keyword, QString::fromLatin1(key));
    typed += ui::ToU16(QString::fromLatin1(key));
    SCOPED_TRACE(apptest::Utf8(typed));
    const int64_t count = expected_count(typed);
    EXPECT_EQ(grid->model()->rowCount(), count);
    EXPECT_EQ(window.StatusText(), db::RecordCountText(count));
  }
  EXPECT_EQ(grid->model()->rowCount(), 2);  // "Sample project #11" and "… #111"
  keyword->setText(QStringLiteral("東京"));
  EXPECT_EQ(window.StatusText(), db::RecordCountText(expected_count(u"東京")));
  keyword->clear();
  EXPECT_EQ(window.StatusText(), u"1000 件のレコードが見つかりました");
  // Passwords are never searched.
  keyword->setText(QStringLiteral("pw1"));
  EXPECT_EQ(window.StatusText(), u"0 件のレコードが見つかりました");
  EXPECT_TRUE(answers.messages().empty());
}

TEST(MainWindow, KeywordsWithQuotesBracketsAndPercentNeverBreakTheList) {
  ScratchDir dir("badkeywords");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  QLineEdit* keyword = Find<QLineEdit>(&window, "editKeyword");
  keyword->setText(QStringLiteral("B\""));
  EXPECT_EQ(window.StatusText(), u"100 件のレコードが見つかりました");
  EXPECT_TRUE(answers.messages().empty());
  keyword->setText(QStringLiteral("B\"C"));  // the next keystroke filters too
  EXPECT_EQ(window.StatusText(), u"100 件のレコードが見つかりました");
  for (const char* text : {"%", "_", "[", "[H]", "\"\"", "'", "%\"%"}) {
    answers.Clear();
    const std::u16string before = window.StatusText();
    keyword->setText(QString::fromUtf8(text));
    if (answers.messages().empty()) {
      EXPECT_EQ(window.StatusText(),
                db::RecordCountText(window.ADODataSetT_projectMain().record_count()))
          << text;
    } else {
      // A pattern the engine refuses: its message, an unchanged status bar.
      EXPECT_EQ(answers.messages()[0].caption, ui::RunningApplicationTitle());
      EXPECT_EQ(window.StatusText(), before);
    }
  }
}

TEST(MainWindow, BadFontSizeIsReportedAndTheLaterStepsAreSkipped) {
  ScratchDir dir("badfont");
  ConfigureProjects(dir);
  WriteSetting(dir, kWork, u"グリッドフォントサイズ", u"abc");
  WriteSetting(dir, kWork, u"グリッドタイトル", u"題名");
  WriteSetting(dir, u"frmMain", u"Left", u"300");
  Recorder recorder;
  ui::DialogAnswers answers;
  {
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    const auto messages = answers.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, u"'abc' は整数ではありません.");
    EXPECT_EQ(messages[0].caption, ui::ApplicationTitle(platform::ProgramPath()));
    QTableView* grid = Find<QTableView>(&window, "DBGrid1");
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "名前");
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_NE(window.pos().x(), 300);
    EXPECT_TRUE(recorder.pauses.empty());
    // The error came before the splash window.
    EXPECT_EQ(window.startup_splash(), nullptr);
    EXPECT_EQ(window.findChild<app::TfrmSplash*>(), nullptr);
    EXPECT_EQ(window.StatusText(), u"");
    EXPECT_EQ(Text(&window, "editGridFontSize"), u"abc");
  }
  // Written back as it was; the GIS application is told to close as usual.
  EXPECT_EQ(recorder.steps, std::vector<std::string>{"close"});
  const auto lines = apptest::SettingsLines(dir);
  EXPECT_NE(std::find(lines.begin(), lines.end(), u"グリッドフォントサイズ=abc"), lines.end());
}

TEST(MainWindow, SplashTimeTexts) {
  const struct {
    std::u16string text;
    std::vector<int> pauses;
  } cases[] = {
      {u"0", {}},        {u"500", {500}},  {u"abc", {1000}}, {u"", {1000}},
      {u"10ms", {1000}}, {u"10 ", {1000}}, {u" 10", {10}},   {u"-5", {}},
      {u"$10", {16}},    {u"0x10", {16}},  {u"+7", {7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(apptest::Utf8(c.text));
    ScratchDir dir("splashtime");
    ConfigureProjects(dir);
    WriteSetting(dir, kWork, u"スプラッシュ画像表示時間", u"\"" + c.text + u"\"");
    Recorder recorder;
    ui::DialogAnswers answers;
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    EXPECT_EQ(recorder.pauses, c.pauses);
    EXPECT_EQ(Text(&window, "editSplashTime"), c.text);
  }
}

TEST(MainWindow, PlacementFromTheFileIsClampedToTheInjectedWorkArea) {
  const struct {
    std::u16string left, top;
    QPoint expected;
  } cases[] = {
      {u"1821", u"10", QPoint(100, 10)}, {u"1820", u"10", QPoint(1820, 10)},
      {u"-8", u"-8", QPoint(100, 0)},    {u"200", u"940", QPoint(200, 940)},
      {u"200", u"941", QPoint(200, 0)},  {u"50", u"x", QPoint(100, 0)},
  };
  for (const auto& c : cases) {
    ScratchDir dir("placement-window");
    ConfigureProjects(dir);
    WriteSetting(dir, u"frmMain", u"Left", c.left);
    WriteSetting(dir, u"frmMain", u"Top", c.top);
    WriteSetting(dir, u"frmMain", u"Width", u"700");
    WriteSetting(dir, u"frmMain", u"Height", u"0x258");
    Recorder recorder;
    ui::DialogAnswers answers;
    // A work area from x=100 to 1920 (a taskbar on the left).
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder, QRect(100, 0, 1820, 1040)));
    EXPECT_EQ(window.pos(), c.expected) << apptest::Utf8(c.left) << "," << apptest::Utf8(c.top);
    EXPECT_EQ(window.frameGeometry().size(), QSize(700, 600));
  }
}

TEST(MainWindow, ColumnWidthFollowsTheWindowWidth) {
  ScratchDir dir("columnwidth");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  window.show();
  QCoreApplication::processEvents();
  const int frame_extra = window.frameGeometry().width() - window.width();
  window.resize(640 - frame_extra, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.frameGeometry().width(), 640);
  EXPECT_EQ(Find<QTableView>(&window, "DBGrid1")->columnWidth(0), 630);
  window.resize(900 - frame_extra, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(Find<QTableView>(&window, "DBGrid1")->columnWidth(0), 890);
}

TEST(MainWindow, FileChoiceButtons) {
  ScratchDir dir("filechoice");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  answers.QueueFile(u"/opt/gis/quorvel");
  answers.QueueFile(std::nullopt);
  answers.QueueFile(u"/data/other.mdb");
  answers.QueueFile(std::nullopt);
  QTest::mouseClick(Find<QPushButton>(&window, "bbtnQuorvelPath"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editQuorvelPath"), u"/opt/gis/quorvel.exe");
  QTest::mouseClick(Find<QPushButton>(&window, "bbtnQuorvelPath"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editQuorvelPath"), u"/opt/gis/quorvel.exe");
  QTest::mouseClick(Find<QPushButton>(&window, "bbtnKihonMDB"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editKihonMDB"), u"/data/other.mdb");
  QTest::mouseClick(Find<QPushButton>(&window, "bbtnKihonMDB"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editKihonMDB"), u"/data/other.mdb");
  // The list is not reopened: the new path takes effect at the next start.
  EXPECT_EQ(window.StatusText(), u"1000 件のレコードが見つかりました");

  ASSERT_EQ(answers.shown().size(), 6u);
  EXPECT_EQ(answers.shown()[0].caption, u"GIS Quorvelのモジュール(exe)を選択してください");
  EXPECT_EQ(answers.shown()[0].file_options.default_extension, u"exe");
  EXPECT_EQ(answers.shown()[0].file_options.filters[0].name, u"GIS Quorvel(quorvel.exe)");
  EXPECT_EQ(answers.shown()[0].file_options.filters[0].patterns, u"quorvel.exe");
  EXPECT_EQ(answers.shown()[2].text, u"選択されませんでした");
  EXPECT_EQ(answers.shown()[2].kind, ui::MessageKind::kError);
  EXPECT_EQ(answers.shown()[3].caption, u"基本データベースの選択");
  EXPECT_EQ(answers.shown()[5].text, u"選択されませんでした");
}

TEST(MainWindow, ColourButtonPutsTheColourTextAndStaysOnTop) {
  ScratchDir dir("colourbutton");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  window.show();
  answers.QueueColor(QColor(12, 34, 56));
  answers.QueueColor(std::nullopt);
  QTest::mouseClick(Find<QPushButton>(&window, "BitBtn1"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editColorGridalternately"), u"12:34:56");
  QTest::mouseClick(Find<QPushButton>(&window, "BitBtn1"), Qt::LeftButton);
  EXPECT_EQ(Text(&window, "editColorGridalternately"), u"12:34:56");
  ASSERT_EQ(answers.shown().size(), 2u);
  EXPECT_EQ(answers.shown()[0].type, ui::ShownDialog::Type::kColor);
  EXPECT_EQ(answers.shown()[1].initial_color, QColor(12, 34, 56));  // the last one chosen
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(answers.messages().empty());
}

TEST(MainWindow, ConfiguredDatabaseThatIsGoneIsNamedBeforeTheOpenDialog) {
  ScratchDir dir("gonedatabase");
  const std::u16string gone = U16(dir.path() / "moved away.mdb");
  WriteSetting(dir, kWork, u"基本データベース", gone);
  Recorder recorder;
  ui::DialogAnswers answers;
  answers.QueueFile(U16(apptest::kProjects));
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  ASSERT_EQ(answers.shown().size(), 2u);
  EXPECT_EQ(answers.shown()[0].type, ui::ShownDialog::Type::kMessage);
  EXPECT_EQ(answers.shown()[0].kind, ui::MessageKind::kWarning);
  EXPECT_EQ(answers.shown()[0].caption, u"警告");
  EXPECT_EQ(answers.shown()[0].text,
            u"設定されている基本データベース\r" + gone +
                u"\rが見つかりませんでした。次の画面で基本データベースを選択してください。");
  EXPECT_EQ(answers.shown()[1].type, ui::ShownDialog::Type::kOpenFile);
  EXPECT_EQ(Text(&window, "editKihonMDB"), U16(apptest::kProjects));
  EXPECT_FALSE(window.ended_during_startup());
}

TEST(MainWindow, DamagedOrForeignDatabaseFiles) {
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"zeros.mdb", std::string(4096, '\0')},
      {"text.mdb", "not a database"},
      {"empty.mdb", ""},
  };
  for (const auto& file : files) {
    ScratchDir dir("damaged");
    WriteSetting(dir, kWork, u"基本データベース", U16(dir.Write(file.name, file.bytes)));
    Recorder recorder;
    ui::DialogAnswers answers;
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    ASSERT_EQ(answers.messages().size(), 1u) << file.name;
    EXPECT_EQ(answers.messages()[0].text,
              u"基本情報データベースが開けませんでした\r" + U16(dir.path() / file.name));
    EXPECT_EQ(Find<QTableView>(&window, "DBGrid1")->model()->rowCount(), 0);
    EXPECT_FALSE(window.ended_during_startup());
    EXPECT_EQ(recorder.steps, std::vector<std::string>{"update"});
    // Typing with no open database reports the engine's error and changes nothing else.
    answers.Clear();
    Find<QLineEdit>(&window, "editKeyword")->setText(QStringLiteral("a"));
    EXPECT_EQ(answers.messages().size(), 1u);
    EXPECT_EQ(window.StatusText(), u"");
  }
}

TEST(MainWindow, FailedStartupStillTakesTheSplashDown) {
  ScratchDir dir("failedstartup");
  // A Jet file without the project table: the listing fails with the engine's error.
  WriteSetting(dir, kWork, u"基本データベース",
               U16(apptest::kFixtures / "jackcess-empty-V2000.mdb"));
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  ASSERT_EQ(answers.messages().size(), 1u);
  EXPECT_EQ(answers.messages()[0].caption, ui::RunningApplicationTitle());
  EXPECT_TRUE(recorder.steps.empty());  // no update check
  QPointer<app::TfrmSplash> splash = window.findChild<app::TfrmSplash*>("frmSplash");
  ProcessDeferredDeletes();
  EXPECT_TRUE(splash.isNull());
  EXPECT_EQ(window.startup_splash(), nullptr);
}

TEST(MainWindow, SplashIsReleasedAfterTheListingAndBeforeTheLoop) {
  ScratchDir dir("splashrelease");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  QPointer<app::TfrmSplash> splash = window.findChild<app::TfrmSplash*>("frmSplash");
  ASSERT_FALSE(splash.isNull());  // still there until events are processed
  EXPECT_TRUE(splash->isVisible());
  EXPECT_EQ(window.startup_splash(), nullptr);  // no longer the window's start-up splash
  ProcessDeferredDeletes();
  EXPECT_TRUE(splash.isNull());
}

TEST(MainWindow, GarbageSettingsFile) {
  ScratchDir dir("garbage");
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 7919 + 13) % 256);
  bytes += "\n[作業環境\n=\n[]\n==x\n";
  dir.Write("ProjectQuorvel.ini", bytes);
  Recorder recorder;
  ui::DialogAnswers answers;
  answers.QueueFile(U16(apptest::kProjects));
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  EXPECT_FALSE(window.ended_during_startup());
  EXPECT_EQ(Text(&window, "editGridFontSize"), u"16");
  EXPECT_EQ(Text(&window, "editKihonMDB"), U16(apptest::kProjects));
  EXPECT_EQ(window.StatusText(), u"1000 件のレコードが見つかりました");
}

TEST(MainWindow, LeftoversOfAKilledSettingsSaveAreRemovedAtStart) {
  ScratchDir dir("leftovers");
  ConfigureProjects(dir);
  // 4194305 is above the largest process id Linux hands out: that saver is surely gone.
  const std::string gone = ".ProjectQuorvel.ini.tmp4194305-1-0";
  const std::string running = ".ProjectQuorvel.ini.tmp" + std::to_string(getpid()) + "-1-0";
  dir.Write(gone, "half a save");
  dir.Write(running, "a save under way");
  dir.Write("ProjectQuorvel.ini.tmp4194305-1-0", "not one of ours");
  Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  EXPECT_FALSE(window.ended_during_startup());
  EXPECT_FALSE(apptest::fs::exists(dir.path() / gone));
  EXPECT_TRUE(apptest::fs::exists(dir.path() / running));
  EXPECT_TRUE(apptest::fs::exists(dir.path() / "ProjectQuorvel.ini.tmp4194305-1-0"));
}

TEST(MainWindow, ChosenDatabaseIsSavedForTheNextStart) {
  ScratchDir dir("chosen");
  Recorder recorder;
  {
    ui::DialogAnswers answers;
    answers.QueueFile(U16(apptest::kProjects));
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    EXPECT_EQ(window.ADODataSetT_projectMain().command_text(), u"SELECT * FROM T_projectMain  ");
  }
  ui::DialogAnswers answers;
  app::TfrmMain again(apptest::TestEnvironment(dir, &recorder));
  EXPECT_TRUE(answers.shown().empty());
  EXPECT_EQ(again.ADODataSetT_projectMain().command_text(),
            u"SELECT * FROM T_projectMain  ORDER BY ID");
}

TEST(MainWindow, UnwritableSettingsFileIsReportedAndStopsTheShutdown) {
  ScratchDir dir("readonly");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  {
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    apptest::fs::remove(dir.path() / "ProjectQuorvel.ini");
    apptest::fs::create_directory(dir.path() / "ProjectQuorvel.ini");  // cannot be replaced
  }
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, dir.u16() + u"ProjectQuorvel.ini に書き込めません.");
  EXPECT_EQ(recorder.steps, std::vector<std::string>{"update"});  // no close command
}

TEST(MainWindow, UntickedQuitAllSendsNoCloseCommand) {
  ScratchDir dir("quitall");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  {
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    QTest::mouseClick(Find<QCheckBox>(&window, "ckQuitAll"), Qt::LeftButton, {},
                      QPoint(6, Find<QCheckBox>(&window, "ckQuitAll")->height() / 2));
    ASSERT_FALSE(Find<QCheckBox>(&window, "ckQuitAll")->isChecked());
  }
  EXPECT_EQ(recorder.steps, std::vector<std::string>{"update"});
}

// Full-width digits typed into the number boxes turn into ASCII digits in the box at once
// (the cursor stays where it was); a box given full-width digits by other means is saved in
// ASCII digits. Other characters are left as typed, and the file keeps its format.
// Enters text as a Japanese input method does: the composed characters arrive committed at
// once (key events cannot carry full-width characters).
void CommitText(QLineEdit* box, const QString& text) {
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QApplication::sendEvent(box, &commit);
}

TEST(MainWindow, FullWidthDigitsInNumberBoxesAreSavedAsAscii) {
  ScratchDir dir("fullwidth");
  ConfigureProjects(dir);
  Recorder recorder;
  ui::DialogAnswers answers;
  {
    app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
    const struct {
      const char* box;
      QString typed;
      QString shown;
    } cases[] = {
        {"editSplashTime", QStringLiteral("２５００"), QStringLiteral("2500")},
        {"editGridFontSize", QStringLiteral("1８"), QStringLiteral("18")},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.box);
      QLineEdit* box = Find<QLineEdit>(&window, c.box);
      box->clear();
      CommitText(box, c.typed);
      EXPECT_EQ(box->text(), c.shown);
      EXPECT_EQ(box->cursorPosition(), c.shown.size());
    }
    // Typed in the middle: the cursor stays after the digit typed.
    QLineEdit* font_size = Find<QLineEdit>(&window, "editGridFontSize");
    font_size->setCursorPosition(1);
    CommitText(font_size, QStringLiteral("２"));
    EXPECT_EQ(font_size->text(), QStringLiteral("128"));
    EXPECT_EQ(font_size->cursorPosition(), 2);
    // Set by a program (no typing): converted when saved.
    font_size->setText(QStringLiteral("１４"));
    Find<QLineEdit>(&window, "editGridTitle")->setText(QStringLiteral("主題図２"));
  }
  const std::vector<std::u16string> lines = apptest::SettingsLines(dir);
  const auto has = [&](std::u16string_view line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has(u"スプラッシュ画像表示時間=2500"));
  EXPECT_TRUE(has(u"グリッドフォントサイズ=14"));
  EXPECT_TRUE(has(u"グリッドタイトル=主題図２"));  // not a number box
  EXPECT_TRUE(has(u"[作業環境]"));
}

TEST(Program, ABadSplashFileIsReportedByBothSplashInstances) {
  ScratchDir dir("program-badsplash");
  ConfigureProjects(dir);
  dir.Write("splash.bmp", "not a bitmap");
  Recorder recorder;
  ui::DialogAnswers answers;
  QPointer<app::TfrmSplash> hidden;
  {
    app::Program program(apptest::TestEnvironment(dir, &recorder));
    EXPECT_FALSE(program.ended_during_startup());
    hidden = program.hidden_splash();
    ASSERT_FALSE(hidden.isNull());
    EXPECT_FALSE(hidden->isVisible());
    ProcessDeferredDeletes();
  }
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, messages[1].text);
  EXPECT_TRUE(hidden.isNull());  // gone with the program
  EXPECT_EQ(recorder.steps, (std::vector<std::string>{"update", "close"}));
}

}  // namespace
