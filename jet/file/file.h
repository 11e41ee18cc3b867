// The engine's only way to the operating system: the few file operations a Jet database needs,
// and the local time offset the writer stamps new objects with. One implementation per
// operating system (posix_file.cpp, win32_file.cpp); everything else in the engine is plain C++.
//
// Errors are raised as jet::Error with a Japanese message that names the file and the reason.
#ifndef QUORVEL_JET_FILE_FILE_H_
#define QUORVEL_JET_FILE_FILE_H_

#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

namespace jet::file {

// Which file on the disk a name or an open file reaches, whatever name was used.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  auto operator<=>(const FileId&) const = default;
};

// A file opened for reading.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;

  // Reads up to out.size() bytes at `offset`; returns the number read, fewer only at the end
  // of the file. Throws jet::Error when the read itself fails.
  virtual size_t ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
  // The current length in bytes, 0 when it cannot be found.
  virtual uint64_t Size() const = 0;
  // A value that changes whenever the file is written, by this program or another: it is made
  // from the last-write time and the length. 0 when they cannot be found.
  virtual uint64_t ChangeStamp() const = 0;
};

// A file this process created and writes.
class WritableFile : public ReadableFile {
 public:
  // Writes all of `data` at `offset`. Throws jet::Error when it cannot.
  virtual void WriteAt(uint64_t offset, std::span<const uint8_t> data) = 0;
  // Cuts the file to `size` bytes (a rolled-back transaction drops the pages it appended).
  // Throws jet::Error when it cannot.
  virtual void Truncate(uint64_t size) = 0;
  // Makes what was written durable on the disk. Throws jet::Error when it cannot.
  virtual void Sync() = 0;
  virtual FileId id() const = 0;
  // Closes the file and deletes it, provided its name still reaches the file this object
  // created (a file put in its place by someone else is left alone). Never throws.
  virtual void RemoveCreated() noexcept = 0;
};

// Opens an existing file for reading without denying anyone else reading or writing it
// meanwhile. Throws jet::Error when it cannot be opened, and also, without waiting, when the
// path names no regular file (a folder, a named pipe, a device): such a thing is never
// opened for reading as a database.
std::unique_ptr<ReadableFile> OpenShared(const std::filesystem::path& path);

// Creates a new, empty file for reading and writing. Anything already at the path (a file, a
// folder, a link, even a dangling one) is refused with jet::Error and left untouched.
std::unique_ptr<WritableFile> CreateExclusive(const std::filesystem::path& path);

// The identity and length of the regular file at `path` (links followed); nothing when no
// regular file is there.
struct RegularFileStatus {
  FileId id;
  uint64_t size = 0;
};
std::optional<RegularFileStatus> StatusOfRegularFile(const std::filesystem::path& path);

// The local time zone's offset from UTC, in seconds east, at the moment `unix_seconds`.
int64_t LocalUtcOffsetSeconds(int64_t unix_seconds);

}  // namespace jet::file

#endif  // QUORVEL_JET_FILE_FILE_H_
