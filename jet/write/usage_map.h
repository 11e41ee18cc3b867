// Usage maps: the set of pages that belong to a table, an index or a long-value column, stored
// as a 69-byte row on a map page and reached through a row pointer.
//
//   type 0 (inline):    u8 0, u32 start page, 64-byte bitmap (bit k = page start + k)
//   type 1 (reference): u8 1, 17 x u32 page numbers of type-5 bitmap pages; entry j covers
//                       pages j * 32736 ... and its page is 05 01 00 00 + 4092-byte bitmap
//
// A map is written inline while its pages lie within 512 pages (from page 0 while they all
// lie below 512, otherwise from its lowest page rounded down to a multiple of 8), and in the
// reference form from then on: its map pages, once allocated, are never given up. The
// reference form reaches 17 x 32736 pages, more than a Jet 4.0 file can hold.
#ifndef QUORVEL_JET_WRITE_USAGE_MAP_H_
#define QUORVEL_JET_WRITE_USAGE_MAP_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/write/bytes.h"
#include "jet/write/page_store.h"

namespace jet::write {

using format::kUsageMapRowLength;

class UsageMap {
 public:
  explicit UsageMap(RowPointer location) : location_(location) {}

  // The map stored at `location` (written earlier by Write). Throws jet::Error when the row
  // is not a usage map.
  static std::unique_ptr<UsageMap> Load(const PageStore& store, RowPointer location);

  RowPointer location() const { return location_; }
  void Add(uint32_t page);
  void Remove(uint32_t page);
  bool Contains(uint32_t page) const { return page < bits_.size() && bits_[page]; }
  std::vector<uint32_t> Pages() const;
  bool dirty() const { return dirty_; }

  // Writes the map row (and its type-5 pages in the reference form). May allocate pages.
  void Write(PageStore& store);
  // Whether the map is (or will be written) in the reference form.
  bool reference() const { return reference_; }

 private:
  // First page of the inline form's bitmap.
  uint32_t InlineStart() const;
  void WriteInline(uint8_t* row, uint32_t start) const;
  void WriteReference(PageStore& store, uint8_t* row);

  RowPointer location_;
  std::vector<bool> bits_;
  uint32_t highest_ = 0;
  bool dirty_ = true;
  bool reference_ = false;
  std::vector<uint32_t> bitmap_pages_;  // type-5 pages, by range
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_USAGE_MAP_H_
