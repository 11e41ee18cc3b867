// The SQLite side of the copy routine: rows read from an open query or straight from a table,
// and a new table in a SQLite database that takes rows.
#ifndef QUORVEL_DB_SQLITE_ROWS_H_
#define QUORVEL_DB_SQLITE_ROWS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/row_copy.h"
#include "db/sqlite_access.h"
#include "jet/jet.h"

namespace db {

// The rows of an open query, from its first row to its last.
using SQLiteRowSource = TableRowSource<SQLiteQuery>;

// The rows of one SQLite table, read one at a time (SQLiteTableReader): the same fields and
// values as an SQLiteRowSource over OpenSQLiteTableQuery(query, table, "", ""), without
// holding the table in memory.
class SQLiteTableRowSource final : public RowSource {
 public:
  // Throws what SQLiteTableReader's constructor throws.
  SQLiteTableRowSource(SQLiteConnection& connection, std::u16string_view table)
      : reader_(connection, table) {}

  const std::vector<jet::Field>& fields() const override { return reader_.fields(); }
  int64_t row_count() const override { return reader_.row_count(); }
  bool Next() override { return reader_.Next(); }
  const jet::Value& value(int field_index) const override { return reader_.value(field_index); }

 private:
  SQLiteTableReader reader_;
};

// A new table `table` on an open SQLite connection. Prepare creates it with the statement
// `build_statement` gives for the source's fields, opens it and starts one transaction that
// Finish commits; rows go in through one prepared INSERT and are not kept in memory. Values
// are converted for the SQLite field they go to (SQLiteQuery::SetValue). A row SQLite refuses
// for what it holds (a constraint or a type mismatch) is dropped; a failure of the file or
// the library raises.
class SQLiteRowSink final : public RowSink {
 public:
  SQLiteRowSink(SQLiteConnection& connection, std::u16string table,
                TableStatementBuilder build_statement);

  void Prepare(const std::vector<jet::Field>& source_fields) override;
  bool Append(const RowSource& row) override;
  void Finish() override;

 private:
  SQLiteConnection& connection_;
  std::u16string table_;
  TableStatementBuilder build_statement_;
  SQLiteQuery query_;
  std::vector<int> target_;  // per source field, the index of the table's field
};

}  // namespace db

#endif  // QUORVEL_DB_SQLITE_ROWS_H_
