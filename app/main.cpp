// ProjectQuorvel: lists the GIS projects of the basic database and opens them in the GIS
// application. It reads no command-line arguments.
#include <QApplication>

#include "app/environment.h"
#include "app/program.h"
#include "gis/dde_channel.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  app::AddFontSubstitutions();
  app::InstallQtTranslations();
  int result = 0;
  // The DDE instance outlives the windows: the shutdown sequence sends its close command
  // through it.
  gis::InitializeDde();
  {
    app::Program program(app::ProductionEnvironment());
    result = program.Run();
  }
  gis::UninitializeDde();
  return result;
}
