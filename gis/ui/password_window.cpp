#include "gis/ui/password_window.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

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

  labelProject = new QLabel(this);
  labelProject->setObjectName(QStringLiteral("labelProject"));

  Label1 = new QLabel(QStringLiteral("パスワード"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  editPassword = new QLineEdit(this);
  editPassword->setObjectName(QStringLiteral("editPassword"));
  editPassword->setEchoMode(QLineEdit::Password);
  // Every typed character shows as "*".
  editPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  Label1->setBuddy(editPassword);

  BitBtn1 = new QPushButton(QStringLiteral("認証"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setDefault(true);  // Enter in the window presses it
  BitBtn1->setAutoDefault(true);
  ArrangeControls();
  setTabOrder(editPassword, BitBtn1);
  connect(BitBtn1, &QPushButton::clicked, this, &TfrmPassword::BitBtn1Click);
}

TfrmPassword::~TfrmPassword() = default;

void TfrmPassword::ArrangeControls() {
  // The designed client area is 304 × 97 with the entry 228 wide near the right edge and
  // the label left of it. The label takes the width its text needs in the font found here;
  // when that leaves no room, the entry moves right and the window grows, rather than the
  // label being cut.
  constexpr int kEntryWidth = 228;
  constexpr int kEntryRight = 16;  // designed room right of the entry
  constexpr int kEdge = 4;         // least room at either edge
  constexpr int kGap = 4;          // between the label and the entry
  const QSize label = Label1->sizeHint();
  const int entry_height = editPassword->sizeHint().height();
  // The project's name takes one line above the entry.
  const int prompt_height =
      std::max(labelProject->sizeHint().height(), labelProject->fontMetrics().height());
  const int entry_y = 6 + prompt_height + 6;
  const int entry_x =
      std::max(kClientWidth - kEntryWidth - kEntryRight, kEdge + label.width() + kGap);
  const int width = std::max(kClientWidth, entry_x + kEntryWidth + kEdge);
  editPassword->setGeometry(entry_x, entry_y, kEntryWidth, entry_height);
  Label1->setGeometry(entry_x - kGap - label.width(), entry_y + (entry_height - label.height()) / 2,
                      label.width(), label.height());

  // The button keeps its designed 121 × 25 unless its caption needs more.
  const int button_width = std::max(121, BitBtn1->sizeHint().width());
  const int button_height = std::max(25, BitBtn1->fontMetrics().height() + 6);
  const int button_y = std::max(62, editPassword->geometry().bottom() + 1 + 8);
  BitBtn1->setGeometry((width - button_width) / 2, button_y, button_width, button_height);
  labelProject->setGeometry(12, 6, width - 24, prompt_height);
  setFixedSize(width, std::max(kClientHeight, button_y + button_height + 10));
}

std::u16string TfrmPassword::ProjectPrompt(std::u16string_view project_title) {
  if (project_title.empty()) return u"パスワードを入力してください。";
  std::u16string text = u"「";
  text += project_title;
  text += u"」のパスワードを入力してください。";
  return text;
}

void TfrmPassword::ShowPasswordWindow(std::u16string_view project_title) {
  // A long title is shortened in its middle so that the whole sentence around it fits the
  // window; the tooltip keeps it whole.
  const QString prompt = ui::ToQString(ProjectPrompt(project_title));
  QString shown = prompt;
  const QFontMetrics metrics = labelProject->fontMetrics();
  if (metrics.horizontalAdvance(prompt) > labelProject->width()) {
    const QString title = ui::ToQString(std::u16string(project_title));
    const int around = metrics.horizontalAdvance(prompt) - metrics.horizontalAdvance(title);
    shown = ui::ToQString(ProjectPrompt(ui::ToU16(
        metrics.elidedText(title, Qt::ElideMiddle, std::max(0, labelProject->width() - around)))));
  }
  labelProject->setText(shown);
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
