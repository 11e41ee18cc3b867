// Shows the program's windows and the standard dialogs it opens, one after another, and
// saves a picture of the whole screen for each into the folder given as the first argument.
// The second argument is a basic database to list. Meant for a private X server with a
// window manager, so that the pictures show the title bars as a user sees them. Prints the
// main window's status text on its own line ("状態表示: …"), by which a caller can tell that
// the database was listed.
//
// The run: a settings file naming a database that is gone (the warning about it), the open
// dialog of start-up (answered with the given database), the main window with its settings
// tab and its project tab, the password window, the export window and its completion box,
// the colour dialog.
#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/environment.h"
#include "app/main_window.h"
#include "app/program.h"
#include "db/ui/export_window.h"
#include "gis/ui/password_window.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "ui/qt_text.h"

namespace {

QString g_folder;

// Lets the window manager map and decorate what was just shown.
void Settle() {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 700) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

void Shoot(const QString& name) {
  Settle();
  const QString file = g_folder + QLatin1Char('/') + name + QStringLiteral(".png");
  if (!QGuiApplication::primaryScreen()->grabWindow(0).save(file)) {
    std::fprintf(stderr, "quorvel-screenshots: cannot write %s\n", qPrintable(file));
  }
}

// Waits (in the modal loop that is about to start) for a modal window of type T, takes its
// picture and then answers it with `answer`.
template <typename T>
void WhenModal(const QString& name, std::function<void(T*)> answer) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, name, answer] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    Shoot(name);
    answer(modal);
  });
  poll->start(100);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "使い方: quorvel-screenshots 出力フォルダ 基本データベース\n");
    return 2;
  }
  app::AddFontSubstitutions();
  app::InstallQtTranslations();
  g_folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_folder);
  const QString database = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();

  QTemporaryDir program_directory;
  const std::filesystem::path settings =
      platform::ToPath(ui::ToU16(program_directory.path())) / "ProjectQuorvel.ini";
  platform::WriteProfileString(settings, u"作業環境", u"基本データベース",
                               ui::ToU16(program_directory.path() + QStringLiteral("/gone.mdb")));
  platform::WriteProfileString(settings, u"作業環境", u"スプラッシュ画像表示時間", u"0");

  app::AppEnvironment environment = app::ProductionEnvironment();
  environment.program_directory = ui::ToU16(program_directory.path()) + u"/";
  environment.check_for_update = [] {};
  environment.send_close_and_quit = [] {};

  WhenModal<QMessageBox>(QStringLiteral("01-missing-database"), [&](QMessageBox* box) {
    WhenModal<QFileDialog>(QStringLiteral("02-file-dialog"), [database](QFileDialog* dialog) {
      // The dialog takes the file once it has read the file's folder; accepting at once
      // would find the name box still empty.
      dialog->selectFile(database);
      QTimer::singleShot(700, dialog, [dialog, database] {
        // Typed into the name box as a user would, then the dialog's own accepting.
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
          name->setText(database);
        }
        static_cast<QDialog*>(dialog)->accept();  // virtual: the file dialog's own accepting
      });
    });
    box->accept();
  });
  app::Program program(environment);
  app::TfrmMain* main = program.main_window();
  if (program.ended_during_startup()) return 1;
  main->show();
  Shoot(QStringLiteral("03-main-settings"));
  const QByteArray status = main->StatusText1->text().toUtf8();
  std::printf("状態表示: %s\n", status.constData());
  std::fflush(stdout);
  main->PageControl1->setCurrentIndex(0);
  Shoot(QStringLiteral("04-main-projects"));
  main->PageControl1->setCurrentIndex(1);

  program.password_window()->editPassword->setText(QStringLiteral("abc"));
  program.password_window()->ShowPasswordWindow();
  Shoot(QStringLiteral("05-password"));
  program.password_window()->hide();

  TfrmExportSQLite* export_window = program.export_window();
  export_window->editSQLiteFname->setText(program_directory.path() +
                                          QStringLiteral("/mobile.sqlite"));
  export_window->ShowCentered();
  Shoot(QStringLiteral("06-export"));
  WhenModal<QMessageBox>(QStringLiteral("07-export-done"), [](QMessageBox* box) { box->accept(); });
  export_window->bbtnStart->click();

  WhenModal<QColorDialog>(QStringLiteral("08-colour-dialog"),
                          [](QColorDialog* dialog) { dialog->reject(); });
  main->BitBtn1->click();
  main->close();
  return 0;
}
