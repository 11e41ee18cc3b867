#include "app/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <functional>

#include "app/lifecycle.h"
#include "app/project_model.h"
#include "app/row_colour.h"
#include "app/splash.h"
#include "db/basic_database.h"
#include "db/import_sqlite.h"
#include "db/startup.h"
#include "db/ui/export_window.h"
#include "gis/dde_channel.h"
#include "gis/project_row.h"
#include "gis/ui/password_window.h"
#include "lib/process.h"
#include "lib/tclib.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"
#include "update/update_check.h"

namespace app {

namespace {

constexpr int kDesignedClientWidth = 624;
constexpr int kDesignedClientHeight = 817;

// The grid of the project tab: its rows follow the height of its font; Enter (either key)
// opens the current project.
class ProjectGrid : public QTableView {
 public:
  using QTableView::QTableView;

  std::function<void()> on_enter;

 protected:
  void changeEvent(QEvent* event) override {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitRowsToFont();
  }

  void keyPressEvent(QKeyEvent* event) override {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier && on_enter) {
      on_enter();
      event->accept();
      return;
    }
    QTableView::keyPressEvent(event);
  }

 public:
  void FitRowsToFont() { verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4); }
};

QPixmap MagnifierIcon() {
  QPixmap icon(25, 25);
  icon.fill(Qt::transparent);
  QPainter painter(&icon);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(90, 90, 90), 4, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(15.5, 15.5), QPointF(22.5, 22.5));
  painter.setPen(QPen(QColor(40, 80, 140), 2.5));
  painter.setBrush(QColor(200, 228, 250));
  painter.drawEllipse(QPointF(10, 10), 7.5, 7.5);
  painter.setPen(QPen(Qt::white, 1.5));
  painter.drawArc(QRectF(5.5, 5.5, 9, 9), 100 * 16, 70 * 16);
  return icon;
}

// The designed positions leave room for the system's Japanese UI font. Where the font found
// here is wider, the letters move closer together (never overlapping) until the text fits
// the room it was designed for.
void FitTextWidth(QWidget* widget, int available) {
  widget->adjustSize();
  const int excess = widget->width() - available;
  const int letters = static_cast<int>(widget->property("text").toString().size());
  if (excess <= 0 || letters < 2) return;
  QFont font = widget->font();
  const qreal tighter = std::min<qreal>(2.0, static_cast<qreal>(excess) / (letters - 1) + 0.1);
  font.setLetterSpacing(QFont::AbsoluteSpacing, -tighter);
  widget->setFont(font);
  widget->adjustSize();
}

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, const QString& text, int x, int y,
                   int width) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(x, y, width, 21);
  return edit;
}

