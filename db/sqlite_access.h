// SQLite access for the conversions: a connection described by "Name=Value" parameters, a
// query that holds the whole result of a SELECT in memory and can append rows to the table it
// reads, a reader that goes through one table's rows without holding them, and the three
// primitives CreateSQLiteDatabase, ConnectSQLite and OpenSQLiteTableQuery.
//
// Fields and values use the Jet engine's types (jet::Field, jet::TFieldType, jet::Value), so
// that the conversions treat both sides alike. A column's field type comes from its declared
// type (FieldTypeFromDeclaration); a column without one takes it from the value of the first
// row. Text on the SQLite side loses its trailing characters up to U+0020 when it is written
// and when it is read; empty text stays empty text.
//
// Every error is a platform::Error with a message for the user.
#ifndef QUORVEL_DB_SQLITE_ACCESS_H_
#define QUORVEL_DB_SQLITE_ACCESS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/jet.h"
#include "platform/error.h"

struct sqlite3;
struct sqlite3_stmt;

namespace db {

inline constexpr std::u16string_view kSQLiteDriverId = u"SQLite";

// The longest text a string field without a stated length holds.
inline constexpr int32_t kSQLiteDefaultStringLength = 32767;

// The field type that a declared SQLite column type gives, with the text length in
// characters for string fields (0 for other types).
struct SQLiteColumnType {
  jet::TFieldType type = jet::TFieldType::ftWideString;
  int32_t length = kSQLiteDefaultStringLength;
  bool operator==(const SQLiteColumnType&) const = default;
};

// Field type of a column from its declared type (any letter case; empty for none), the
// column's name and whether the column is declared AUTOINCREMENT.
SQLiteColumnType FieldTypeFromDeclaration(std::u16string_view declared_type,
                                          std::u16string_view column_name, bool auto_increment);

// True for the field types the program decides on; every other member is "unlisted".
bool IsListedFieldType(jet::TFieldType type);

// A table or column name as a statement names it: unchanged when it is a plain identifier
// (ASCII letters, digits and "_", not starting with a digit, not one of SQLite's keywords),
// else in double quotes with every double quote inside doubled.
std::u16string SQLiteIdentifier(std::u16string_view name);

// Removes every trailing character whose code is at most U+0020.
std::u16string TrimTrailingControls(std::u16string_view text);

// An error reported by the SQLite library, with its extended result code.
class SQLiteError : public platform::Error {
 public:
  SQLiteError(std::u16string message, int code)
      : platform::Error(std::move(message)), code_(code) {}
  int code() const { return code_; }
  // True when the library refused a row for what it holds (a constraint or a type mismatch);
  // false for failures of the file or the library.
  bool IsRowRefusal() const;

