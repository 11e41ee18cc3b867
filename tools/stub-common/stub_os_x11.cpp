// The stand-ins on POSIX: process id and arguments, appending to the log, stop signals, and
// the windows through plain Xlib.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>

#include "tools/stub-common/stub_common.h"

namespace stub {
namespace {

std::atomic<bool> stop_requested{false};

void OnStopSignal(int) { stop_requested = true; }

}  // namespace

int64_t ProcessId() { return getpid(); }

std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

void AppendToFile(const std::filesystem::path& file, std::string_view text) {
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t written = write(fd, text.data(), text.size());
  (void)written;
  close(fd);
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

StartLock::StartLock() = default;
StartLock::~StartLock() = default;

// A connection to the display with the atoms the windows use, a font for the text, and the
// two windows once shown.
struct Windows::State {
  ::Display* display = nullptr;
  Atom wm_protocols = 0, wm_delete = 0, net_wm_name = 0, utf8_string = 0;
  XFontSet font_set = nullptr;
  XFontStruct* font = nullptr;
  GC gc = nullptr;
  Window owner = 0, main = 0;
  std::vector<std::string> lines;
  bool close_requested = false;

  Window Create(const std::string& title_utf8, const Geometry& where, Window owner_window) {
    const int screen = DefaultScreen(display);
    const Window window =
        XCreateSimpleWindow(display, RootWindow(display, screen), where.x, where.y,
                            static_cast<unsigned>(where.width), static_cast<unsigned>(where.height),
                            1, BlackPixel(display, screen), WhitePixel(display, screen));
    XChangeProperty(display, window, net_wm_name, utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title_utf8.data()),
                    static_cast<int>(title_utf8.size()));
    XChangeProperty(display, window, XA_WM_NAME, utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title_utf8.data()),
                    static_cast<int>(title_utf8.size()));
    XSetWMProtocols(display, window, &wm_delete, 1);
    if (owner_window != 0) XSetTransientForHint(display, window, owner_window);
    XSizeHints hints{};
    hints.flags = PPosition | PSize;
    hints.x = where.x;
    hints.y = where.y;
    hints.width = where.width;
    hints.height = where.height;
    XSetWMNormalHints(display, window, &hints);
    XSelectInput(display, window, ExposureMask | StructureNotifyMask);
    return window;
  }

  void Draw() {
    if (main == 0) return;
    XClearWindow(display, main);
    int y = 20;
    for (const auto& line : lines) {
      if (font_set != nullptr) {
        Xutf8DrawString(display, main, font_set, gc, 10, y, line.data(),
                        static_cast<int>(line.size()));
      } else {
        XDrawString(display, main, gc, 10, y, line.data(), static_cast<int>(line.size()));
      }
      y += 18;
    }
    XFlush(display);
  }
};

Windows::Windows() : state_(std::make_unique<State>()) {
  // Text is drawn through a font set of the UTF-8 locale when one is available.
  if (std::setlocale(LC_ALL, "") == nullptr || !XSupportsLocale()) {
    std::setlocale(LC_ALL, "C.UTF-8");
  }
  State& s = *state_;
  s.display = XOpenDisplay(nullptr);
  if (s.display == nullptr) return;
  s.wm_protocols = XInternAtom(s.display, "WM_PROTOCOLS", False);
  s.wm_delete = XInternAtom(s.display, "WM_DELETE_WINDOW", False);
  s.net_wm_name = XInternAtom(s.display, "_NET_WM_NAME", False);
  s.utf8_string = XInternAtom(s.display, "UTF8_STRING", False);
  if (XSupportsLocale()) {
    char** missing = nullptr;
    int missing_count = 0;
    char* default_string = nullptr;
    s.font_set = XCreateFontSet(s.display, "-*-*-medium-r-normal--14-*-*-*-*-*-*-*,*", &missing,
                                &missing_count, &default_string);
    if (missing != nullptr) XFreeStringList(missing);
  }
  if (s.font_set == nullptr) s.font = XLoadQueryFont(s.display, "fixed");
  s.gc = XCreateGC(s.display, DefaultRootWindow(s.display), 0, nullptr);
  XSetForeground(s.display, s.gc, BlackPixel(s.display, DefaultScreen(s.display)));
  if (s.font != nullptr) XSetFont(s.display, s.gc, s.font->fid);
}

Windows::~Windows() {
  State& s = *state_;
  if (s.display == nullptr) return;
  if (s.font_set != nullptr) XFreeFontSet(s.display, s.font_set);
  if (s.font != nullptr) XFreeFont(s.display, s.font);
  XFreeGC(s.display, s.gc);
  XCloseDisplay(s.display);
}

Windows::operator bool() const { return state_->display != nullptr; }

void Windows::Show(const std::string& owner_title, const Geometry& owner, const std::string& title,
                   const Geometry& main) {
  State& s = *state_;
  if (s.display == nullptr) return;
  s.owner = s.Create(owner_title, owner, 0);
  s.main = s.Create(title, main, s.owner);
  XMapWindow(s.display, s.owner);
  XMapWindow(s.display, s.main);
  XFlush(s.display);
}

void Windows::SetLines(const std::vector<std::string>& lines) {
  state_->lines = lines;
  if (state_->display != nullptr) state_->Draw();
}

void Windows::Pump(int timeout_ms) {
  State& s = *state_;
  if (s.display != nullptr) XFlush(s.display);
  pollfd fd{s.display != nullptr ? ConnectionNumber(s.display) : -1, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) < 0 && errno != EINTR) return;
  while (s.display != nullptr && XPending(s.display) > 0) {
    XEvent event;
    XNextEvent(s.display, &event);
    if (event.type == Expose && event.xexpose.window == s.main && event.xexpose.count == 0) {
      s.Draw();
    } else if (event.type == ClientMessage && event.xclient.message_type == s.wm_protocols &&
               static_cast<Atom>(event.xclient.data.l[0]) == s.wm_delete) {
      s.close_requested = true;
    }
  }
}

bool Windows::close_requested() const { return state_->close_requested; }

}  // namespace stub
