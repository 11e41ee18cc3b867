#include "jet/database.h"

#include <atomic>

#include "base/fold.h"
#include "base/utf.h"
#include "jet/format/record.h"
#include "jet/write/writer.h"

namespace jet {
namespace {

bool IsKnownType(uint8_t type) {
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBinary:
    case ColumnType::kText:
    case ColumnType::kOle:
    case ColumnType::kMemo:
    case ColumnType::kGuid:
    case ColumnType::kNumeric:
      return true;
  }
  return false;
}

TFieldType FieldType(const format::ColumnDefinition& column) {
  switch (static_cast<ColumnType>(column.type)) {
    case ColumnType::kText:
      return TFieldType::ftWideString;
    case ColumnType::kMemo:
      return TFieldType::ftWideMemo;  // Hyperlink too
    case ColumnType::kLong:
      return (column.flags & format::kColumnAutoLong) ? TFieldType::ftAutoInc
                                                      : TFieldType::ftInteger;
    case ColumnType::kInteger:
      return TFieldType::ftSmallint;
    case ColumnType::kSingle:
    case ColumnType::kDouble:
      return TFieldType::ftFloat;
    case ColumnType::kBoolean:
      return TFieldType::ftBoolean;
    case ColumnType::kDateTime:
      return TFieldType::ftDateTime;
    case ColumnType::kByte:
      return TFieldType::ftByte;
    case ColumnType::kCurrency:
      return TFieldType::ftCurrency;
    case ColumnType::kNumeric:
      return TFieldType::ftFMTBcd;
    case ColumnType::kGuid:
      return TFieldType::ftGuid;
    case ColumnType::kOle:
      return TFieldType::ftBlob;
    case ColumnType::kBinary:
      return TFieldType::ftVarBytes;
  }
  return TFieldType::ftUnknown;
}

}  // namespace

Field FieldFromColumn(const format::ColumnDefinition& column) {
  if (!IsKnownType(column.type)) {
    throw Error(u"列 " + column.name + u" の型 (" + format::Number(column.type) +
                u") には対応していません");
  }
  Field field;
  field.name = column.name;
  field.column_type = static_cast<ColumnType>(column.type);
  field.type = FieldType(column);
  // A Yes/No column stores no bytes of its own: its value is the row's null-mask bit.
  field.size = field.column_type == ColumnType::kBoolean ? 0 : column.length;
  if (field.column_type == ColumnType::kNumeric) {
    field.precision = column.precision;
    field.scale = column.scale;
  }
  field.auto_increment =
      field.type == TFieldType::ftAutoInc ||
      (field.column_type == ColumnType::kGuid && (column.flags & format::kColumnAutoGuid) != 0);
  return field;
}

std::unique_ptr<Database> Database::Open(const std::filesystem::path& path) {
  return std::make_unique<Database>(format::OpenFileSource(path), path);
}

std::unique_ptr<Database> Database::OpenBytes(std::vector<uint8_t> bytes) {
  return std::make_unique<Database>(format::MemorySource(std::move(bytes)),
                                    std::filesystem::path());
}

namespace {
// How many recent query results a database keeps: enough for a keyword typed on and taken
// back, character by character; and how many pages they may hold together (32 MiB).
constexpr size_t kRecentResults = 16;
constexpr size_t kRecentPinnedPages = 8192;

uint64_t NextSerial() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1);
}
}  // namespace

Database::Database(std::unique_ptr<format::PageSource> source, std::filesystem::path path)
    : path_(std::move(path)), pager_(std::move(source)), serial_(NextSerial()) {
  Catalog();  // a file whose catalogue cannot be read is not opened
}

Database::~Database() = default;

void Database::SetWriter(std::unique_ptr<write::Writer> writer) { writer_ = std::move(writer); }

void Database::Reload() {
  ++generation_;
  recent_.clear();
  catalog_.reset();
  definitions_.clear();
  pager_.Reload();
}

void Database::ReloadIfChanged() {
  if (pager_.Changed()) Reload();
}

const std::vector<format::CatalogEntry>& Database::Catalog() {
  if (!catalog_) catalog_ = format::ReadCatalog(pager_);
  return *catalog_;
}

std::vector<std::u16string> Database::TableNames() {
  ReloadIfChanged();
  std::vector<std::u16string> names;
  for (const auto& entry : Catalog()) {
    if (entry.is_user_table()) names.push_back(entry.name);
  }
  for (const auto& pending : pending_) {
    if (!pending.fields.empty()) names.push_back(pending.name);
  }
  return names;
}

Database::PendingTable* Database::FindPending(std::u16string_view table) {
  for (auto& pending : pending_) {
    if (base::EqualIgnoringCase(pending.name, table)) return &pending;
  }
  return nullptr;
}

void Database::ReopenWriter() {
  if (!writer_) return;
  writer_.reset();
  writer_ = write::Writer::OpenIfOwned(path_);
}

void Database::BeginTransaction() {
  if (in_transaction_) throw Error(u"トランザクションは既に開始されています");
  in_transaction_ = true;
}

void Database::EndTransaction(bool commit) {
  if (!in_transaction_) throw Error(u"トランザクションが開始されていません");
  in_transaction_ = false;
  pending_.clear();
  ++generation_;
  recent_.clear();
  if (commit) {
    FlushWrites();
  } else {
    ReopenWriter();
    Reload();
  }
}

