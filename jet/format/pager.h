// Pages of an open file: reads them from a PageSource, decodes encoded pages, and keeps a
// bounded number of recently used pages in memory. A page is immutable once read; whoever
// holds a PagePtr keeps that page's bytes as they were read.
#ifndef QUORVEL_JET_FORMAT_PAGER_H_
#define QUORVEL_JET_FORMAT_PAGER_H_

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "jet/format/coding.h"
#include "jet/format/constants.h"
#include "jet/format/header_page.h"
#include "jet/format/page_source.h"

namespace jet::format {

struct Page {
  uint32_t number = 0;
  std::array<uint8_t, kPageSize> bytes{};
  ByteReader reader() const { return ByteReader(bytes, number); }
  uint8_t type() const { return bytes[0]; }
};
using PagePtr = std::shared_ptr<const Page>;

class Pager {
 public:
  // Reads and checks the header page; throws jet::Error for anything but a Jet 4.0 file.
  explicit Pager(std::unique_ptr<PageSource> source);

  const HeaderPage& header() const { return header_; }
  // Whole pages in the file.
  uint32_t page_count() const { return page_count_; }

  // Page `number`; throws jet::Error when it lies outside the file.
  PagePtr Get(uint32_t number);
  // Page `number` for a walk that passes over many pages once: a page not in memory is read
  // without keeping it, into the memory of `spare` when nobody else holds that page, so a
  // walk over a table of any size touches no new memory. `spare` is emptied. `run` tells how
  // many pages from `number` on the walk is about to pass in order: they are read with one
  // call (at most kReadAheadPages) and handed out from there.
  PagePtr GetPassing(uint32_t number, PagePtr& spare, uint32_t run = 1);
  static constexpr uint32_t kReadAheadPages = 32;
  // Page `number` as it was when the file was last read: a page no longer in memory is read
  // again only while the file is unchanged; otherwise raises jet::Error.
  PagePtr GetUnchanged(uint32_t number);
  // Page `number`, which must be of `type`; otherwise the file is damaged.
  PagePtr GetTyped(uint32_t number, PageType type, std::u16string_view what);

  // Forgets every page read so far and re-reads the header (after the file was written).
  void Reload();
  // True when the file was written since the last Reload (the file is shared: another
  // program may write it while it is open here).
  bool Changed() const { return source_->Stamp() != stamp_; }

 private:
  void Remember(const PagePtr& page);
  PagePtr Find(uint32_t number);  // from memory, or null
  void ReadInto(uint32_t number, Page& page);
  // Reads up to `run` whole pages from `number` on into ahead_; false when not even the first
  // page could be read whole (ReadInto then says why).
  bool ReadAhead(uint32_t number, uint32_t run);
  // Page bytes as the file holds them, decrypted when the file is encoded.
  void Decode(uint32_t number, Page& page) const;

  static constexpr size_t kCacheLimit = 2048;  // pages (8 MiB)

  std::unique_ptr<PageSource> source_;
  HeaderPage header_;
  uint32_t page_count_ = 0;
  uint64_t stamp_ = 0;
  std::unordered_map<uint32_t, PagePtr> cache_;
  // Pages that left the cache but are still held elsewhere (a query result keeps the pages
  // of its rows): found here again instead of being read once more.
  std::unordered_map<uint32_t, std::weak_ptr<const Page>> held_;
  // Pages read ahead for a walk: ahead_count_ pages from ahead_first_ on.
  std::vector<uint8_t> ahead_;
  uint32_t ahead_first_ = 0;
  uint32_t ahead_count_ = 0;
};

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_PAGER_H_
