#include "jet/format/data_page.h"

#include <cstring>

namespace jet::format {

DataPage::DataPage(PagePtr page) : page_(std::move(page)) {
  const ByteReader r = page_->reader();
  if (page_->type() != static_cast<uint8_t>(PageType::kData)) {
    ThrowCorrupt(u"データ ページではありません (種別 " + Number(page_->type()) + u")",
                 page_->number);
  }
  owner_ = r.U32(kDataPageOwnerOffset);
  row_count_ = r.U16(kDataPageRowCountOffset);
  if (kDataPageSlotsOffset + 2u * row_count_ > kPageSize) {
    ThrowCorrupt(u"行数 " + Number(row_count_) + u" がページに収まりません", page_->number);
  }
}

RowSlot DataPage::Slot(uint16_t row) const {
  if (row >= row_count_) {
    ThrowCorrupt(u"存在しない行 " + Number(row) + u" を参照しています", page_->number);
  }
  // The slot table lies inside the page (checked when the page was opened).
  const uint8_t* slots = page_->bytes.data() + kDataPageSlotsOffset;
  const auto entry = [slots](size_t i) {
    return static_cast<uint16_t>(slots[2 * i] | (slots[2 * i + 1] << 8));
  };
  const uint16_t raw = entry(row);
  RowSlot slot;
  slot.deleted = (raw & kRowDeleted) != 0;
  slot.overflow = (raw & kRowOverflow) != 0;
  slot.start = raw & kRowOffsetMask;
  slot.end = row == 0 ? kPageSize : static_cast<uint16_t>(entry(row - 1u) & kRowOffsetMask);
  return slot;
}

std::span<const uint8_t> DataPage::Row(uint16_t row) const { return Row(row, Slot(row)); }

std::span<const uint8_t> DataPage::Row(uint16_t row, const RowSlot& slot) const {
  const size_t table_end = kDataPageSlotsOffset + 2u * row_count_;
  if (slot.start < table_end || slot.end > kPageSize || slot.start > slot.end) {
    ThrowCorrupt(u"行 " + Number(row) + u" の位置 (" + Number(slot.start) + u"〜" +
                     Number(slot.end) + u") が不正です",
                 page_->number);
  }
  return std::span<const uint8_t>(page_->bytes).subspan(slot.start, slot.end - slot.start);
}

namespace data_page {

void Init(uint8_t* page, uint32_t owner) {
  page[0] = PageTypeByte(PageType::kData);
  page[1] = kPageMarker;
  PutU16(page + kDataPageFreeSpaceOffset, kPageSize - kDataPageSlotsOffset);
  PutU32(page + kDataPageOwnerOffset, owner);
  PutU32(page + kDataPageOwnerOffset + 4, 0);
  PutU16(page + kDataPageRowCountOffset, 0);
}

bool Fits(const uint8_t* page, size_t length) {
  return RowCount(page) < kMaxRowsPerPage && FreeSpace(page) >= length + 2;
}

uint8_t AddRow(uint8_t* page, const uint8_t* data, size_t length) {
  const uint16_t count = RowCount(page);
  const size_t end = count == 0 ? kPageSize : RowStart(page, count - 1);
  const auto start = static_cast<uint16_t>(end - length);
  std::memcpy(page + start, data, length);
  PutU16(page + kDataPageSlotsOffset + 2 * size_t{count}, start);
  PutU16(page + kDataPageRowCountOffset, static_cast<uint16_t>(count + 1));
  PutU16(page + kDataPageFreeSpaceOffset, static_cast<uint16_t>(FreeSpace(page) - length - 2));
  return static_cast<uint8_t>(count);
}

}  // namespace data_page
}  // namespace jet::format