QPushButton* AddFolderButton(QWidget* parent, const char* name) {
  auto* button = new QPushButton(QStringLiteral("選択"), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(parent->style()->standardIcon(QStyle::SP_DirOpenIcon));
  button->setGeometry(5, 14, 52, 25);
  return button;
}

QGroupBox* AddGroup(QWidget* parent, const char* name, const QString& caption, int x, int y,
                    int width, int height) {
  auto* group = new QGroupBox(caption, parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(x, y, width, height);
  return group;
}

}  // namespace

ui::FileDialogOptions KihonMdbDialogOptions() {
  ui::FileDialogOptions options;
  options.title = u"基本データベースの選択";
  options.filters = {{u"Mobile Quorvelデータベース", u"*.mdb;*.sqlite"},
                     {u"全てのファイル(*.*)", u"*.*"}};
  return options;
}

ui::FileDialogOptions QuorvelPathDialogOptions() {
  ui::FileDialogOptions options;
  options.title = u"GIS Quorvelのモジュール(exe)を選択してください";
  options.filters = {{u"GIS Quorvel(quorvel.exe)", u"quorvel.exe"},
                     {u"全てのファイル(*.*)", u"*.*"}};
  options.default_extension = u"exe";
  return options;
}

TfrmMain::TfrmMain(AppEnvironment environment, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::WindowStaysOnTopHint),
      environment_(std::move(environment)),
      connection_(std::make_unique<jet::Connection>()),
      dataset_(std::make_unique<jet::Dataset>(connection_.get())) {
  BuildControls();
  ui::RunReported([&] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
  hide();
  ui::RunReported([&] { FormDestroy(); });
  // The grid must not outlive the dataset behind its model.
  DBGrid1->setModel(nullptr);
  model_.reset();
}

void TfrmMain::SetExportWindow(TfrmExportSQLite* window) { export_window_ = window; }

void TfrmMain::SetPasswordWindow(gis::TfrmPassword* window) { password_window_ = window; }

TfrmExportSQLite* TfrmMain::export_window() const { return export_window_; }

gis::TfrmPassword* TfrmMain::password_window() const { return password_window_; }

TfrmSplash* TfrmMain::startup_splash() const { return startup_splash_; }

void TfrmMain::BuildControls() {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("プロジェクトクォルヴェル"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  QMenu* file_menu = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file_menu->setObjectName(QStringLiteral("File1"));
  SQLite1 = file_menu->addAction(QStringLiteral("モバイルクォルヴェル用(SQLite)に書き出す(&S)"));
  SQLite1->setObjectName(QStringLiteral("SQLite1"));
  connect(SQLite1, &QAction::triggered, this, [this] { ui::RunReported([&] { SQLite1Click(); }); });

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(29);
  auto* strip = new QHBoxLayout(Panel1);
  strip->setContentsMargins(0, 1, 1, 1);
  strip->setSpacing(0);
  Image1 = new QLabel(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setFixedSize(28, 27);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setPixmap(MagnifierIcon());
  editKeyword = new QLineEdit(Panel1);
  editKeyword->setObjectName(QStringLiteral("editKeyword"));
  editKeyword->setFont(QFont(QStringLiteral("ＭＳ Ｐ明朝"), 12));
  editKeyword->setToolTip(QStringLiteral("キーワードを入れると絞込み検索ができます。"));
  editKeyword->setMinimumHeight(27);
  strip->addWidget(Image1);
  strip->addWidget(editKeyword, 1);
  column->addWidget(Panel1);

  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  TabSheet1 = new QWidget();
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet3 = new QWidget();
  TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
  PageControl1->addTab(TabSheet1, QStringLiteral("プロジェクト"));
  PageControl1->addTab(TabSheet3, QStringLiteral("設定"));
  column->addWidget(PageControl1, 1);
  setCentralWidget(central);

  // The project grid.
  auto* grid = new ProjectGrid(TabSheet1);
  DBGrid1 = grid;
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setToolTip(QStringLiteral("ダブルクリックで開きます"));
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->setShowGrid(true);
  DBGrid1->setWordWrap(false);
  DBGrid1->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 16));
  DBGrid1->horizontalHeader()->setFont(QFont(QStringLiteral("Tahoma"), 8));
  DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  DBGrid1->horizontalHeader()->setStretchLastSection(false);
  DBGrid1->horizontalHeader()->setHighlightSections(false);
  DBGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  DBGrid1->verticalHeader()->setFont(QFont(QStringLiteral("Tahoma"), 8));
  DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  DBGrid1->verticalHeader()->setFixedWidth(12);
  DBGrid1->verticalHeader()->setSectionsClickable(false);
  grid->FitRowsToFont();
  auto* grid_layout = new QVBoxLayout(TabSheet1);
  grid_layout->setContentsMargins(0, 0, 0, 0);
  grid_layout->addWidget(DBGrid1);

  model_ = std::make_unique<ProjectTableModel>(dataset_.get());
  model_->setObjectName(QStringLiteral("DataSourceT_projectMain"));
  DBGrid1->setModel(model_.get());
  DBGrid1->setColumnWidth(0, 262);
  DBGrid1->setItemDelegate(new AlternateRowDelegate(
      DBGrid1, [this] { return ui::ToU16(editColorGridalternately->text()); }));
  connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            OnCurrentRowChanged(current.isValid() ? current.row() : -1);
          });
  DBGrid1->viewport()->installEventFilter(this);
  BuildGridHabits();

  BuildSettingsTab();

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(19);
  StatusText1 = new QLabel(StatusBar1);
  StatusText1->setObjectName(QStringLiteral("StatusText1"));
  StatusBar1->addWidget(StatusText1, 1);
  setStatusBar(StatusBar1);
  StatusBar1->installEventFilter(this);
  StatusText1->installEventFilter(this);

  PageControl1->setCurrentWidget(TabSheet3);

  connect(editKeyword, &QLineEdit::textChanged, this, [this] { editKeywordChange(); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
  connect(bbtnKihonMDB, &QPushButton::clicked, this,
          [this] { ui::RunReported([&] { bbtnKihonMDBClick(); }, this); });
  connect(bbtnQuorvelPath, &QPushButton::clicked, this,
          [this] { ui::RunReported([&] { bbtnQuorvelPathClick(); }, this); });
  connect(BitBtn1, &QPushButton::clicked, this,
          [this] { ui::RunReported([&] { BitBtn1Click(); }, this); });
  connect(editColorGridalternately, &QLineEdit::textChanged, DBGrid1->viewport(),
          [this] { DBGrid1->viewport()->update(); });

  resize(kDesignedClientWidth, kDesignedClientHeight + menuBar()->sizeHint().height());
}

void TfrmMain::BuildSettingsTab() {
  GroupBox5 = AddGroup(TabSheet3, "GroupBox5", QStringLiteral("基本データベース"), 0, 5, 613, 46);
  bbtnKihonMDB = AddFolderButton(GroupBox5, "bbtnKihonMDB");
  editKihonMDB = AddEdit(GroupBox5, "editKihonMDB", QString(), 63, 17, 541);

  GroupBox2 =
      AddGroup(TabSheet3, "GroupBox2",
               QStringLiteral("GIS Quorvelのパス（指定なしで同フォルダにあるとみなします）"), 0, 57,
               613, 46);
  bbtnQuorvelPath = AddFolderButton(GroupBox2, "bbtnQuorvelPath");
  editQuorvelPath = AddEdit(GroupBox2, "editQuorvelPath", QString(), 63, 17, 541);

  GroupBox1 =
      AddGroup(TabSheet3, "GroupBox1", QStringLiteral("スプラッシュ画像表示時間"), 3, 109, 142, 50);
  editSplashTime = AddEdit(GroupBox1, "editSplashTime", QStringLiteral("1000"), 12, 20, 61);
  AddLabel(GroupBox1, QStringLiteral("ミリ秒"), 88, 24);

  GroupBox3 = AddGroup(TabSheet3, "GroupBox3", QStringLiteral("グリッドの設定"), 148, 109, 465, 50);
  FitTextWidth(AddLabel(GroupBox3, QStringLiteral("フォントサイズ"), 8, 23), 80 - 8 - 2);
  editGridFontSize = AddEdit(GroupBox3, "editGridFontSize", QStringLiteral("14"), 80, 20, 41);
  FitTextWidth(AddLabel(GroupBox3, QStringLiteral("タイトル"), 128, 23), 169 - 128 - 2);
  editGridTitle = AddEdit(GroupBox3, "editGridTitle", QStringLiteral("主題図"), 169, 20, 105);
  BitBtn1 = new QPushButton(QStringLiteral("交互行の背景色"), GroupBox3);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(277, 18, 89, 25);
  editColorGridalternately = AddEdit(GroupBox3, "editColorGridalternately", QString(), 370, 20, 88);

  GroupBox4 = AddGroup(TabSheet3, "GroupBox4", QStringLiteral("その他"), 3, 165, 178, 50);
  ckQuitAll = new QCheckBox(QStringLiteral("終了時にはクォルヴェルも終了する"), GroupBox4);
  ckQuitAll->setObjectName(QStringLiteral("ckQuitAll"));
  ckQuitAll->move(9, 22);
  FitTextWidth(ckQuitAll, 178 - 9 - 3);
  ckQuitAll->setChecked(true);
  KeepNumberBoxesAscii();
}

void TfrmMain::BuildGridHabits() {
  // Tab and Shift+Tab leave the list for the next or previous control; the arrow keys move
  // between rows.
  DBGrid1->setTabKeyNavigation(false);
  static_cast<ProjectGrid*>(DBGrid1)->on_enter = [this] {
    ui::RunReported([&] { DBGrid1DblClick(); }, this);
  };
  DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = DBGrid1->indexAt(at);
    if (!index.isValid()) return;
    QMenu* menu = ProjectMenu(index.row());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(DBGrid1->viewport()->mapToGlobal(at));
  });
}

