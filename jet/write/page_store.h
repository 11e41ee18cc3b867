// The database's pages as the writer sees them: a page is read from the file when first
// needed, and a changed page stays in memory until it is written.
//
// Pages that existed at the last commit (below committed_pages()) are written only by Commit,
// so that the file keeps its committed state while a transaction is open and a rollback only
// has to cut the file back. Pages appended since then are written as soon as the writer is
// done with them (Retire) or when too many are held (Trim): nothing committed refers to them,
// so the engine's reader, which reads the file meanwhile, never reaches them.
//
// Page 1 holds the global page-usage map (a set bit means the page is free). The store keeps
// the set of free pages and rebuilds page 1 from it on every commit: inline while the file
// has at most kInlineGlobalMapPages pages, otherwise in the reference form whose map pages
// cover the whole file from page 0.
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
  // Largest file whose global map fits inline on page 1: the bitmap row may grow to 4000
  // bytes before page 1 is full.
  static constexpr uint32_t kInlineGlobalMapPages = 32000;

  // The most pages any file may have (Jet 4.0's own limit unless a test lowered it).
  static uint32_t PageLimit();
  // Lowers the page limit for files written from now on (0 restores Jet's limit), so that
  // tests can reach it with small files.
  static void SetPageLimitForTesting(uint32_t pages);

  // Starts an empty store for the new, empty `file`.
  void Create(file::WritableFile& file);
  // Starts a store over the first `size` bytes of `file`, all of them committed. Reads page
  // 1's map. Throws jet::Error when the size or the map is not usable.
  void Open(file::WritableFile& file, uint64_t size);

  uint32_t page_count() const { return static_cast<uint32_t>(pages_.size()); }
  uint32_t committed_pages() const { return committed_; }
  // Bytes the file holds now: the committed pages and the new pages already written.
  uint64_t file_size() const;

  // The page's bytes, read from the file when not held. The pointer stays valid until the
  // next Retire, Trim or Commit.
  const uint8_t* Read(uint32_t page) const;
  // The same for changing the page: it is written by the next Commit (or earlier, if new).
  uint8_t* Mutable(uint32_t page);

  // Appends a zeroed page. Throws jet::Error past PageLimit().
  uint32_t Allocate();
  // Whether `count` more pages can still be allocated.
  bool CanAllocate(uint32_t count) const;
  // Marks a page free (its bytes are zeroed); it is not reused by Allocate.
  void Free(uint32_t page);
  bool IsFree(uint32_t page) const { return page < free_.size() && free_[page]; }

  // The writer will not change `page` again: a new page is written now and let go.
  void Retire(uint32_t page);
  // When many pages are held: writes the changed new pages and lets go of every page that
  // need not stay (the changed committed pages stay until Commit).
  void Trim();

  // Rebuilds the global usage map on page 1 (and its map pages) from the allocation state.
  // May allocate map pages.
  void WriteGlobalMap();
  // Writes every changed page; all pages are committed from then on and let go.
  void Commit();
  // Whether anything changed since the last Commit.
  bool has_changes() const { return changed_ > 0 || page_count() != committed_; }

 private:
  PageBytes& Hold(uint32_t page) const;
  void WritePage(uint32_t page) const;
  void Drop(uint32_t page) const;
  void ReadGlobalMap();
  void WriteInlineGlobalMap();
  void WriteReferenceGlobalMap();

  file::WritableFile* file_ = nullptr;
  // Held pages (nullptr = only in the file). Mutable: reading a page caches it.
  mutable std::vector<std::unique_ptr<PageBytes>> pages_;
  mutable size_t held_ = 0;
  std::vector<bool> changed_flag_;
  size_t changed_ = 0;
  std::vector<bool> free_;
  uint32_t committed_ = 0;
  uint32_t written_end_ = 0;  // pages the file holds, committed or written early
  std::vector<uint32_t> global_map_pages_;
};

namespace data_page = format::data_page;

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_PAGE_STORE_H_
