// The client-side dataset: Open runs the SELECT of the command text over the table's rows
// and keeps the whole result; appended rows go through the writer.
#include <optional>

#include "base/fold.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/sql.h"
#include "jet/write/writer.h"

namespace jet {

Dataset::Dataset(Connection* connection) : connection_(connection) {}
Dataset::~Dataset() = default;

void Dataset::Open() {
  Close();
  try {
    if (!connection_) throw Error(u"データセットに接続が設定されていません");
    Database& db = connection_->database();
    sql::Statement statement = sql::Parse(command_text_);
    auto* select = std::get_if<sql::SelectStatement>(&statement);
    if (!select) throw Error(u"データセットで開けるのは SELECT 文だけです");
    TableData data = db.ReadTable(select->table);
    const sql::Predicate predicate(select->where.get(), data.fields);
    std::vector<std::vector<Value>> rows;
    rows.reserve(data.rows.size());
    for (auto& row : data.rows) {
      if (predicate.Matches(row)) rows.push_back(std::move(row));
    }
    sql::SortRows(rows, select->order_by, data.fields);
    table_name_ = std::move(data.name);
    fields_ = std::move(data.fields);
    rows_ = std::move(rows);
    current_ = 0;
    active_ = true;
  } catch (...) {
    Close();
    throw;
  }
}

void Dataset::Close() noexcept {
  active_ = false;
  table_name_.clear();
  fields_.clear();
  rows_.clear();
  current_ = 0;
  appending_ = false;
  pending_.clear();
}

int Dataset::FieldIndex(std::u16string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (base::EqualIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int64_t Dataset::record_number() const {
  if (rows_.empty()) return 0;
  const auto size = static_cast<int64_t>(rows_.size());
  return current_ < size ? current_ + 1 : size;
}

void Dataset::First() { current_ = 0; }

void Dataset::Next() {
  if (current_ < static_cast<int64_t>(rows_.size())) ++current_;
}

void Dataset::MoveTo(int64_t record_number) {
  if (record_number < 1 || record_number > static_cast<int64_t>(rows_.size())) {
    throw Error(u"レコード番号 " + format::Number(static_cast<uint64_t>(record_number)) +
                u" は範囲外です");
  }
  current_ = record_number - 1;
}

bool Dataset::eof() const { return current_ >= static_cast<int64_t>(rows_.size()); }
bool Dataset::bof() const { return rows_.empty() || current_ == 0; }

const Value& Dataset::ValueAt(int64_t row, int field_index) const {
  if (!active_) throw Error(u"データセットが開かれていません");
  if (field_index < 0 || field_index >= static_cast<int>(fields_.size())) {
    throw Error(u"フィールド番号 " + format::Number(static_cast<uint64_t>(field_index)) +
                u" は範囲外です");
  }
  if (row < 0 || row >= static_cast<int64_t>(rows_.size())) {
    throw Error(u"現在のレコードがありません");
  }
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(field_index)];
}

const Value& Dataset::value(int field_index) const { return ValueAt(current_, field_index); }

const Value& Dataset::FieldByName(std::u16string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) throw Error(u"フィールド '" + std::u16string(name) + u"' が見つかりません");
  return value(index);
}

void Dataset::Append() {
  if (!active_) throw Error(u"データセットが開かれていません");
  if (!connection_ || !connection_->database().writer()) {
    throw Error(u"読み取り専用のデータベースには書き込めません");
  }
  appending_ = true;
  pending_.assign(fields_.size(), Value());
}

void Dataset::SetValue(int field_index, Value value) {
  if (!appending_) throw Error(u"追加中のレコードがありません");
  if (field_index < 0 || field_index >= static_cast<int>(pending_.size())) {
    throw Error(u"フィールド番号 " + format::Number(static_cast<uint64_t>(field_index)) +
                u" は範囲外です");
  }
  pending_[static_cast<size_t>(field_index)] = std::move(value);
}

void Dataset::SetFieldValue(std::u16string_view name, Value value) {
  const int index = FieldIndex(name);
  if (index < 0) throw Error(u"フィールド '" + std::u16string(name) + u"' が見つかりません");
  SetValue(index, std::move(value));
}

void Dataset::Post() {
  if (!appending_) throw Error(u"追加中のレコードがありません");
  Database& db = connection_->database();
  write::Writer* writer = db.writer();
  if (!writer) throw Error(u"読み取り専用のデータベースには書き込めません");
  std::vector<std::optional<Value>> values(pending_.size());
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (!pending_[i].is_null()) values[i] = pending_[i];
  }
  std::vector<Value> stored = writer->InsertRow(table_name_, values);
  if (db.in_transaction()) {
    db.NoteInsertedRow(table_name_, stored);
  } else {
    db.FlushWrites();
  }
  rows_.push_back(std::move(stored));
  current_ = static_cast<int64_t>(rows_.size()) - 1;
  appending_ = false;
  pending_.clear();
}

void Dataset::Cancel() noexcept {
  appending_ = false;
  pending_.clear();
}

}  // namespace jet
