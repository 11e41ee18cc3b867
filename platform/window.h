// Top-level windows of other programs: search by title, owner, minimised state, restore and
// bringing to the front. On X11 a window's owner is its WM_TRANSIENT_FOR window. Without a
// display no window is ever found and the other operations do nothing.
#ifndef QUORVEL_PLATFORM_WINDOW_H_
#define QUORVEL_PLATFORM_WINDOW_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// A window of the display; 0 is no window.
using WindowHandle = uint64_t;

// A top-level window (of any program, shown or hidden) whose title is exactly `title`; the
// topmost in stacking order when several are. 0 when there is none.
WindowHandle FindTopLevelWindow(std::u16string_view title);

// The window that owns `window`, or 0.
WindowHandle GetOwnerWindow(WindowHandle window);

// Whether `window` is minimised.
bool IsWindowMinimized(WindowHandle window);

// Restores a minimised window.
void RestoreWindow(WindowHandle window);

// Brings `window` to the front and gives it the input focus.
void BringWindowToForeground(WindowHandle window);

// The widths of the frame that the window manager puts around a top-level window.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// The frame of a window of this program, asked of the window manager also before the window
// is first shown. Nothing when no window manager answers within `timeout_ms`, and at once
// when no window manager runs.
std::optional<FrameExtents> RequestFrameExtents(WindowHandle window, int timeout_ms);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_WINDOW_H_
