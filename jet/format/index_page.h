// Index pages (leaf 0x04, node 0x03):
//    0  u8   type          1  u8  1           2  u16  free space     4  u32  TDEF page
//   12  u32  previous page on the level      16  u32  next page      20  u32  tail (nodes)
//   24  u16  shared prefix length
//   27  453-byte bitmap: bit E set where an entry ends, E counted from 0x1E0
//  480  entries back to back
// Every entry but the first is stored without the first `shared prefix length` bytes, which
// it has in common with the first entry.
// A leaf entry is the key followed by the row's page (3 bytes big-endian) and row number.
// A node entry copies the last entry below one child and adds the child page (4 bytes
// big-endian); a node with two or more children keeps the last child in the tail field.
#ifndef QUORVEL_JET_FORMAT_INDEX_PAGE_H_
#define QUORVEL_JET_FORMAT_INDEX_PAGE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/coding.h"
#include "jet/format/constants.h"

namespace jet::format {

// The fields of an index page besides its entries.
struct IndexPageHeader {
  PageType type = PageType::kIndexLeaf;  // kIndexLeaf or kIndexNode
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t shared_prefix = 0;
  bool operator==(const IndexPageHeader&) const = default;
};

struct IndexPage {
  IndexPageHeader header;
  std::vector<std::string> entries;  // whole, the shared prefix put back
  bool operator==(const IndexPage&) const = default;
};

// Decodes index page `number`. Throws the format's corruption error when the page is not an
// index page or its entries do not fit its layout.
IndexPage DecodeIndexPage(std::span<const uint8_t> bytes, uint32_t number);

// Encodes an index page into `out` (kPageSize bytes), each entry after the first stored
// without the shared prefix. Throws jet::Error when the entries do not fit, are empty, or do
// not all begin with the first entry's shared prefix.
void EncodeIndexPage(const IndexPageHeader& header, const std::vector<std::string>& entries,
                     std::span<uint8_t> out);
inline void EncodeIndexPage(const IndexPage& page, std::span<uint8_t> out) {
  EncodeIndexPage(page.header, page.entries, out);
}

// The bytes the entries take on a page with this shared prefix.
size_t IndexEntriesSize(const std::vector<std::string>& entries, size_t shared_prefix = 0);

// Rewrites the previous and next page of an encoded index page.
void SetIndexPageNeighbours(std::span<uint8_t> page, uint32_t prev, uint32_t next);

// Leaf entries: key + row pointer.
std::string MakeLeafEntry(std::string_view key, RowPointer row);
// Whether `entry` is a leaf entry of exactly `key`.
bool LeafEntryHasKey(std::string_view entry, std::string_view key);

// Node entries: the last entry below the child + the child's page.
std::string MakeNodeEntry(std::string_view last_below, uint32_t child);
// The child page of a node entry of page `number`; corrupt when the entry is too short.
uint32_t NodeEntryChild(std::string_view entry, uint32_t number);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_INDEX_PAGE_H_
