// Japanese texts in the windows as the user meets them: Qt's own dialogs and buttons in
// Japanese, and no caption or label cut by the room it is given. CTest runs these at 100 %
// and at 150 % scale (QT_SCALE_FACTOR), where the font's rounding differs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include "app/main_window.h"
#include "app/program.h"
#include "app_test_support.h"
#include "db/ui/export_window.h"
#include "gis/ui/password_window.h"
#include "platform/text.h"
#include "ui/dialogs.h"

namespace {

using apptest::ScratchDir;

// Latin letters other than a keyboard mnemonic such as the "N" of "ファイル名(&N):".
bool HasLatinLetters(const QString& text) {
  QString words = text;
  words.remove(QRegularExpression(QStringLiteral("&.")));
  return words.contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
}

std::string Describe(const QWidget* widget) {
  return widget->objectName().toStdString() + " (" + widget->metaObject()->className() + ") at " +
         qgetenv("QT_SCALE_FACTOR").toStdString();
}

// Every label, button, check box and group box caption among `form`'s children gets at least
// the width its text needs, and lies inside its parent.
void ExpectNothingCut(QWidget* form) {
  for (QWidget* widget : form->findChildren<QWidget*>()) {
    if (widget->isHidden() && widget->isWindow()) continue;
    const QRect inside = widget->parentWidget()->rect();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      // The caption sits on the frame, indented; a group narrower than that cuts it.
      const int caption = group->fontMetrics().horizontalAdvance(group->title());
      EXPECT_GE(group->width(), caption + 8) << Describe(widget);
      EXPECT_TRUE(inside.contains(widget->geometry())) << Describe(widget);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      // A push button's size hint has a least width of its own; what must fit is the text
      // (and the icon before it) inside the button's frame.
      const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
      const int text = button->fontMetrics().horizontalAdvance(button->text());
      EXPECT_GE(button->width(), icon + text + 4) << Describe(widget);
      EXPECT_TRUE(inside.contains(widget->geometry())) << Describe(widget);
    } else if (qobject_cast<QLabel*>(widget) != nullptr ||
               qobject_cast<QCheckBox*>(widget) != nullptr) {
      if (widget->sizeHint().isEmpty()) continue;
      EXPECT_GE(widget->width(), widget->sizeHint().width()) << Describe(widget);
      EXPECT_TRUE(inside.contains(widget->geometry())) << Describe(widget);
    }
  }
}

TEST(QtTexts, StandardButtonsAndDialogsAreJapanese) {
  ASSERT_TRUE(app::InstallQtTranslations()) << "qt6-translations-l10n is not installed";
  QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                           QDialogButtonBox::Save);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));

  QFileDialog files;
  files.setOption(QFileDialog::DontUseNativeDialog, true);
  for (const QFileDialog::DialogLabel label :
       {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType, QFileDialog::Reject}) {
    EXPECT_FALSE(HasLatinLetters(files.labelText(label))) << files.labelText(label).toStdString();
  }
  QColorDialog colours;
  colours.setOption(QColorDialog::DontUseNativeDialog, true);
  EXPECT_FALSE(HasLatinLetters(colours.windowTitle())) << colours.windowTitle().toStdString();
}

TEST(TextFit, PasswordWindow) {
  gis::TfrmPassword window([] { return gis::OpenProjectContext(); });
  window.show();
  // The label "パスワード" keeps its whole width, left of the entry, inside the window.
  EXPECT_GE(window.Label1->width(), window.Label1->sizeHint().width());
  EXPECT_GE(window.Label1->x(), 0);
  EXPECT_LT(window.Label1->geometry().right(), window.editPassword->x());
  EXPECT_EQ(window.editPassword->width(), 228);
  // The designed client area is the least size.
  EXPECT_GE(window.width(), 304);
  EXPECT_GE(window.height(), 97);
  ExpectNothingCut(&window);
}

TEST(TextFit, ExportWindow) {
  TfrmExportSQLite window([] { return std::u16string(); });
  window.show();
  window.layout()->activate();
  EXPECT_GE(window.width(), 624);
  EXPECT_GE(window.height(), 111);
  EXPECT_GE(window.height(), window.minimumSizeHint().height());
  ExpectNothingCut(&window);
}

TEST(TextFit, MainWindowSettingsTab) {
  ScratchDir dir("textfit");
  apptest::WriteSetting(dir, u"作業環境", u"基本データベース",
                        platform::FromPath(apptest::kProjects));
  apptest::Recorder recorder;
  ui::DialogAnswers answers;
  app::TfrmMain window(apptest::TestEnvironment(dir, &recorder));
  window.show();
  ExpectNothingCut(window.PageControl1->widget(1));
}

TEST(TextFit, MessageBoxesLeaveRoomForTheirCaption) {
  QFont font = QApplication::font();
  for (const std::u16string caption : {u"情報", u"警告", u"エラー", u"Projectquorvel"}) {
    const int least = ui::MessageBoxMinimumWidth(caption, font);
    EXPECT_GE(least,
              QFontMetrics(font).horizontalAdvance(QString::fromStdU16String(caption)) + 100);
  }
}

}  // namespace
