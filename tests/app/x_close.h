// Closing a window the way a window manager's close button does, from a connection of the
// test's own (kept apart from Qt's headers: Xlib's macros collide with them).
#ifndef QUORVEL_TESTS_APP_X_CLOSE_H_
#define QUORVEL_TESTS_APP_X_CLOSE_H_

#include <cstdint>
#include <vector>

namespace apptest {

// Sends WM_DELETE_WINDOW to the top-level window `window` on the display named by DISPLAY.
void RequestWindowClose(uint64_t window);

// The window manager's view: the active window (0 for none), the managed windows from bottom
// to top, whether a window is kept above the others.
uint64_t ActiveWindow();
std::vector<uint64_t> StackingOrder();
bool KeptAbove(uint64_t window);

// Minimises a window the way a user does, through the window manager.
void Minimize(uint64_t window);

}  // namespace apptest

#endif  // QUORVEL_TESTS_APP_X_CLOSE_H_
