// The program's life: the windows in their order of creation, the message loop, and their
// destruction in reverse order. The program object owns every window; the main window is
// handed the windows it opens.
#ifndef QUORVEL_APP_PROGRAM_H_
#define QUORVEL_APP_PROGRAM_H_

#include <memory>

#include "app/environment.h"

class TfrmExportSQLite;

namespace gis {
class TfrmPassword;
}

namespace app {

class TfrmMain;
class TfrmSplash;

// Font families the windows ask for by their Windows names, mapped to the Japanese fonts of
// this system when those names are not installed.
void AddFontSubstitutions();

// Loads Qt's Japanese translation of its own texts (standard buttons, file and colour
// dialogs) from Qt's translations folder and installs it in the running application. Call
// before the first window is created. False when the translation is not installed; Qt's
// texts then stay in English.
bool InstallQtTranslations();

// The windows' icons come from the pictures built into the program and its libraries; no
// icon theme is looked for on the file system (a theme search probes thousands of paths
// before the first window appears). The program makes every window after calling this.
void UseBuiltInIcons();

class Program {
 public:
  // Creates the main window (its creation runs the start-up sequence) and, unless start-up
  // ended the program, the hidden windows.
  explicit Program(AppEnvironment environment);
  // Destroys the windows in reverse order; the main window last, running the shutdown
  // sequence.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool ended_during_startup() const;
  TfrmMain* main_window() const { return main_.get(); }
  // The hidden windows; nullptr when start-up ended the program.
  TfrmSplash* hidden_splash() const { return hidden_splash_.get(); }
  TfrmExportSQLite* export_window() const { return export_sqlite_.get(); }
  gis::TfrmPassword* password_window() const { return password_.get(); }

  // Shows the main window and runs the message loop until the main window is closed, also
  // when other windows of the program are still open. Returns at once when start-up ended
  // the program.
  int Run();

 private:
  std::unique_ptr<TfrmMain> main_;
  std::unique_ptr<TfrmSplash> hidden_splash_;
  std::unique_ptr<TfrmExportSQLite> export_sqlite_;
  std::unique_ptr<gis::TfrmPassword> password_;
};

}  // namespace app

#endif  // QUORVEL_APP_PROGRAM_H_
