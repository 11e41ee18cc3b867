#include "x_close.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace apptest {

void RequestWindowClose(uint64_t window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<Window>(window);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, static_cast<Window>(window), False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
}

namespace {

// The root's or a window's property of 32-bit items.
std::vector<uint64_t> Longs(Display* display, Window window, const char* name, Atom type) {
  std::vector<uint64_t> values;
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 16, False,
                         type, &actual, &format, &count, &remaining, &data) == Success &&
      data != nullptr && format == 32) {
    const auto* items = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < count; ++i) values.push_back(items[i]);
  }
  if (data != nullptr) XFree(data);
  return values;
}

template <typename F>
auto WithDisplay(F f) -> decltype(f(static_cast<Display*>(nullptr))) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return {};
  auto result = f(display);
  XCloseDisplay(display);
  return result;
}

}  // namespace

uint64_t ActiveWindow() {
  return WithDisplay([](Display* d) -> uint64_t {
    const auto active = Longs(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active.empty() ? 0 : active[0];
  });
}

std::vector<uint64_t> StackingOrder() {
  return WithDisplay([](Display* d) {
    return Longs(d, DefaultRootWindow(d), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
  });
}

bool KeptAbove(uint64_t window) {
  return WithDisplay([window](Display* d) {
    const auto above = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
    for (uint64_t state : Longs(d, static_cast<Window>(window), "_NET_WM_STATE", XA_ATOM)) {
      if (state == above) return true;
    }
    return false;
  });
}

void Minimize(uint64_t window) {
  WithDisplay([window](Display* d) {
    XIconifyWindow(d, static_cast<Window>(window), DefaultScreen(d));
    XSync(d, False);
    return true;
  });
}

}  // namespace apptest
