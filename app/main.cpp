// ProjectQuorvel: lists the GIS projects of the basic database and opens them in the GIS
// application. It reads no command-line arguments.
#include <QApplication>

#include "app/environment.h"
#include "app/program.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  app::AddFontSubstitutions();
  int result = 0;
  {
    app::Program program(app::ProductionEnvironment());
    result = program.Run();
  }
  return result;
}
