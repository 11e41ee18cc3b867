// Reading rows from a SQLite query and appending them to a new SQLite table.
#include "db/sqlite_rows.h"

#include <utility>

#include "db/conversion.h"

namespace db {

SQLiteRowSink::SQLiteRowSink(SQLiteConnection& connection, std::u16string table,
                             TableStatementBuilder build_statement)
    : connection_(connection),
      table_(std::move(table)),
      build_statement_(build_statement),
      query_(&connection) {}

void SQLiteRowSink::Prepare(const std::vector<jet::Field>& source_fields) {
  // Names from the source end up in this statement: it may be one statement only.
  connection_.ExecuteOne(build_statement_(table_, source_fields));
  query_.SetSQL(u"SELECT * FROM " + SQLiteIdentifier(table_));
  query_.Open();
  query_.SetRetainPostedRows(false);
  target_ = MatchFieldsByName(
      source_fields, [this](std::u16string_view name) { return query_.FieldIndex(name); },
      u"SQLiteのテーブル");
  connection_.BeginTransaction();
}

bool SQLiteRowSink::Append(const RowSource& row) {
  query_.Append();
  try {
    for (size_t i = 0; i < target_.size(); ++i) {
      query_.SetValue(target_[i], row.value(static_cast<int>(i)));
    }
  } catch (const OutOfRangeError&) {
    query_.Cancel();
    return false;
  }
  try {
    query_.Post();
  } catch (const SQLiteError& error) {
    if (!error.IsRowRefusal()) throw;
    query_.Cancel();
    return false;
  }
  return true;
}

void SQLiteRowSink::Finish() { connection_.Commit(); }

}  // namespace db
