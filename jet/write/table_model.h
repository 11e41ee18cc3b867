// What the writer knows about each table: columns, indexes, usage maps and counters. The
// table definition (TDEF) pages are serialised from this model whenever it changes.
#ifndef QUORVEL_JET_WRITE_TABLE_MODEL_H_
#define QUORVEL_JET_WRITE_TABLE_MODEL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/format/table_definition.h"
#include "jet/jet.h"
#include "jet/write/bytes.h"
#include "jet/write/index_tree.h"
#include "jet/write/usage_map.h"

namespace jet::write {

struct ColumnModel {
  std::u16string name;
  ColumnType type = ColumnType::kLong;
  uint16_t number = 0;
  uint16_t var_index = 0;  // slot in the row's offset table (fixed: variable columns before it)
  uint16_t fixed_offset = 0;
  uint16_t length = 0;  // bytes (Text: 2 per character)
  uint8_t flags = 0;
  uint8_t extra_flags = 0;
  uint16_t column_number_again = 0;
  bool not_null = false;
  int max_chars = 0;  // Text only

  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool auto_number() const { return (flags & kColumnAutoLong) != 0; }
  bool long_value() const { return type == ColumnType::kMemo || type == ColumnType::kOle; }

  // Long-value columns: their page maps and the LVAL page that new values go to first.
  UsageMap* lv_owned = nullptr;
  UsageMap* lv_free = nullptr;
  uint32_t lv_page = 0;
};

struct IndexColumnModel {
  uint16_t column = 0;
  bool ascending = true;
};

struct RealIndexModel {
  std::vector<IndexColumnModel> columns;
  uint8_t flags = kIndexJet4;
  UsageMap* map = nullptr;
  uint32_t root = 0;
  uint32_t distinct_keys = 0;
  std::unique_ptr<IndexTree> tree;

  bool unique() const { return (flags & kIndexUnique) != 0; }
};

struct LogicalIndexModel {
  std::u16string name;
  uint32_t number = 0;
  uint32_t real = 0;
  uint8_t type = 0;  // 1 primary key
};

struct TableModel {
  std::u16string name;
  uint32_t id = 0;                   // first TDEF page
  std::vector<uint32_t> tdef_pages;  // all TDEF pages, first one first
  uint8_t table_type = kUserTable;
  std::vector<ColumnModel> columns;        // by column number
  std::vector<uint16_t> descriptor_order;  // column numbers in descriptor order
  std::vector<RealIndexModel> indexes;     // by real index number
  std::vector<LogicalIndexModel> logical;  // in stored order
  std::vector<uint16_t> long_value_order;  // long-value columns in TDEF list order
  UsageMap* owned = nullptr;
  UsageMap* free_space = nullptr;
  uint32_t row_count = 0;
  uint32_t autonumber = 0;    // last number handed out
  uint32_t current_page = 0;  // data page that takes the next row (0: none yet)
  uint16_t fixed_area = 0;
  uint16_t variable_count = 0;
  bool dirty = true;

  const ColumnModel* FindColumn(std::u16string_view name) const;
};

// Assigns column numbers, variable slots and fixed offsets in column-number order.
void LayOutColumns(TableModel& table);

// The table's definition as the format describes it.
format::TableDefinition DefinitionOf(const TableModel& table);

// The full TDEF byte string (one logical buffer, before cutting into pages), as
// format::EncodeTableDefinition makes it from DefinitionOf(table).
std::vector<uint8_t> SerializeTableDefinition(const TableModel& table);

// Number of pages a definition of `length` bytes occupies.
uint32_t TableDefinitionPages(size_t length);

// Writes a serialised definition onto the table's TDEF pages.
void WriteTableDefinition(PageStore& store, const TableModel& table);

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_TABLE_MODEL_H_
