#include "app/environment.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include "lib/tclib.h"
#include "platform/program_path.h"

namespace app {

AppEnvironment ProductionEnvironment() {
  AppEnvironment environment;
  environment.program_path = platform::ProgramPath();
  environment.program_directory = tclib::ExtractDirectory(environment.program_path);
  environment.work_area = [] {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  };
  environment.pause = [](int milliseconds) {
    if (milliseconds > 0) QThread::msleep(static_cast<unsigned long>(milliseconds));
  };
  return environment;
}

std::u16string SettingsFilePath(const AppEnvironment& environment) {
  return environment.program_directory + std::u16string(kSettingsFileName);
}

}  // namespace app
