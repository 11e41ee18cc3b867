// The client-side dataset: Open runs the SELECT of the command text over the table's rows
// and keeps where the matching rows lie; appended rows go through the writer.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "base/fold.h"
#include "jet/database.h"
#include "jet/format/record.h"
#include "jet/jet.h"
#include "jet/sql.h"
#include "jet/write/writer.h"

namespace jet {

// A query result and what reading its stored rows needs: the table's definition and the
// database whose pager long values are read through.
class StoredRows {
 public:
  std::shared_ptr<const ResultRows> rows;  // shared with the database's recent results
  std::shared_ptr<const format::TableDefinition> definition;
  uint64_t database_serial = 0;
  uint64_t generation = 0;

  int64_t size() const { return static_cast<int64_t>(rows->refs.size()); }
  // A result of its own, to append posted rows to.
  ResultRows& Own() {
    if (rows.use_count() > 1) rows = std::make_shared<ResultRows>(*rows);
    return const_cast<ResultRows&>(*rows);
  }
};

namespace {

// The database a result came from, while the connection is still open on it.
Database* DatabaseFor(const Connection* connection, uint64_t serial) {
  if (!connection || !connection->connected()) return nullptr;
  Database& db = connection->database();
  return db.serial() == serial ? &db : nullptr;
}

// The page that holds a stored result row: the one the result holds, or the page read again
// while the file is as it was when the query ran.
format::PagePtr PageOf(const ResultRows& rows, const RowRef& ref, Database* db,
                       uint64_t generation) {
  const format::PagePtr& held = rows.pages[ref.index()];
  if (held) return held;
  if (!db || db->generation() != generation) {
    throw Error(
        u"データベースが閉じられたか更新されたため、この行を読めません。もう一度開いてください。");
  }
  return db->pager().GetUnchanged(rows.page_numbers[ref.index()]);
}

std::span<const uint8_t> RowBytes(const format::Page& page, const RowRef& ref) {
  return std::span<const uint8_t>(page.bytes).subspan(ref.start, ref.end - ref.start);
}

// A stored row seen by a condition: a column is decoded the first time the condition reads
// it, texts into buffers reused from row to row.
class ConditionRow final : public sql::RowReader {
 public:
  ConditionRow(format::Pager& pager, const format::TableDefinition& def)
      : pager_(pager),
        def_(def),
        values_(def.columns.size()),
        texts_(def.columns.size()),
        state_(def.columns.size(), kUnread) {}

  void Reset(const format::RecordView& view) {
    view_ = &view;
    std::fill(state_.begin(), state_.end(), kUnread);
  }

  const Value& Get(int field_index) override {
    const auto i = static_cast<size_t>(field_index);
    if (state_[i] != kValue) {
      values_[i] = view_->Decode(&pager_, def_.columns[i]);
      state_[i] = kValue;
    }
    return values_[i];
  }

  std::optional<std::u16string_view> Text(int field_index) override {
    const auto i = static_cast<size_t>(field_index);
    if (state_[i] == kUnread) {
      state_[i] = view_->DecodeTextInto(&pager_, def_.columns[i], texts_[i]) ? kText : kNull;
    }
    switch (state_[i]) {
      case kText:
        return std::u16string_view(texts_[i]);
      case kValue:
        if (values_[i].kind() == Value::Kind::kText) return std::u16string_view(values_[i].text());
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }

  bool IsNull(int field_index) override { return Get(field_index).is_null(); }

 private:
  enum State : uint8_t { kUnread, kValue, kText, kNull };
  format::Pager& pager_;
  const format::TableDefinition& def_;
  const format::RecordView* view_ = nullptr;
  std::vector<Value> values_;
  std::vector<std::u16string> texts_;
  std::vector<State> state_;
};

// The values ORDER BY sorts on, taken while each row is in hand: the fields of the terms and,
// row after row, their values.
struct SortValues {
  std::vector<int> fields;
  std::vector<Value> values;  // row r's value of fields[k] at r * fields.size() + k

