// Export of a Jet table into a new SQLite database: the source is read whole, the target is
// built in a temporary file beside it by the copy routine (one transaction, one prepared
// INSERT), and the finished file replaces the target.
#include "db/export_sqlite.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "base/fold.h"
#include "base/utf.h"
#include "db/basic_database.h"
#include "db/jet_rows.h"
#include "db/row_copy.h"
#include "db/sqlite_access.h"
#include "db/sqlite_rows.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/text.h"

namespace db {
namespace {

using jet::TFieldType;

// The type word of a field whose type the word table does not name, when it is not the
// first field: the word whose column holds its values best.
std::u16string_view WordForOtherType(TFieldType type, std::u16string_view previous) {
  switch (type) {
    case TFieldType::ftAutoInc:
    case TFieldType::ftBoolean:
    case TFieldType::ftByte:
      return u"INTEGER";
    case TFieldType::ftCurrency:
    case TFieldType::ftFMTBcd:
      return u"REAL";
    case TFieldType::ftBlob:
    case TFieldType::ftVarBytes:
      return u"BLOB";
    case TFieldType::ftMemo:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftGuid:
      return u"TEXT";
    default:
      return previous;
  }
}

// What SQLite leaves beside a database file that was being written when the copy failed.
void RemoveJournalQuietly(const std::filesystem::path& database) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(database) += "-journal", ignored);
}

// Opens the source table for reading row by row; an unreadable basic database is named in
// the error.
std::unique_ptr<jet::TableCursor> OpenSource(jet::Connection& connection,
                                             std::u16string_view mdb_path,
                                             std::u16string_view table) {
  const int connected = ConnectJetDatabase(mdb_path, u"", u"", connection);
  try {
    if (!connection.connected()) connection.Open();  // raises the engine's reason
    return std::make_unique<jet::TableCursor>(connection, table);
  } catch (const jet::Error& error) {
    if (connected == kConnectNoFile) {
      throw platform::Error(u"基本データベース「" + std::u16string(mdb_path) +
                            u"」が見つかりません");
    }
    if (connected != kConnectOk) {
      throw platform::Error(u"基本データベース「" + std::u16string(mdb_path) +
                            u"」を開けませんでした: " + error.message());
    }
    throw;
  }
}

// Copies every row of the source into the SQLite file at `sqlite_path` (a new, empty
// database); the connection is closed when this returns.
CopyCounts CopyIntoSQLiteFile(jet::TableCursor& cursor, std::u16string_view sqlite_path,
                              std::u16string_view table, const ProgressFunction& progress) {
  SQLiteConnection connection;
  ConnectSQLiteOrThrow(connection, sqlite_path);
  JetTableRowSource source(cursor);
  SQLiteRowSink sink(connection, std::u16string(table), BuildExportTableStatement);
  ReadAheadRowSource ahead(source);  // the engine reads while SQLite writes
  return CopyRows(ahead, sink, progress);
}

// True when a field holds passwords (the project table's PASSWORD field).
bool HoldsPasswords(const std::vector<jet::Field>& fields) {
  for (const jet::Field& field : fields) {
    if (base::EqualIgnoringCase(field.name, u"PASSWORD")) return true;
  }
  return false;
}

}  // namespace

std::u16string BuildExportTableStatement(std::u16string_view table,
                                         const std::vector<jet::Field>& fields) {
  std::u16string sql = u"CREATE TABLE ";
  sql += SQLiteIdentifier(table);
  sql += u" (";
  std::u16string_view word;
  for (size_t i = 0; i < fields.size(); ++i) {
    const jet::Field& field = fields[i];
    switch (field.type) {
      case TFieldType::ftString:
      case TFieldType::ftWideString:
      case TFieldType::ftWideMemo:
        word = u"TEXT";
        break;
      case TFieldType::ftSmallint:
      case TFieldType::ftInteger:
      case TFieldType::ftLargeint:
        word = u"INTEGER";
        break;
      case TFieldType::ftFloat:
      case TFieldType::ftSingle:
        word = u"REAL";
        break;
      default:
        word = i == 0 ? std::u16string_view() : WordForOtherType(field.type, word);
        break;
    }
    sql += SQLiteIdentifier(field.name);
    sql += u" ";
    sql += word;
    if (i == 0) sql += u" CONSTRAINT pkey PRIMARY KEY";
    sql += i + 1 < fields.size() ? u"," : u");";
  }
  if (fields.empty()) sql += u");";
  return sql;
}

CopyCounts ExportToSQLite(std::u16string_view sqlite_path, std::u16string_view mdb_path,
                          std::u16string_view table, const ProgressFunction& progress) {
  if (sqlite_path.empty()) throw platform::Error(std::u16string(kNotChosenMessage));
  // Replacing the basic database itself by the export would lose it.
  std::error_code same_error;
  if (std::filesystem::equivalent(platform::ToPath(sqlite_path), platform::ToPath(mdb_path),
                                  same_error)) {
    throw platform::Error(std::u16string(kTargetIsSourceMessage));
  }

  // What an export that was killed left beside the target goes first.
  platform::RemoveStaleTemporaries(platform::ToPath(sqlite_path));

  jet::Connection connection;
  const std::unique_ptr<jet::TableCursor> source = OpenSource(connection, mdb_path, table);

  // The target is replaced only by a complete copy. A copy holding passwords is never
  // readable by others, not even while it is written.
  platform::TemporaryBeside temp(platform::ToPath(sqlite_path), u"SQLiteデータベース",
                                 HoldsPasswords(source->fields())
                                     ? platform::TemporaryBeside::NewFileAccess::kOwnerOnly
                                     : platform::TemporaryBeside::NewFileAccess::kUsual);
  const std::u16string temp_path = platform::FromPath(temp.path());
  CopyCounts counts;
  try {
    // The empty temporary file is an empty database to SQLite; it keeps its permissions.
    counts = CopyIntoSQLiteFile(*source, temp_path, table, progress);
    temp.Commit();
  } catch (...) {
    RemoveJournalQuietly(temp.path());
    throw;
  }
  return counts;
}

}  // namespace db
