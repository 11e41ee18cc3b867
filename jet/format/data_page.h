// A data page (also used for long values, with "LVAL" as owner, and for usage-map rows):
//    0  u8   page type (1)
//    1  u8   1
//    2  u16  free space
//    4  u32  owning table-definition page ("LVAL" on long-value pages)
//    8  u32  0
//   12  u16  row count, then one u16 offset per row, slot 0 first:
//            bits 0-12 row start; 0x8000 deleted (or the moved body of an overflow row);
//            0x4000 the row holds a 4-byte row pointer to where it moved
// Rows fill the page from its end downwards: row i ends where row i-1 starts (row 0 ends at
// the page end).
#ifndef QUORVEL_JET_FORMAT_DATA_PAGE_H_
#define QUORVEL_JET_FORMAT_DATA_PAGE_H_

#include <cstdint>
#include <span>

#include "jet/format/coding.h"
#include "jet/format/constants.h"
#include "jet/format/pager.h"

namespace jet::format {

struct RowSlot {
  uint16_t start = 0;
  uint16_t end = 0;
  bool deleted = false;
  bool overflow = false;
};

class DataPage {
 public:
  // Checks the page type and the row count; throws jet::Error for a damaged page.
  explicit DataPage(PagePtr page);

  uint32_t number() const { return page_->number; }
  uint32_t owner() const { return owner_; }
  uint16_t row_count() const { return row_count_; }

  // The flags of slot `row` and, for a live row, its bounds (checked).
  RowSlot Slot(uint16_t row) const;
  // The bytes of row `row` (deleted or not); throws when its bounds are damaged.
  std::span<const uint8_t> Row(uint16_t row) const;
  // The same with the slot already read.
  std::span<const uint8_t> Row(uint16_t row, const RowSlot& slot) const;
  const PagePtr& page() const { return page_; }

 private:
  PagePtr page_;
  uint32_t owner_ = 0;
  uint16_t row_count_ = 0;
};

// Encoding of data pages, for buffers of kPageSize bytes the caller owns. Rows are added
// below the previous one; a slot's flags stay clear.
namespace data_page {
// An empty data page owned by `owner` (a TDEF page, kLongValueOwner, or 1 for page 1).
void Init(uint8_t* page, uint32_t owner);
inline uint16_t FreeSpace(const uint8_t* page) { return GetU16(page + kDataPageFreeSpaceOffset); }
inline uint16_t RowCount(const uint8_t* page) { return GetU16(page + kDataPageRowCountOffset); }
// Start offset of row `row` (flags masked off).
inline uint16_t RowStart(const uint8_t* page, int row) {
  return GetU16(page + kDataPageSlotsOffset + 2 * static_cast<size_t>(row)) & kRowOffsetMask;
}
// Whether a row of `length` bytes fits.
bool Fits(const uint8_t* page, size_t length);
// Appends a row; returns its row number. The caller checked Fits.
uint8_t AddRow(uint8_t* page, const uint8_t* data, size_t length);
}  // namespace data_page

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_DATA_PAGE_H_