  SortValues(const std::vector<sql::OrderTerm>& order_by, const std::vector<Field>& all) {
    for (const sql::OrderTerm& term : order_by) {
      for (size_t i = 0; i < all.size(); ++i) {
        if (base::EqualIgnoringCase(all[i].name, term.column)) {
          fields.push_back(static_cast<int>(i));
          break;
        }
      }
    }
  }
  template <typename Get>
  void Take(Get get) {
    for (const int field : fields) values.push_back(get(field));
  }
  const Value& Of(size_t row, int field) const {
    for (size_t k = 0; k < fields.size(); ++k) {
      if (fields[k] == field) return values[row * fields.size() + k];
    }
    throw Error(u"SQL のエラー: ORDER BY の列がありません");
  }
};

// Whether the condition accepts a stored row; the values ORDER BY sorts on are taken into
// `sort` (when given) while the row is in hand.
bool RowMatches(const sql::Predicate& predicate, ConditionRow& reader,
                const format::TableDefinition& def, std::span<const uint8_t> row,
                uint32_t page_number, SortValues* sort = nullptr) {
  const format::RecordView view(def, row, page_number);
  reader.Reset(view);
  if (!predicate.Matches(reader)) return false;
  if (sort) sort->Take([&](int field) { return reader.Get(field); });
  return true;
}

// Copies of kept rows, packed into pages of the result's own: a filtered result holds the
// bytes of its rows and nothing else of the file. A packed page carries the number of the
// file page its first row came from, for messages.
class RowPacker {
 public:
  explicit RowPacker(ResultRows& out) : out_(out) {}

  void Add(std::span<const uint8_t> row, uint32_t page_number) {
    if (!page_ || used_ + row.size() > format::kPageSize) {
      page_ = std::make_shared<format::Page>();
      page_->number = page_number;
      used_ = 0;
      holder_ = out_.AddPage(page_);
    }
    std::copy(row.begin(), row.end(), page_->bytes.begin() + static_cast<std::ptrdiff_t>(used_));
    const auto start = static_cast<uint16_t>(used_);
    out_.refs.push_back(RowRef{holder_, start, static_cast<uint16_t>(start + row.size())});
    used_ += row.size();
  }

