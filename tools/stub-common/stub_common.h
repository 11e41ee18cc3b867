// What the stand-in programs for the GIS application and the updater share: a log file beside
// the executable, and a plain Xlib window with a UTF-8 title and a few lines of text.
#ifndef QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_
#define QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_

#include <X11/Xlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace stub {

// Tabs, line ends and backslashes written as \t, \n, \r and \\ so that one record stays on
// one line.
std::string Escape(std::string_view text);

// Bytes as lower-case hexadecimal digits.
std::string Hex(std::string_view bytes);

// Appends records to a file beside the running executable. Each record is one line of
// tab-separated fields, written with a single write so that copies running at once do not
// mix their lines.
class Log {
 public:
  explicit Log(const std::string& file_name);
  void Write(const std::vector<std::string>& fields) const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Records the start: "start", process id, argument count, each argument.
void LogStart(const Log& log, int argc, char** argv);

// A connection to the display with the atoms the stubs use; nothing when there is no display.
class Display {
 public:
  Display();
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;
  explicit operator bool() const { return display_ != nullptr; }
  ::Display* get() const { return display_; }
  int fd() const;

  // A top-level window with the title set as _NET_WM_NAME (UTF-8) and WM_NAME, closable by
  // the window manager, optionally owned by `owner` (WM_TRANSIENT_FOR). Not yet mapped.
  Window CreateWindow(const std::string& title_utf8, int x, int y, int width, int height,
                      Window owner = 0);
  // Draws UTF-8 lines of text into the window (after clearing it).
  void DrawLines(Window window, const std::vector<std::string>& lines);
  bool IsDeleteRequest(const XEvent& event) const;

 private:
  ::Display* display_ = nullptr;
  Atom wm_protocols_ = 0, wm_delete_ = 0, net_wm_name_ = 0, utf8_string_ = 0;
  XFontSet font_set_ = nullptr;
  XFontStruct* font_ = nullptr;
  GC gc_ = nullptr;
};

// Installs handlers that make StopRequested() true on SIGTERM, SIGINT and SIGHUP.
void InstallStopSignals();
bool StopRequested();

}  // namespace stub

#endif  // QUORVEL_TOOLS_STUB_COMMON_STUB_COMMON_H_
