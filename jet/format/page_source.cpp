#include "jet/format/page_source.h"

#include <algorithm>
#include <cstring>

#include "jet/file/file.h"
#include "jet/jet.h"

namespace jet::format {
namespace {

class FileSource : public PageSource {
 public:
  explicit FileSource(std::unique_ptr<file::ReadableFile> file) : file_(std::move(file)) {
    Refresh();
  }

  uint64_t size() const override { return size_; }

  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    return file_->ReadAt(offset, out);
  }

  void Refresh() override { size_ = file_->Size(); }

  uint64_t Stamp() const override { return file_->ChangeStamp(); }

 private:
  std::unique_ptr<file::ReadableFile> file_;
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
  return std::make_unique<FileSource>(file::OpenShared(path));
}

std::unique_ptr<PageSource> MemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<BufferSource>(std::move(bytes));
}

}  // namespace jet::format
