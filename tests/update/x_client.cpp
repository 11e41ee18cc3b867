#include "x_client.h"

#include <X11/Xlib.h>

namespace update_test {
namespace {

Display* D(void* p) { return static_cast<Display*>(p); }

}  // namespace

XClient::XClient() : display_(XOpenDisplay(nullptr)) {
  // Requests about windows that went away must not end the test.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
}

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(D(display_));
}

uint64_t XClient::FocusWindow() const {
  if (display_ == nullptr) return 0;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(D(display_), &focus, &revert);
  return focus == PointerRoot ? 0 : focus;
}

uint64_t XClient::CreateWindow(const char* title) {
  if (display_ == nullptr) return 0;
  Display* d = D(display_);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
  XStoreName(d, w, title);
  XMapWindow(d, w);
  XSync(d, False);
  return w;
}

}  // namespace update_test
