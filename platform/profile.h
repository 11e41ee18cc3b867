// Settings files in the INI form of the Windows profile-string functions.
//
// Names match without regard to letter case; blanks around a value are dropped on reading and
// one pair of enclosing double or single quotes is removed; at most 2047 characters come
// back; a missing file, section or key gives the default, and reading never fails. Writing
// updates a key in place, adds a new key at the end of its section and a new section at the
// end of the file, and keeps every other line byte for byte; a missing file is created. A file
// that begins with the UTF-16LE byte-order mark is read and written as UTF-16LE, every other
// file as code page 932. Saves replace the file atomically.
#ifndef QUORVEL_PLATFORM_PROFILE_H_
#define QUORVEL_PLATFORM_PROFILE_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

inline constexpr size_t kMaxProfileValueLength = 2047;

std::u16string ReadProfileString(const std::filesystem::path& file, std::u16string_view section,
                                 std::u16string_view key, std::u16string_view default_value);

// Throws platform::Error naming the file when the write cannot be done; the old file is then
// unchanged.
void WriteProfileString(const std::filesystem::path& file, std::u16string_view section,
                        std::u16string_view key, std::u16string_view value);

// The same two operations on the bytes of a settings file held in memory (for tests, tools and
// fuzzing). ReadProfileStringFromBytes never fails; WriteProfileStringToBytes returns the bytes
// of the file after the write and throws std::invalid_argument for a section or key that the
// file form cannot hold (a line break in either, or a key with "=" or beginning with "[").
std::u16string ReadProfileStringFromBytes(std::string_view bytes, std::u16string_view section,
                                          std::u16string_view key,
                                          std::u16string_view default_value);
std::string WriteProfileStringToBytes(std::string_view bytes, std::u16string_view section,
                                      std::u16string_view key, std::u16string_view value);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PROFILE_H_
