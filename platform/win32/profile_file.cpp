// Settings files on Windows through the profile API itself (GetPrivateProfileStringW,
// WritePrivateProfileStringW). A Profile for many reads is still made from the file's bytes by
// the shared INI code, which reads as the API does.
//
// The API looks for a file named without a folder in the Windows folder; paths are made
// absolute first, so that a relative path means the current folder as on POSIX. Writes are the
// API's own: it edits the file in place (not atomically), keeps a UTF-16LE file UTF-16LE and
// writes any other file in the system's ANSI code page (932 on the Japanese systems the
// program is made for).
#include <windows.h>
// windows.h names its own WriteProfileString as a macro, which would rename the platform's.
#undef WriteProfileString

#include <exception>
#include <stdexcept>
#include <string>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/profile.h"
#include "platform/profile_write.h"
#include "platform/text.h"

namespace platform {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring ApiPath(const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(file, error);
  if (error) absolute = file;
  return absolute.make_preferred().native();
}

}  // namespace

std::u16string ReadProfileString(const std::filesystem::path& file, std::u16string_view section,
                                 std::u16string_view key, std::u16string_view default_value) {
  // Windows documents that the default loses its trailing blanks; Wine keeps them, so they
  // are dropped here.
  while (!default_value.empty() &&
         (default_value.back() == u' ' || default_value.back() == u'\t')) {
    default_value.remove_suffix(1);
  }
  // The 2047 characters and the terminating NUL.
  std::wstring buffer(kMaxProfileValueLength + 1, L'\0');
  const DWORD length = ::GetPrivateProfileStringW(
      Wide(section).c_str(), Wide(key).c_str(), Wide(default_value).c_str(), buffer.data(),
      static_cast<DWORD>(buffer.size()), ApiPath(file).c_str());
  buffer.resize(length);
  return std::u16string(buffer.begin(), buffer.end());
}

void WriteProfileStrings(const std::filesystem::path& file, std::span<const ProfileEntry> entries) {
  const std::wstring path = ApiPath(file);
  // A file marked read-only is refused, as Windows refuses it; Wine running as the superuser
  // would write it.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !entries.empty()) {
    throw Error(FromPath(file) + u" に書き込めません");
  }
  for (const ProfileEntry& entry : entries) {
    std::u16string_view section = entry.section;
    std::u16string_view key = entry.key;
    std::u16string value;
    try {
      value = PrepareProfileWrite(section, key, entry.value);
    } catch (const std::invalid_argument&) {
      // The keys before this one stay written, as with one write per key.
      throw Error(FromPath(file) + u" に書き込めません");
    }
    if (!::WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                      path.c_str())) {
      throw Error(FromPath(file) + u" に書き込めません");
    }
  }
}

}  // namespace platform
