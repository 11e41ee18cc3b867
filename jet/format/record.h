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
#include <string>
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
  // The same into `out`; a text goes into the storage of the text `out` already holds.
  void DecodeInto(Pager* pager, const ColumnDefinition& column, Value& out) const;
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

// ---- Encoding: the inverse of RecordView ----

// The fixed-area bytes of a non-NULL value of a fixed-length type other than Yes/No (its
// FixedAreaSize bytes at `out`).
void EncodeFixedValue(ColumnType type, const Value& value, uint8_t* out);

// The stored bytes of a non-NULL variable-length value: Text and Memo as EncodeText makes
// them, Binary and OLE as given. For Memo and OLE these are the long value's data, which a
// long-value field (long_value.h) then holds.
std::string EncodeVariableValue(ColumnType type, bool compressible, const Value& value);

// The length of a row with these counts whose variable slots hold `variable_bytes` bytes
// together.
size_t EncodedRecordSize(uint16_t column_count, uint16_t fixed_area, uint16_t variable_count,
                         size_t variable_bytes);

// Builds one row column by column. A column never set is NULL; a slot never set is empty.
class RecordEncoder {
 public:
  // `column_count`: the columns ever defined (the row's column count and null-mask size);
  // `fixed_area`: the fixed area's bytes; `variable_count`: the variable slots (0: the row
  // has no offset table).
  RecordEncoder(uint16_t column_count, uint16_t fixed_area, uint16_t variable_count);

  // A non-NULL fixed-length value other than Yes/No, at `fixed_offset` in the fixed area.
  void SetFixed(uint16_t number, uint16_t fixed_offset, ColumnType type, const Value& value);
  // A Yes/No value, which is its null-mask bit.
  void SetBoolean(uint16_t number, bool value);
  // The bytes of a non-NULL variable-length column in slot `variable_index`.
  void SetVariable(uint16_t number, uint16_t variable_index, std::string bytes);

  // The row's bytes.
  std::string Finish() const;

 private:
  void SetPresent(uint16_t number);

  std::string fixed_;               // the column count and the fixed area
  std::vector<std::string> slots_;  // by variable slot
  std::string mask_;
};

// The stored field of a Memo or OLE value from its data (see long_value.h).
using LongValueFieldFunction =
    std::function<std::string(const ColumnDefinition& column, std::string data)>;

// A whole row of `def` from one value per column of def.columns, the inverse of
// DecodeRecord with every column: fixed values, texts (compressed where the column allows),
// binaries, Yes/No bits and NULLs, each where `def` places it. Memo and OLE data go into the
// row as the field `long_value` makes of them.
std::string EncodeRecord(const TableDefinition& def, std::span<const Value> values,
                         const LongValueFieldFunction& long_value);

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
