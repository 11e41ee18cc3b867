// The engine's file face on POSIX: descriptors with pread/pwrite, so that reads and writes at
// an offset need no shared file position. A reading descriptor takes no lock, so other
// programs may read and write the file meanwhile (the Windows share mode "deny none").
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>

#include "base/system_error_text.h"
#include "base/utf.h"
#include "jet/file/file.h"
#include "jet/jet.h"

namespace jet::file {
namespace {

std::u16string PathText(const std::filesystem::path& path) { return base::FromUtf8(path.string()); }

std::u16string Reason(int error) {
  return base::SystemErrorReason(std::error_code(error, std::generic_category()));
}

// Why a path that is there is still no database: it is a folder, a pipe, a device or a socket.
std::u16string NotRegularFileMessage(const std::filesystem::path& path, mode_t mode) {
  const std::u16string head = u"データベース ファイルを開けません: " + PathText(path);
  std::u16string kind;
  if (S_ISDIR(mode)) {
    kind = u"フォルダーです";
  } else if (S_ISFIFO(mode)) {
    kind = u"名前付きパイプです";
  } else if (S_ISCHR(mode) || S_ISBLK(mode)) {
    kind = u"デバイスです";
  } else if (S_ISSOCK(mode)) {
    kind = u"ソケットです";
  }
  if (kind.empty()) return head + u" は通常のファイルではありません。";
  return head + u" は通常のファイルではなく、" + kind + u"。";
}

FileId IdOf(const struct stat& info) {
  return FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

class PosixFile : public WritableFile {
 public:
  PosixFile(int fd, std::filesystem::path path, FileId id)
      : fd_(fd), path_(std::move(path)), id_(id) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    size_t done = 0;
    while (done < out.size()) {
      const ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        throw Error(u"データベース ファイルを読めません: " + PathText(path_) + u" (" +
                    Reason(errno) + u")");
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  uint64_t Size() const override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
  }

  uint64_t ChangeStamp() const override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return 0;
    const uint64_t ns = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                        static_cast<uint64_t>(info.st_mtim.tv_nsec);
    return ns ^ (static_cast<uint64_t>(info.st_size) * 0x9E3779B97F4A7C15u);
  }

  void WriteAt(uint64_t offset, std::span<const uint8_t> data) override {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n =
          ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        throw Error(u"データベースファイルに書き込めません: " + Reason(n < 0 ? errno : EIO));
      }
      done += static_cast<size_t>(n);
    }
  }

  void Truncate(uint64_t size) override {
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno == EINTR) continue;
      throw Error(u"データベースファイルを切り詰められません: " + PathText(path_) + u" (" +
                  Reason(errno) + u")");
    }
  }

  void Sync() override {
    while (::fsync(fd_) != 0) {
      if (errno == EINTR) continue;
      throw Error(u"データベースファイルをディスクに書き込めません: " + PathText(path_) + u" (" +
                  Reason(errno) + u")");
    }
  }

  FileId id() const override { return id_; }

  void RemoveCreated() noexcept override {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0 && IdOf(info) == id_) ::unlink(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::filesystem::path path_;
  FileId id_;
};

}  // namespace

std::unique_ptr<ReadableFile> OpenShared(const std::filesystem::path& path) {
  const auto refuse = [&](std::u16string_view why) {
    return Error(u"データベース ファイルを開けません: " + PathText(path) + u" (" +
                 std::u16string(why) + u")");
  };
  // Only a regular file is a database. Opening a named pipe waits for a writer and opening a
  // device can act on it, so the kind is looked at before the open, and the open itself does
  // not wait (O_NONBLOCK); fstat then confirms what was opened, in case the name was pointed
  // elsewhere in between.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw refuse(Reason(errno));
  if (!S_ISREG(info.st_mode)) throw Error(NotRegularFileMessage(path, info.st_mode));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw refuse(Reason(errno));
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    throw refuse(Reason(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    throw Error(NotRegularFileMessage(path, info.st_mode));
  }
  // Reads of a regular file never wait anyway; the flag is dropped so that they behave as
  // ordinary blocking reads everywhere.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::make_unique<PosixFile>(fd, path, IdOf(info));
}

std::unique_ptr<WritableFile> CreateExclusive(const std::filesystem::path& path) {
  // O_EXCL refuses anything already at the path (file, folder, link), so nothing that
  // exists is ever touched.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    const std::u16string why =
        error == EEXIST ? u"同じ名前のファイルまたはフォルダが既にあります" : Reason(error);
    throw Error(u"データベースを作成できません: " + PathText(path) + u" (" + why + u")");
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    // The descriptor is the file this call created, so its name is removed with it.
    ::close(fd);
    ::unlink(path.c_str());
    throw Error(u"データベースファイルの情報を取得できません");
  }
  return std::make_unique<PosixFile>(fd, path, IdOf(info));
}

std::optional<RegularFileStatus> StatusOfRegularFile(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return RegularFileStatus{IdOf(info), static_cast<uint64_t>(info.st_size)};
}

int64_t LocalUtcOffsetSeconds(int64_t unix_seconds) {
  const auto moment = static_cast<time_t>(unix_seconds);
  struct tm local {};
  if (::localtime_r(&moment, &local) == nullptr) return 0;
  return static_cast<int64_t>(local.tm_gmtoff);
}

}  // namespace jet::file
