// The password window, offscreen, with dialogs answered by the test seam.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "gis/ui/password_window.h"
#include "platform/error.h"
#include "tests/support/test_env.h"
#include "ui/dialogs.h"
#include "ui/qt_text.h"

namespace {

namespace fs = std::filesystem;

QApplication& App() {
  static int argc = 1;
  static char name[] = "gis_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

class PasswordWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    App();
    fs::create_directories(dir_.path() / "p");
    std::ofstream(dir_.path() / "p" / "a.qvp") << "x";
    filename_ = base::FromUtf8((dir_.path() / "p" / "a.qvp").string());
    window_ = std::make_unique<gis::TfrmPassword>([this] {
      gis::OpenProjectContext c;
      c.read_filename = [this] { return filename_; };
      c.read_password = [this] { return password_; };
      c.quorvel_path_setting = [] { return std::u16string(); };
      c.warn = [](std::u16string_view) { ADD_FAILURE() << "the window sets its own warning"; };
      c.count_processes = [](std::u16string_view) { return 1; };  // a GIS application runs
      c.send_read_project = [this](std::u16string_view file) {
        if (fail_open_) throw platform::Error(u"プロセスの生成に失敗しました");
        opened_.emplace_back(file);
      };
      return c;
    });
  }

  void Type(const QString& text) { window_->editPassword->setText(text); }

  gistest::TempDir dir_;
  ui::DialogAnswers answers_;
  std::u16string filename_, password_ = u"Secret";
  std::vector<std::u16string> opened_;
  bool fail_open_ = false;
  std::unique_ptr<gis::TfrmPassword> window_;
};

TEST_F(PasswordWindowTest, LayoutAsDesigned) {
  gis::TfrmPassword& w = *window_;
  EXPECT_EQ(w.objectName(), "frmPassword");
  EXPECT_EQ(w.windowTitle(), QStringLiteral("パスワード認証"));
  EXPECT_EQ(w.size(), QSize(304, 97));
  const Qt::WindowFlags flags = w.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(w.isModal());
  EXPECT_EQ(w.Label1->objectName(), "Label1");
  EXPECT_EQ(w.Label1->text(), QStringLiteral("パスワード"));
  EXPECT_LT(w.Label1->geometry().right(), w.editPassword->x());
  EXPECT_EQ(w.editPassword->width(), 228);
  EXPECT_EQ(w.editPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(w.BitBtn1->objectName(), "BitBtn1");
  EXPECT_EQ(w.BitBtn1->text(), QStringLiteral("認証"));
  EXPECT_EQ(w.BitBtn1->size(), QSize(121, 25));
  EXPECT_FALSE(w.BitBtn1->icon().isNull());
  EXPECT_TRUE(w.BitBtn1->isDefault());
  EXPECT_GT(w.BitBtn1->y(), w.editPassword->geometry().bottom());
  EXPECT_LE(std::abs(w.BitBtn1->x() * 2 + 121 - 304), 1);  // centred
  EXPECT_EQ(w.editPassword->nextInFocusChain(), w.BitBtn1);
  EXPECT_TRUE(w.rect().contains(w.BitBtn1->geometry()));
  EXPECT_TRUE(w.rect().contains(w.editPassword->geometry()));
}

TEST_F(PasswordWindowTest, WrongPasswordsAreRefusedAndTheTextKept) {
  window_->ShowPasswordWindow();
  ASSERT_TRUE(window_->isVisible());
  for (const QString& typed : {QStringLiteral("secret"), QStringLiteral("SECRET"),
                               QStringLiteral(" Secret"), QStringLiteral("Secret "), QString()}) {
    answers_.Clear();
    Type(typed);
    window_->BitBtn1->click();
    const auto messages = answers_.messages();
    ASSERT_EQ(messages.size(), 1u) << typed.toStdString();
    EXPECT_EQ(messages[0].kind, ui::MessageKind::kWarning);
    EXPECT_EQ(messages[0].caption, u"警告");
    EXPECT_EQ(messages[0].text, u"設定されているパスワードと一致しません");
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->editPassword->text(), typed);
  }
  EXPECT_TRUE(opened_.empty());
}

