// The SQLite side of the copy routine: rows read from an open query, and a new table in a
// SQLite database that takes rows.
#ifndef QUORVEL_DB_SQLITE_ROWS_H_
#define QUORVEL_DB_SQLITE_ROWS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/row_copy.h"
#include "db/sqlite_access.h"
#include "jet/jet.h"

namespace db {

// The rows of an open query, from its first row to its last.
using SQLiteRowSource = TableRowSource<SQLiteQuery>;

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
