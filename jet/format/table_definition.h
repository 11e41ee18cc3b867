// A table definition (TDEF), possibly spread over a chain of pages. Each page starts with
//    0  u8   page type (2)
//    1  u8   1
//    2  u16  free space
//    4  u32  next TDEF page (0 = last)
// and the definition is the first page followed by bytes 8.. of each further page. In that
// joined buffer:
//    8  u32  definition length
//   16  u32  row count
//   20  u32  last AutoNumber handed out
//   40  u8   table type (0x4E user, 0x53 system)
//   41  u16  columns ever defined (the column count stored in each row)
//   43  u16  variable-length columns
//   45  u16  columns
//   47  u32  logical indexes
//   51  u32  real indexes
//   55  u32  row pointer of the usage map of the table's data pages
//   59  u32  row pointer of the usage map of its pages with free space
//   63  12 × real indexes   (4 zero, u32 distinct keys, 4 zero)
//   then 25 bytes per column:
//        0 u8 type, 1 u32 magic, 5 u16 column number, 7 u16 variable-column slot,
//        9 u16 column number again, 11 u8 precision, 12 u8 scale (Decimal; otherwise the
//        sort order), 15 u8 flags, 16 u8 extra flags, 21 u16 offset in the fixed area,
//        23 u16 length in bytes
//   then the column names: u16 byte length + UCS-2 each
//   then 52 bytes per real index:
//        0 u32 magic, 4 10 × (u16 column number (0xFFFF unused), u8 1 = ascending),
//        34 u32 usage map row pointer, 38 u32 root page, 46 u8 flags
//   then 28 bytes per logical index:
//        4 u32 number, 8 u32 real index, 23 u8 type (1 primary key, 2 foreign key)
//        13 u32 the related index of a relationship (FF FF FF FF: none), 21 and 22 u8 4
//        when the index belongs to no relationship
//   then the logical index names (as column names), then 10 bytes per long-value column
//        (u16 column number, u32 row pointer of the usage map of its long-value pages, u32
//        the same for its pages with free space), and FF FF.
#ifndef QUORVEL_JET_FORMAT_TABLE_DEFINITION_H_
#define QUORVEL_JET_FORMAT_TABLE_DEFINITION_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "jet/format/constants.h"
#include "jet/format/pager.h"

namespace jet::format {

struct ColumnDefinition {
  uint8_t type = 0;  // jet::ColumnType value; unknown codes are kept as read
  uint16_t number = 0;
  uint16_t variable_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t extra_flags = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint16_t number_again = 0;  // offset 9: the column number once more
  // The descriptor's place among the stored descriptors, which need not follow the column
  // numbers (Jet's own system tables do not).
  uint16_t descriptor_index = 0;
  std::u16string name;

  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool operator==(const ColumnDefinition&) const = default;
};

struct RealIndex {
  std::vector<std::pair<uint16_t, bool>> columns;  // column number, ascending
  uint32_t map_pointer = 0;
  uint32_t root_page = 0;
  uint8_t flags = 0;
  uint32_t distinct_keys = 0;  // the counter before the column descriptors
  bool operator==(const RealIndex&) const = default;
};

struct LogicalIndex {
  uint32_t number = 0;
  uint32_t real_index = 0;
  uint8_t type = 0;
  std::u16string name;
  bool operator==(const LogicalIndex&) const = default;
};

// The usage maps of a Memo or OLE column's long-value pages.
struct LongValueColumn {
  uint16_t column = 0;
  uint32_t owned_map = 0;  // row pointers
  uint32_t free_map = 0;
  bool operator==(const LongValueColumn&) const = default;
};

struct TableDefinition {
  uint32_t page = 0;
  std::vector<uint32_t> pages;  // the chain, first page first
  uint32_t row_count = 0;
  uint32_t auto_number = 0;
  uint8_t table_type = 0;
  uint16_t max_columns = 0;
  uint16_t variable_columns = 0;
  uint32_t owned_map = 0;  // row pointers
  uint32_t free_map = 0;
  std::vector<ColumnDefinition> columns;  // ordered by column number
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<LongValueColumn> long_value_columns;
  bool operator==(const TableDefinition&) const = default;
};

// Reads the definition that starts at `page`. Throws jet::Error for a damaged definition,
// including a page chain that loops.
TableDefinition ReadTableDefinition(Pager& pager, uint32_t page);

// The joined definition buffer of the page chain that starts at `page`, each page's bytes
// (kPageSize of them) from `read_page`; the chain's page numbers go to `chain`. Throws the
// format's corruption error for a chain that loops or reaches a page of another type.
using DefinitionPageReader = std::function<std::span<const uint8_t>(uint32_t page)>;
std::vector<uint8_t> JoinTableDefinitionPages(uint32_t page, const DefinitionPageReader& read_page,
                                              std::vector<uint32_t>& chain);

// The pages a joined definition of `length` bytes takes.
uint32_t TableDefinitionPageCount(size_t length);

// Page `index` of the chain a joined definition is cut into (TableDefinitionPageCount of
// them): the first page carries the buffer's first kPageSize bytes, each further page its
// own header and the next bytes. `next_page` is the following page of the chain (0 for the
// last). The free-space word of the last page counts the page header less than the room
// left, as Jet's do.
void EncodeTableDefinitionPage(std::span<const uint8_t> definition, size_t index,
                               uint32_t next_page, std::span<uint8_t> out);

// Parses a joined definition buffer (exposed for tests and the fuzzer).
TableDefinition ParseTableDefinition(std::span<const uint8_t> buffer, uint32_t page);

// The joined definition buffer of `def`, the inverse of ParseTableDefinition: the column
// descriptors and names in the order of their descriptor_index (ties in the order of
// def.columns), the
// index blocks in order, every logical index as one that belongs to no relationship. The
// page-chain words (free space, next page) are left 0 for whoever cuts the buffer into
// pages. `def.page` and `def.pages` are not part of it.
std::vector<uint8_t> EncodeTableDefinition(const TableDefinition& def);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_TABLE_DEFINITION_H_
