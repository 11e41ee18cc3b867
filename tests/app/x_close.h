// Closing a window the way a window manager's close button does, from a connection of the
// test's own (kept apart from Qt's headers: Xlib's macros collide with them).
#ifndef QUORVEL_TESTS_APP_X_CLOSE_H_
#define QUORVEL_TESTS_APP_X_CLOSE_H_

#include <cstdint>

namespace apptest {

// Sends WM_DELETE_WINDOW to the top-level window `window` on the display named by DISPLAY.
void RequestWindowClose(uint64_t window);

}  // namespace apptest

#endif  // QUORVEL_TESTS_APP_X_CLOSE_H_
