// The main window: the keyword box, the project and settings tabs, the status bar and the
// menu. Its creation runs the start-up sequence and its destruction the shutdown sequence
// (both in app/lifecycle.cpp).
#ifndef QUORVEL_APP_MAIN_WINDOW_H_
#define QUORVEL_APP_MAIN_WINDOW_H_

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "app/environment.h"
#include "app/work_settings.h"
#include "gis/open_project.h"
#include "jet/jet.h"
#include "ui/dialogs.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTableView;
class TfrmExportSQLite;

namespace gis {
class TfrmPassword;
}

namespace app {

class ProjectTableModel;
class TfrmSplash;

inline constexpr std::u16string_view kNothingChosenMessage = u"選択されませんでした";

// The two file dialogs of the settings tab (the first one is also the start-up choice).
ui::FileDialogOptions KihonMdbDialogOptions();
ui::FileDialogOptions QuorvelPathDialogOptions();

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs the start-up sequence (FormCreate); an error there is shown
  // through the default error report and ends only the sequence.
  explicit TfrmMain(AppEnvironment environment, QWidget* parent = nullptr);
  // Hides the window and runs the shutdown sequence (FormDestroy).
  ~TfrmMain() override;

  // The windows the main window opens, owned by the program object and handed over once
  // they exist; either may be missing (start-up ended early, or a test builds the main
  // window alone), and then its menu item or double-click does nothing.
  void SetExportWindow(TfrmExportSQLite* window);
  void SetPasswordWindow(gis::TfrmPassword* window);
  TfrmExportSQLite* export_window() const;
  gis::TfrmPassword* password_window() const;

  // The splash window shown during start-up, a child of this window; nullptr once start-up
  // has taken it down (or never showed it).
  TfrmSplash* startup_splash() const;

  // True when start-up ended the program (no basic database chosen, or the new basic
  // database exists): the window is then never shown.
  bool ended_during_startup() const { return ended_during_startup_; }

  const AppEnvironment& environment() const { return environment_; }
  std::u16string SettingsFile() const { return SettingsFilePath(environment_); }

  // The status bar's one text.
  std::u16string StatusText() const;
  void SetStatusText(std::u16string_view text);

  // The data objects of the window.
  jet::Connection& ADOConnectionMain() { return *connection_; }
  jet::Dataset& ADODataSetT_projectMain() { return *dataset_; }
  ProjectTableModel* DataSourceT_projectMain() { return model_.get(); }

  // Runs the keyword filter over the project dataset and updates the grid and status bar.
  void ApplyKeywordFilter(std::u16string_view keyword);

  // The project list's menu for the row `row` (made the current row first): "開く",
  // "フォルダを開く" and "パスをコピー". The caller owns the menu.
  QMenu* ProjectMenu(int row);
  // The menu's actions on the current row: the folder holding the project file in the
  // desktop's file manager, and the project file's path to the clipboard.
  void OpenProjectFolder();
  void CopyProjectPath();

  // Controls, by their object names.
  QAction* SQLite1 = nullptr;
  QWidget* Panel1 = nullptr;
  QLabel* Image1 = nullptr;
  QLineEdit* editKeyword = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet3 = nullptr;
  QTableView* DBGrid1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusText1 = nullptr;  // the status bar's single text
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  QGroupBox* GroupBox5 = nullptr;
  QPushButton* bbtnKihonMDB = nullptr;
  QLineEdit* editKihonMDB = nullptr;
  QPushButton* bbtnQuorvelPath = nullptr;
  QLineEdit* editQuorvelPath = nullptr;
  QLineEdit* editSplashTime = nullptr;
  QLineEdit* editGridFontSize = nullptr;
  QLineEdit* editGridTitle = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QLineEdit* editColorGridalternately = nullptr;
  QCheckBox* ckQuitAll = nullptr;

 signals:
  // The window has been closed (close box, system menu, Alt+F4 or a close request): the
  // program's run ends, whatever other window is open.
  void closed();

 public slots:
  void editKeywordChange();
  void bbtnKihonMDBClick();
  void bbtnQuorvelPathClick();
  void BitBtn1Click();
  void PageControl1Change();
  // Hooks for the other parts of the program.
  void DBGrid1DblClick();
  void StatusBar1DblClick();
  void SQLite1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The start-up and shutdown sequences work through the private steps below.
  friend void RunStartupSequence(TfrmMain& window);
  friend void RunShutdownSequence(TfrmMain& window);

  void BuildControls();
  void BuildSettingsTab();
  // The grid's keyboard and pointer habits: Enter opens, Tab leaves, the row menu.
  void BuildGridHabits();
  // Full-width digits typed into the number boxes become ASCII digits at once.
  void KeepNumberBoxesAscii();
  void FormCreate();
  void FormDestroy();
  void FormResize();
  // The one binding between the work-environment settings and the boxes of the settings
  // tab: each field of WorkSettings with the box that holds it while the program runs.
  std::array<std::pair<std::u16string WorkSettings::*, QLineEdit*>, kWorkSettings.size()>
  SettingBoxes() const;
  // Puts the settings into the boxes.
  void ShowWorkSettings(const WorkSettings& settings);
  // The boxes' texts, as they are saved.
  WorkSettings WorkSettingsFromBoxes() const;
  // Sets the grid's font size and its one column's caption from the settings. Raises
  // "'%s' は整数ではありません" when the font size is not an integer; the caption is then
  // not applied.
  void ApplyGridSettings(const WorkSettings& settings);
  // The start-up step that opens the basic database. Returns false when the program is to
  // end.
  bool OpenBasicDatabaseAtStartup();
  // The last steps of start-up and of shutdown: the update check and the GIS close command.
  void CheckForUpdate();
  void SendCloseAndQuit();
  // The environment's program path, or the running executable's when it names none.
  std::u16string ProgramPath() const;
  // Makes the grid's current row the dataset's current row (the first after a requery).
  void SyncCurrentRow();
  void OnCurrentRowChanged(int row);

  AppEnvironment environment_;
  std::unique_ptr<jet::Connection> connection_;
  std::unique_ptr<jet::Dataset> dataset_;
  // The grid's data source, owned here alone (no Qt parent); declared after the dataset it
  // reads, and taken from the grid before it goes.
  std::unique_ptr<ProjectTableModel> model_;
  QPointer<TfrmSplash> startup_splash_;
  // Owned by the program object; QPointer so that a window destroyed first is never reached.
  QPointer<TfrmExportSQLite> export_window_;
  QPointer<gis::TfrmPassword> password_window_;
  bool ended_during_startup_ = false;
};

// What opening the current project works on: the main dataset's current row, the GIS path
// setting, warnings over the main window, the program directory.
gis::OpenProjectContext ProjectOpeningContext(TfrmMain* window);

}  // namespace app

#endif  // QUORVEL_APP_MAIN_WINDOW_H_
