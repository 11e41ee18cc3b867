// The update check at start-up and the start of the updater from the status bar.
//
// At start-up the program asks, with one HTTP HEAD request, whether the distribution archive
// named in its own version block (InternalName) is newer than its executable; it asks only
// when the updater "_Updater.exe" lies beside the executable. A newer archive puts a notice in
// the main window's status bar; a double-click on the notice starts the updater, or brings it
// to the front when it already runs, and hands it the program's own path.
//
// These routines take what they act on (the program path, the status text, the window, the
// launcher) so that the main window passes in its real parts and tests pass their own.
#ifndef QUORVEL_UPDATE_UPDATE_CHECK_H_
#define QUORVEL_UPDATE_UPDATE_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "update/http_client.h"

namespace update {

inline constexpr std::u16string_view kUpdaterFileName = u"_Updater.exe";
inline constexpr std::u16string_view kUpdaterWindowTitle = u"ツール自動バージョンアップ";
inline constexpr std::u16string_view kUpdateNotice =
    u"[新]ここをダブルクリックすると自動でバージョンアップ可能です！";
inline constexpr std::u16string_view kUpdateNoticeMark = u"[新]";
inline constexpr std::u16string_view kUpdaterMissingWarning =
    u"自動バージョンアップモジュールがありません\r当社サイトよりダウンロードしてお使いください";

// Results of IsRemoteNewer.
inline constexpr int kRemoteNewer = 1;
inline constexpr int kRemoteNotNewer = 0;
inline constexpr int kNoUsableAnswer = -100;

struct UpdateCheckOptions {
  HttpClientOptions http;
  // The machine's current offset from UTC in seconds, east positive; empty asks the C library
  // (daylight saving time included when it is in effect now).
  std::function<int64_t()> utc_offset_seconds;
};

// The machine's current offset from UTC in seconds.
int64_t CurrentUtcOffsetSeconds();

// 1 when the Last-Modified time of the archive at `url` is strictly later than the
// last-write time of `local_path` cut to two-second resolution (fractions dropped, an odd
// second count lowered by one); 0 when it is not, also when Last-Modified is missing or
// unreadable; -100 when no usable answer came (no connection, time-out, a final status
// outside 200 to 299) or the local file's time cannot be read.
//
// When the request fails with status 302, HEAD is sent once more to that response's Location
// (resolved against the URL that gave it); an error of this second request is not caught.
int IsRemoteNewer(std::u16string_view url, std::u16string_view local_path,
                  const UpdateCheckOptions& options = {});

// Receives the new status-bar text.
using StatusTextSink = std::function<void(std::u16string_view)>;

// Exactly "ON" puts the notice into the status bar; any other text empties it.
void ShowUpdateNotice(std::u16string_view state, const StatusTextSink& set_status_text);

// The program directory (the program path up to and including its last separator) followed by
// "_Updater.exe".
std::u16string UpdaterPath(std::u16string_view program_path);

// The start-up check: reads the archive URL from the version block of `program_path` (NUL
// characters removed; a block without translation raises "情報の取得に失敗しました" even when
// no updater exists), then, only when a file lies at the updater path, asks IsRemoteNewer and
// shows the notice for 1 or empties the status text otherwise. Without an updater no request
// is sent and the status text is not touched.
void CheckForUpdate(std::u16string_view program_path, const StatusTextSink& set_status_text,
                    const UpdateCheckOptions& options = {});

// Starts `executable_path` with one argument, or brings the owner of the window titled
// `window_title` to the front when that window exists; raises "プロセスの生成に失敗しました".
using LaunchOrActivateFunction =
    std::function<void(std::u16string_view executable_path, std::u16string_view argument,
                       std::u16string_view window_title)>;

// The parts of the main window that a double-click on the status bar uses.
struct MainWindowParts {
  std::function<std::u16string()> status_text;
  std::function<int()> left;
  std::function<int()> width;
  std::function<void(int)> set_left;
  std::function<void(std::u16string_view)> show_warning;  // a warning box with an OK button
};

// The double-click on the status bar: when the status text starts with "[新]" and the updater
// exists, moves the window right by half its width (truncated toward zero) and then launches
// or activates the updater with the program path as its argument; when the updater is missing,
// shows the warning kUpdaterMissingWarning and leaves the window where it is.
void StatusBar1DblClick(std::u16string_view program_path, const MainWindowParts& window,
                        const LaunchOrActivateFunction& launch_or_activate);

}  // namespace update

#endif  // QUORVEL_UPDATE_UPDATE_CHECK_H_