QMenu* TfrmMain::ProjectMenu(int row) {
  if (row >= 0 && row < model_->rowCount()) DBGrid1->setCurrentIndex(model_->index(row, 0));
  auto* menu = new QMenu(DBGrid1);
  menu->setObjectName(QStringLiteral("ProjectMenu"));
  const auto add = [&](const QString& text, void (TfrmMain::*handler)()) {
    QAction* action = menu->addAction(text);
    connect(action, &QAction::triggered, this,
            [this, handler] { ui::RunReported([&] { (this->*handler)(); }, this); });
    return action;
  };
  add(QStringLiteral("開く"), &TfrmMain::DBGrid1DblClick);
  add(QStringLiteral("フォルダを開く"), &TfrmMain::OpenProjectFolder);
  add(QStringLiteral("パスをコピー"), &TfrmMain::CopyProjectPath);
  return menu;
}

void TfrmMain::OpenProjectFolder() {
  const std::u16string file = gis::CurrentRowText(*dataset_, gis::kFileNameField);
  if (file.empty()) return;
  // A relative path is taken from the current directory, as when the project is opened.
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::absolute(platform::ToPath(file), error).parent_path();
  if (error || !std::filesystem::is_directory(folder, error)) {
    ui::ShowMessage(ui::MessageKind::kWarning,
                    u"フォルダが見つかりませんでした。\r" + platform::FromPath(folder), this);
    return;
  }
  const std::u16string folder_text = platform::FromPath(folder);
  const bool shown =
      environment_.open_folder
          ? environment_.open_folder(folder_text)
          : QDesktopServices::openUrl(QUrl::fromLocalFile(ui::ToQString(folder_text)));
  if (!shown) {
    ui::ShowMessage(ui::MessageKind::kWarning, u"フォルダを開けませんでした。\r" + folder_text,
                    this);
  }
}