 private:
  ResultRows& out_;
  std::shared_ptr<format::Page> page_;
  size_t used_ = 0;
  uint32_t holder_ = 0;
};

// Runs the condition over every row of the table: the stored rows, then those inserted in
// the open transaction.
ResultRows ScanTable(Database& db, const Database::TableSource& source,
                     const sql::Predicate& predicate, SortValues* sort) {
  ResultRows out;
  out.pin_limit = ResultRows::kScannedPinnedPages;
  if (source.definition) {
    const format::TableDefinition& def = *source.definition;
    ConditionRow reader(db.pager(), def);
    format::RecordCursor cursor(db.pager(), def);
    RowPacker packer(out);
    // The rows come page by page (moved rows excepted); the kept rows of a page are settled
    // when the next page begins. A page where most rows are kept joins the result (held, or
    // by its number once the result holds its share); the few kept rows of any other page are
    // copied, so that a narrow result does not hold whole pages for them.
    format::PagePtr page;
    size_t rows_on_page = 0;
    std::vector<RowRef> kept;  // holder left 0 until the page is settled
    const auto settle = [&] {
      if (kept.empty()) return;
      // At most two packed pages take one page's rows.
      if (2 * kept.size() > rows_on_page || out.pinned + 2 > out.pin_limit) {
        const uint32_t holder = out.AddPage(page);
        for (const RowRef& ref : kept) out.refs.push_back(RowRef{holder, ref.start, ref.end});
      } else {
        for (const RowRef& ref : kept) packer.Add(RowBytes(*page, ref), page->number);
      }
      kept.clear();
    };
    while (cursor.Next()) {
      if (cursor.page() != page) {
        settle();
        page = cursor.page();
        rows_on_page = 0;
      }
      ++rows_on_page;
      const std::span<const uint8_t> row = cursor.row();
      if (RowMatches(predicate, reader, def, row, page->number, sort)) {
        const auto start = static_cast<uint16_t>(row.data() - page->bytes.data());
        kept.push_back(RowRef{0, start, static_cast<uint16_t>(start + row.size())});
      }
    }
    settle();
  }
  if (source.pending_rows) {
    for (const std::vector<Value>& row : *source.pending_rows) {
      if (!predicate.Matches(row)) continue;
      if (sort) sort->Take([&](int field) { return row[static_cast<size_t>(field)]; });
      out.refs.push_back(RowRef{RowRef::kInMemory | static_cast<uint32_t>(out.memory.size())});
      out.memory.push_back(row);
    }
  }
  return out;
}

// Runs the condition over the rows of an earlier result, keeping their order. The rows come
// in runs from one page; the kept rows of a run refer to the page where the earlier result
// holds it, to the page by its number where most of the run's rows are kept (a wide
// condition: copying would cost more than reading the page again later), and otherwise are
// copied into pages of the result's own.
ResultRows FilterResult(Database& db, const ResultRows& earlier, const format::TableDefinition* def,
                        const sql::Predicate& predicate) {
  ResultRows out;
  out.pin_limit = SIZE_MAX;  // pages the earlier result held, and the packed pages
  std::optional<ConditionRow> reader;
  if (def) reader.emplace(db.pager(), *def);
  RowPacker packer(out);
  format::PagePtr spare;  // memory for the next page read again
  std::vector<RowRef> kept;
  const std::vector<RowRef>& refs = earlier.refs;
  for (size_t i = 0; i < refs.size();) {
    if (refs[i].in_memory()) {
      const std::vector<Value>& row = earlier.memory[refs[i].index()];
      if (predicate.Matches(row)) {
        out.refs.push_back(RowRef{RowRef::kInMemory | static_cast<uint32_t>(out.memory.size())});
        out.memory.push_back(row);
      }
      ++i;
      continue;
    }
    // A run of rows on one page.
    const uint32_t holder = refs[i].index();
    size_t end = i;
    while (end < refs.size() && !refs[end].in_memory() && refs[end].index() == holder) ++end;
    const format::PagePtr& held = earlier.pages[holder];
    const format::PagePtr page =
        held ? held : db.pager().GetPassing(earlier.page_numbers[holder], spare);
    kept.clear();
    for (size_t k = i; k < end; ++k) {
      if (RowMatches(predicate, *reader, *def, RowBytes(*page, refs[k]), page->number)) {
        kept.push_back(refs[k]);
      }
    }
    if (!kept.empty()) {
      if (held || 2 * kept.size() > end - i) {
        const uint32_t at = held ? out.AddPage(held) : out.AddNumber(page->number);
        for (RowRef ref : kept) out.refs.push_back(RowRef{at, ref.start, ref.end});
      } else {
        for (const RowRef& ref : kept) packer.Add(RowBytes(*page, ref), page->number);
      }
    }
    if (!held && page.use_count() == 1) spare = page;
    i = end;
  }
  return out;
}

// One value of a result row; `db` is the database the result came from, when it is still
// open.
Value ReadValue(const ResultRows& rows, const RowRef& ref, const format::TableDefinition* def,
                Database* db, uint64_t generation, int field_index) {
  const auto i = static_cast<size_t>(field_index);
  if (ref.in_memory()) return rows.memory[ref.index()][i];
  const format::PagePtr page = PageOf(rows, ref, db, generation);
  const format::RecordView view(*def, RowBytes(*page, ref), page->number);
  return view.Decode(db ? &db->pager() : nullptr, def->columns[i]);
}

// Puts the result in ORDER BY's order.
void SortResult(ResultRows& rows, const std::vector<sql::OrderTerm>& order_by,
                const std::vector<Field>& fields, const SortValues& sort) {
  if (order_by.empty()) return;
  const std::vector<size_t> order =
      sql::SortOrder(rows.refs.size(), order_by, fields,
                     [&sort](size_t row, int field) { return sort.Of(row, field); });
  std::vector<RowRef> sorted;
  sorted.reserve(order.size());
  for (const size_t i : order) sorted.push_back(rows.refs[i]);
  rows.refs = std::move(sorted);
}

}  // namespace

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
    Database::TableSource source = db.Source(select->table);
    const sql::Predicate predicate(select->where.get(), source.fields);
    const format::TableDefinition* def = source.definition.get();