TEST_F(PasswordWindowTest, RightPasswordOpensHidesAndTheNextShowingStartsEmpty) {
  window_->ShowPasswordWindow(u"川の地図");
  Type(QStringLiteral("Secret"));
  window_->BitBtn1->click();
  EXPECT_TRUE(answers_.messages().empty());
  EXPECT_EQ(opened_, std::vector<std::u16string>{filename_});
  EXPECT_FALSE(window_->isVisible());
  window_->ShowPasswordWindow(u"山の地図");
  EXPECT_TRUE(window_->editPassword->text().isEmpty());
}

TEST_F(PasswordWindowTest, EnterPressesTheButton) {
  window_->ShowPasswordWindow();
  Type(QStringLiteral("Secret"));
  QTest::keyClick(window_->editPassword, Qt::Key_Return);
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(PasswordWindowTest, ComparesWithTheRowCurrentWhenPressed) {
  window_->ShowPasswordWindow();
  password_ = u"other";
  Type(QStringLiteral("Secret"));
  window_->BitBtn1->click();
  EXPECT_EQ(answers_.messages().size(), 1u);
  Type(QStringLiteral("other"));
  window_->BitBtn1->click();
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(PasswordWindowTest, AFailedOpenIsReportedAndTheWindowStays) {
  window_->ShowPasswordWindow();
  fail_open_ = true;
  Type(QStringLiteral("Secret"));
  window_->BitBtn1->click();
  const auto messages = answers_.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, ui::MessageKind::kError);
  EXPECT_EQ(messages[0].text, u"プロセスの生成に失敗しました.");
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(PasswordWindowTest, CloseBoxHidesAndShowingAgainBringsItBackEmpty) {
  window_->ShowPasswordWindow(u"a");
  Type(QStringLiteral("typed"));
  window_->close();
  EXPECT_FALSE(window_->isVisible());
  window_->ShowPasswordWindow(u"a");
  EXPECT_TRUE(window_->editPassword->text().isEmpty());
  Type(QStringLiteral("typed again"));
  window_->ShowPasswordWindow(u"b");  // already shown, for another project: to the front, empty
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->editPassword->text().isEmpty());
  EXPECT_EQ(window_->labelProject->text(), QStringLiteral("「b」のパスワードを入力してください。"));
}

// The window names the project it guards on a label of its own, above the entry and inside
// the window; a title too long for the window is shortened there and given whole as the
// label's tooltip.
TEST_F(PasswordWindowTest, NamesTheProjectItGuards) {
  const std::u16string long_title(200, u'長');
  const struct {
    std::u16string title;
    QString prompt;
  } cases[] = {
      {u"川 の 地図", QStringLiteral("「川 の 地図」のパスワードを入力してください。")},
      {u"", QStringLiteral("パスワードを入力してください。")},
      {long_title, QStringLiteral("「") + ui::ToQString(long_title) +
                       QStringLiteral("」のパスワードを入力してください。")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prompt.left(20).toStdString());
    window_->ShowPasswordWindow(c.title);
    QLabel* label = window_->labelProject;
    EXPECT_EQ(label->toolTip(), c.prompt);
    EXPECT_TRUE(label->isVisible());
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_TRUE(window_->rect().contains(label->geometry()));
    EXPECT_LT(label->geometry().bottom(), window_->editPassword->y());
    if (c.title.size() < 20) {
      EXPECT_EQ(label->text(), c.prompt);
    } else {
      EXPECT_NE(label->text(), c.prompt);
      EXPECT_TRUE(label->text().startsWith(QStringLiteral("「長")));
      EXPECT_TRUE(label->text().endsWith(QStringLiteral("」のパスワードを入力してください。")));
    }
  }
}

}  // namespace
