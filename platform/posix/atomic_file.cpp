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

namespace platform {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

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

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, "write");
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

// A name for the temporary file that no other writer picks: the target's name behind a dot,
// the process id and a random number.
std::string TemporaryName(const std::string& base_name) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  return "." + base_name + ".tmp" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random() % 1000000007u);
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& file, size_t max_size) {
  // Without blocking, so that a named pipe in the file's place cannot stall the caller.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    ThrowErrno(errno, "open");
  }
  FileDescriptor guard(fd);
  struct stat info;
  if (::fstat(fd, &info) != 0) ThrowErrno(errno, "fstat");
  if (S_ISDIR(info.st_mode)) ThrowErrno(EISDIR, "open");
  if (!S_ISREG(info.st_mode)) ThrowErrno(EINVAL, "not a regular file");
  if (static_cast<uint64_t>(info.st_size) > max_size) ThrowErrno(EFBIG, "file too large");
  // Read straight into the result; the file may still grow or shrink while it is read.
  std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > max_size) ThrowErrno(EFBIG, "file too large");
      bytes.resize(std::min(bytes.size() * 2, max_size + 1));
    }
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, "read");
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > max_size) ThrowErrno(EFBIG, "file too large");
  bytes.resize(used);
  return bytes;
}

void ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  std::filesystem::path target = file;
  struct stat link_info;
  if (::lstat(target.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    // Replace the file the link points at, not the link itself.
    std::error_code error;
    target = std::filesystem::weakly_canonical(file, error);
    if (error) ThrowErrno(error.value(), "resolve link");
  }

  struct stat old_info;
  const bool exists = ::stat(target.c_str(), &old_info) == 0;
  if (!exists && errno != ENOENT) ThrowErrno(errno, "stat");
  if (exists) {
    if (S_ISDIR(old_info.st_mode)) ThrowErrno(EISDIR, "target is a folder");
    if (!S_ISREG(old_info.st_mode)) ThrowErrno(EINVAL, "target is not a regular file");
    // A file we may not write stays as it is, even where the folder would let us replace it.
    const int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) ThrowErrno(errno, "open for writing");
    ::close(probe);
  }

  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::string base_name = target.filename().string();

  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = folder / TemporaryName(base_name);
    // Mode 0666 under the process umask gives a new file the usual permissions.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) ThrowErrno(errno, "create temporary file");
  }
  if (fd < 0) ThrowErrno(EEXIST, "create temporary file");

  FileDescriptor guard(fd);
  try {
    WriteAll(fd, bytes);
    if (exists) {
      ::fchmod(fd, old_info.st_mode & 07777);
      if (old_info.st_uid != ::geteuid() || old_info.st_gid != ::getegid()) {
        // Only a privileged process may give the file away; otherwise it becomes ours.
        [[maybe_unused]] const int ignored = ::fchown(fd, old_info.st_uid, old_info.st_gid);
      }
    }
    if (::fsync(fd) != 0) ThrowErrno(errno, "fsync");
    if (guard.Close() != 0) ThrowErrno(errno, "close");
    if (::rename(temporary.c_str(), target.c_str()) != 0) ThrowErrno(errno, "rename");
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }

  // Make the rename itself durable; a failure here no longer affects the content.
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
}

}  // namespace platform
