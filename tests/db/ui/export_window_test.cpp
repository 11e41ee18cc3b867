// The export window on Qt's offscreen platform: its controls and texts, the save dialog,
// and the export run from the "実行" button with every message it can end with.
#include "db/ui/export_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/db/sqlite_test_support.h"
#include "ui/dialogs.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"

namespace {

using db_test::RawSQLite;
using db_test::ScratchDir;
using db_test::U8;
using ui::DialogAnswers;
using ui::MessageKind;

QApplication& App() {
  static int argc = 1;
  static char name[] = "db_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

const std::u16string kProjects =
    platform::FromPath(db_test::Fixture("generated-jackcess-T_projectMain-1000.mdb"));

class ExportWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window_ = std::make_unique<TfrmExportSQLite>([this] { return basic_database_; });
  }
  std::u16string basic_database_ = kProjects;
  std::unique_ptr<TfrmExportSQLite> window_;
};

TEST_F(ExportWindowTest, ControlsTextsAndWindowKind) {
  TfrmExportSQLite& w = *window_;
  EXPECT_EQ(w.windowTitle(), QStringLiteral("SQLiteに出力する"));
  EXPECT_EQ(w.size(), QSize(624, 111));
  const Qt::WindowFlags flags = w.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(w.isModal());

  auto* group = w.findChild<QGroupBox*>(QStringLiteral("GroupBox1"));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), QStringLiteral("保存ファイル名の指定"));
  auto* edit = w.findChild<QLineEdit*>(QStringLiteral("editSQLiteFname"));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->parent(), group);
  EXPECT_TRUE(edit->text().isEmpty());
  auto* choose = w.findChild<QPushButton*>(QStringLiteral("bbtnKihonMDB"));
  ASSERT_NE(choose, nullptr);
  EXPECT_EQ(choose->parent(), group);
  EXPECT_EQ(choose->text(), QStringLiteral("指定"));
  EXPECT_FALSE(choose->icon().isNull());
  auto* start = w.findChild<QPushButton*>(QStringLiteral("bbtnStart"));
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->text(), QStringLiteral("実行"));
  EXPECT_TRUE(start->isDefault());
  EXPECT_FALSE(start->icon().isNull());
  auto* status = w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->currentMessage().isEmpty());

  const ui::FileDialogOptions options = TfrmExportSQLite::SaveDialogSQLiteFname();
  EXPECT_EQ(U8(options.title), "SQLiteファイル名を指定してください");
  ASSERT_EQ(options.filters.size(), 2u);
  EXPECT_EQ(U8(options.filters[0].name), "SQLiteデータベース(*.sqlite)");
  EXPECT_EQ(U8(options.filters[0].patterns), "*.sqlite");
  EXPECT_EQ(U8(options.filters[1].name), "全てのファイル(*.*)");
  EXPECT_EQ(U8(options.filters[1].patterns), "*.*");
  EXPECT_EQ(U8(options.default_extension), "sqlite");
}

TEST_F(ExportWindowTest, ShownCentredOnTheScreen) {
  window_->ShowCentered();
  ASSERT_TRUE(window_->isVisible());
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QPoint centre = window_->geometry().center();
  EXPECT_LE(std::abs(centre.x() - screen.center().x()), 2);
  EXPECT_LE(std::abs(centre.y() - screen.center().y()), 2);
}

TEST_F(ExportWindowTest, ChoosingAFileFillsTheBoxAndCancellingKeepsIt) {
  DialogAnswers answers;
  answers.QueueFile(u"/data/mobile/projects");
  answers.QueueFile(std::nullopt);
  window_->bbtnKihonMDB->click();
  EXPECT_EQ(window_->editSQLiteFname->text(), QStringLiteral("/data/mobile/projects.sqlite"));
  ASSERT_EQ(answers.shown().size(), 1u);
  EXPECT_EQ(answers.shown()[0].type, ui::ShownDialog::Type::kSaveFile);
  EXPECT_EQ(U8(answers.shown()[0].caption), "SQLiteファイル名を指定してください");

  window_->bbtnKihonMDB->click();
  EXPECT_EQ(window_->editSQLiteFname->text(), QStringLiteral("/data/mobile/projects.sqlite"));
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(U8(messages[0].text), "選択されませんでした");
  EXPECT_EQ(messages[0].kind, MessageKind::kError);
}

