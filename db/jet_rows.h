// The Jet side of the copy routine: rows read from an open dataset, and a new table in a Jet
// database that takes rows.
#ifndef QUORVEL_DB_JET_ROWS_H_
#define QUORVEL_DB_JET_ROWS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/row_copy.h"
#include "jet/jet.h"

namespace db {

// The rows of an open dataset, from its first row to its last. A row's values are read from
// the dataset when the row is first asked for, and kept until the next row.
class JetRowSource final : public RowSource {
 public:
  explicit JetRowSource(const jet::Dataset& dataset) : dataset_(dataset) {}

  const std::vector<jet::Field>& fields() const override { return dataset_.fields(); }
  int64_t row_count() const override { return dataset_.record_count(); }
  bool Next() override;
  const jet::Value& value(int field_index) const override;

 private:
  const jet::Dataset& dataset_;
  int64_t row_ = -1;
  mutable int64_t loaded_ = -1;
  mutable std::vector<jet::Value> values_;
};

// The rows of a table read one after another (memory independent of the table's size).
class JetTableRowSource final : public RowSource {
 public:
  explicit JetTableRowSource(jet::TableCursor& cursor) : cursor_(cursor) {}

  const std::vector<jet::Field>& fields() const override { return cursor_.fields(); }
  int64_t row_count() const override { return cursor_.row_count(); }
  bool Next() override { return cursor_.Next(); }
  const jet::Value& value(int field_index) const override { return cursor_.value(field_index); }

 private:
  jet::TableCursor& cursor_;
};

// A new table `table` on an open connection to a Jet file this process created. Prepare
// creates it with the statement `build_statement` gives for the source's fields, opens it and
// starts one engine transaction, so that Finish writes the pages in one pass. Each value is
// converted for the Jet field it goes to (binary fields take texts and numbers as the bytes of
// their UTF-8 text; Text fields cut a longer text to their length, and the rows written so are
// counted). A row the engine refuses (for example a repeated key), and a row with a number
// outside its integer field's range, is dropped; a file that has no room left stops the copy
// (jet::FileFullError).
class JetRowSink final : public RowSink {
 public:
  JetRowSink(jet::Connection& connection, std::u16string table,
             TableStatementBuilder build_statement);

  void Prepare(const std::vector<jet::Field>& source_fields) override;
  bool Append(const RowSource& row) override;
  void Finish() override;
  int64_t truncated_rows() const override { return truncated_rows_; }

 private:
  jet::Connection& connection_;
  std::u16string table_;
  TableStatementBuilder build_statement_;
  std::optional<jet::TableAppender> appender_;
  std::vector<jet::Value> values_;  // the row being written, by the table's fields
  std::vector<int> target_;         // per source field, the index of the table's field
  int64_t truncated_rows_ = 0;
};

}  // namespace db

#endif  // QUORVEL_DB_JET_ROWS_H_
