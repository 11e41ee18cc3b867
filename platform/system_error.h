// The one way an operating-system error becomes the program's error: the message says what
// failed and, in Japanese, why ("ファイル「…」を書き込めません: アクセスが拒否されました").
#ifndef QUORVEL_PLATFORM_SYSTEM_ERROR_H_
#define QUORVEL_PLATFORM_SYSTEM_ERROR_H_

#include <string_view>
#include <system_error>

#include "platform/error.h"

namespace platform {

// "<what>: <reason>", the reason being the Japanese wording of `code`.
Error SystemError(std::u16string_view what, std::error_code code);

// The same for an errno value.
Error SystemError(std::u16string_view what, int errno_value);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_SYSTEM_ERROR_H_