void Database::NoteCreatedTable(std::u16string name, std::vector<Field> fields) {
  ++generation_;
  recent_.clear();
  pending_.push_back(PendingTable{std::move(name), std::move(fields), {}});
}

void Database::NoteInsertedRow(std::u16string_view table, std::vector<Value> row) {
  ++generation_;
  recent_.clear();
  PendingTable* pending = FindPending(table);
  if (!pending) {
    pending_.push_back(PendingTable{FindTable(table).name, {}, {}});
    pending = &pending_.back();
  }
  pending->rows.push_back(std::move(row));
}

void Database::NoteAppendedRow() {
  ++generation_;
  recent_.clear();
}

void Database::FlushWrites() {
  if (writer_) writer_->Flush();
  Reload();
}

const format::CatalogEntry& Database::FindTable(std::u16string_view table) {
  const format::CatalogEntry* system_match = nullptr;
  for (const auto& entry : Catalog()) {
    if (!entry.is_table() || !base::EqualIgnoringCase(entry.name, table)) continue;
    if (!entry.is_system()) return entry;
    if (!system_match) system_match = &entry;
  }
  if (system_match) return *system_match;
  throw Error(u"テーブル '" + std::u16string(table) + u"' が見つかりません");
}

const format::TableDefinition& Database::Definition(std::u16string_view table) {
  const uint32_t page = FindTable(table).definition_page();
  auto it = definitions_.find(page);
  if (it == definitions_.end()) {
    it = definitions_
             .emplace(page, std::make_shared<const format::TableDefinition>(
                                format::ReadTableDefinition(pager_, page)))
             .first;
  }
  return *it->second;
}

std::vector<Field> Database::Fields(std::u16string_view table) {
  if (const PendingTable* pending = FindPending(table); pending && !pending->fields.empty()) {
    return pending->fields;
  }
  const format::TableDefinition& def = Definition(table);
  std::vector<Field> fields;
  fields.reserve(def.columns.size());
  for (const auto& column : def.columns) fields.push_back(FieldFromColumn(column));
  // Columns of an index that refuses NULLs (a primary key among them) are required.
  for (const auto& index : def.real_indexes) {
    if ((index.flags & 0x08) == 0) continue;
    for (const auto& [number, ascending] : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == number) fields[i].required = true;
      }
    }
  }
  return fields;
}

TableData Database::ReadTable(std::u16string_view table) {
  ReloadIfChanged();
  TableData data;
  if (const PendingTable* pending = FindPending(table)) {
    if (!pending->fields.empty()) return TableData{pending->name, pending->fields, pending->rows};
  }
  data.name = FindTable(table).name;
  data.fields = Fields(table);
  const format::TableDefinition& def = Definition(table);
  format::ScanRecords(pager_, def, [&](std::span<const uint8_t> row, uint32_t page) {
    data.rows.push_back(format::DecodeRecord(pager_, def, row, page));
  });
  if (const PendingTable* pending = FindPending(table)) {
    data.rows.insert(data.rows.end(), pending->rows.begin(), pending->rows.end());
  }
  return data;
}

Database::TableSource Database::Source(std::u16string_view table) {
  ReloadIfChanged();
  TableSource source;
  const PendingTable* pending = FindPending(table);
  if (pending && !pending->fields.empty()) {
    source.name = pending->name;
    source.fields = pending->fields;
    source.pending_rows = &pending->rows;
    return source;
  }
  source.name = FindTable(table).name;
  source.fields = Fields(table);
  Definition(table);
  source.definition = definitions_.at(FindTable(table).definition_page());
  if (pending && !pending->rows.empty()) source.pending_rows = &pending->rows;
  return source;
}

const Database::RecentResult* Database::FindNarrowable(
    std::u16string_view table, const std::shared_ptr<const sql::Expr>& where,
    const std::vector<sql::OrderTerm>& order_by) {
  const RecentResult* best = nullptr;
  for (const Remembered& r : recent_) {
    if (r.generation != generation_ || !base::EqualIgnoringCase(r.result.table, table)) continue;
    if (r.result.order_by.size() != order_by.size()) continue;
    bool same_order = true;
    for (size_t i = 0; i < order_by.size(); ++i) {
      same_order = same_order && r.result.order_by[i].descending == order_by[i].descending &&
                   base::EqualIgnoringCase(r.result.order_by[i].column, order_by[i].column);
    }
    if (!same_order || !sql::Narrows(where.get(), r.result.where.get())) continue;
    if (!best || r.result.rows->refs.size() < best->rows->refs.size()) best = &r.result;
  }
  return best;
}

void Database::RememberResult(RecentResult result) {
  recent_.push_back(Remembered{std::move(result), generation_});
  // The oldest go first, while too many are kept or they hold too many pages.
  const auto pinned = [this] {
    size_t pages = 0;
    for (const Remembered& r : recent_) pages += r.result.rows->pinned;
    return pages;
  };
  while (recent_.size() > 1 && (recent_.size() > kRecentResults || pinned() > kRecentPinnedPages)) {
    recent_.erase(recent_.begin());
  }
}

}  // namespace jet
