// What the settings-file implementations of every system share for a write.
#ifndef QUORVEL_PLATFORM_PROFILE_WRITE_H_
#define QUORVEL_PLATFORM_PROFILE_WRITE_H_

#include <string>
#include <string_view>

namespace platform {

// Drops the blanks around section and key, checks them and returns the value as it is stored:
// cut at a NUL, a line break written as a blank. Throws std::invalid_argument for a section or
// key the file form cannot hold (see WriteProfileStringToBytes).
std::u16string PrepareProfileWrite(std::u16string_view& section, std::u16string_view& key,
                                   std::u16string_view value);

// Settings files larger than this are not read (a read gives the default; a write fails).
inline constexpr size_t kMaxProfileFileSize = size_t{256} << 20;

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PROFILE_WRITE_H_
