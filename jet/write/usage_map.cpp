#include "jet/write/usage_map.h"

#include <cstring>

#include "jet/jet.h"

namespace jet::write {
namespace {
constexpr uint32_t kInlinePages = format::kInlineMapPages;
constexpr uint32_t kReferenceSlots = format::kReferenceMapSlots;
constexpr uint32_t kPagesPerBitmapPage = format::kPagesPerMapPage;
}  // namespace

std::unique_ptr<UsageMap> UsageMap::Load(const PageStore& store, RowPointer location) {
  if (location.page == 0 || location.page >= store.page_count()) {
    throw Error(u"使用マップの位置が不正です");
  }
  const uint8_t* page = store.Read(location.page);
  if (location.row >= data_page::RowCount(page)) throw Error(u"使用マップの行がありません");
  const uint8_t* row = page + data_page::RowStart(page, location.row);
  auto map = std::make_unique<UsageMap>(location);
  if (row[0] == 0x00) {
    uint32_t start = GetU32(row + 1);
    for (uint32_t bit = 0; bit < kInlinePages; ++bit) {
      if (row[5 + bit / 8] & (1u << (bit % 8))) map->Add(start + bit);
    }
  } else if (row[0] == 0x01) {
    map->reference_ = true;
    for (uint32_t j = 0; j < kReferenceSlots; ++j) {
      uint32_t bitmap_page = GetU32(row + 1 + 4 * j);
      if (bitmap_page == 0) continue;
      if (bitmap_page >= store.page_count()) throw Error(u"使用マップのページが不正です");
      map->bitmap_pages_.resize(j + 1, 0);
      map->bitmap_pages_[j] = bitmap_page;
      const uint8_t* bits = store.Read(bitmap_page);
      for (uint32_t bit = 0; bit < kPagesPerBitmapPage; ++bit) {
        if (bits[4 + bit / 8] & (1u << (bit % 8))) map->Add(j * kPagesPerBitmapPage + bit);
      }
    }
  } else {
    throw Error(u"使用マップの種類が不正です");
  }
  map->dirty_ = false;
  return map;
}

void UsageMap::Add(uint32_t page) {
  if (page >= bits_.size()) bits_.resize(page + 1 + 64, false);
  if (!bits_[page]) {
    bits_[page] = true;
    dirty_ = true;
    if (page > highest_) highest_ = page;
  }
}

void UsageMap::Remove(uint32_t page) {
  if (Contains(page)) {
    bits_[page] = false;
    dirty_ = true;
  }
}

std::vector<uint32_t> UsageMap::Pages() const {
  std::vector<uint32_t> pages;
  for (uint32_t p = 0; p < bits_.size(); ++p) {
    if (bits_[p]) pages.push_back(p);
  }
  return pages;
}

uint32_t UsageMap::InlineStart() const {
  if (highest_ < kInlinePages) return 0;
  uint32_t lowest = 0;
  while (lowest < bits_.size() && !bits_[lowest]) ++lowest;
  return lowest - lowest % 8;
}

void UsageMap::Write(PageStore& store) {
  uint8_t row[kUsageMapRowLength] = {};
  const uint32_t start = reference_ ? 0 : InlineStart();
  if (highest_ - start >= kInlinePages) reference_ = true;
  if (!reference_) {
    WriteInline(row, start);
  } else {
    WriteReference(store, row);
  }
  uint8_t* page = store.Mutable(location_.page);
  std::memcpy(page + data_page::RowStart(page, location_.row), row, kUsageMapRowLength);
  dirty_ = false;
}

void UsageMap::WriteInline(uint8_t* row, uint32_t start) const {
  row[0] = format::kInlineMap;
  PutU32(row + 1, start);
  for (uint32_t p = start; p < bits_.size() && p - start < kInlinePages; ++p) {
    if (bits_[p]) row[5 + (p - start) / 8] |= static_cast<uint8_t>(1u << ((p - start) % 8));
  }
}

void UsageMap::WriteReference(PageStore& store, uint8_t* row) {
  row[0] = format::kReferenceMap;
  const uint32_t ranges = highest_ / kPagesPerBitmapPage + 1;
  if (ranges > kReferenceSlots) {
    throw Error(u"使用マップに入りきらないページがあります (ファイルが大きすぎます)。");
  }
  if (bitmap_pages_.size() < ranges) bitmap_pages_.resize(ranges, 0);
  for (uint32_t j = 0; j < ranges; ++j) {
    if (bitmap_pages_[j] == 0) bitmap_pages_[j] = store.Allocate();
    uint8_t* page = store.Mutable(bitmap_pages_[j]);
    std::memset(page, 0, kPageSize);
    page[0] = PageTypeByte(PageType::kUsageMap);
    page[1] = format::kPageMarker;
    const uint32_t first = j * kPagesPerBitmapPage;
    for (uint32_t p = first; p < bits_.size() && p < first + kPagesPerBitmapPage; ++p) {
      if (bits_[p]) page[4 + (p - first) / 8] |= static_cast<uint8_t>(1u << ((p - first) % 8));
    }
    PutU32(row + 1 + 4 * j, bitmap_pages_[j]);
  }
}

}  // namespace jet::write
