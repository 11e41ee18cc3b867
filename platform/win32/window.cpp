// Windows of other programs through the window manager of Windows itself: FindWindowW,
// GetWindow(GW_OWNER), IsIconic, OpenIcon and SetForegroundWindow. A handle that no longer
// names a window makes each call do nothing.
#include "platform/window.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

WindowHandle FromHwnd(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
}

}  // namespace

WindowHandle FindTopLevelWindow(std::u16string_view title) {
  // FindWindowW with a null class searches the top-level windows, shown or hidden, by exact
  // title (case-insensitively, as Windows compares titles). An empty title matches windows
  // without one, which is no window anybody means.
  if (title.empty()) return 0;
  const std::wstring text(title.begin(), title.end());
  return FromHwnd(::FindWindowW(nullptr, text.c_str()));
}

WindowHandle GetOwnerWindow(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  if (window == 0 || !::IsWindow(hwnd)) return 0;
  return FromHwnd(::GetWindow(hwnd, GW_OWNER));
}

bool IsWindowMinimized(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  return window != 0 && ::IsWindow(hwnd) && ::IsIconic(hwnd);
}

void RestoreWindow(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  if (window == 0 || !::IsWindow(hwnd)) return;
  // OpenIcon: restores a minimised window and activates it.
  ::OpenIcon(hwnd);
}

void BringWindowToForeground(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  if (window == 0 || !::IsWindow(hwnd)) return;
  ::SetForegroundWindow(hwnd);
}

// Windows knows the frame of its windows itself, so nothing needs asking and nothing is
// waited for: the frame is the one AdjustWindowRectEx gives for the window's styles.
std::optional<FrameExtents> RequestFrameExtents(WindowHandle window, int /*timeout_ms*/) {
  const HWND hwnd = ToHwnd(window);
  if (window == 0 || !::IsWindow(hwnd)) return std::nullopt;
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
  const BOOL has_menu = ::GetMenu(hwnd) != nullptr ? TRUE : FALSE;
  RECT rect{0, 0, 0, 0};
  if (!::AdjustWindowRectEx(&rect, style, has_menu, ex_style)) return std::nullopt;
  return FrameExtents{-rect.left, rect.right, -rect.top, rect.bottom};
}

}  // namespace platform
