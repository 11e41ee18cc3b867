// The database's pages, held in memory while the writer works on them. Changed pages are
// remembered and written to the file in one pass by WriteDirty.
//
// Page 1 holds the global page-usage map (a set bit means the page is free); the store keeps
// the set of allocated pages and rebuilds that page from it on every write.
#ifndef QUORVEL_JET_WRITE_PAGE_STORE_H_
#define QUORVEL_JET_WRITE_PAGE_STORE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/file/file.h"
#include "jet/format/data_page.h"
#include "jet/write/bytes.h"

namespace jet::write {

using PageBytes = std::array<uint8_t, kPageSize>;

class PageStore {
 public:
  // Largest file the global map on page 1 can describe: row 0 may grow to about 4000 bytes
  // of bitmap before page 1 is full.
  static constexpr uint32_t kMaxPages = 32000;

  uint32_t page_count() const { return static_cast<uint32_t>(pages_.size()); }
  const uint8_t* Read(uint32_t page) const { return pages_[page]->data(); }
  uint8_t* Mutable(uint32_t page);

  // Appends a zeroed page. Throws jet::Error when the file would exceed kMaxPages.
  uint32_t Allocate();
  // Whether `count` more pages can still be allocated.
  bool CanAllocate(uint32_t count) const;
  // Marks a page free (its bytes are zeroed); it is not reused by Allocate.
  void Free(uint32_t page);
  bool IsFree(uint32_t page) const { return page < free_.size() && free_[page]; }

  // Replaces the pages with the first `size` bytes of `file`, with nothing changed.
  // Throws jet::Error when the file cannot be read.
  void LoadFrom(file::ReadableFile& file, uint64_t size);

  // Rebuilds the global usage map on page 1 (rows 0 and 1) from the allocation state.
  void WriteGlobalMap();

  // Writes every changed page at its offset in `file`, then forgets the changes.
  void WriteDirty(file::WritableFile& file);
  bool has_dirty() const { return !dirty_list_.empty(); }

 private:
  std::vector<std::unique_ptr<PageBytes>> pages_;
  std::vector<bool> dirty_;
  std::vector<uint32_t> dirty_list_;
  std::vector<bool> free_;
};

namespace data_page = format::data_page;

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_PAGE_STORE_H_
