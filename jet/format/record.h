// A row of a table (Jet 4.0):
//   0        u16  column count (the table's columns-ever-defined when it was written)
//   2        the fixed area: fixed-length columns at their definition's fixed offset
//   …        variable-length data, slot after slot
//   e-2n-4   u16  offset where the variable data ends
//   …        u16 × n  offset of each variable slot, the last slot first
//   e-2      u16  n, the number of variable slots
//   e        ⌈column count / 8⌉ bytes null mask: bit k (LSB first) = column k present;
//            for Yes/No columns the bit is the value
// A table without variable-length columns has no offsets and no slot count. Columns added
// after a row was written lie beyond its counts and read as NULL.
#ifndef QUORVEL_JET_FORMAT_RECORD_H_
#define QUORVEL_JET_FORMAT_RECORD_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/format/pager.h"
#include "jet/format/table_definition.h"
#include "jet/jet.h"

namespace jet::format {

// One stored row, read once: its column count, null mask and variable slots are checked when
// the view is made, and a column's value is decoded only when asked for. The view refers to
// the row's bytes and the table definition, which must outlive it.
class RecordView {
 public:
  // Throws jet::Error for a damaged row.
  RecordView(const TableDefinition& def, std::span<const uint8_t> row, uint32_t page);

  // False for NULL and for a column added after the row was written. For a Yes/No column
  // this is its value.
  bool Present(const ColumnDefinition& column) const;
  // Long values (Memo, OLE) are read through `pager`; null when the file is no longer open,
  // which raises jet::Error for a long value.
  Value Decode(Pager* pager, const ColumnDefinition& column) const;
  // The text of a Text or Memo column into `out`, whose storage is reused; false (and `out`
  // left as it was) when the value is NULL.
  bool DecodeTextInto(Pager* pager, const ColumnDefinition& column, std::u16string& out) const;

 private:
  // The bytes of a present column other than Yes/No; empty when the row holds none.
  std::optional<ByteReader> Field(const ColumnDefinition& column) const;

  ByteReader reader_;
  uint16_t column_count_ = 0;
  size_t mask_at_ = 0;
  size_t variable_count_ = 0;
};

// Decodes the columns `which` (indexes into def.columns; all when empty) of one row, in the
// order given. Long values are read through `pager`. Throws jet::Error for a damaged row.
std::vector<Value> DecodeRecord(Pager& pager, const TableDefinition& def,
                                std::span<const uint8_t> row, uint32_t page,
                                const std::vector<size_t>& which = {});

// Walks the live rows of a table in storage order: the data pages the table's usage map
// lists, ascending, and the slots of each page in order. A row that moved to another page
// (overflow) is met at its original slot. Pages the map lists that are not data pages of
// this table are skipped. Only the page in hand is held, and pages are read without being
// kept, so a walk over any table needs the same memory.
class RecordCursor {
 public:
  RecordCursor(Pager& pager, const TableDefinition& def);

  // Moves to the next live row; false after the last. Throws jet::Error for a damaged page.
  bool Next();
  std::span<const uint8_t> row() const { return row_; }
  // The page that holds row(); holding it keeps the row's bytes alive.
  const PagePtr& page() const { return row_page_; }
  uint32_t page_number() const { return row_page_->number; }

 private:
  Pager& pager_;
  const TableDefinition& def_;
  std::vector<uint32_t> pages_;
  size_t next_page_ = 0;
  std::optional<DataPage> page_;  // the data page whose slots are being walked
  uint16_t next_slot_ = 0;
  PagePtr row_page_;
  std::span<const uint8_t> row_;
};

// Calls `visit` with the bytes of every live row of the table, in RecordCursor's order.
void ScanRecords(Pager& pager, const TableDefinition& def,
                 const std::function<void(std::span<const uint8_t> row, uint32_t page)>& visit);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_RECORD_H_
