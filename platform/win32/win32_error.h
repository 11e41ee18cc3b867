// Win32 error codes as the portable conditions the program words in Japanese
// (base/system_error_text.h). The C++ library on MinGW knows no such mapping and would give
// English text, which never reaches a user.
#ifndef QUORVEL_PLATFORM_WIN32_WIN32_ERROR_H_
#define QUORVEL_PLATFORM_WIN32_WIN32_ERROR_H_

#include <windows.h>

#include <system_error>

namespace platform::win32 {

// The condition for a Win32 error code; a code without one keeps its number (the reason then
// reads "システム エラーが発生しました (コード N)").
std::error_code ErrorCodeOf(DWORD code);

// The same for GetLastError().
inline std::error_code LastError() { return ErrorCodeOf(::GetLastError()); }

}  // namespace platform::win32

#endif  // QUORVEL_PLATFORM_WIN32_WIN32_ERROR_H_
