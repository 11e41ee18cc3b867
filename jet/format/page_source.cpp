#include "jet/format/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/utf.h"
#include "jet/jet.h"

namespace jet::format {
namespace {

class FileSource : public PageSource {
 public:
  FileSource(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) { Refresh(); }
  ~FileSource() override { ::close(fd_); }

  uint64_t size() const override { return size_; }

  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    size_t done = 0;
    while (done < out.size()) {
      const ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        throw Error(u"データベース ファイルを読めません: " + base::FromUtf8(path_.string()) +
                    u" (" + base::FromUtf8(std::strerror(errno)) + u")");
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  void Refresh() override {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) size_ = static_cast<uint64_t>(st.st_size);
  }

  uint64_t Stamp() const override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    const auto ns = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                    static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return ns ^ (static_cast<uint64_t>(st.st_size) * 0x9E3779B97F4A7C15u);
  }

 private:
  int fd_;
  std::filesystem::path path_;
  uint64_t size_ = 0;
};

class BufferSource : public PageSource {
 public:
  explicit BufferSource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return n;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<PageSource> OpenFileSource(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw Error(u"データベース ファイルではなくフォルダーです: " + base::FromUtf8(path.string()));
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw Error(u"データベース ファイルを開けません: " + base::FromUtf8(path.string()) + u" (" +
                base::FromUtf8(std::strerror(errno)) + u")");
  }
  return std::make_unique<FileSource>(fd, path);
}

std::unique_ptr<PageSource> MemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<BufferSource>(std::move(bytes));
}

}  // namespace jet::format
