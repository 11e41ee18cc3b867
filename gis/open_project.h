// Opening the selected project in the GIS application, behind its password.
//
// These procedures never open a window themselves: the main window passes in how to read the
// current row, the GIS path setting, how to show a warning and how to show the password
// window.
#ifndef QUORVEL_GIS_OPEN_PROJECT_H_
#define QUORVEL_GIS_OPEN_PROJECT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "gis/dde_channel.h"

namespace gis {

inline constexpr std::u16string_view kQuorvelExeName = u"quorvel.exe";
inline constexpr std::u16string_view kQuorvelWindowTitle = u"GIS Quorvel";
inline constexpr std::u16string_view kQuorvelMissingMessage =
    u"GIS Quorvelが見つかりません\r同じフォルダに置くか、正しいパスを指定してください";
inline constexpr std::u16string_view kProjectMissingBeforeSendMessage =
    u"このプロジェクトファイルは見つかりませんでした\r正しいパスを指定してください";
inline constexpr std::u16string_view kWrongPasswordMessage =
    u"設定されているパスワードと一致しません";

// "プロジェクトファイル\r\r" + path + "\r\rは見つかりませんでした\r正しいパスを指定してください".
std::u16string ProjectMissingBeforeStartMessage(std::u16string_view project_file);

// Whether a file (not a folder) is at `path`; a relative path is taken from the current
// directory.
bool FileExists(std::u16string_view path);

struct OpenProjectContext {
  // FILENAME and PASSWORD of the current row, read when needed (NULL or no row: empty). They
  // may raise the data layer's error.
  std::function<std::u16string()> read_filename;
  std::function<std::u16string()> read_password;
  // The text of the GIS application path setting (editQuorvelPath).
  std::function<std::u16string()> quorvel_path_setting;
  WarningFunction warn;
  // The program directory with its trailing separator; empty means the running program's.
  std::u16string program_directory;

  // Seams for tests; empty means the real facility.
  std::function<int32_t(std::u16string_view name)> count_processes;  // CountProcessesByName
  std::function<void(std::u16string_view path, std::u16string_view argument,
                     std::u16string_view title)>
      launch_or_activate;                                                   // LaunchOrActivate
  std::function<void(std::u16string_view project_file)> send_read_project;  // SendReadProject
};

// Whether a GIS application runs: a process of the executable file name "quorvel.exe", as the
// open path counts them (CountProcessesByName).
bool GisApplicationRunning();

// Opens the current row's project: sends the open command to a running GIS application, or
// first finds the GIS application and starts it (or activates its window) with the project
// file. Raises "プロセスの生成に失敗しました" when the start fails.
void OpenSelectedProject(const OpenProjectContext& context);

// The grid's double-click: a project with a password shows the password window
// (`show_password_window`), any other is opened at once.
void ProjectDoubleClicked(const OpenProjectContext& context,
                          const std::function<void()>& show_password_window);

// The password window's button: compares `typed` with the current row's password (whole
// texts, case-sensitive, nothing trimmed). On a match opens the project and returns true (the
// caller then hides the window); otherwise shows kWrongPasswordMessage and returns false.
bool AuthenticateAndOpen(const OpenProjectContext& context, std::u16string_view typed);

}  // namespace gis

#endif  // QUORVEL_GIS_OPEN_PROJECT_H_
