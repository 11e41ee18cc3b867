// Whole tables row by row: reading through the format's record cursor (then the rows inserted
// in the open transaction), and appending for bulk loads.
#include <optional>

#include "base/fold.h"
#include "jet/database.h"
#include "jet/format/record.h"
#include "jet/jet.h"
#include "jet/write/writer.h"

namespace jet {

struct TableCursor::State {
  Database& db;
  Database::TableSource source;
  std::optional<format::RecordCursor> stored;
  size_t next_pending = 0;
  std::vector<Value> values;
  bool on_row = false;
  uint64_t generation = 0;  // the rows inserted in the transaction are read while it holds
};

TableCursor::TableCursor(Connection& connection, std::u16string_view table) {
  Database& db = connection.database();
  state_.reset(new State{db, db.Source(table), std::nullopt, 0, {}, false, 0});
  state_->generation = db.generation();
  if (state_->source.definition) state_->stored.emplace(db.pager(), *state_->source.definition);
}

TableCursor::~TableCursor() = default;

const std::u16string& TableCursor::table_name() const { return state_->source.name; }

const std::vector<Field>& TableCursor::fields() const { return state_->source.fields; }

int64_t TableCursor::row_count() const {
  const Database::TableSource& source = state_->source;
  int64_t count = source.definition ? source.definition->row_count : 0;
  if (source.pending_rows) count += static_cast<int64_t>(source.pending_rows->size());
  return count;
}

bool TableCursor::Next() {
  State& s = *state_;
  s.on_row = false;
  if (s.stored) {
    if (s.stored->Next()) {
      const format::TableDefinition& def = *s.source.definition;
      const format::RecordView view(def, s.stored->row(), s.stored->page_number());
      s.values.resize(def.columns.size());
      for (size_t i = 0; i < def.columns.size(); ++i) {
        view.DecodeInto(&s.db.pager(), def.columns[i], s.values[i]);
      }
      s.on_row = true;
      return true;
    }
    s.stored.reset();
  }
  if (s.source.pending_rows && s.db.generation() != s.generation) {
    throw Error(u"テーブル「" + s.source.name + u"」が読み取り中に変更されました。");
  }
  if (s.source.pending_rows && s.next_pending < s.source.pending_rows->size()) {
    s.values = (*s.source.pending_rows)[s.next_pending++];
    s.on_row = true;
    return true;
  }
  return false;
}

const Value& TableCursor::value(int field_index) const {
  const State& s = *state_;
  if (!s.on_row) throw Error(u"現在のレコードがありません");
  if (field_index < 0 || static_cast<size_t>(field_index) >= s.values.size()) {
    throw Error(u"フィールド番号 " + format::Number(static_cast<uint64_t>(field_index)) +
                u" は範囲外です");
  }
  return s.values[static_cast<size_t>(field_index)];
}

TableAppender::TableAppender(Connection& connection, std::u16string_view table)
    : connection_(connection) {
  Database& db = connection.database();
  if (!db.writer()) throw Error(u"読み取り専用のデータベースには書き込めません");
  const Database::TableSource source = db.Source(table);
  table_ = source.name;
  fields_ = source.fields;
}

int TableAppender::FieldIndex(std::u16string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (base::EqualIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

void TableAppender::Append(const std::vector<Value>& values) {
  Database& db = connection_.database();
  write::Writer* writer = db.writer();
  if (!writer) throw Error(u"読み取り専用のデータベースには書き込めません");
  if (values.size() != fields_.size()) {
    throw Error(u"値の数 (" + format::Number(values.size()) + u") が列の数 (" +
                format::Number(fields_.size()) + u") と合いません");
  }
  std::vector<std::optional<Value>> row(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i].is_null()) row[i] = values[i];
  }
  writer->InsertRow(table_, row);
  if (db.in_transaction()) {
    db.NoteAppendedRow();
  } else {
    db.FlushWrites();
  }
}

}  // namespace jet
