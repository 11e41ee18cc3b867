// Whole-file reads and atomic replacement on POSIX: write a temporary file beside the target,
// flush it, rename it over the target, then flush the folder.
#include "platform/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <system_error>

#include "platform/system_error.h"
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

// A name for the temporary file that no other writer picks: the target's name behind a dot,
// the process id and a random number.
std::string TemporaryName(const std::string& base_name) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  return "." + base_name + ".tmp" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random() % 1000000007u);
}

// The file a replacement goes to, with what is known about it beforehand.
struct Target {
  std::filesystem::path path;  // links followed
  bool exists = false;
  struct stat info {};
};

// Finds the file that replacing `file` replaces and checks that it may be replaced.
std::error_code InspectTarget(const std::filesystem::path& file, Target& target) {
  target.path = file;
  struct stat link_info {};
  if (::lstat(file.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    // Replace the file the link points at, not the link itself.
    std::error_code error;
    target.path = std::filesystem::weakly_canonical(file, error);
    if (error) return error;
  }
  target.exists = ::stat(target.path.c_str(), &target.info) == 0;
  if (!target.exists && errno != ENOENT) return LastError();
  if (target.exists) {
    if (S_ISDIR(target.info.st_mode)) return ErrorOf(std::errc::is_a_directory);
    if (!S_ISREG(target.info.st_mode)) return ErrorOf(std::errc::invalid_argument);
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

TemporaryBeside::TemporaryBeside(const std::filesystem::path& target, std::u16string_view kind)
    : target_(target), kind_(kind) {
  const auto fail = [&](std::error_code error) {
    return SystemError(kind_ + u"「" + FromPath(target_) + u"」を作成できませんでした", error);
  };
  Target inspected;
  if (const std::error_code error = InspectTarget(target_, inspected)) throw fail(error);

  std::filesystem::path folder = inspected.path.parent_path();
  if (folder.empty()) folder = ".";
  const std::string base_name = inspected.path.filename().string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = folder / TemporaryName(base_name);
    // Mode 0666 under the process umask gives a new file the usual permissions.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    if (errno != EEXIST) {
      const std::error_code error = LastError();
      path_.clear();
      throw fail(error);
    }
  }
  path_.clear();
  throw fail(ErrorOf(std::errc::file_exists));
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
  }
  if (::fsync(fd) != 0) throw fail(LastError());
  if (guard.Close() != 0) throw fail(LastError());
  if (::rename(path_.c_str(), target.path.c_str()) != 0) throw fail(LastError());
  committed_ = true;

  // Make the rename itself durable; a failure here no longer affects the content.
  std::filesystem::path folder = target.path.parent_path();
  if (folder.empty()) folder = ".";
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
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