    auto stored = std::make_unique<StoredRows>();
    stored->definition = source.definition;
    stored->database_serial = db.serial();
    stored->generation = db.generation();
    if (const Database::RecentResult* earlier =
            db.FindNarrowable(source.name, select->where, select->order_by)) {
      // A narrower condition than an earlier query's: only that query's rows can match,
      // and they already stand in the right order.
      if (sql::Narrows(earlier->where.get(), select->where.get())) {
        stored->rows = earlier->rows;  // the same condition
      } else {
        stored->rows =
            std::make_shared<ResultRows>(FilterResult(db, *earlier->rows, def, predicate));
      }
    } else {
      std::optional<SortValues> sort;
      if (!select->order_by.empty()) sort.emplace(select->order_by, source.fields);
      ResultRows rows = ScanTable(db, source, predicate, sort ? &*sort : nullptr);
      if (sort) SortResult(rows, select->order_by, source.fields, *sort);
      stored->rows = std::make_shared<ResultRows>(std::move(rows));
    }
    db.RememberResult(
        Database::RecentResult{source.name, select->where, select->order_by, stored->rows});

    table_name_ = std::move(source.name);
    fields_ = std::move(source.fields);
    rows_ = std::move(stored);
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
  rows_.reset();
  current_ = 0;
  appending_ = false;
  pending_.clear();
  decoded_row_ = -1;
  decoded_.clear();
}

int Dataset::FieldIndex(std::u16string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (base::EqualIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int64_t Dataset::record_count() const { return rows_ ? rows_->size() : 0; }

int64_t Dataset::record_number() const {
  const int64_t size = record_count();
  if (size == 0) return 0;
  return current_ < size ? current_ + 1 : size;
}

void Dataset::First() { current_ = 0; }

void Dataset::Next() {
  if (current_ < record_count()) ++current_;
}

void Dataset::MoveTo(int64_t record_number) {
  if (record_number < 1 || record_number > record_count()) {
    throw Error(u"レコード番号 " + format::Number(static_cast<uint64_t>(record_number)) +
                u" は範囲外です");
  }
  current_ = record_number - 1;
}

bool Dataset::eof() const { return current_ >= record_count(); }
bool Dataset::bof() const { return record_count() == 0 || current_ == 0; }

void Dataset::CheckField(int field_index) const {
  if (!active_) throw Error(u"データセットが開かれていません");
  if (field_index < 0 || field_index >= static_cast<int>(fields_.size())) {
    throw Error(u"フィールド番号 " + format::Number(static_cast<uint64_t>(field_index)) +
                u" は範囲外です");
  }
}

void Dataset::CheckRow(int64_t row) const {
  if (row < 0 || row >= record_count()) throw Error(u"現在のレコードがありません");
}

Value Dataset::ValueAt(int64_t row, int field_index) const {
  CheckField(field_index);
  CheckRow(row);
  const ResultRows& rows = *rows_->rows;
  return ReadValue(rows, rows.refs[static_cast<size_t>(row)], rows_->definition.get(),
                   DatabaseFor(connection_, rows_->database_serial), rows_->generation,
                   field_index);
}

const Value& Dataset::value(int field_index) const {
  CheckField(field_index);
  CheckRow(current_);
  const ResultRows& rows = *rows_->rows;
  const RowRef& ref = rows.refs[static_cast<size_t>(current_)];
  if (ref.in_memory()) return rows.memory[ref.index()][static_cast<size_t>(field_index)];
  if (decoded_row_ != current_) {
    decoded_row_ = -1;
    decoded_.assign(fields_.size(), Value());
    const format::TableDefinition& def = *rows_->definition;
    Database* db = DatabaseFor(connection_, rows_->database_serial);
    const format::PagePtr page = PageOf(rows, ref, db, rows_->generation);
    const format::RecordView view(def, RowBytes(*page, ref), page->number);
    format::Pager* pager = db ? &db->pager() : nullptr;
    for (size_t i = 0; i < decoded_.size(); ++i) decoded_[i] = view.Decode(pager, def.columns[i]);
    decoded_row_ = current_;
  }
  return decoded_[static_cast<size_t>(field_index)];
}

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
  ResultRows& rows = rows_->Own();
  rows.refs.push_back(RowRef{RowRef::kInMemory | static_cast<uint32_t>(rows.memory.size())});
  rows.memory.push_back(std::move(stored));
  current_ = record_count() - 1;
  appending_ = false;
  pending_.clear();
}

void Dataset::Cancel() noexcept {
  appending_ = false;
  pending_.clear();
}

}  // namespace jet
