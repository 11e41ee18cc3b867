#include "platform/win32/win32_error.h"

#include "base/system_error_text.h"

namespace platform::win32 {

std::error_code ErrorCodeOf(DWORD code) {
  if (const std::optional<std::errc> condition = base::Win32ErrorCondition(code)) {
    return std::make_error_code(*condition);
  }
  return std::error_code(static_cast<int>(code), std::system_category());
}

}  // namespace platform::win32
