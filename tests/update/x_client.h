// The test's own connection to the X server named by DISPLAY, kept apart from Qt's headers
// (Xlib's macros collide with them).
#ifndef QUORVEL_TESTS_UPDATE_X_CLIENT_H_
#define QUORVEL_TESTS_UPDATE_X_CLIENT_H_

#include <cstdint>

namespace update_test {

class XClient {
 public:
  XClient();
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  // The window that has the input focus, or 0.
  uint64_t FocusWindow() const;
  // A new mapped top-level window with the title.
  uint64_t CreateWindow(const char* title);

 private:
  void* display_;
};

}  // namespace update_test

#endif  // QUORVEL_TESTS_UPDATE_X_CLIENT_H_
