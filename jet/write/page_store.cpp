#include "jet/write/page_store.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "jet/jet.h"

namespace jet::write {
namespace {

constexpr uint64_t kPageBytes = kPageSize;
// Pages held in memory before Trim writes and lets go of what it may (16 MB).
constexpr size_t kHeldLimit = (16u << 20) / kPageSize;

std::atomic<uint32_t> page_limit_for_testing{0};

uint64_t Offset(uint32_t page) { return static_cast<uint64_t>(page) * kPageBytes; }

void SetBit(uint8_t* bitmap, uint32_t bit) {
  bitmap[bit / 8] = static_cast<uint8_t>(bitmap[bit / 8] | (1u << (bit % 8)));
}

}  // namespace

uint32_t PageStore::PageLimit() {
  const uint32_t limit = page_limit_for_testing.load();
  return limit != 0 ? limit : format::kMaxDatabasePages;
}

void PageStore::SetPageLimitForTesting(uint32_t pages) { page_limit_for_testing.store(pages); }

void PageStore::Create(file::WritableFile& file) {
  *this = PageStore();
  file_ = &file;
}

void PageStore::Open(file::WritableFile& file, uint64_t size) {
  const uint64_t count64 = size / kPageBytes;
  if (size % kPageBytes != 0 || count64 < 2 || count64 > format::kMaxDatabasePages) {
    throw Error(u"データベースファイルの大きさが不正です");
  }
  *this = PageStore();
  file_ = &file;
  const auto count = static_cast<uint32_t>(count64);
  pages_.resize(count);
  changed_flag_.assign(count, false);
  free_.assign(count, false);
  committed_ = written_end_ = count;
  ReadGlobalMap();
}

uint64_t PageStore::file_size() const { return Offset(written_end_); }

PageBytes& PageStore::Hold(uint32_t page) const {
  std::unique_ptr<PageBytes>& held = pages_.at(page);
  if (!held) {
    auto bytes = std::make_unique<PageBytes>();
    if (page >= written_end_ || file_->ReadAt(Offset(page), *bytes) != kPageBytes) {
      throw Error(u"データベースファイルを読み込めません");
    }
    held = std::move(bytes);
    ++held_;
  }
  return *held;
}

const uint8_t* PageStore::Read(uint32_t page) const { return Hold(page).data(); }

uint8_t* PageStore::Mutable(uint32_t page) {
  PageBytes& bytes = Hold(page);
  if (!changed_flag_[page]) {
    changed_flag_[page] = true;
    ++changed_;
  }
  return bytes.data();
}

bool PageStore::CanAllocate(uint32_t count) const {
  return static_cast<uint64_t>(pages_.size()) + count <= PageLimit();
}

uint32_t PageStore::Allocate() {
  if (!CanAllocate(1)) {
    throw Error(u"データベースファイルが大きくなりすぎました (ページ数の上限を超えます)");
  }
  pages_.push_back(std::make_unique<PageBytes>());
  pages_.back()->fill(0);
  ++held_;
  changed_flag_.push_back(false);
  free_.push_back(false);
  const uint32_t page = page_count() - 1;
  Mutable(page);
  return page;
}

void PageStore::Free(uint32_t page) {
  std::memset(Mutable(page), 0, kPageSize);
  free_[page] = true;
}

void PageStore::WritePage(uint32_t page) const { file_->WriteAt(Offset(page), *pages_[page]); }

void PageStore::Drop(uint32_t page) const {
  if (pages_[page]) {
    pages_[page].reset();
    --held_;
  }
}

void PageStore::Retire(uint32_t page) {
  if (page < committed_ || page >= page_count() || !pages_[page]) return;
  if (changed_flag_[page]) {
    WritePage(page);
    changed_flag_[page] = false;
    --changed_;
    written_end_ = std::max(written_end_, page + 1);
  }
  Drop(page);
}

void PageStore::Trim() {
  if (held_ <= kHeldLimit) return;
  for (uint32_t page = 0; page < page_count(); ++page) {
    if (!pages_[page]) continue;
    if (page >= committed_) {
      Retire(page);
    } else if (!changed_flag_[page]) {
      Drop(page);
    }
  }
}

void PageStore::Commit() {
  for (uint32_t page = 0; page < page_count(); ++page) {
    if (changed_flag_[page]) WritePage(page);
  }
  changed_flag_.assign(page_count(), false);
  changed_ = 0;
  committed_ = written_end_ = page_count();
  for (auto& page : pages_) page.reset();
  held_ = 0;
}

// Page 1 row 0, inline: u8 0, u32 first page (0), bitmap. Reference: u8 1, then the map
// pages, each covering kPagesPerMapPage pages from page 0 on.
void PageStore::ReadGlobalMap() {
  const uint8_t* p1 = Read(format::kGlobalMapPage);
  if (data_page::RowCount(p1) < 1) return;
  const uint16_t start = data_page::RowStart(p1, 0);
  const uint16_t end = kPageSize;  // row 0 lies at the end of the page
  if (start >= end || end > kPageSize || end - start < 5) {
    throw Error(u"全体の使用マップが不正です");
  }
  const uint8_t* row = p1 + start;
  const uint32_t length = static_cast<uint32_t>(end - start);
  const uint32_t count = page_count();
  if (row[0] == format::kInlineMap) {
    const uint32_t first = GetU32(row + 1);
    for (uint32_t bit = 0; bit < (length - 5) * 8; ++bit) {
      const uint64_t page = uint64_t{first} + bit;
      if (page < count && (row[5 + bit / 8] & (1u << (bit % 8)))) free_[page] = true;
    }
    return;
  }
  if (row[0] != format::kReferenceMap) throw Error(u"全体の使用マップの種類が不正です");
  for (uint32_t j = 0; 1 + 4 * j + 4 <= length; ++j) {
    const uint32_t map_page = GetU32(row + 1 + 4 * j);
    if (map_page == 0) break;
    if (map_page >= count) throw Error(u"全体の使用マップのページが不正です");
    global_map_pages_.push_back(map_page);
    const uint8_t* bits = Read(map_page) + format::kMapPageBitmapOffset;
    const uint64_t first = uint64_t{j} * format::kPagesPerMapPage;
    for (uint32_t bit = 0; bit < format::kPagesPerMapPage && first + bit < count; ++bit) {
      if (bits[bit / 8] & (1u << (bit % 8))) free_[first + bit] = true;
    }
  }
}

void PageStore::WriteGlobalMap() {
  if (global_map_pages_.empty() && page_count() <= kInlineGlobalMapPages) {
    WriteInlineGlobalMap();
  } else {
    WriteReferenceGlobalMap();
  }
}

// Page 1: a data page owned by "1" holding two rows. Row 0 is the global map (type 0,
// start page 0, bitmap with a set bit for every free page, including the pages past the end
// of the file that the bitmap covers); it grows in steps of 32 bytes as the file grows.
// Row 1 is 69 zero bytes.
void PageStore::WriteInlineGlobalMap() {
  size_t bitmap = (page_count() + 7) / 8;
  bitmap = std::max<size_t>(64, (bitmap + 31) / 32 * 32);
  std::vector<uint8_t> row(5 + bitmap, 0);
  for (uint32_t bit = 0; bit < bitmap * 8; ++bit) {
    if (bit >= page_count() || free_[bit]) SetBit(row.data() + 5, bit);
  }
  uint8_t* p = Mutable(format::kGlobalMapPage);
  std::memset(p, 0, kPageSize);
  data_page::Init(p, 1);
  data_page::AddRow(p, row.data(), row.size());
  const std::vector<uint8_t> zeros(format::kUsageMapRowLength, 0);
  data_page::AddRow(p, zeros.data(), zeros.size());
}

// Row 0 in the reference form: u8 1 and the map pages; map page j covers pages
// j * kPagesPerMapPage on, with a set bit for every free page and for the pages past the end
// of the file. The map pages are in use, and listed by no other map.
void PageStore::WriteReferenceGlobalMap() {
  while (static_cast<uint64_t>(global_map_pages_.size()) * format::kPagesPerMapPage <
         page_count()) {
    global_map_pages_.push_back(Allocate());
  }
  if (global_map_pages_.size() > format::kReferenceMapSlots) {
    throw Error(u"データベースファイルが大きくなりすぎました (ページ数の上限を超えます)");
  }
  std::vector<uint8_t> row(format::kUsageMapRowLength, 0);
  row[0] = format::kReferenceMap;
  for (size_t j = 0; j < global_map_pages_.size(); ++j) {
    const uint32_t map_page = global_map_pages_[j];
    PutU32(row.data() + 1 + 4 * j, map_page);
    uint8_t* page = Mutable(map_page);
    std::memset(page, 0, kPageSize);
    page[0] = PageTypeByte(PageType::kUsageMap);
    page[1] = format::kPageMarker;
    uint8_t* bits = page + format::kMapPageBitmapOffset;
    const uint64_t first = uint64_t{j} * format::kPagesPerMapPage;
    for (uint32_t bit = 0; bit < format::kPagesPerMapPage; ++bit) {
      const uint64_t n = first + bit;
      if (n >= page_count() || free_[n]) SetBit(bits, bit);
    }
  }
  uint8_t* p = Mutable(format::kGlobalMapPage);
  std::memset(p, 0, kPageSize);
  data_page::Init(p, 1);
  data_page::AddRow(p, row.data(), row.size());
  const std::vector<uint8_t> zeros(format::kUsageMapRowLength, 0);
  data_page::AddRow(p, zeros.data(), zeros.size());
}

}  // namespace jet::write
