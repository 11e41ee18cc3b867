// Whole-file reads and atomic replacement on POSIX: write a temporary file beside the target,
// flush it, rename it over the target, then flush the folder.
#include "platform/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/system_error.h"
#include "platform/temporary_name.h"
#include "platform/text.h"

namespace platform {
namespace {

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

std::error_code ErrorOf(std::errc condition) { return std::make_error_code(condition); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now and reports the result (a delayed write error shows up here).
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

std::error_code WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

// The folder and the file name a temporary file for `file` goes to: beside the file a
// symbolic link at `file` points at, else beside `file`.
std::filesystem::path ResolvedTarget(const std::filesystem::path& file, std::error_code& error) {
  struct stat link_info {};
  if (::lstat(file.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    return std::filesystem::weakly_canonical(file, error);
  }
  return file;
}

// Flushes a folder, so that a rename in it survives a crash; a failure changes no content.
void FlushFolder(const std::filesystem::path& folder) {
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
}

// Flushes the content of a finished temporary file, giving it `mode` first when set.
std::error_code FlushFile(const std::filesystem::path& path, std::optional<mode_t> mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return LastError();
  FileDescriptor guard(fd);
  if (mode && ::fchmod(fd, *mode) != 0) return LastError();
  if (::fsync(fd) != 0) return LastError();
  if (guard.Close() != 0) return LastError();
  return {};
}

// True while a process with this id runs (one of another user's included).
bool ProcessRuns(uint64_t id) {
  if (id > static_cast<uint64_t>(std::numeric_limits<pid_t>::max())) return false;
  const auto pid = static_cast<pid_t>(id);
  if (pid == ::getpid()) return true;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool SameName(temporary::NativeView a, temporary::NativeView b) { return a == b; }

// The file a replacement goes to, with what is known about it beforehand.
struct Target {
  std::filesystem::path path;  // links followed
  bool exists = false;
  struct stat info {};
};

// Finds the file that replacing `file` replaces and checks that it may be replaced.
std::error_code InspectTarget(const std::filesystem::path& file, Target& target) {
  // Replace the file a link points at, not the link itself.
  std::error_code error;
  target.path = ResolvedTarget(file, error);
  if (error) return error;
  target.exists = ::stat(target.path.c_str(), &target.info) == 0;
  if (!target.exists && errno != ENOENT) return LastError();
  if (target.exists) {
    if (S_ISDIR(target.info.st_mode)) return ErrorOf(std::errc::is_a_directory);
    if (!S_ISREG(target.info.st_mode)) return ErrorOf(std::errc::invalid_argument);
    // Marked read-only: the superuser, who may open it for writing, leaves it as well.
    if ((target.info.st_mode & 0222) == 0) return ErrorOf(std::errc::permission_denied);
    // A file we may not write stays as it is, even where the folder would let us replace it.
    const int probe = ::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) return LastError();
    ::close(probe);
  }
  return {};
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& file, size_t max_size) {
  const auto fail = [&](std::error_code error) {
    return SystemError(u"ファイル「" + FromPath(file) + u"」を読み込めません", error);
  };
  // Without blocking, so that a named pipe in the file's place cannot stall the caller.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw fail(LastError());
  }
  FileDescriptor guard(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw fail(LastError());
  if (S_ISDIR(info.st_mode)) throw fail(ErrorOf(std::errc::is_a_directory));
  if (!S_ISREG(info.st_mode)) throw fail(ErrorOf(std::errc::invalid_argument));
  if (static_cast<uint64_t>(info.st_size) > max_size)
    throw fail(ErrorOf(std::errc::file_too_large));
  // Read straight into the result; the file may still grow or shrink while it is read.
  std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > max_size) throw fail(ErrorOf(std::errc::file_too_large));
      bytes.resize(std::min(bytes.size() * 2, max_size + 1));
    }
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw fail(LastError());
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > max_size) throw fail(ErrorOf(std::errc::file_too_large));
  bytes.resize(used);
  return bytes;
}

TemporaryBeside::TemporaryBeside(const std::filesystem::path& target, std::u16string_view kind,
                                 NewFileAccess access)
    : target_(target), kind_(kind), access_(access) {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を作成できませんでした", error);
  };
  Target inspected;
  if (const std::error_code error = InspectTarget(target_, inspected)) throw fail(error);

