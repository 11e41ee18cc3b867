// What the stand-in programs for the GIS application and the updater share: their arguments,
// a log file beside the executable, stop requests, and a main window owned by a second window
// showing a few lines of text. stub_common.cpp holds what is the same on every system;
// stub_os_x11.cpp (POSIX with Xlib) and stub_os_win32.cpp (Win32) the rest, one of them
// chosen by CMake.
#ifndef QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_
#define QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace stub {

// Tabs, line ends and backslashes written as \t, \n, \r and \\ so that one record stays on
// one line.
std::string Escape(std::string_view text);

// Bytes as lower-case hexadecimal digits.
std::string Hex(std::string_view bytes);

// This program's process id.
int64_t ProcessId();

// The program's arguments in UTF-8, without the program itself. On Windows the command line
// is one text: everything after the program (and the one blank after it) is the one argument,
// as a program that reads its command line whole takes it; nothing when that rest is empty.
std::vector<std::string> Arguments(int argc, char** argv);

// Appends records to a file beside the running executable. Each record is one line of
// tab-separated fields, written with a single appending write so that copies running at once
// do not mix their lines.
class Log {
 public:
  explicit Log(const std::string& file_name);
  void Write(const std::vector<std::string>& fields) const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Appends `text` to `file` (made when missing) in one write that lands at the file's end even
// while other processes append to it. Errors are ignored: a log must never stop a stand-in.
void AppendToFile(const std::filesystem::path& file, std::string_view text);

// Records the start: "start", process id, argument count, each argument.
void LogStart(const Log& log, const std::vector<std::string>& arguments);

// Makes StopRequested() true on SIGTERM, SIGINT and SIGHUP (on POSIX; on Windows the stand-ins
// are ended from outside, by their windows or by their commands).
void InstallStopSignals();
bool StopRequested();

// Held while a copy takes its DDE endpoint, so that of two copies starting at the same moment
// one serves and the other finds it serving. On Windows a DDE server's check for a running one
// and its registration are two steps, so the copies take a named mutex of the session around
// them; on POSIX taking the endpoint is one step and the lock does nothing.
class StartLock {
 public:
  StartLock();
  ~StartLock();
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;

 private:
  [[maybe_unused]] void* handle_ = nullptr;  // the mutex on Windows; unused on POSIX
};

// Where a window goes on the screen.
struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The stand-in's windows: a main window owned by a second one (on X11 WM_TRANSIENT_FOR, on
// Windows the owner given to CreateWindowExW), titled in UTF-8. Without a display (X11) there
// are none and every call does nothing.
class Windows {
 public:
  Windows();
  ~Windows();
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  // Whether windows can be shown.
  explicit operator bool() const;

  // Creates and shows the owner window, then the main window owned by it.
  void Show(const std::string& owner_title, const Geometry& owner, const std::string& title,
            const Geometry& main);

  // The lines of text the main window shows (drawn again at once).
  void SetLines(const std::vector<std::string>& lines);

  // Handles the window events waiting, after waiting up to `timeout_ms` for the first one.
  void Pump(int timeout_ms);

  // Whether a window was asked to close (by the window manager or the user).
  bool close_requested() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace stub

#endif  // QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_
