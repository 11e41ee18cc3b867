#include "app/program.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QTranslator>

#include "app/main_window.h"
#include "app/splash.h"
#include "db/ui/export_window.h"
#include "gis/ui/password_window.h"
#include "ui/qt_text.h"

namespace app {

void AddFontSubstitutions() {
  const QStringList families = QFontDatabase::families();
  auto substitute = [&](const QString& windows_name, const QStringList& candidates) {
    if (families.contains(windows_name)) return;
    for (const QString& candidate : candidates) {
      if (families.contains(candidate)) {
        QFont::insertSubstitution(windows_name, candidate);
        return;
      }
    }
  };
  const QStringList gothic = {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                              QStringLiteral("IPAGothic")};
  const QStringList mincho = {QStringLiteral("Noto Serif CJK JP"), QStringLiteral("Noto Serif JP"),
                              QStringLiteral("IPAMincho"), QStringLiteral("Noto Sans CJK JP")};
  substitute(QStringLiteral("ＭＳ ゴシック"), gothic);
  substitute(QStringLiteral("ＭＳ Ｐ明朝"), mincho);
  substitute(QStringLiteral("Tahoma"),
             {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK JP")});
}

bool InstallQtTranslations() {
  // The Japanese texts of Qt's own dialogs and buttons (file and colour dialogs, "OK",
  // "キャンセル"); the translator lives as long as the application.
  // The built-in copy (the Windows build has one) comes first, then Qt's installed folder.
  auto* translator = new QTranslator(QCoreApplication::instance());
  const QStringList folders = {QStringLiteral(":/qt-translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                         QStringLiteral("_"), folder)) {
      QCoreApplication::installTranslator(translator);
      return true;
    }
  }
  delete translator;
  return false;
}

void UseBuiltInIcons() {
  // Qt takes an empty list for its default folders; a folder among the built-in resources
  // is looked at in memory only.
  const QStringList built_in = {QStringLiteral(":/icons")};
  QIcon::setThemeSearchPaths(built_in);
  QIcon::setFallbackSearchPaths(built_in);
  QIcon::setThemeName(QString());
  QIcon::setFallbackThemeName(QString());
}

Program::Program(AppEnvironment environment) {
  UseBuiltInIcons();
  main_ = std::make_unique<TfrmMain>(environment);
  if (main_->ended_during_startup()) return;
  // Closing the main window ends the run even while the export or the password window is
  // open; those are then destroyed before the main window runs the shutdown sequence.
  QObject::connect(main_.get(), &TfrmMain::closed, qApp, &QCoreApplication::quit);
  // A second splash instance, never shown, lives until the program ends.
  hidden_splash_ = std::make_unique<TfrmSplash>(environment.program_directory);
  TfrmMain* main = main_.get();
  // The export window, hidden; it reads the basic database path when its export runs.
  export_sqlite_ =
      std::make_unique<TfrmExportSQLite>([main] { return ui::ToU16(main->editKihonMDB->text()); });
  main_->SetExportWindow(export_sqlite_.get());
  // The password window, hidden; a double-click on a protected project shows it.
  password_ = std::make_unique<gis::TfrmPassword>([main] { return ProjectOpeningContext(main); });
  main_->SetPasswordWindow(password_.get());
}

Program::~Program() {
  // The main window holds the two windows through guarded pointers, which forget them here.
  password_.reset();
  export_sqlite_.reset();
  hidden_splash_.reset();
  main_.reset();
}

bool Program::ended_during_startup() const { return main_->ended_during_startup(); }

int Program::Run() {
  if (main_->ended_during_startup()) return 0;
  main_->show();
  return QApplication::exec();
}

}  // namespace app
