// The one copy loop of the two conversions (Jet to SQLite and SQLite to Jet): rows are read
// from a RowSource and written to a RowSink, refused rows are skipped and counted, and the
// progress function hears how far the copy has come.
#ifndef QUORVEL_DB_ROW_COPY_H_
#define QUORVEL_DB_ROW_COPY_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/conversion.h"
#include "jet/jet.h"

namespace db {

// The rows of an open table, read in order.
class RowSource {
 public:
  virtual ~RowSource() = default;

  // The fields, each with its name and field type.
  virtual const std::vector<jet::Field>& fields() const = 0;
  // The number of rows (exact: counted or read whole when the table is opened).
  virtual int64_t row_count() const = 0;
  // Moves to the next row (the first row on the first call); false when there is none.
  virtual bool Next() = 0;
  // The value of field `field_index` (an index into fields()) in the current row.
  virtual const jet::Value& value(int field_index) const = 0;
};

// The rows of an open table that holds them all and reads them by row number (a Jet dataset,
// a SQLite query), from its first row to its last.
template <typename Table>
class TableRowSource final : public RowSource {
 public:
  explicit TableRowSource(const Table& table) : table_(table) {}

  const std::vector<jet::Field>& fields() const override { return table_.fields(); }
  int64_t row_count() const override { return table_.record_count(); }
  bool Next() override {
    if (row_ + 1 >= table_.record_count()) {
      row_ = table_.record_count();
      return false;
    }
    ++row_;
    return true;
  }
  const jet::Value& value(int field_index) const override {
    return table_.ValueAt(row_, field_index);
  }

 private:
  const Table& table_;
  int64_t row_ = -1;
};

// Reads the rows of another source ahead on a thread of its own, so that reading the source
// and writing the sink share the processor's cores. Rows arrive in the same order and with the
// same values; an error of the source is raised by the Next call that reaches it. Only a few
// batches of rows are held at any time. The wrapped source is used by the reading thread only,
// from the first Next until this object is destroyed; fields() and row_count() are taken from
// it once, here.
class ReadAheadRowSource final : public RowSource {
 public:
  explicit ReadAheadRowSource(RowSource& source);
  ~ReadAheadRowSource() override;
  ReadAheadRowSource(const ReadAheadRowSource&) = delete;
  ReadAheadRowSource& operator=(const ReadAheadRowSource&) = delete;

  const std::vector<jet::Field>& fields() const override { return fields_; }
  int64_t row_count() const override { return row_count_; }
  bool Next() override;
  const jet::Value& value(int field_index) const override;

 private:
  struct Shared;
  void Read();

  RowSource& source_;
  std::vector<jet::Field> fields_;
  int64_t row_count_;
  std::unique_ptr<Shared> shared_;
  std::vector<std::vector<jet::Value>> batch_;  // the batch being handed out
  size_t next_in_batch_ = 0;
  const std::vector<jet::Value>* row_ = nullptr;
};

// A new table that takes rows.
class RowSink {
 public:
  virtual ~RowSink() = default;

  // Creates the table after the source's fields and gets ready for rows.
  virtual void Prepare(const std::vector<jet::Field>& source_fields) = 0;
  // Writes the current row of `row` (whose fields are those given to Prepare). Returns false
  // when the table refused the row: nothing of it is written, and the next row may follow.
  // A value that cannot be converted, and every other failure, raises.
  virtual bool Append(const RowSource& row) = 0;
  // Makes every appended row part of the table.
  virtual void Finish() = 0;
  // The rows written so far with a text cut to its field's length.
  virtual int64_t truncated_rows() const { return 0; }
};

// The CREATE TABLE statement a sink runs for the source's fields.
using TableStatementBuilder = std::u16string (*)(std::u16string_view table,
                                                 const std::vector<jet::Field>& fields);

// Prepares `sink` with the fields of `source`, appends every row of `source` in order and
// finishes the sink. Rows the sink refuses are counted and skipped, and so are rows the sink
// wrote with a text cut (truncated_rows). `progress` (when set) is
// called with the rows handled so far (copied or refused) after every 4096 rows, and with the
// total once the sink has finished. Errors of either side propagate.
CopyCounts CopyRows(RowSource& source, RowSink& sink, const ProgressFunction& progress = {});

// For every field of `source_fields`, the index of the target's field of the same name, as
// `find_field(name)` gives it (-1 when there is none). A missing field raises
// platform::Error "<target>にフィールド「<name>」がありません".
std::vector<int> MatchFieldsByName(const std::vector<jet::Field>& source_fields,
                                   const std::function<int(std::u16string_view)>& find_field,
                                   std::u16string_view target);

}  // namespace db

#endif  // QUORVEL_DB_ROW_COPY_H_
