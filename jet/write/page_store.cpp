#include "jet/write/page_store.h"

#include <algorithm>
#include <cstring>

#include "base/utf.h"
#include "jet/jet.h"

namespace jet::write {

uint8_t* PageStore::Mutable(uint32_t page) {
  if (!dirty_[page]) {
    dirty_[page] = true;
    dirty_list_.push_back(page);
  }
  return pages_[page]->data();
}

bool PageStore::CanAllocate(uint32_t count) const { return pages_.size() + count <= kMaxPages; }

uint32_t PageStore::Allocate() {
  if (!CanAllocate(1)) {
    throw Error(u"データベースファイルが大きくなりすぎました (ページ数の上限を超えます)");
  }
  pages_.push_back(std::make_unique<PageBytes>());
  pages_.back()->fill(0);
  dirty_.push_back(false);
  free_.push_back(false);
  uint32_t page = page_count() - 1;
  Mutable(page);
  return page;
}

void PageStore::LoadFrom(file::ReadableFile& file, uint64_t size) {
  constexpr uint64_t kPageBytes = kPageSize;
  const uint64_t count64 = size / kPageBytes;
  if (size % kPageBytes != 0 || count64 < 2 || count64 > kMaxPages) {
    throw Error(u"データベースファイルの大きさが不正です");
  }
  const auto count = static_cast<uint32_t>(count64);
  std::vector<std::unique_ptr<PageBytes>> pages;
  for (uint32_t n = 0; n < count; ++n) {
    auto page = std::make_unique<PageBytes>();
    if (file.ReadAt(n * kPageBytes, *page) != kPageBytes) {
      throw Error(u"データベースファイルを読み込めません");
    }
    pages.push_back(std::move(page));
  }
  pages_ = std::move(pages);
  dirty_.assign(count, false);
  dirty_list_.clear();
  free_.assign(count, false);
  const uint8_t* p1 = pages_[1]->data();
  if (data_page::RowCount(p1) >= 1) {
    uint16_t start = data_page::RowStart(p1, 0);
    uint16_t end = kPageSize;
    if (start + 5 < end && p1[start] == 0) {
      uint32_t first = GetU32(p1 + start + 1);
      for (uint32_t bit = 0; bit < static_cast<uint32_t>(end - start - 5) * 8; ++bit) {
        uint32_t page = first + bit;
        if (page < count && (p1[start + 5 + bit / 8] & (1u << (bit % 8)))) free_[page] = true;
      }
    }
  }
}

void PageStore::Free(uint32_t page) {
  std::memset(Mutable(page), 0, kPageSize);
  free_[page] = true;
}

// Page 1: a data page owned by "1" holding two rows. Row 0 is the global map (type 0,
// start page 0, bitmap with a set bit for every free page, including the pages past the end
// of the file that the bitmap covers); it grows in steps of 32 bytes as the file grows.
// Row 1 is 69 zero bytes.
void PageStore::WriteGlobalMap() {
  constexpr size_t kRow1Length = format::kUsageMapRowLength;
  size_t bitmap = (page_count() + 7) / 8;
  bitmap = std::max<size_t>(64, (bitmap + 31) / 32 * 32);
  size_t row0 = 5 + bitmap;
  uint8_t* p = Mutable(1);
  std::memset(p, 0, kPageSize);
  data_page::Init(p, 1);
  std::vector<uint8_t> row(row0, 0);
  for (size_t bit = 0; bit < bitmap * 8; ++bit) {
    if (bit >= page_count() || free_[bit])
      row[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  data_page::AddRow(p, row.data(), row.size());
  std::vector<uint8_t> zeros(kRow1Length, 0);
  data_page::AddRow(p, zeros.data(), zeros.size());
}

void PageStore::WriteDirty(file::WritableFile& file) {
  std::sort(dirty_list_.begin(), dirty_list_.end());
  for (uint32_t page : dirty_list_) {
    file.WriteAt(static_cast<uint64_t>(page) * static_cast<uint64_t>(kPageSize), *pages_[page]);
  }
  for (uint32_t page : dirty_list_) dirty_[page] = false;
  dirty_list_.clear();
}

}  // namespace jet::write
