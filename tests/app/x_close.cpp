#include "x_close.h"

#include <X11/Xlib.h>

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

}  // namespace apptest
