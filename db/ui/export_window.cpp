// The export window: a path box with its save dialog, and the button that runs the export.
#include "db/ui/export_window.h"

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "db/basic_database.h"
#include "db/conversion.h"
#include "db/export_sqlite.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"

namespace {

constexpr int kClientWidth = 624;
constexpr int kClientHeight = 111;

// Keeps the wait cursor up while an export runs on the user-interface thread.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

TfrmExportSQLite::TfrmExportSQLite(std::function<std::u16string()> basic_database_path,
                                   QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      basic_database_path_(std::move(basic_database_path)) {
  setObjectName(QStringLiteral("frmExportSQLite"));
  setWindowTitle(QStringLiteral("SQLiteに出力する"));
  setModal(false);

  GroupBox1 = new QGroupBox(QStringLiteral("保存ファイル名の指定"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  editSQLiteFname = new QLineEdit(GroupBox1);
  editSQLiteFname->setObjectName(QStringLiteral("editSQLiteFname"));
  bbtnKihonMDB = new QPushButton(style()->standardIcon(QStyle::SP_DialogOpenButton),
                                 QStringLiteral("指定"), GroupBox1);
  bbtnKihonMDB->setObjectName(QStringLiteral("bbtnKihonMDB"));
  bbtnKihonMDB->setAutoDefault(false);
  auto* path_row = new QHBoxLayout(GroupBox1);
  path_row->setContentsMargins(8, 4, 8, 6);
  path_row->addWidget(editSQLiteFname, 1);
  path_row->addWidget(bbtnKihonMDB);

  bbtnStart = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                              QStringLiteral("実行"), this);
  bbtnStart->setObjectName(QStringLiteral("bbtnStart"));
  bbtnStart->setDefault(true);  // Enter runs the export

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);

  auto* button_row = new QHBoxLayout;
  button_row->addStretch(1);
  button_row->addWidget(bbtnStart);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(6, 3, 6, 0);
  column->setSpacing(2);
  column->addWidget(GroupBox1);
  column->addLayout(button_row);
  column->addStretch(1);
  column->addWidget(StatusBar1);
  // The designed client area, grown where the font found here needs more room than it.
  const QSize needed = minimumSizeHint();
  setFixedSize(std::max(kClientWidth, needed.width()), std::max(kClientHeight, needed.height()));

  connect(bbtnKihonMDB, &QPushButton::clicked, this,
          [this] { ui::RunReported([this] { bbtnKihonMDBClick(); }, this); });
  connect(bbtnStart, &QPushButton::clicked, this,
          [this] { ui::RunReported([this] { bbtnStartClick(); }, this); });
}

TfrmExportSQLite::~TfrmExportSQLite() = default;

ui::FileDialogOptions TfrmExportSQLite::SaveDialogSQLiteFname() {
  ui::FileDialogOptions options;
  options.title = u"SQLiteファイル名を指定してください";
  options.filters = {{u"SQLiteデータベース(*.sqlite)", u"*.sqlite"},
                     {u"全てのファイル(*.*)", u"*.*"}};
  options.default_extension = u"sqlite";
  return options;
}

void TfrmExportSQLite::ShowCentered() {
  if (!isVisible()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->geometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  show();
  raise();
  activateWindow();
}

void TfrmExportSQLite::bbtnKihonMDBClick() {
  ui::FileDialogOptions options = SaveDialogSQLiteFname();
  options.initial_path = ui::ToU16(editSQLiteFname->text());
  const std::optional<std::u16string> chosen = ui::GetSaveFileName(options, this);
  if (!chosen) {
    ui::ShowMessage(ui::MessageKind::kError, db::kNotChosenMessage, this);
    return;
  }
  editSQLiteFname->setText(ui::ToQString(*chosen));
}

void TfrmExportSQLite::bbtnStartClick() {
  const std::u16string mdb_path = basic_database_path_ ? basic_database_path_() : u"";
  const std::u16string sqlite_path = ui::ToU16(editSQLiteFname->text());
  if (sqlite_path.empty()) {
    // Nothing is written without a chosen file.
    ui::ShowMessage(ui::MessageKind::kError, db::kNotChosenMessage, this);
    return;
  }
  db::CopyCounts counts;
  {
    WaitCursor wait;
    counts = db::ExportToSQLite(sqlite_path, mdb_path, db::kProjectTable);
  }
  ui::ShowMessage(
      db::CompletionIsWarning(counts) ? ui::MessageKind::kWarning : ui::MessageKind::kInformation,
      db::CompletionMessage(counts), this);
  hide();
}
