#include "tools/stub-common/stub_common.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstring>

#include "platform/program_path.h"
#include "platform/text.h"

namespace stub {
namespace {

std::atomic<bool> stop_requested{false};

void OnStopSignal(int) { stop_requested = true; }

}  // namespace

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

Log::Log(const std::string& file_name)
    : path_(platform::ToPath(platform::ProgramDirectory()) / file_name) {}

void Log::Write(const std::vector<std::string>& fields) const {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back('\t');
    line += fields[i];
  }
  line.push_back('\n');
  const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t written = write(fd, line.data(), line.size());
  (void)written;
  close(fd);
}

void LogStart(const Log& log, int argc, char** argv) {
  std::vector<std::string> fields{"start", std::to_string(getpid()), std::to_string(argc - 1)};
  for (int i = 1; i < argc; ++i) fields.push_back(Escape(argv[i]));
  log.Write(fields);
}

Display::Display() {
  // Text is drawn through a font set of the UTF-8 locale when one is available.
  if (std::setlocale(LC_ALL, "") == nullptr || !XSupportsLocale()) {
    std::setlocale(LC_ALL, "C.UTF-8");
  }
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) return;
  wm_protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
  wm_delete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  net_wm_name_ = XInternAtom(display_, "_NET_WM_NAME", False);
  utf8_string_ = XInternAtom(display_, "UTF8_STRING", False);
  if (XSupportsLocale()) {
    char** missing = nullptr;
    int missing_count = 0;
    char* default_string = nullptr;
    font_set_ = XCreateFontSet(display_, "-*-*-medium-r-normal--14-*-*-*-*-*-*-*,*", &missing,
                               &missing_count, &default_string);
    if (missing != nullptr) XFreeStringList(missing);
  }
  if (font_set_ == nullptr) font_ = XLoadQueryFont(display_, "fixed");
  gc_ = XCreateGC(display_, DefaultRootWindow(display_), 0, nullptr);
  XSetForeground(display_, gc_, BlackPixel(display_, DefaultScreen(display_)));
  if (font_ != nullptr) XSetFont(display_, gc_, font_->fid);
}

Display::~Display() {
  if (display_ == nullptr) return;
  if (font_set_ != nullptr) XFreeFontSet(display_, font_set_);
  if (font_ != nullptr) XFreeFont(display_, font_);
  XFreeGC(display_, gc_);
  XCloseDisplay(display_);
}

int Display::fd() const { return display_ != nullptr ? ConnectionNumber(display_) : -1; }

Window Display::CreateWindow(const std::string& title_utf8, int x, int y, int width, int height,
                             Window owner) {
  const int screen = DefaultScreen(display_);
  const Window window = XCreateSimpleWindow(
      display_, RootWindow(display_, screen), x, y, static_cast<unsigned>(width),
      static_cast<unsigned>(height), 1, BlackPixel(display_, screen), WhitePixel(display_, screen));
  XChangeProperty(display_, window, net_wm_name_, utf8_string_, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title_utf8.data()),
                  static_cast<int>(title_utf8.size()));
  XChangeProperty(display_, window, XA_WM_NAME, utf8_string_, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title_utf8.data()),
                  static_cast<int>(title_utf8.size()));
  XSetWMProtocols(display_, window, &wm_delete_, 1);
  if (owner != 0) XSetTransientForHint(display_, window, owner);
  XSizeHints hints{};
  hints.flags = PPosition | PSize;
  hints.x = x;
  hints.y = y;
  hints.width = width;
  hints.height = height;
  XSetWMNormalHints(display_, window, &hints);
  XSelectInput(display_, window, ExposureMask | StructureNotifyMask);
  return window;
}

void Display::DrawLines(Window window, const std::vector<std::string>& lines) {
  XClearWindow(display_, window);
  int y = 20;
  for (const auto& line : lines) {
    if (font_set_ != nullptr) {
      Xutf8DrawString(display_, window, font_set_, gc_, 10, y, line.data(),
                      static_cast<int>(line.size()));
    } else {
      XDrawString(display_, window, gc_, 10, y, line.data(), static_cast<int>(line.size()));
    }
    y += 18;
  }
  XFlush(display_);
}

bool Display::IsDeleteRequest(const XEvent& event) const {
  return event.type == ClientMessage && event.xclient.message_type == wm_protocols_ &&
         static_cast<Atom>(event.xclient.data.l[0]) == wm_delete_;
}

void InstallStopSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

bool StopRequested() { return stop_requested; }

}  // namespace stub