TEST_F(ExportWindowTest, EnterRunsTheExportThenTheWindowHidesAndKeepsItsPath) {
  ScratchDir dir;
  DialogAnswers answers;
  const QString target = ui::ToQString(dir.U16("mobile.sqlite"));
  window_->ShowCentered();
  window_->editSQLiteFname->setText(target);
  QTest::keyClick(window_.get(), Qt::Key_Return);
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(U8(messages[0].text), "処理完了");
  EXPECT_EQ(messages[0].kind, MessageKind::kInformation);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(window_->editSQLiteFname->text(), target);
  RawSQLite raw(dir / "mobile.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain"), "i:1000");
}

TEST_F(ExportWindowTest, TheBasicDatabaseIsReadAtTheMomentOfTheClick) {
  ScratchDir dir;
  DialogAnswers answers;
  db_test::MakeJetTable(dir / "other.mdb",
                        u"CREATE TABLE T_projectMain ([ID] Integer, [TITLE] VARCHAR(255))",
                        u"T_projectMain", {{jet::Value::Integer(1), jet::Value::Text(u"x")}});
  window_->editSQLiteFname->setText(ui::ToQString(dir.U16("o.sqlite")));
  basic_database_ = dir.U16("other.mdb");
  window_->bbtnStart->click();
  RawSQLite raw(dir / "o.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain"), "i:1");
}

TEST_F(ExportWindowTest, EmptyTargetIsRefusedAndNothingIsWritten) {
  ScratchDir dir;
  DialogAnswers answers;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  window_->ShowCentered();
  window_->bbtnStart->click();
  std::filesystem::current_path(before);
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(U8(messages[0].text), "選択されませんでした");
  EXPECT_EQ(messages[0].kind, MessageKind::kError);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(ExportWindowTest, RefusedRowsEndWithAWarningThatCountsThem) {
  ScratchDir dir;
  DialogAnswers answers;
  db_test::MakeJetTable(
      dir / "dup.mdb", u"CREATE TABLE T_projectMain ([TITLE] VARCHAR(255))", u"T_projectMain",
      {{jet::Value::Text(u"a")}, {jet::Value::Text(u"a")}, {jet::Value::Text(u"b")}});
  basic_database_ = dir.U16("dup.mdb");
  window_->editSQLiteFname->setText(ui::ToQString(dir.U16("d.sqlite")));
  window_->bbtnStart->click();
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(U8(messages[0].text), "処理完了\r1 件のレコードを書き込めませんでした");
  EXPECT_EQ(messages[0].kind, MessageKind::kWarning);
}

TEST_F(ExportWindowTest, AFailedExportIsReportedAndTheWindowStaysWithItsContents) {
  ScratchDir dir;
  DialogAnswers answers;
  {
    RawSQLite raw(dir / "keep.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (X); INSERT INTO T_projectMain VALUES (1)"), "");
  }
  const std::string before = db_test::ReadAll(dir / "keep.sqlite");
  basic_database_ = dir.U16("missing.mdb");
  window_->ShowCentered();
  window_->editSQLiteFname->setText(ui::ToQString(dir.U16("keep.sqlite")));
  window_->bbtnStart->click();
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, ui::RunningApplicationTitle());
  EXPECT_NE(U8(messages[0].text).find("missing.mdb"), std::string::npos);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(window_->editSQLiteFname->text(), ui::ToQString(dir.U16("keep.sqlite")));
  EXPECT_EQ(db_test::ReadAll(dir / "keep.sqlite"), before);
}

}  // namespace
