// Settings files in the INI form of the Windows profile-string functions. On Windows the file
// functions are those functions themselves (GetPrivateProfileStringW, WritePrivateProfileStringW);
// elsewhere, and for the in-memory forms and Profile on every system, our own INI code reads and
// writes as they do.
//
// Names match without regard to letter case; blanks around a value are dropped on reading and
// one pair of enclosing double or single quotes is removed; at most 2047 characters come
// back; a missing file, section or key gives the default, without its trailing blanks, and
// reading never fails. Only the first section of a name counts; the keys before the first
// section line are the section with the empty name. Writing updates a key in place, adds a new
// key at the end of its section and a new section at the end of the file, and keeps every other
// line byte for byte; a missing file is created. A file that begins with the UTF-16LE
// byte-order mark is read and written as UTF-16LE, every other file as code page 932 (on
// Windows: the system's ANSI code page, 932 on the Japanese systems the program is made for).
// A section or key name is compared as it is given, so one with characters the code page cannot
// hold does not find the line it was stored to ("?" in place of those characters) again.
// On POSIX saves replace the file atomically; Windows' functions edit it in place.
#ifndef QUORVEL_PLATFORM_PROFILE_H_
#define QUORVEL_PLATFORM_PROFILE_H_

#include <filesystem>
#include <memory>
#include <span>
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

// A settings file's content held in memory, looked at line by line once when it is made; each
// read and write after that costs about one pass over an index of the lines, not a new parse
// of the whole file. Reads and writes give exactly what the one-key functions above give when
// called in the same order (Bytes() after any writes is byte for byte the file that one-key
// writes would leave), so a start-up reads all of its settings from one Profile and a
// shutdown saves all of its keys with one WriteProfileStrings.
class Profile {
 public:
  explicit Profile(std::string_view bytes);
  ~Profile();
  Profile(Profile&&) noexcept;
  Profile& operator=(Profile&&) noexcept;

  std::u16string Read(std::u16string_view section, std::u16string_view key,
                      std::u16string_view default_value) const;
  // Throws std::invalid_argument as WriteProfileStringToBytes does; the content is then as it
  // was.
  void Write(std::u16string_view section, std::u16string_view key, std::u16string_view value);
  // The file's bytes now.
  std::string Bytes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The settings file read once for many reads. Never fails: a missing, unreadable or too large
// file reads as an empty one.
Profile LoadProfile(const std::filesystem::path& file);

// One key of a batch of writes.
struct ProfileEntry {
  std::u16string_view section;
  std::u16string_view key;
  std::u16string_view value;
};

// Writes the keys in order, as that many WriteProfileString calls would, but reads the file
// once and replaces it once. Throws platform::Error naming the file when any of them cannot
// be written; as with one-key writes, the keys before that one stay written (when the file
// itself cannot be replaced, none is).
void WriteProfileStrings(const std::filesystem::path& file, std::span<const ProfileEntry> entries);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PROFILE_H_
