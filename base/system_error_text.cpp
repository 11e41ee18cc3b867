#include "base/system_error_text.h"

#include <array>
#include <optional>
#include <string_view>

namespace base {
namespace {

struct Reason {
  std::errc condition;
  std::u16string_view text;
};

constexpr std::array<Reason, 16> kReasons = {{
    {std::errc::no_such_file_or_directory, u"ファイルまたはフォルダーが見つかりません"},
    {std::errc::permission_denied, u"アクセスが拒否されました"},
    {std::errc::operation_not_permitted, u"アクセスが拒否されました"},
    {std::errc::no_space_on_device, u"ディスクの空き領域が足りません"},
    {std::errc::read_only_file_system, u"読み取り専用のドライブです"},
    {std::errc::is_a_directory, u"フォルダーです"},
    {std::errc::not_a_directory, u"パスの途中がフォルダーではありません"},
    {std::errc::file_exists, u"同じ名前のファイルまたはフォルダーが既にあります"},
    {std::errc::too_many_files_open, u"開いているファイルが多すぎます"},
    {std::errc::too_many_files_open_in_system, u"開いているファイルが多すぎます"},
    {std::errc::io_error, u"入出力エラーが発生しました"},
    {std::errc::filename_too_long, u"名前が長すぎます"},
    {std::errc::file_too_large, u"ファイルが大きすぎます"},
    {std::errc::invalid_argument, u"通常のファイルではないか、指定が正しくありません"},
    {std::errc::device_or_resource_busy, u"ほかのプログラムが使用中です"},
    {std::errc::text_file_busy, u"ほかのプログラムが使用中です"},
}};

// Win32 error codes (winerror.h) and the errno condition each means, the one table both the
// Win32 platform code (for its std::error_code values) and the engine's file face word from.
// A few codes have no errno counterpart, or one too coarse for a user, and carry their own text.
struct Win32Reason {
  uint32_t code;
  std::optional<std::errc> condition;
  std::u16string_view own_text;  // read instead of the condition's text when given
};

constexpr std::array<Win32Reason, 32> kWin32Reasons = {{
    {2, std::errc::no_such_file_or_directory, {}},   // ERROR_FILE_NOT_FOUND
    {3, std::errc::no_such_file_or_directory, {}},   // ERROR_PATH_NOT_FOUND
    {4, std::errc::too_many_files_open, {}},         // ERROR_TOO_MANY_OPEN_FILES
    {5, std::errc::permission_denied, {}},           // ERROR_ACCESS_DENIED
    {15, std::errc::no_such_file_or_directory, {}},  // ERROR_INVALID_DRIVE
    {19, std::errc::read_only_file_system, {}},      // ERROR_WRITE_PROTECT
    {21, std::errc::io_error, {}},                   // ERROR_NOT_READY
    {23, std::errc::io_error, {}},                   // ERROR_CRC
    {27, std::errc::io_error, {}},                   // ERROR_SECTOR_NOT_FOUND
    {29, std::errc::io_error, {}},                   // ERROR_WRITE_FAULT
    {30, std::errc::io_error, {}},                   // ERROR_READ_FAULT
    {31, std::errc::io_error, {}},                   // ERROR_GEN_FAILURE
    {32, std::errc::device_or_resource_busy, {}},    // ERROR_SHARING_VIOLATION
    {33, std::errc::device_or_resource_busy,
     u"ファイルの一部が別のプログラムによってロックされています"},  // ERROR_LOCK_VIOLATION
    {38, std::nullopt, u"ファイルの終わりを越えています"},          // ERROR_HANDLE_EOF
    {39, std::errc::no_space_on_device, {}},                        // ERROR_HANDLE_DISK_FULL
    {53, std::errc::no_such_file_or_directory, {}},                 // ERROR_BAD_NETPATH
    {67, std::errc::no_such_file_or_directory, {}},                 // ERROR_BAD_NET_NAME
    {80, std::errc::file_exists, {}},                               // ERROR_FILE_EXISTS
    {87, std::errc::invalid_argument, {}},                          // ERROR_INVALID_PARAMETER
    {112, std::errc::no_space_on_device, {}},                       // ERROR_DISK_FULL
    {123, std::errc::invalid_argument, {}},                         // ERROR_INVALID_NAME
    {161, std::errc::no_such_file_or_directory, {}},                // ERROR_BAD_PATHNAME
    {183, std::errc::file_exists, {}},                              // ERROR_ALREADY_EXISTS
    {206, std::errc::filename_too_long, {}},                        // ERROR_FILENAME_EXCED_RANGE
    {223, std::errc::file_too_large, {}},                           // ERROR_FILE_TOO_LARGE
    {267, std::errc::not_a_directory, {}},                          // ERROR_DIRECTORY
    {1224, std::errc::device_or_resource_busy, {}},                 // ERROR_USER_MAPPED_FILE
    {1314, std::errc::permission_denied, {}},                       // ERROR_PRIVILEGE_NOT_HELD
    {1392, std::errc::io_error, {}},                                // ERROR_FILE_CORRUPT
    {1450, std::errc::no_space_on_device, {}},                      // ERROR_NO_SYSTEM_RESOURCES
    {1816, std::errc::no_space_on_device, {}},                      // ERROR_NOT_ENOUGH_QUOTA
}};

const Win32Reason* FindWin32Reason(uint32_t code) {
  for (const Win32Reason& reason : kWin32Reasons) {
    if (reason.code == code) return &reason;
  }
  return nullptr;
}

template <typename Number>
std::u16string AsciiNumber(Number value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string SystemErrorReason(std::error_code code) {
  const std::error_condition condition = code.default_error_condition();
  for (const Reason& reason : kReasons) {
    if (condition == reason.condition) return std::u16string(reason.text);
  }
  return u"システム エラーが発生しました (コード " + AsciiNumber(code.value()) + u")";
}

std::optional<std::errc> Win32ErrorCondition(uint32_t code) {
  const Win32Reason* reason = FindWin32Reason(code);
  return reason != nullptr ? reason->condition : std::nullopt;
}

std::u16string Win32ErrorReason(uint32_t code) {
  const Win32Reason* reason = FindWin32Reason(code);
  if (reason != nullptr && !reason->own_text.empty()) return std::u16string(reason->own_text);
  if (reason != nullptr && reason->condition) {
    return SystemErrorReason(std::make_error_code(*reason->condition));
  }
  return u"システム エラーが発生しました (コード " + AsciiNumber(code) + u")";
}

std::u16string SystemErrorMessage(std::u16string_view what, std::error_code code) {
  std::u16string message(what);
  message += u": ";
  message += SystemErrorReason(code);
  return message;
}

}  // namespace base
