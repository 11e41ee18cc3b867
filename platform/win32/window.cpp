// PENDING: replaced by the FindWindowW/GetWindow/IsIconic implementation.
#include "platform/window.h"

namespace platform {
WindowHandle FindTopLevelWindow(std::u16string_view) { return 0; }
WindowHandle GetOwnerWindow(WindowHandle) { return 0; }
bool IsWindowMinimized(WindowHandle) { return false; }
void RestoreWindow(WindowHandle) {}
void BringWindowToForeground(WindowHandle) {}
std::optional<FrameExtents> RequestFrameExtents(WindowHandle, int) { return std::nullopt; }
}  // namespace platform
