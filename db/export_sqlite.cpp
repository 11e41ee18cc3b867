// Export of a Jet table into a new SQLite database: the source is read whole, the target is
// built in a temporary file beside it inside one transaction with one prepared INSERT, and
// the finished file replaces the target.
#include "db/export_sqlite.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/sqlite_access.h"
#include "platform/error.h"
#include "platform/text.h"

namespace db {
namespace {

using jet::TFieldType;

constexpr int64_t kProgressStep = 4096;

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

// A temporary file beside `target`, created empty so that the name is ours alone.
std::u16string CreateTempBeside(std::u16string_view target) {
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string candidate(target);
    candidate += base::FromUtf8(".~" + std::to_string(::getpid()) + "-" +
                                std::to_string(counter++) + ".tmp");
    const std::filesystem::path path = platform::ToPath(candidate);
    if (std::FILE* file = std::fopen(path.c_str(), "wbx")) {
      std::fclose(file);
      return candidate;
    }
    if (errno != EEXIST) {
      const std::string reason = std::generic_category().message(errno);
      throw platform::Error(u"SQLiteデータベース「" + std::u16string(target) +
                            u"」を作成できませんでした: " + base::FromUtf8(reason));
    }
  }
  throw platform::Error(u"SQLiteデータベース「" + std::u16string(target) +
                        u"」の一時ファイルを作成できませんでした");
}

void RemoveQuietly(std::u16string_view path) {
  std::error_code ignored;
  std::filesystem::remove(platform::ToPath(path), ignored);
  std::filesystem::remove(platform::ToPath(std::u16string(path) + u"-journal"), ignored);
}

// Opens the source table; an unreadable basic database is named in the error.
void OpenSource(jet::Connection& connection, jet::Dataset& dataset, std::u16string_view mdb_path,
                std::u16string_view table) {
  const int connected = ConnectJetDatabase(mdb_path, u"", u"", connection);
  try {
    OpenTableQuery(dataset, table, u"", u"");
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
CopyCounts CopyRows(jet::Dataset& source, std::u16string_view sqlite_path,
                    std::u16string_view table, const ProgressFunction& progress) {
  SQLiteConnection connection;
  ConnectSQLite(connection, kSQLiteDriverId, sqlite_path);
  SQLiteQuery query(&connection);
  query.SetSQL(BuildExportTableStatement(table, source.fields()));
  query.ExecSQL();
  OpenSQLiteTableQuery(query, table, u"", u"");
  query.SetRetainPostedRows(false);

  const std::vector<jet::Field>& fields = source.fields();
  std::vector<int> target(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    target[i] = query.FieldIndex(fields[i].name);
    if (target[i] < 0) {
      throw platform::Error(u"SQLiteのテーブルにフィールド「" + fields[i].name + u"」がありません");
    }
  }

  CopyCounts counts;
  const int64_t total = source.record_count();
  connection.BeginTransaction();
  for (int64_t row = 0; row < total; ++row) {
    query.Append();
    for (size_t i = 0; i < fields.size(); ++i) {
      query.SetValue(target[i], source.ValueAt(row, static_cast<int>(i)));
    }
    try {
      query.Post();
      ++counts.copied;
    } catch (const SQLiteError& error) {
      if (!error.IsRowRefusal()) throw;
      query.Cancel();
      ++counts.refused;
    }
    if (progress && (row + 1) % kProgressStep == 0) progress(row + 1, total);
  }
  connection.Commit();
  if (progress) progress(total, total);
  return counts;
}

}  // namespace

std::u16string BuildExportTableStatement(std::u16string_view table,
                                         const std::vector<jet::Field>& fields) {
  std::u16string sql = u"CREATE TABLE ";
  sql += table;
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
    sql += field.name;
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

  jet::Connection connection;
  jet::Dataset source(&connection);
  OpenSource(connection, source, mdb_path, table);

  // The target is replaced only by a complete copy.
  const std::u16string temp = CreateTempBeside(sqlite_path);
  CopyCounts counts;
  try {
    CreateSQLiteDatabase(temp);
    counts = CopyRows(source, temp, table, progress);
    std::error_code error;
    std::filesystem::rename(platform::ToPath(temp), platform::ToPath(sqlite_path), error);
    if (error) {
      throw platform::Error(u"SQLiteデータベース「" + std::u16string(sqlite_path) +
                            u"」を書き込めませんでした: " + base::FromUtf8(error.message()));
    }
  } catch (...) {
    RemoveQuietly(temp);
    throw;
  }
  return counts;
}

}  // namespace db