 private:
  int code_;
};

// A statement prepared on a connection; finalized when released.
class SQLiteStatement {
 public:
  SQLiteStatement(sqlite3* db, std::u16string_view sql);  // throws platform::Error
  ~SQLiteStatement();
  SQLiteStatement(const SQLiteStatement&) = delete;
  SQLiteStatement& operator=(const SQLiteStatement&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// A connection to one SQLite database file.
class SQLiteConnection {
 public:
  SQLiteConnection();
  ~SQLiteConnection();
  SQLiteConnection(const SQLiteConnection&) = delete;
  SQLiteConnection& operator=(const SQLiteConnection&) = delete;

  // Parameter lines "Name=Value"; names compare without regard to letter case.
  std::vector<std::u16string>& params() { return params_; }
  const std::vector<std::u16string>& params() const { return params_; }
  std::u16string Param(std::u16string_view name) const;  // value of the last line, or ""

  // Opens the database named by "Database" (an empty name gives a private in-memory
  // database; a missing file is created) and runs the pragma statements in order.
  // Throws platform::Error "SQLiteデータベース「<path>」を開けませんでした: <SQLite's reason>"
  // (also for a file that is no SQLite database); the connection then stays closed. An open
  // connection is closed first.
  void Open();
  void Close() noexcept;
  bool connected() const { return db_ != nullptr; }
  sqlite3* handle() const;  // throws platform::Error when closed

  // Runs statements that return no rows.
  void Execute(std::u16string_view sql);
  // Runs exactly one statement that returns no rows. Text after it other than blanks and
  // semicolons is refused before anything runs, so that a statement built from names read
  // from a file can never carry a second one.
  void ExecuteOne(std::u16string_view sql);

  // One explicit transaction around bulk work.
  void BeginTransaction();
  void Commit();
  void Rollback() noexcept;
  bool in_transaction() const;

  // Called with the text of every statement the connection runs (for tests and diagnostics);
  // set it before Open to see the pragma statements.
  void SetTrace(std::function<void(std::u16string_view)> trace) { trace_ = std::move(trace); }

  // The statements run right after opening, in order.
  static const std::vector<std::u16string>& PragmaStatements();

 private:
  static int TraceCallback(unsigned kind, void* context, void* statement, void* text);

  std::vector<std::u16string> params_;
  sqlite3* db_ = nullptr;
  std::function<void(std::u16string_view)> trace_;
};

// A query on a SQLite connection. Open runs the SELECT of its SQL text and keeps every row,
// so the record count is exact. Field lookups by name ignore letter case; record numbers
// count from 1.
class SQLiteQuery {
 public:
  explicit SQLiteQuery(SQLiteConnection* connection);
  ~SQLiteQuery();
  SQLiteQuery(const SQLiteQuery&) = delete;
  SQLiteQuery& operator=(const SQLiteQuery&) = delete;

  void SetSQL(std::u16string text) { sql_ = std::move(text); }
  const std::u16string& sql() const { return sql_; }

  void Open();            // throws platform::Error; the query then stays closed
  void Close() noexcept;  // drops fields, rows and any pending row
  bool active() const { return active_; }
  void ExecSQL();  // runs the SQL text as statements that return no rows

  const std::vector<jet::Field>& fields() const { return fields_; }
  int FieldIndex(std::u16string_view name) const;  // -1 when there is no such field
  // Length in characters of a string field (0 for other types).
  int32_t FieldLength(int field_index) const;
  // The table the fields come from (empty for a result that is not one table's columns).
  const std::u16string& table_name() const { return table_name_; }

  int64_t record_count() const { return static_cast<int64_t>(rows_.size()); }
  int64_t record_number() const;  // 0 when there is no current row
  void First() { current_ = 0; }
  void Next();
  bool eof() const { return current_ >= rows_.size(); }

  const jet::Value& value(int field_index) const;
  const jet::Value& FieldByName(std::u16string_view name) const;
  const jet::Value& ValueAt(int64_t row, int field_index) const;  // row 0-based

  // Appending to the table the query reads. SetValue converts the value to the field's type
  // (and applies the text rules); Post inserts the row with a prepared statement and makes it
  // the current row; a refused row raises SQLiteError and nothing of it is written.
  // Cancel drops the pending row.
  void Append();
  void SetValue(int field_index, const jet::Value& value);
  void SetFieldValue(std::u16string_view name, const jet::Value& value);
  void Post();
  void Cancel() noexcept;
  bool appending() const { return appending_; }

  // Whether Post keeps the new row in the query (as its current row). Bulk copies that never
  // look back switch it off, which saves holding a second copy of every row in memory.
  void SetRetainPostedRows(bool retain) { retain_posted_rows_ = retain; }

 private:
  struct InsertCache;

  SQLiteConnection* connection_;
  std::u16string sql_;
  bool active_ = false;
  std::vector<jet::Field> fields_;
  std::vector<int32_t> lengths_;
  std::vector<std::u16string> origin_names_;  // column names in the table
  std::u16string table_name_;
  std::vector<std::vector<jet::Value>> rows_;
  size_t current_ = 0;
  bool appending_ = false;
  std::vector<jet::Value> pending_;
  std::vector<bool> pending_set_;
  bool retain_posted_rows_ = true;
  std::unique_ptr<InsertCache> insert_;
};

// The rows of one table, read one at a time as the statement returns them, so that memory
// does not grow with the table. The fields, their lengths and every value are those an
// SQLiteQuery opened by OpenSQLiteTableQuery(query, table, "", "") gives: the constructor
// prepares the same statement and reads the first row, from which a column declared without a
// type takes it. Field indexes are positions in fields().
class SQLiteTableReader {
 public:
  // Throws platform::Error (the table missing, the file locked or damaged), as
  // SQLiteQuery::Open does for the same table.
  SQLiteTableReader(SQLiteConnection& connection, std::u16string_view table);
  ~SQLiteTableReader();
  SQLiteTableReader(const SQLiteTableReader&) = delete;
  SQLiteTableReader& operator=(const SQLiteTableReader&) = delete;

  const std::vector<jet::Field>& fields() const { return fields_; }
  // Length in characters of a string field (0 for other types).
  int32_t FieldLength(int field_index) const;
  // The number of rows in the table, counted when the reader was made.
  int64_t row_count() const { return row_count_; }

  // Moves to the next row (the first row on the first call); false when there is none.
  // A failure of the file while reading raises platform::Error.
  bool Next();
  // The value of a field in the current row.
  const jet::Value& value(int field_index) const;

 private:
  std::unique_ptr<SQLiteStatement> statement_;
  std::vector<jet::Field> fields_;
  std::vector<int32_t> lengths_;
  int64_t row_count_ = 0;
  std::vector<jet::Value> row_;  // the current row (or the first one, before the first Next)
  bool first_row_held_ = false;
  bool on_row_ = false;
  bool done_ = false;
};

// Replaces any file at `path` by a new, empty SQLite database. A file that cannot be deleted
// stays and is then opened unchanged. An error while opening propagates.
void CreateSQLiteDatabase(std::u16string_view path);

// Adds "DriverID=" + driver_id and "DataBase=" + path to the connection's parameters and
// opens it: 0 when open, -1 when opening failed (the error is discarded).
int ConnectSQLite(SQLiteConnection& connection, std::u16string_view driver_id,
                  std::u16string_view path);

// The same for the conversions, which need the reason: adds the two parameter lines and
// opens the connection, raising the error of SQLiteConnection::Open when it fails.
void ConnectSQLiteOrThrow(SQLiteConnection& connection, std::u16string_view path);

// (Re)opens the query as "SELECT * FROM " table " " where " " order, fetching every row.
// Errors propagate; the query is then closed.
void OpenSQLiteTableQuery(SQLiteQuery& query, std::u16string_view table,
                          std::u16string_view where_clause, std::u16string_view order_clause);

}  // namespace db

#endif  // QUORVEL_DB_SQLITE_ACCESS_H_
