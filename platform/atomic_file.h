// Whole-file reads and atomic whole-file replacement.
#ifndef QUORVEL_PLATFORM_ATOMIC_FILE_H_
#define QUORVEL_PLATFORM_ATOMIC_FILE_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The bytes of a file. std::nullopt when no file of that name exists; raises platform::Error
// when it exists but cannot be read (a folder, no permission) or is larger than max_size bytes.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& file, size_t max_size);

// A new file that is to replace `target` as a whole once it is complete. It gets a name of its
// own in the target's folder (so that the replacement is a rename within one file system) and
// is created empty, which reserves the name; the caller then fills it through path().
//
// Commit flushes it to the disk and renames it over the target, so the target holds either its
// old or its new content, never a part. A symbolic link at the target is followed (the file it
// points at is replaced), and an existing file keeps its permission bits and, where the
// process may give them away, its owner. A target that is a folder or another kind of
// non-regular file, or an existing file that may not be written (read-only), is refused
// before anything is created and again at Commit. Until Commit succeeds the target is as it
// was; the destructor removes the temporary file when it was not committed.
//
// A file without any write permission bit counts as read-only even for the superuser.
//
// The temporary file's name is "." + the target's file name + ".tmp" + the process id + "-" +
// two numbers ("-" between them); RemoveStaleTemporaries recognises it by that.
//
// Errors raise platform::Error: "<kind>「<target>」を作成できませんでした: <reason>" when the
// temporary file cannot be made, "...を書き込めませんでした: <reason>" when Commit fails.
class TemporaryBeside {
 public:
  // Who may read a target that does not exist yet once it is made.
  enum class NewFileAccess {
    kUsual,      // the usual permissions under the process's file-mode mask
    kOwnerOnly,  // read and write for the owner only (0600), for files holding passwords
  };

  explicit TemporaryBeside(const std::filesystem::path& target,
                           std::u16string_view kind = u"ファイル",
                           NewFileAccess access = NewFileAccess::kUsual);
  ~TemporaryBeside();
  TemporaryBeside(const TemporaryBeside&) = delete;
  TemporaryBeside& operator=(const TemporaryBeside&) = delete;

  // Where to write the new content.
  const std::filesystem::path& path() const { return path_; }

  // Replaces the target by the temporary file. Raises platform::Error when it cannot; the
  // target is then as it was.
  void Commit();

  // Gives the temporary file the target's name only when no file (nor link, nor folder) has
  // that name, so that nothing that appeared there meanwhile is ever replaced. Flushes it to
  // the disk first. Raises platform::Error "<kind>「<target>」を作成できませんでした: <reason>"
  // when the name is taken or the rename fails; the temporary file then stays until the
  // destructor removes it.
  void CommitAsNew();

 private:
  std::filesystem::path target_;
  std::u16string kind_;
  NewFileAccess access_;
  std::filesystem::path path_;
  bool committed_ = false;
};

// Removes what an interrupted replacement of `target` left beside it: temporary files named
// as TemporaryBeside names them for `target` (a symbolic link at `target` is followed, as
// TemporaryBeside does), together with the "-journal", "-wal" and "-shm" files SQLite keeps
// beside such a file, whose process id belongs to no running process. Files of running
// processes (this one included) and every other file stay. Returns the number of files
// removed; files that cannot be removed, and a folder that cannot be read, are passed over
// without an error. Call it before writing `target` and at program start for the files the
// program replaces.
int RemoveStaleTemporaries(const std::filesystem::path& target);

// Replaces the file's content with bytes, or creates the file, through a TemporaryBeside (see
// there for the rules). Raises platform::Error; the old file is then as it was and no
// temporary file is left behind.
void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ATOMIC_FILE_H_
