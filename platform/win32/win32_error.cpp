#include "platform/win32/win32_error.h"

namespace platform::win32 {

std::error_code ErrorCodeOf(DWORD code) {
  std::errc condition{};
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      condition = std::errc::no_such_file_or_directory;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      condition = std::errc::permission_denied;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      condition = std::errc::device_or_resource_busy;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      condition = std::errc::no_space_on_device;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      condition = std::errc::file_exists;
      break;
    case ERROR_WRITE_PROTECT:
      condition = std::errc::read_only_file_system;
      break;
    case ERROR_TOO_MANY_OPEN_FILES:
      condition = std::errc::too_many_files_open;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      condition = std::errc::filename_too_long;
      break;
    case ERROR_DIRECTORY:
      condition = std::errc::not_a_directory;
      break;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      condition = std::errc::invalid_argument;
      break;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
      condition = std::errc::io_error;
      break;
    default:
      return std::error_code(static_cast<int>(code), std::system_category());
  }
  return std::make_error_code(condition);
}

}  // namespace platform::win32
