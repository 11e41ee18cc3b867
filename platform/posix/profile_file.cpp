// Settings files on POSIX: the whole file is read into a Profile, and a save replaces it
// atomically with the Profile's bytes.
#include <exception>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/profile.h"
#include "platform/profile_write.h"
#include "platform/text.h"

namespace platform {

std::u16string ReadProfileString(const std::filesystem::path& file, std::u16string_view section,
                                 std::u16string_view key, std::u16string_view default_value) {
  return LoadProfile(file).Read(section, key, default_value);
}

void WriteProfileStrings(const std::filesystem::path& file, std::span<const ProfileEntry> entries) {
  try {
    const std::optional<std::string> bytes = ReadFileBytes(file, kMaxProfileFileSize);
    Profile profile(bytes.value_or(std::string()));
    size_t written = 0;
    try {
      for (const ProfileEntry& entry : entries) {
        profile.Write(entry.section, entry.key, entry.value);
        ++written;
      }
    } catch (const std::exception&) {
      // As with one write per key, the keys before the one that cannot be stored stay
      // written; the file is replaced only when there are any.
      if (written > 0) ReplaceFileAtomically(file, profile.Bytes());
      throw;
    }
    ReplaceFileAtomically(file, profile.Bytes());
  } catch (const std::exception&) {
    throw Error(FromPath(file) + u" に書き込めません");
  }
}

}  // namespace platform
