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
// Errors raise platform::Error: "<kind>「<target>」を作成できませんでした: <reason>" when the
// temporary file cannot be made, "...を書き込めませんでした: <reason>" when Commit fails.
class TemporaryBeside {
 public:
  explicit TemporaryBeside(const std::filesystem::path& target,
                           std::u16string_view kind = u"ファイル");
  ~TemporaryBeside();
  TemporaryBeside(const TemporaryBeside&) = delete;
  TemporaryBeside& operator=(const TemporaryBeside&) = delete;

  // Where to write the new content.
  const std::filesystem::path& path() const { return path_; }

  // Replaces the target by the temporary file. Raises platform::Error when it cannot; the
  // target is then as it was.
  void Commit();

 private:
  std::filesystem::path target_;
  std::u16string kind_;
  std::filesystem::path path_;
  bool committed_ = false;
};

// Replaces the file's content with bytes, or creates the file, through a TemporaryBeside (see
// there for the rules). Raises platform::Error; the old file is then as it was and no
// temporary file is left behind.
void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ATOMIC_FILE_H_
