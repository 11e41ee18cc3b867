// Windows of other programs on X11 through Xlib. Every call opens its own connection to the
// display named by DISPLAY and closes it before returning; X errors (a window that vanished
// meanwhile) are swallowed for the duration of the call.
#include "platform/window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"

namespace platform {
namespace {

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// A display connection with X errors ignored while it lives.
class Connection {
 public:
  Connection() : display_(XOpenDisplay(nullptr)) {
    if (display_ != nullptr) previous_handler_ = XSetErrorHandler(IgnoreXError);
  }
  ~Connection() {
    if (display_ == nullptr) return;
    XSync(display_, False);
    XCloseDisplay(display_);
    XSetErrorHandler(previous_handler_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* get() const { return display_; }
  explicit operator bool() const { return display_ != nullptr; }
  Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

 private:
  Display* display_;
  XErrorHandler previous_handler_ = nullptr;
};

// The property's raw bytes, or nothing when the window has none of that type.
std::optional<std::string> ReadProperty(const Connection& x, Window window, Atom property,
                                        Atom type) {
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x.get(), window, property, 0, 1 << 16, False, type, &actual_type,
                         &actual_format, &count, &remaining, &data) != Success) {
    return std::nullopt;
  }
  std::optional<std::string> result;
  if (data != nullptr && actual_type == type && actual_format == 8) {
    result.emplace(reinterpret_cast<const char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return result;
}

// The first `count` numbers of a format-32 property of that type (Xlib hands them out as
// longs), or nothing when the window has fewer or none.
std::optional<std::vector<long>> ReadLongs(const Connection& x, Window window, Atom property,
                                           Atom type, unsigned long count) {
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long got = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::optional<std::vector<long>> result;
  if (XGetWindowProperty(x.get(), window, property, 0, static_cast<long>(count), False, type,
                         &actual_type, &actual_format, &got, &remaining, &data) == Success &&
      actual_type == type && actual_format == 32 && got >= count && data != nullptr) {
    const long* values = reinterpret_cast<const long*>(data);
    result.emplace(values, values + count);
  }
  if (data != nullptr) XFree(data);
  return result;
}

// Sends a window-manager request about `window` (a client message to the root window).
void SendToWindowManager(const Connection& x, Window window, Atom message_type,
                         std::initializer_list<long> data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = message_type;
  event.xclient.format = 32;
  int i = 0;
  for (long value : data) event.xclient.data.l[i++] = value;
  XSendEvent(x.get(), DefaultRootWindow(x.get()), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// _NET_WM_NAME (UTF-8), else WM_NAME in its own encoding.
std::optional<std::u16string> WindowTitle(const Connection& x, Window window) {
  if (auto name = ReadProperty(x, window, x.atom("_NET_WM_NAME"), x.atom("UTF8_STRING"))) {
    return base::FromUtf8(*name);
  }
  XTextProperty text{};
  if (XGetWMName(x.get(), window, &text) == 0 || text.value == nullptr) return std::nullopt;
  std::optional<std::u16string> title;
  const std::string_view bytes(reinterpret_cast<const char*>(text.value), text.nitems);
  if (text.encoding == XA_STRING) {  // ISO 8859-1
    std::u16string latin1;
    for (char c : bytes) latin1.push_back(static_cast<unsigned char>(c));
    title = latin1;
  } else if (text.encoding == x.atom("UTF8_STRING")) {
    title = base::FromUtf8(bytes);
  } else {
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(x.get(), &text, &list, &count) >= Success && count > 0 &&
        list != nullptr) {
      title = base::FromUtf8(list[0]);
    }
    if (list != nullptr) XFreeStringList(list);
  }
  XFree(text.value);
  return title;
}

bool HasWmState(const Connection& x, Window window) {
  const Atom wm_state = x.atom("WM_STATE");
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const bool ok = XGetWindowProperty(x.get(), window, wm_state, 0, 2, False, wm_state, &actual_type,
                                     &actual_format, &count, &remaining, &data) == Success &&
                  actual_type == wm_state;
  if (data != nullptr) XFree(data);
  return ok;
}

std::vector<Window> Children(const Connection& x, Window window) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<Window> result;
  if (XQueryTree(x.get(), window, &root, &parent, &children, &count) != 0 && children != nullptr) {
    result.assign(children, children + count);
  }
  if (children != nullptr) XFree(children);
  return result;
}

// Under a window manager a program's top-level window sits inside a frame; the program's
// window is the descendant that carries WM_STATE.
Window ClientWindow(const Connection& x, Window window, int depth) {
  if (HasWmState(x, window)) return window;
  if (depth == 0) return 0;
  for (Window child : Children(x, window)) {
    if (Window found = ClientWindow(x, child, depth - 1)) return found;
  }
  return 0;
}

}  // namespace

WindowHandle FindTopLevelWindow(std::u16string_view title) {
  Connection x;
  if (!x) return 0;
  const auto top_level = Children(x, DefaultRootWindow(x.get()));
  // XQueryTree lists bottom to top; the topmost match wins.
  for (auto it = top_level.rbegin(); it != top_level.rend(); ++it) {
    if (auto own = WindowTitle(x, *it); own && *own == title) return *it;
    const Window client = ClientWindow(x, *it, 3);
    if (client != 0 && client != *it) {
      if (auto name = WindowTitle(x, client); name && *name == title) return client;
    }
  }
  return 0;
}

WindowHandle GetOwnerWindow(WindowHandle window) {
  Connection x;
  if (!x || window == 0) return 0;
  Window owner = 0;
  if (XGetTransientForHint(x.get(), static_cast<Window>(window), &owner) == 0) return 0;
  return owner == DefaultRootWindow(x.get()) ? 0 : owner;
}

bool IsWindowMinimized(WindowHandle window) {
  Connection x;
  if (!x || window == 0) return false;
  const Atom wm_state = x.atom("WM_STATE");
  const auto state = ReadLongs(x, static_cast<Window>(window), wm_state, wm_state, 1);
  return state && (*state)[0] == IconicState;
}

void RestoreWindow(WindowHandle window) {
  Connection x;
  if (!x || window == 0) return;
  // Mapping an iconic window asks the window manager to return it to the normal state.
  XMapWindow(x.get(), static_cast<Window>(window));
}

void BringWindowToForeground(WindowHandle window) {
  Connection x;
  if (!x || window == 0) return;
  Display* d = x.get();
  const Window root = DefaultRootWindow(d);
  const Window target = static_cast<Window>(window);
  bool has_manager = false;
  unsigned char* data = nullptr;
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long count = 0, remaining = 0;
  if (XGetWindowProperty(d, root, x.atom("_NET_SUPPORTING_WM_CHECK"), 0, 1, False, XA_WINDOW,
                         &actual_type, &actual_format, &count, &remaining, &data) == Success &&
      actual_type == XA_WINDOW && count == 1 && data != nullptr) {
    has_manager = true;
  }
  if (data != nullptr) XFree(data);
  if (has_manager) {
    // Source 2: a pager-like tool acting for the user.
    SendToWindowManager(x, target, x.atom("_NET_ACTIVE_WINDOW"), {2, CurrentTime, 0});
  } else {
    XRaiseWindow(d, target);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(d, target, &attributes) != 0 && attributes.map_state == IsViewable) {
      XSetInputFocus(d, target, RevertToParent, CurrentTime);
    }
  }
}

namespace {

// The four numbers of _NET_FRAME_EXTENTS (left, right, top, bottom), when the window has them.
std::optional<FrameExtents> ReadFrameExtents(const Connection& x, Window window) {
  const auto values = ReadLongs(x, window, x.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, 4);
  if (!values) return std::nullopt;
  return FrameExtents{static_cast<int>((*values)[0]), static_cast<int>((*values)[1]),
                      static_cast<int>((*values)[2]), static_cast<int>((*values)[3])};
}

}  // namespace

std::optional<FrameExtents> RequestFrameExtents(WindowHandle window, int timeout_ms) {
  Connection x;
  if (!x || window == 0) return std::nullopt;
  const Window target = static_cast<Window>(window);
  if (auto known = ReadFrameExtents(x, target)) return known;
  // Without a window manager that names itself on the root window nobody would answer; do
  // not wait for an answer then.
  if (!ReadLongs(x, DefaultRootWindow(x.get()), x.atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW, 1)) {
    return std::nullopt;
  }
  // The window manager answers the request by setting _NET_FRAME_EXTENTS on the window.
  SendToWindowManager(x, target, x.atom("_NET_REQUEST_FRAME_EXTENTS"), {});
  XSync(x.get(), False);
  constexpr int kStepMs = 10;
  for (int waited = 0; waited < timeout_ms; waited += kStepMs) {
    if (auto extents = ReadFrameExtents(x, target)) return extents;
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
  }
  return ReadFrameExtents(x, target);
}

}  // namespace platform
