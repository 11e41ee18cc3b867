// A new Jet database from a SQLite table: the SQLite rows are read one at a time, and the copy
// routine creates the Jet table with the program's type words and appends the rows inside one
// engine transaction, so that the pages are written in one pass at the end.
#include "db/import_sqlite.h"

#include <filesystem>
#include <string>
#include <system_error>

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

std::u16string_view ImportTypeWord(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftWideString:
    case TFieldType::ftWideMemo:
      return u"VARCHAR(255)";
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
      return u"Integer";
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
      return u"Float";
    case TFieldType::ftDate:
    case TFieldType::ftTime:
      return u"Datetime";
    case TFieldType::ftBoolean:
      return u"Boolean";
    // Types the word table does not name.
    case TFieldType::ftDateTime:
      return u"Datetime";
    case TFieldType::ftByte:
      return u"Integer";
    case TFieldType::ftCurrency:
    case TFieldType::ftFMTBcd:
      return u"Float";
    case TFieldType::ftBlob:
    case TFieldType::ftVarBytes:
      return u"LONGBINARY";
    default:
      return u"VARCHAR(255)";
  }
}

// Creates the table in the new Jet file `mdb_path` and copies every row of the SQLite table
// into it; both files are closed when this returns.
CopyCounts CopyIntoJetFile(std::u16string_view mdb_path, std::u16string_view sqlite_path,
                           std::u16string_view table, const ProgressFunction& progress) {
  jet::Connection connection;
  ConnectJetDatabase(mdb_path, u"", u"", connection);
  SQLiteConnection sqlite;
  ConnectSQLiteOrThrow(sqlite, sqlite_path);
  // The SQLite rows are read one at a time, so memory does not grow with the table.
  SQLiteTableRowSource source(sqlite, table);
  JetRowSink sink(connection, std::u16string(table), BuildImportTableStatement);
  ReadAheadRowSource ahead(source);  // SQLite reads while the engine writes
  return CopyRows(ahead, sink, progress);
}

}  // namespace

void CreateJetDatabase(std::u16string_view path) { jet::CreateDatabase(platform::ToPath(path)); }

std::u16string BuildImportTableStatement(std::u16string_view table,
                                         const std::vector<jet::Field>& fields) {
  std::u16string sql = u"CREATE TABLE ";
  sql += table;
  sql += u" (";
  for (size_t i = 0; i < fields.size(); ++i) {
    sql += u"[";
    sql += fields[i].name;
    sql += u"] ";
    sql += ImportTypeWord(fields[i].type);
    if (fields[i].type == TFieldType::ftAutoInc) sql += u" CONSTRAINT pkey PRIMARY KEY";
    sql += i + 1 < fields.size() ? u"," : u");";
  }
  if (fields.empty()) sql += u");";
  return sql;
}

CopyCounts ImportSQLiteToJet(std::u16string_view mdb_path, std::u16string_view sqlite_path,
                             std::u16string_view table, const ProgressFunction& progress) {
  const std::filesystem::path target = platform::ToPath(mdb_path);
  // What an import that was killed left beside the new file goes first.
  platform::RemoveStaleTemporaries(target);
  // A file (or link, or folder) already at the new path is never touched.
  std::error_code status_error;
  if (std::filesystem::exists(std::filesystem::symlink_status(target, status_error))) {
    throw platform::Error(u"基本データベース「" + std::u16string(mdb_path) +
                          u"」は既に存在します。");
  }
  // The new database is built under a temporary name beside the target and takes the
  // target's name only when complete, so that an interrupted import never leaves a file
  // that looks like a finished basic database. The engine creates the file itself (it writes
  // only into files it created), so the name TemporaryBeside reserved is given back first.
  platform::TemporaryBeside temporary(target, u"基本データベース");
  std::error_code ignored;
  std::filesystem::remove(temporary.path(), ignored);
  const std::u16string temporary_path = platform::FromPath(temporary.path());
  CreateJetDatabase(temporary_path);
  const CopyCounts counts = CopyIntoJetFile(temporary_path, sqlite_path, table, progress);
  temporary.CommitAsNew();  // refuses a file that appeared at the target meanwhile
  return counts;
}

std::function<void(std::u16string_view, std::u16string_view, std::u16string_view)> StartupImport(
    std::function<void(std::u16string_view)> warn) {
  return [warn = std::move(warn)](std::u16string_view mdb_path, std::u16string_view sqlite_path,
                                  std::u16string_view table) {
    const CopyCounts counts = ImportSQLiteToJet(mdb_path, sqlite_path, table);
    if (CompletionIsWarning(counts) && warn) warn(CompletionMessage(counts));
  };
}

}  // namespace db