  // Mode 0666 under the process umask gives a new file the usual permissions; a file for the
  // owner only is never readable by others, not even while it is being written.
  const mode_t mode = access_ == NewFileAccess::kOwnerOnly ? 0600 : 0666;
  const auto create_new = [mode](const std::filesystem::path& path) -> std::error_code {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) return LastError();
    ::close(fd);
    return {};
  };
  if (const std::error_code error = temporary::CreateNew(
          temporary::FolderOf(inspected.path), inspected.path.filename().native(),
          static_cast<uint64_t>(::getpid()), create_new, path_)) {
    throw fail(error);
  }
}

TemporaryBeside::~TemporaryBeside() {
  if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
}

void TemporaryBeside::Commit() {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を書き込めませんでした", error);
  };
  Target target;
  if (const std::error_code error = InspectTarget(target_, target)) throw fail(error);

  const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw fail(LastError());
  FileDescriptor guard(fd);
  if (target.exists) {
    ::fchmod(fd, target.info.st_mode & 07777);
    if (target.info.st_uid != ::geteuid() || target.info.st_gid != ::getegid()) {
      // Only a privileged process may give the file away; otherwise it becomes ours.
      [[maybe_unused]] const int ignored = ::fchown(fd, target.info.st_uid, target.info.st_gid);
    }
  } else if (access_ == NewFileAccess::kOwnerOnly) {
    // The writer may have made the file anew under its own permissions.
    if (::fchmod(fd, 0600) != 0) throw fail(LastError());
  }
  if (::fsync(fd) != 0) throw fail(LastError());
  if (guard.Close() != 0) throw fail(LastError());
  if (::rename(path_.c_str(), target.path.c_str()) != 0) throw fail(LastError());
  committed_ = true;
  FlushFolder(temporary::FolderOf(target.path));
}

void TemporaryBeside::CommitAsNew() {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を作成できませんでした", error);
  };
  std::optional<mode_t> mode;
  if (access_ == NewFileAccess::kOwnerOnly) mode = 0600;
  if (const std::error_code error = FlushFile(path_, mode)) throw fail(error);
  // The kernel's rename that refuses a taken name; where the file system does not offer it,
  // a second link made only when the name is free, then the temporary name dropped.
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) throw fail(LastError());
    if (::link(path_.c_str(), target_.c_str()) != 0) throw fail(LastError());
    ::unlink(path_.c_str());
  }
  committed_ = true;
  FlushFolder(temporary::FolderOf(target_));
}

int RemoveStaleTemporaries(const std::filesystem::path& target) {
  std::error_code error;
  const std::filesystem::path resolved = ResolvedTarget(target, error);
  if (error || resolved.filename().empty()) return 0;
  const temporary::NativeString base_name = resolved.filename().native();
  int removed = 0;
  for (std::filesystem::directory_iterator it(temporary::FolderOf(resolved), error), end;
       !error && it != end; it.increment(error)) {
    const std::filesystem::directory_entry& entry = *it;
    const uint64_t owner = temporary::Owner(entry.path().filename().native(), base_name, SameName);
    if (owner == 0 || ProcessRuns(owner)) continue;
    struct stat info {};
    // Only files: a folder or anything else of that name is not ours.
    if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (::unlink(entry.path().c_str()) == 0) ++removed;
  }
  return removed;
}

void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  TemporaryBeside temporary(file);
  const auto fail = [&](std::error_code error) {
    return SystemError(u"ファイル「" + FromPath(file) + u"」を書き込めませんでした", error);
  };
  const int fd = ::open(temporary.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw fail(LastError());
  FileDescriptor guard(fd);
  if (const std::error_code error = WriteAll(fd, bytes)) throw fail(error);
  if (guard.Close() != 0) throw fail(LastError());
  temporary.Commit();
}

}  // namespace platform
