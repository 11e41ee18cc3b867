#include "gis/ui/password_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "ui/dialogs.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"

namespace gis {

namespace {

constexpr int kClientWidth = 304;
constexpr int kClientHeight = 97;

}  // namespace

TfrmPassword::TfrmPassword(std::function<OpenProjectContext()> context, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      context_(std::move(context)) {
  setObjectName(QStringLiteral("frmPassword"));
  setWindowTitle(QStringLiteral("パスワード認証"));
  setModal(false);
  setFixedSize(kClientWidth, kClientHeight);

  labelProject = new QLabel(this);
  labelProject->setObjectName(QStringLiteral("labelProject"));
  labelProject->setGeometry(12, 6, kClientWidth - 24, labelProject->sizeHint().height());

  Label1 = new QLabel(QStringLiteral("パスワード"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  editPassword = new QLineEdit(this);
  editPassword->setObjectName(QStringLiteral("editPassword"));
  editPassword->setEchoMode(QLineEdit::Password);
  // Every typed character shows as "*".
  editPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  editPassword->setGeometry(kClientWidth - 228 - 16, 28, 228, editPassword->sizeHint().height());
  Label1->adjustSize();
  Label1->move(editPassword->x() - Label1->width() - 8,
               editPassword->y() + (editPassword->height() - Label1->height()) / 2);
  Label1->setBuddy(editPassword);

  BitBtn1 = new QPushButton(QStringLiteral("認証"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setGeometry((kClientWidth - 121) / 2, 62, 121, 25);
  BitBtn1->setDefault(true);  // Enter in the window presses it
  BitBtn1->setAutoDefault(true);
  setTabOrder(editPassword, BitBtn1);
  connect(BitBtn1, &QPushButton::clicked, this, &TfrmPassword::BitBtn1Click);
}

TfrmPassword::~TfrmPassword() = default;

std::u16string TfrmPassword::ProjectPrompt(std::u16string_view project_title) {
  if (project_title.empty()) return u"パスワードを入力してください。";
  std::u16string text = u"「";
  text += project_title;
  text += u"」のパスワードを入力してください。";
  return text;
}

void TfrmPassword::ShowPasswordWindow(std::u16string_view project_title) {
  // A long title is shortened in the middle to fit the window; the tooltip keeps it whole.
  const QString prompt = ui::ToQString(ProjectPrompt(project_title));
  labelProject->setText(
      labelProject->fontMetrics().elidedText(prompt, Qt::ElideMiddle, labelProject->width()));
  labelProject->setToolTip(prompt);
  editPassword->clear();
  if (!isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->geometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  show();
  raise();
  activateWindow();
  editPassword->setFocus();
}

void TfrmPassword::BitBtn1Click() {
  ui::RunReported(
      [this] {
        OpenProjectContext context = context_();
        // The window's own warning appears above it, as the window stays on top.
        context.warn = [this](std::u16string_view text) {
          ui::ShowMessage(ui::MessageKind::kWarning, text, this);
        };
        // On a match the project is opened, then the window is hidden (and keeps its text);
        // an error while opening leaves it open.
        if (AuthenticateAndOpen(context, ui::ToU16(editPassword->text()))) close();
      },
      this);
}

}  // namespace gis
