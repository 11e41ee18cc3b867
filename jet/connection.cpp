// Connection and Command: opening a file by connection string, and statements that return
// no rows (CREATE TABLE, INSERT INTO), which go to the writer of a file this process created.
#include <optional>

#include "base/fold.h"
#include "base/utf.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/sql.h"
#include "jet/write/writer.h"

namespace jet {
namespace {

// The value of `key` in a connection string "k1=v1;k2=v2;…". A value may be quoted with
// double or single quotes, the quote doubled inside. Keys compare without letter case.
std::optional<std::u16string> ConnectionValue(std::u16string_view text, std::u16string_view key) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find(u'=', i);
    if (eq == std::u16string_view::npos) break;
    const std::u16string_view name = base::TrimSpacesAndTabs(text.substr(i, eq - i));
    size_t j = eq + 1;
    while (j < text.size() && (text[j] == u' ' || text[j] == u'\t')) ++j;
    std::u16string value;
    if (j < text.size() && (text[j] == u'"' || text[j] == u'\'')) {
      const char16_t quote = text[j++];
      while (j < text.size()) {
        if (text[j] == quote) {
          if (j + 1 < text.size() && text[j + 1] == quote) {
            value.push_back(quote);
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value.push_back(text[j++]);
      }
      while (j < text.size() && text[j] != u';') ++j;
    } else {
      const size_t end = std::min(text.find(u';', j), text.size());
      value = std::u16string(base::TrimSpacesAndTabs(text.substr(j, end - j)));
      j = end;
    }
    if (base::EqualIgnoringCase(name, key)) return value;
    i = j + 1;
  }
  return std::nullopt;
}

// The field a column of CREATE TABLE will have, for tables created in an open transaction.
Field FieldFromStatement(const sql::ColumnDefinition& column) {
  Field field;
  field.name = column.name;
  field.column_type = column.type;
  field.required = column.not_null || column.primary_key;
  field.auto_increment = column.auto_increment;
  switch (column.type) {
    case ColumnType::kText:
      field.type = TFieldType::ftWideString;
      field.size = 2 * (column.length > 0 ? column.length : 255);
      break;
    case ColumnType::kMemo:
      field.type = TFieldType::ftWideMemo;
      break;
    case ColumnType::kLong:
      field.type = column.auto_increment ? TFieldType::ftAutoInc : TFieldType::ftInteger;
      field.size = 4;
      break;
    case ColumnType::kInteger:
      field.type = TFieldType::ftSmallint;
      field.size = 2;
      break;
    case ColumnType::kSingle:
      field.type = TFieldType::ftFloat;
      field.size = 4;
      break;
    case ColumnType::kDouble:
      field.type = TFieldType::ftFloat;
      field.size = 8;
      break;
    case ColumnType::kBoolean:
      field.type = TFieldType::ftBoolean;
      break;
    case ColumnType::kDateTime:
      field.type = TFieldType::ftDateTime;
      field.size = 8;
      break;
    case ColumnType::kByte:
      field.type = TFieldType::ftByte;
      field.size = 1;
      break;
    case ColumnType::kCurrency:
      field.type = TFieldType::ftCurrency;
      field.size = 8;
      break;
    case ColumnType::kNumeric:
      field.type = TFieldType::ftFMTBcd;
      field.size = 17;
      break;
    case ColumnType::kGuid:
      field.type = TFieldType::ftGuid;
      field.size = 16;
      break;
    case ColumnType::kOle:
      field.type = TFieldType::ftBlob;
      break;
    case ColumnType::kBinary:
      field.type = TFieldType::ftVarBytes;
      field.size = column.length > 0 ? column.length : 255;
      break;
  }
  return field;
}

[[noreturn]] void ThrowReadOnly() { throw Error(u"読み取り専用のデータベースには書き込めません"); }

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::SetConnectionString(std::u16string connection_string) {
  connection_string_ = std::move(connection_string);
}

void Connection::Open() {
  Close();
  const std::optional<std::u16string> source = ConnectionValue(connection_string_, u"Data Source");
  if (!source || source->empty()) {
    throw Error(u"接続文字列にデータベース ファイル (Data Source) が指定されていません");
  }
  const std::filesystem::path path = base::PathFromUtf8(base::ToUtf8(*source));
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    throw Error(u"データベース ファイルが見つかりません: " + *source);
  }
  auto database = Database::Open(path);
  database->SetWriter(write::Writer::OpenIfOwned(path));
  database_ = std::move(database);
}

void Connection::Close() noexcept { database_.reset(); }

Database& Connection::database() const {
  if (!database_) throw Error(u"データベースに接続されていません");
  return *database_;
}

std::vector<std::u16string> Connection::TableNames() const { return database().TableNames(); }

int64_t Connection::Execute(std::u16string_view sql_text) {
  Database& db = database();
  const sql::Statement statement = sql::Parse(sql_text);
  if (std::holds_alternative<sql::SelectStatement>(statement)) {
    throw Error(u"SELECT 文は行を返すため、データセットで開いてください");
  }
  write::Writer* writer = db.writer();
  if (!writer) ThrowReadOnly();

  if (const auto* create = std::get_if<sql::CreateTableStatement>(&statement)) {
    writer->CreateTable(*create);
    if (db.in_transaction()) {
      std::vector<Field> fields;
      for (const auto& column : create->columns) fields.push_back(FieldFromStatement(column));
      db.NoteCreatedTable(create->table, std::move(fields));
    } else {
      db.FlushWrites();
    }
    return 0;
  }

  const auto& insert = std::get<sql::InsertStatement>(statement);
  const std::vector<Field> fields = db.Fields(insert.table);
  std::vector<std::optional<Value>> row(fields.size());
  if (insert.columns.empty()) {
    if (insert.values.size() != fields.size()) {
      throw Error(u"値の数 (" + format::Number(insert.values.size()) + u") が列の数 (" +
                  format::Number(fields.size()) + u") と合いません");
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!insert.values[i].is_null()) row[i] = insert.values[i];
    }
  } else {
    if (insert.values.size() != insert.columns.size()) {
      throw Error(u"値の数 (" + format::Number(insert.values.size()) + u") が列名の数 (" +
                  format::Number(insert.columns.size()) + u") と合いません");
    }
    std::vector<bool> given(fields.size(), false);
    for (size_t k = 0; k < insert.columns.size(); ++k) {
      size_t i = 0;
      while (i < fields.size() && !base::EqualIgnoringCase(fields[i].name, insert.columns[k])) ++i;
      if (i == fields.size()) {
        throw Error(u"列 '" + insert.columns[k] + u"' はテーブル '" + insert.table +
                    u"' にありません");
      }
      if (given[i]) throw Error(u"列 '" + insert.columns[k] + u"' が 2 回指定されています");
      given[i] = true;
      if (!insert.values[k].is_null()) row[i] = insert.values[k];
    }
  }
  std::vector<Value> stored = writer->InsertRow(insert.table, row);
  if (db.in_transaction()) {
    db.NoteInsertedRow(insert.table, std::move(stored));
  } else {
    db.FlushWrites();
  }
  return 1;
}

void Connection::BeginTrans() { database().BeginTransaction(); }
void Connection::CommitTrans() { database().EndTransaction(true); }
void Connection::RollbackTrans() { database().EndTransaction(false); }

int64_t Command::Execute() {
  if (!connection_) throw Error(u"コマンドに接続が設定されていません");
  return connection_->Execute(command_text_);
}

}  // namespace jet