void TfrmMain::CopyProjectPath() {
  const std::u16string file = gis::CurrentRowText(*dataset_, gis::kFileNameField);
  QGuiApplication::clipboard()->setText(ui::ToQString(file));
}

void TfrmMain::KeepNumberBoxesAscii() {
  for (QLineEdit* box : {editSplashTime, editGridFontSize}) {
    connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
      const QString ascii = ui::ToQString(tclib::AsciiDigits(ui::ToU16(text)));
      if (ascii == text) return;
      const int cursor = box->cursorPosition();  // the length does not change
      box->setText(ascii);
      box->setCursorPosition(cursor);
    });
  }
}

void TfrmMain::FormCreate() { RunStartupSequence(*this); }

void TfrmMain::FormDestroy() { RunShutdownSequence(*this); }

std::array<std::pair<std::u16string WorkSettings::*, QLineEdit*>, kWorkSettings.size()>
TfrmMain::SettingBoxes() const {
  return {{
      {&WorkSettings::basic_database, editKihonMDB},
      {&WorkSettings::splash_time, editSplashTime},
      {&WorkSettings::quorvel_path, editQuorvelPath},
      {&WorkSettings::grid_font_size, editGridFontSize},
      {&WorkSettings::grid_title, editGridTitle},
      {&WorkSettings::grid_alternate_colour, editColorGridalternately},
  }};
}

void TfrmMain::ShowWorkSettings(const WorkSettings& settings) {
  for (const auto& [field, box] : SettingBoxes()) box->setText(ui::ToQString(settings.*field));
}

WorkSettings TfrmMain::WorkSettingsFromBoxes() const {
  WorkSettings settings;
  for (const auto& [field, box] : SettingBoxes()) settings.*field = ui::ToU16(box->text());
  // Numbers are saved in ASCII digits, also when a program or a paste put full-width ones in.
  settings.splash_time = tclib::AsciiDigits(settings.splash_time);
  settings.grid_font_size = tclib::AsciiDigits(settings.grid_font_size);
  return settings;
}

