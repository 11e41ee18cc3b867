// The export window: the user names a SQLite file and copies the project table of the basic
// database into it for the mobile edition.
#ifndef QUORVEL_DB_UI_EXPORT_WINDOW_H_
#define QUORVEL_DB_UI_EXPORT_WINDOW_H_

#include <QDialog>
#include <functional>
#include <string>

#include "ui/dialogs.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QStatusBar;

// The program creates one, hidden, at start-up and hands it to the main window. Shown not
// modally from the main window's File menu; hidden again after a successful export,
// keeping its contents. The basic database is read from the main window's path box at the
// moment "実行" is clicked, through `basic_database_path`.
class TfrmExportSQLite : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmExportSQLite(std::function<std::u16string()> basic_database_path,
                            QWidget* parent = nullptr);
  ~TfrmExportSQLite() override;

  // Shows the window centred on the screen (it stays where it is when already visible).
  void ShowCentered();

  // The save dialog's settings.
  static ui::FileDialogOptions SaveDialogSQLiteFname();

  // Event handlers of the two buttons.
  void bbtnKihonMDBClick();
  void bbtnStartClick();

  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* editSQLiteFname = nullptr;
  QPushButton* bbtnKihonMDB = nullptr;
  QPushButton* bbtnStart = nullptr;
  QStatusBar* StatusBar1 = nullptr;

 private:
  std::function<std::u16string()> basic_database_path_;
};

#endif  // QUORVEL_DB_UI_EXPORT_WINDOW_H_
