// A new Jet database from a SQLite table: the SQLite rows are read whole, the Jet table is
// created with the program's type words, and the rows are appended inside one engine
// transaction, so that the pages are written in one pass at the end.
#include "db/import_sqlite.h"

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
using jet::Value;

constexpr int64_t kProgressStep = 4096;

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

// A value for a Jet field; binary columns take bytes (texts and numbers as their UTF-8 text).
Value ForJetField(const Value& value, const jet::Field& field) {
  if (field.type == TFieldType::ftBlob || field.type == TFieldType::ftVarBytes) {
    if (value.is_null() || value.kind() == Value::Kind::kBinary) return value;
    const std::string text = base::ToUtf8(ValueToText(value));
    return Value::Binary(jet::Bytes(text.begin(), text.end()));
  }
  const int32_t max_chars =
      field.type == TFieldType::ftWideString || field.type == TFieldType::ftString ? field.size / 2
                                                                                   : 0;
  return ConvertForField(value, field.type, max_chars);
}

CopyCounts CopyRows(std::u16string_view mdb_path, std::u16string_view sqlite_path,
                    std::u16string_view table, const ProgressFunction& progress) {
  jet::Connection connection;
  ConnectJetDatabase(mdb_path, u"", u"", connection);
  jet::Dataset dataset(&connection);
  jet::Command command(&connection);

  SQLiteConnection sqlite;
  ConnectSQLite(sqlite, kSQLiteDriverId, sqlite_path);
  SQLiteQuery query(&sqlite);
  OpenSQLiteTableQuery(query, table, u"", u"");

  command.SetCommandText(BuildImportTableStatement(table, query.fields()));
  command.Execute();
  OpenTableQuery(dataset, table, u"", u"");

  const std::vector<jet::Field>& fields = query.fields();
  std::vector<int> target(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    target[i] = dataset.FieldIndex(fields[i].name);
    if (target[i] < 0) {
      throw platform::Error(u"新しいテーブルにフィールド「" + fields[i].name + u"」がありません");
    }
  }

  CopyCounts counts;
  const int64_t total = query.record_count();
  connection.BeginTrans();
  for (int64_t row = 0; row < total; ++row) {
    dataset.Append();
    for (size_t i = 0; i < fields.size(); ++i) {
      const jet::Field& jet_field = dataset.fields()[static_cast<size_t>(target[i])];
      dataset.SetValue(target[i], ForJetField(query.ValueAt(row, static_cast<int>(i)), jet_field));
    }
    try {
      dataset.Post();
      ++counts.copied;
    } catch (const jet::Error&) {
      dataset.Cancel();
      ++counts.refused;
    }
    if (progress && (row + 1) % kProgressStep == 0) progress(row + 1, total);
  }
  connection.CommitTrans();
  if (progress) progress(total, total);
  return counts;
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
  CreateJetDatabase(mdb_path);  // refuses an existing file: from here on the file is ours
  try {
    return CopyRows(mdb_path, sqlite_path, table, progress);
  } catch (...) {
    // A half-made basic database would block the next attempt.
    std::error_code ignored;
    std::filesystem::remove(platform::ToPath(mdb_path), ignored);
    throw;
  }
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