void TfrmMain::ApplyGridSettings(const WorkSettings& settings) {
  const std::optional<GridFontSize> font_size =
      GridFontSizeOf(tclib::StrToInt(settings.grid_font_size));
  QFont font = DBGrid1->font();
  if (font_size && font_size->pixels) {
    font.setPixelSize(font_size->size);
  } else if (font_size) {
    font.setPointSize(font_size->size);
  }
  DBGrid1->setFont(font);
  model_->setHeaderData(0, Qt::Horizontal, ui::ToQString(settings.grid_title));
}

bool TfrmMain::OpenBasicDatabaseAtStartup() {
  db::StartupIo io;
  io.connection = connection_.get();
  io.dataset = dataset_.get();
  io.get_configured_path = [this] { return ui::ToU16(editKihonMDB->text()); };
  io.set_configured_path = [this](const std::u16string& path) {
    editKihonMDB->setText(ui::ToQString(path));
  };
  // A question or a warning during start-up takes the splash window down first: it stays on
  // top of other windows on Windows and would cover the dialog.
  const auto clear_splash = [this] {
    if (startup_splash_ != nullptr) startup_splash_->hide();
  };
  io.choose_file = [clear_splash] {
    clear_splash();
    return ui::GetOpenFileName(KihonMdbDialogOptions());
  };
  io.show_error = [clear_splash](std::u16string_view text) {
    clear_splash();
    ui::ShowMessage(ui::MessageKind::kError, text);
  };
  io.show_warning = [clear_splash](std::u16string_view text) {
    clear_splash();
    ui::ShowMessage(ui::MessageKind::kWarning, text);
  };
  io.set_status = [this](const std::u16string& text) { SetStatusText(text); };
  io.import_sqlite_to_jet = db::StartupImport([clear_splash](std::u16string_view text) {
    clear_splash();
    ui::ShowMessage(ui::MessageKind::kWarning, text);
  });
  db::StartupResult result;
  {
    ProjectTableModel::ResetScope reset(model_.get());
    result = db::OpenBasicDatabaseAtStartup(io);
  }
  SyncCurrentRow();
  return result != db::StartupResult::kEndProgram;
}

void TfrmMain::CheckForUpdate() {
  if (environment_.check_for_update) {
    environment_.check_for_update();
    return;
  }
  update::CheckForUpdate(ProgramPath(), [this](std::u16string_view text) { SetStatusText(text); });
}

void TfrmMain::SendCloseAndQuit() {
  if (environment_.send_close_and_quit) {
    environment_.send_close_and_quit();
    return;
  }
  // A GIS application that is not running is left alone: sending the close command would
  // start one just to close it.
  if (!gis::GisApplicationRunning()) return;
  // At shutdown the window is hidden already and the closing request changes nothing.
  gis::SendCloseAndQuit(
      [](std::u16string_view text) { ui::ShowMessage(ui::MessageKind::kWarning, text); },
      [this] {
        if (isVisible()) close();
      });
}

void TfrmMain::DBGrid1DblClick() {
  // A project whose file is gone is named at once, before its password is asked for.
  const std::u16string file = gis::CurrentRowText(*dataset_, gis::kFileNameField);
  if (!file.empty() && !gis::FileExists(file)) {
    ui::ShowMessage(ui::MessageKind::kWarning, gis::ProjectMissingBeforeStartMessage(file), this);
    return;
  }
  gis::ProjectDoubleClicked(ProjectOpeningContext(this), [this] {
    if (password_window_ == nullptr) return;
    password_window_->ShowPasswordWindow(gis::CurrentRowText(*dataset_, u"TITLE"));
  });
}

