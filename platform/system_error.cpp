#include "platform/system_error.h"

#include "base/system_error_text.h"

namespace platform {

Error SystemError(std::u16string_view what, std::error_code code) {
  return Error(base::SystemErrorMessage(what, code));
}

Error SystemError(std::u16string_view what, int errno_value) {
  return SystemError(what, std::error_code(errno_value, std::generic_category()));
}

}  // namespace platform
