// What the program takes from its surroundings, passed in so that tests can choose it: the
// program directory (settings file, splash picture), the work area of the primary screen,
// the splash pause, and the actions that reach outside the program at start-up and shutdown.
#ifndef QUORVEL_APP_ENVIRONMENT_H_
#define QUORVEL_APP_ENVIRONMENT_H_

#include <QRect>
#include <functional>
#include <string>

namespace app {

inline constexpr std::u16string_view kSettingsFileName = u"ProjectQuorvel.ini";
inline constexpr std::u16string_view kSplashFileName = u"splash.bmp";

struct AppEnvironment {
  // The program directory, ending with the path separator.
  std::u16string program_directory;
  // The running executable's full path: its version block names the distribution archive,
  // and the updater beside it is handed this path. Empty means the real one.
  std::u16string program_path;
  // The work area: the primary screen without the docked bars.
  std::function<QRect()> work_area;
  // Blocks the user-interface thread for the given milliseconds (never called with a
  // negative value). No events are processed meanwhile.
  std::function<void(int)> pause;
  // When set, replace the update check of start-up and the GIS application's close command
  // of shutdown (tests use them to observe the order of the steps).
  std::function<void()> check_for_update;
  std::function<void()> send_close_and_quit;
  // When set, replaces showing a folder in the desktop's file manager (the project list's
  // "フォルダを開く"); given the folder's full path. Returns false when it could not be shown.
  std::function<bool(const std::u16string& folder)> open_folder;
};

// The running program's surroundings: its own directory, Qt's available geometry of the
// primary screen, a blocking sleep.
AppEnvironment ProductionEnvironment();

// The settings file: the program directory followed by "ProjectQuorvel.ini".
std::u16string SettingsFilePath(const AppEnvironment& environment);

}  // namespace app

#endif  // QUORVEL_APP_ENVIRONMENT_H_