gis::OpenProjectContext ProjectOpeningContext(TfrmMain* window) {
  gis::OpenProjectContext context;
  context.read_filename = [window] {
    return gis::CurrentRowText(window->ADODataSetT_projectMain(), gis::kFileNameField);
  };
  context.read_password = [window] {
    return gis::CurrentRowText(window->ADODataSetT_projectMain(), gis::kPasswordField);
  };
  context.quorvel_path_setting = [window] { return ui::ToU16(window->editQuorvelPath->text()); };
  context.warn = [window](std::u16string_view text) {
    ui::ShowMessage(ui::MessageKind::kWarning, text, window);
  };
  context.program_directory = window->environment().program_directory;
  return context;
}

void TfrmMain::StatusBar1DblClick() {
  update::MainWindowParts parts;
  parts.status_text = [this] { return StatusText(); };
  parts.left = [this] { return x(); };
  parts.width = [this] { return frameGeometry().width(); };
  parts.set_left = [this](int left) { move(left, y()); };
  parts.show_warning = [this](std::u16string_view text) {
    ui::ShowMessage(ui::MessageKind::kWarning, text, this);
  };
  update::StatusBar1DblClick(ProgramPath(), parts, tclib::LaunchOrActivate);
}

std::u16string TfrmMain::ProgramPath() const {
  return environment_.program_path.empty() ? platform::ProgramPath() : environment_.program_path;
}

void TfrmMain::SQLite1Click() {
  if (export_window_ != nullptr) export_window_->ShowCentered();
}

void TfrmMain::PageControl1Change() {}

std::u16string TfrmMain::StatusText() const { return ui::ToU16(StatusText1->text()); }

void TfrmMain::SetStatusText(std::u16string_view text) {
  StatusText1->setText(ui::ToQString(text));
}

void TfrmMain::ApplyKeywordFilter(std::u16string_view keyword) {
  {
    ProjectTableModel::ResetScope reset(model_.get());
    db::ApplyKeywordFilter(*dataset_, keyword,
                           [this](const std::u16string& text) { SetStatusText(text); });
  }
  SyncCurrentRow();
}

void TfrmMain::editKeywordChange() {
  ui::RunReported([&] { ApplyKeywordFilter(ui::ToU16(editKeyword->text())); }, this);
}

void TfrmMain::bbtnKihonMDBClick() {
  ui::FileDialogOptions options = KihonMdbDialogOptions();
  options.initial_path = ui::ToU16(editKihonMDB->text());
  if (std::optional<std::u16string> path = ui::GetOpenFileName(options, this)) {
    editKihonMDB->setText(ui::ToQString(*path));
  } else {
    ui::ShowMessage(ui::MessageKind::kError, kNothingChosenMessage, this);
  }
}

void TfrmMain::bbtnQuorvelPathClick() {
  ui::FileDialogOptions options = QuorvelPathDialogOptions();
  options.initial_path = ui::ToU16(editQuorvelPath->text());
  if (std::optional<std::u16string> path = ui::GetOpenFileName(options, this)) {
    editQuorvelPath->setText(ui::ToQString(*path));
  } else {
    ui::ShowMessage(ui::MessageKind::kError, kNothingChosenMessage, this);
  }
}

void TfrmMain::BitBtn1Click() {
  std::u16string text;
  PickGridColor(text, this);
  if (!text.empty()) editColorGridalternately->setText(ui::ToQString(text));
}

void TfrmMain::FormResize() { DBGrid1->setColumnWidth(0, frameGeometry().width() - 10); }

void TfrmMain::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == DBGrid1->viewport()) {
      ui::RunReported([&] { DBGrid1DblClick(); }, this);
    } else if (watched == StatusBar1 || watched == StatusText1) {
      ui::RunReported([&] { StatusBar1DblClick(); }, this);
      // Handled here: the label would pass the event on to the bar, which would run the
      // handler a second time (two updater starts, two moves).
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::SyncCurrentRow() {
  if (model_->rowCount() > 0) {
    DBGrid1->setCurrentIndex(model_->index(0, 0));
    OnCurrentRowChanged(0);
  } else {
    model_->SetCurrentRow(-1);
  }
}

void TfrmMain::OnCurrentRowChanged(int row) {
  model_->SetCurrentRow(row);
  if (row >= 0 && dataset_->active() && row < dataset_->record_count()) {
    dataset_->MoveTo(row + 1);
  }
}

}  // namespace app
