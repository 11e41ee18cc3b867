#include "jet/write/database_file.h"

#include <algorithm>
#include <cstring>

#include "base/fold.h"
#include "base/utf.h"
#include "jet/format/data_page.h"
#include "jet/format/header_page.h"
#include "jet/format/long_value.h"
#include "jet/format/record.h"
#include "jet/format/table_definition.h"
#include "jet/write/index_key.h"
#include "jet/write/row_codec.h"

namespace jet::write {
namespace {

using format::kDatabaseObjectId;
using format::kDatabasesContainerId;
using format::kObjectTypeContainer;
using format::kObjectTypeDatabase;
using format::kObjectTypeTable;
using format::kRelationshipsContainerId;
using format::kRootContainerId;
using format::kTablesContainerId;

// What the header of a new database says. The security IDs in the catalogue belong to the
// creation date in the header, so the header carries the date of the Jet-made layout we
// follow (2015-11-21 22:40:30.98) and the real creation time goes into the catalogue rows
// only.
constexpr uint64_t kHeaderDateBits = 0x40E4AB3E3BD3853EULL;
constexpr uint16_t kCodePage = 1252;
constexpr uint32_t kEngineBuild = 0x261C;       // 4.0.9756, the engine build of the layout
constexpr uint32_t kSortOrderGeneral = 0x0409;  // LCID 1033, version 0

// Security ids that belong to the header's creation date (see above): the engine's
// own account (owner of the containers and system tables), the creating user (owner of the
// database object and of every table created later), and two group ids used in the
// containers' inherited permissions.
const Bytes kSidEngine = {0x65, 0x89};
const Bytes kSidCreator = {0x64, 0x8B};
const Bytes kSidCreatorPlaceholder = {0x65, 0x8E};
const Bytes kSidAdmins = {0x65, 0x8B};

// Permission masks of the access-control entries.
constexpr int32_t kAcmReadDesign = 0x00060000;
constexpr int32_t kAcmReadWriteDesign = 0x000E0000;
constexpr int32_t kAcmCreatorFull = 0x000F00FE;
constexpr int32_t kAcmUserContainer = 0x00060001;
constexpr int32_t kAcmDatabaseUser = 0x0006000E;
constexpr int32_t kAcmDatabaseAdmins = 0x0000000E;
constexpr int32_t kAcmSystemAdmins = 0x00000014;
constexpr int32_t kAcmTablesAdmins = 0x000FFEFF;
constexpr int32_t kAcmAll = 0x000FFFFF;

constexpr int kMaxNameLength = 64;
constexpr int kMaxColumns = 255;

struct SystemColumn {
  const char16_t* name;
  ColumnType type;
  bool sid;
};

using format::FixedColumnLength;
using format::IsFixedLengthType;

// The order of the system tables' descriptors and index names in the file: ASCII letters
// compared as capitals (so "_" sorts after the letters), everything else by code unit.
bool NameLess(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char16_t x, char16_t y) { return base::AsciiUpper(x) < base::AsciiUpper(y); });
}

std::unique_ptr<TableModel> SystemTable(std::u16string name,
                                        const std::vector<SystemColumn>& cols) {
  auto t = std::make_unique<TableModel>();
  t->name = std::move(name);
  t->table_type = kSystemTable;
  for (const auto& sc : cols) {
    ColumnModel c;
    c.name = sc.name;
    c.type = sc.type;
    bool fixed = IsFixedLengthType(sc.type);
    c.flags = static_cast<uint8_t>(kColumnSystem | kColumnNullable | (fixed ? kColumnFixed : 0) |
                                   (sc.sid ? kColumnSid : 0));
    c.length = fixed ? FixedColumnLength(sc.type)
                     : (sc.type == ColumnType::kText || sc.type == ColumnType::kBinary ? 510 : 0);
    c.max_chars = sc.type == ColumnType::kText ? 255 : 0;
    t->columns.push_back(std::move(c));
  }
  LayOutColumns(*t);
  for (const auto& c : t->columns) t->descriptor_order.push_back(c.number);
  std::stable_sort(
      t->descriptor_order.begin(), t->descriptor_order.end(),
      [&](uint16_t a, uint16_t b) { return NameLess(t->columns[a].name, t->columns[b].name); });
  for (uint16_t n : t->descriptor_order) {
    if (t->columns[n].long_value()) t->long_value_order.push_back(n);
  }
  return t;
}

void AddSystemIndex(TableModel& t, std::u16string name, std::vector<uint16_t> columns,
                    uint8_t flags, uint8_t logical_type) {
  RealIndexModel index;
  for (uint16_t c : columns) index.columns.push_back({c, true});
  index.flags = flags;
  t.indexes.push_back(std::move(index));
  uint32_t number = static_cast<uint32_t>(t.indexes.size() - 1);
  t.logical.push_back({std::move(name), number, number, logical_type});
  std::stable_sort(t.logical.begin(), t.logical.end(),
                   [](const LogicalIndexModel& a, const LogicalIndexModel& b) {
                     return NameLess(a.name, b.name);
                   });
}

void CheckName(std::u16string_view name, std::u16string_view what) {
  auto fail = [&](std::u16string_view why) {
    throw Error(std::u16string(what) + u"名 '" + std::u16string(name) + u"' は使えません: " +
                std::u16string(why));
  };
  if (name.empty()) fail(u"名前が空です");
  if (name.size() > static_cast<size_t>(kMaxNameLength)) fail(u"64 文字を超えています");
  if (name[0] == u' ') fail(u"先頭が空白です");
  for (char16_t c : name) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      fail(u"使えない文字 (. ! ` [ ] や制御文字) を含んでいます");
    }
  }
}

std::u16string Number(int64_t v) { return base::FromUtf8(std::to_string(v)); }

// A user column from its description. Throws jet::Error when it cannot be stored.
ColumnModel ColumnFromSpec(const ColumnSpec& cs) {
  ColumnModel c;
  c.name = cs.name;
  c.type = cs.type;
  c.not_null = cs.not_null;
  switch (cs.type) {
    case ColumnType::kText: {
      int n = cs.length == 0 ? 255 : cs.length;
      if (n < 1 || n > 255) {
        throw Error(u"列 '" + cs.name + u"' の長さ " + Number(cs.length) +
                    u" は使えません (1〜255)");
      }
      c.max_chars = n;
      c.length = static_cast<uint16_t>(2 * n);
      break;
    }
    case ColumnType::kBinary: {
      int n = cs.length == 0 ? 255 : cs.length;
      if (n < 1 || n > 510) {
        throw Error(u"列 '" + cs.name + u"' の長さ " + Number(cs.length) +
                    u" は使えません (1〜510)");
      }
      c.length = static_cast<uint16_t>(n);
      break;
    }
    case ColumnType::kMemo:
    case ColumnType::kOle:
      c.length = 0;
      break;
    case ColumnType::kNumeric:
      throw Error(u"列 '" + cs.name + u"' の型 (DECIMAL) は作成できません");
    default:
      c.length = FixedColumnLength(cs.type);
      if (c.length == 0) throw Error(u"列 '" + cs.name + u"' の型は作成できません");
  }
  c.flags = kColumnNullable | (IsFixedLengthType(cs.type) ? kColumnFixed : 0);
  if (cs.auto_increment) {
    if (cs.type != ColumnType::kLong) {
      throw Error(u"列 '" + cs.name + u"' : オートナンバーにできるのは長整数型の列だけです");
    }
    c.flags |= kColumnAutoLong;
  }
  if (cs.compressible && (cs.type == ColumnType::kText || cs.type == ColumnType::kMemo)) {
    c.extra_flags = kColumnCompressible;
  }
  return c;
}

// The indexes of `spec` on the table `t` whose columns are laid out. Throws jet::Error when
// one cannot be stored.
void AddIndexes(TableModel& table, const TableSpec& spec) {
  TableModel* t = &table;
  bool has_primary = false;
  for (const IndexSpec& is : spec.indexes) {
    CheckName(is.name, u"索引");
    for (const auto& li : t->logical) {
      if (base::EqualIgnoringCase(li.name, is.name))
        throw Error(u"索引名 '" + is.name + u"' が重複しています");
    }
    if (is.columns.empty() || is.columns.size() > 10) {
      throw Error(u"索引 '" + is.name + u"' の列の数が不正です (1〜10)");
    }
    RealIndexModel index;
    size_t key_bytes = 0;
    for (const auto& [column_name, ascending] : is.columns) {
      const ColumnModel* c = t->FindColumn(column_name);
      if (c == nullptr)
        throw Error(u"索引 '" + is.name + u"' の列 '" + column_name + u"' がありません");
      if (!IsIndexableType(c->type)) {
        throw Error(u"列 '" + c->name + u"' の型には索引を作れません");
      }
      index.columns.push_back({c->number, ascending});
      key_bytes += c->type == ColumnType::kText ? 2 + 2 * static_cast<size_t>(c->max_chars) + 4
                                                : 1 + c->length;
    }
    if (key_bytes > kMaxIndexKeyLength) {
      throw Error(u"索引 '" + is.name + u"' のキーが長すぎます");
    }
    index.flags = kIndexJet4;
    if (is.unique || is.primary_key) index.flags |= kIndexUnique;
    if (is.primary_key) index.flags |= kIndexRequired;
    if (is.ignore_nulls && !is.primary_key) index.flags |= kIndexIgnoreNulls;
    if (is.primary_key) {
      if (has_primary) throw Error(u"テーブル '" + spec.name + u"' に主キーが 2 つ以上あります");
      has_primary = true;
    }
    t->indexes.push_back(std::move(index));
    uint32_t number = static_cast<uint32_t>(t->indexes.size() - 1);
    t->logical.push_back({is.name, number, number, static_cast<uint8_t>(is.primary_key ? 1 : 0)});
  }
}

}  // namespace

TableSpec TableSpecFromStatement(const sql::CreateTableStatement& statement) {
  TableSpec spec;
  spec.name = statement.table;
  IndexSpec primary;
  int primary_count = 0;
  for (const auto& cd : statement.columns) {
    ColumnSpec c;
    c.name = cd.name;
    c.type = cd.type;
    c.length = cd.length;
    c.not_null = cd.not_null;
    c.auto_increment = cd.auto_increment;
    c.compressible = cd.unicode_compression;
    spec.columns.push_back(c);
    if (cd.primary_key) {
      ++primary_count;
      primary.name = cd.constraint_name.empty() ? u"PrimaryKey" : cd.constraint_name;
      primary.columns.push_back({cd.name, true});
    }
  }
  if (primary_count > 1) {
    throw Error(u"テーブル '" + statement.table + u"' に主キーが 2 つ以上指定されています");
  }
  if (primary_count == 1) {
    primary.primary_key = true;
    primary.unique = true;
    spec.indexes.push_back(primary);
  }
  return spec;
}

std::unique_ptr<DatabaseFile> DatabaseFile::Create(const std::filesystem::path& path, double now) {
  // The file face refuses anything already at the path, so nothing that exists is touched.
  std::unique_ptr<DatabaseFile> db(new DatabaseFile());
  db->file_ = file::CreateExclusive(path);
  db->store_.Create(*db->file_);
  try {
    db->BuildEmptyDatabase(now);
    db->Flush();
  } catch (...) {
    // Only the file this call created is removed.
    db->file_->RemoveCreated();
    throw;
  }
  return db;
}

DatabaseFile::~DatabaseFile() = default;

UsageMap* DatabaseFile::NewMapRow(uint32_t& map_page) {
  uint8_t zeros[kUsageMapRowLength] = {};
  if (map_page == 0 || !data_page::Fits(store_.Read(map_page), kUsageMapRowLength)) {
    map_page = store_.Allocate();
    data_page::Init(store_.Mutable(map_page), 0);
  }
  uint8_t row = data_page::AddRow(store_.Mutable(map_page), zeros, kUsageMapRowLength);
  maps_.push_back(std::make_unique<UsageMap>(RowPointer{map_page, row}));
  return maps_.back().get();
}

void DatabaseFile::AllocateTables(const std::vector<TableModel*>& tables) {
  for (TableModel* t : tables) {
    // The definition's length does not depend on page numbers, so a provisional map is
    // enough to measure it.
    UsageMap provisional(RowPointer{});
    t->owned = t->free_space = &provisional;
    for (auto& c : t->columns) c.lv_owned = c.lv_free = &provisional;
    for (auto& i : t->indexes) i.map = &provisional;
    size_t length = SerializeTableDefinition(*t).size();
    uint32_t pages = TableDefinitionPages(length);
    for (uint32_t i = 0; i < pages; ++i) t->tdef_pages.push_back(store_.Allocate());
    t->id = t->tdef_pages[0];
  }
  uint32_t map_page = 0;
  for (TableModel* t : tables) {
    t->owned = NewMapRow(map_page);
    t->free_space = NewMapRow(map_page);
    for (auto& c : t->columns) {
      if (c.long_value()) {
        c.lv_owned = NewMapRow(map_page);
        c.lv_free = NewMapRow(map_page);
      } else {
        c.lv_owned = c.lv_free = nullptr;
      }
    }
    for (auto& i : t->indexes) i.map = NewMapRow(map_page);
  }
  for (TableModel* t : tables) {
    for (auto& i : t->indexes) {
      i.root = store_.Allocate();
      i.map->Add(i.root);
      i.tree = std::make_unique<IndexTree>(i.root, t->id);
    }
    t->dirty = true;
  }
}

void DatabaseFile::BuildEmptyDatabase(double now) {
  WriteHeaderPage();
  store_.Allocate();  // page 1: the global usage map, written on Flush
  AddSystemTables();
  InsertSystemObjects(now);
  InsertSystemAces();
}

void DatabaseFile::WriteHeaderPage() {
  format::HeaderPage header;
  header.code_page = kCodePage;
  header.sort_order = kSortOrderGeneral;
  header.engine_build = kEngineBuild;
  std::memcpy(&header.creation_date, &kHeaderDateBits, sizeof header.creation_date);
  format::EncodeHeaderPage(header, {store_.Mutable(store_.Allocate()), kPageSize});
}

void DatabaseFile::AddSystemTables() {
  using T = ColumnType;
  auto objects = SystemTable(u"MSysObjects", {{u"Id", T::kLong, false},
                                              {u"ParentId", T::kLong, false},
                                              {u"Name", T::kText, false},
                                              {u"Type", T::kInteger, false},
                                              {u"DateCreate", T::kDateTime, false},
                                              {u"DateUpdate", T::kDateTime, false},
                                              {u"Owner", T::kBinary, true},
                                              {u"Flags", T::kLong, false},
                                              {u"Database", T::kMemo, false},
                                              {u"Connect", T::kMemo, false},
                                              {u"ForeignName", T::kText, false},
                                              {u"RmtInfoShort", T::kBinary, false},
                                              {u"RmtInfoLong", T::kOle, false},
                                              {u"Lv", T::kOle, false},
                                              {u"LvProp", T::kOle, false},
                                              {u"LvModule", T::kOle, false},
                                              {u"LvExtra", T::kOle, false}});
  AddSystemIndex(*objects, u"ParentIdName", {1, 2}, kIndexJet4 | kIndexUnique, 0);
  AddSystemIndex(*objects, u"Id", {0}, kIndexJet4 | kIndexUnique, 1);

  auto aces = SystemTable(u"MSysACEs", {{u"ObjectId", T::kLong, false},
                                        {u"SID", T::kBinary, true},
                                        {u"ACM", T::kLong, false},
                                        {u"FInheritable", T::kBoolean, false}});
  AddSystemIndex(*aces, u"ObjectId", {0}, kIndexJet4 | kIndexRequired, 0);

  auto queries = SystemTable(u"MSysQueries", {{u"ObjectId", T::kLong, false},
                                              {u"Attribute", T::kByte, false},
                                              {u"Order", T::kBinary, false},
                                              {u"Name1", T::kText, false},
                                              {u"Name2", T::kText, false},
                                              {u"Expression", T::kMemo, false},
                                              {u"Flag", T::kInteger, false},
                                              {u"LvExtra", T::kLong, false}});
  AddSystemIndex(*queries, u"ObjectIdAttribute", {0, 1, 2}, kIndexJet4 | kIndexUnique, 1);

  auto relationships =
      SystemTable(u"MSysRelationships", {{u"szRelationship", T::kText, false},
                                         {u"grbit", T::kLong, false},
                                         {u"ccolumn", T::kLong, false},
                                         {u"icolumn", T::kLong, false},
                                         {u"szObject", T::kText, false},
                                         {u"szColumn", T::kText, false},
                                         {u"szReferencedObject", T::kText, false},
                                         {u"szReferencedColumn", T::kText, false}});
  AddSystemIndex(*relationships, u"szRelationship", {0}, kIndexJet4 | kIndexIgnoreNulls, 0);
  AddSystemIndex(*relationships, u"szObject", {4}, kIndexJet4 | kIndexIgnoreNulls, 0);
  AddSystemIndex(*relationships, u"szReferencedObject", {6}, kIndexJet4 | kIndexIgnoreNulls, 0);

  objects_ = objects.get();
  aces_ = aces.get();
  std::vector<TableModel*> batch = {objects.get(), aces.get(), queries.get(), relationships.get()};
  tables_.push_back(std::move(objects));
  tables_.push_back(std::move(aces));
  tables_.push_back(std::move(queries));
  tables_.push_back(std::move(relationships));
  AllocateTables(batch);
}

void DatabaseFile::InsertSystemObjects(double now) {
  auto object_row = [&](int32_t id, int32_t parent, std::u16string name, int type,
                        const Bytes& owner) {
    std::vector<std::optional<Value>> v(objects_->columns.size());
    v[0] = Value::Integer(id);
    v[1] = Value::Integer(parent);
    v[2] = Value::Text(std::move(name));
    v[3] = Value::Integer(type);
    v[4] = Value::FromDateTime({now});
    v[5] = Value::FromDateTime({now});
    v[6] = Value::Binary(owner);
    v[7] = Value::Integer(static_cast<int32_t>(format::kSystemObjectFlag));
    InsertRowInto(*objects_, v);
  };
  object_row(kTablesContainerId, kRootContainerId, u"Tables", kObjectTypeContainer, kSidEngine);
  object_row(kDatabasesContainerId, kRootContainerId, u"Databases", kObjectTypeContainer,
             kSidEngine);
  object_row(kRelationshipsContainerId, kRootContainerId, u"Relationships", kObjectTypeContainer,
             kSidEngine);
  object_row(kDatabaseObjectId, kDatabasesContainerId, u"MSysDb", kObjectTypeDatabase, kSidCreator);
  for (size_t i = 0; i < 4; ++i) {
    object_row(static_cast<int32_t>(tables_[i]->id), kTablesContainerId, tables_[i]->name,
               kObjectTypeTable, kSidEngine);
  }
}

void DatabaseFile::InsertSystemAces() {
  auto ace = [&](int32_t object, const Bytes& sid, int32_t acm, bool inheritable) {
    InsertRowInto(*aces_, {Value::Integer(object), Value::Binary(sid), Value::Integer(acm),
                           Value::Boolean(inheritable)});
  };
  int32_t objects_id = static_cast<int32_t>(tables_[0]->id);
  int32_t aces_id = static_cast<int32_t>(tables_[1]->id);
  int32_t queries_id = static_cast<int32_t>(tables_[2]->id);
  int32_t relationships_id = static_cast<int32_t>(tables_[3]->id);
  ace(objects_id, kSidCreator, kAcmReadDesign, false);
  ace(aces_id, kSidCreator, kAcmReadDesign, false);
  ace(queries_id, kSidCreator, kAcmReadDesign, false);
  ace(relationships_id, kSidCreator, kAcmReadWriteDesign, false);
  ace(kTablesContainerId, kSidCreatorPlaceholder, kAcmCreatorFull, true);
  ace(kTablesContainerId, kSidCreator, kAcmUserContainer, false);
  ace(kRelationshipsContainerId, kSidCreatorPlaceholder, kAcmCreatorFull, true);
  ace(kRelationshipsContainerId, kSidCreator, kAcmUserContainer, false);
  ace(kDatabasesContainerId, kSidCreator, kAcmReadDesign, false);
  ace(kDatabaseObjectId, kSidCreator, kAcmDatabaseUser, false);
  ace(kDatabaseObjectId, kSidAdmins, kAcmDatabaseAdmins, false);
  ace(queries_id, kSidAdmins, kAcmSystemAdmins, false);
  ace(relationships_id, kSidAdmins, kAcmSystemAdmins, false);
  ace(objects_id, kSidAdmins, kAcmSystemAdmins, false);
  ace(kTablesContainerId, kSidAdmins, kAcmTablesAdmins, true);
  ace(kRelationshipsContainerId, kSidAdmins, kAcmAll, true);
}

const TableModel* DatabaseFile::FindTable(std::u16string_view name) {
  EnsureLoaded();
  for (const auto& t : tables_) {
    if (base::EqualIgnoringCase(t->name, name)) return t.get();
  }
  return nullptr;
}

void DatabaseFile::EnsureLoaded() {
  if (!loaded_) DiscardUnflushedChanges();
}

void DatabaseFile::ReleaseMemory() {
  if (!loaded_ || HasUnflushedChanges()) return;
  released_not_null_.clear();
  for (const auto& t : tables_) {
    std::vector<bool> flags;
    for (const auto& c : t->columns) flags.push_back(c.not_null);
    released_not_null_.emplace_back(t->name, std::move(flags));
  }
  tables_.clear();
  maps_.clear();
  objects_ = aces_ = nullptr;
  store_ = PageStore();
  loaded_ = false;
}

void DatabaseFile::CreateTable(const TableSpec& spec, double now) {
  EnsureLoaded();
  CheckName(spec.name, u"テーブル");
  if (auto bad = UnsupportedKeyCharacter(spec.name)) {
    throw Error(u"テーブル名 '" + spec.name +
                u"' は使えません: この文字はテーブル名に使えません (" + std::u16string(1, *bad) +
                u")");
  }
  if (FindTable(spec.name) != nullptr) {
    throw Error(u"テーブル '" + spec.name + u"' は既にあります");
  }
  if (spec.columns.empty()) throw Error(u"テーブル '" + spec.name + u"' に列がありません");
  if (spec.columns.size() > static_cast<size_t>(kMaxColumns)) {
    throw Error(u"テーブル '" + spec.name + u"' の列が多すぎます (上限 255)");
  }

  auto t = std::make_unique<TableModel>();
  t->name = spec.name;
  t->table_type = kUserTable;
  for (const ColumnSpec& cs : spec.columns) {
    CheckName(cs.name, u"列");
    if (t->FindColumn(cs.name) != nullptr) {
      throw Error(u"列名 '" + cs.name + u"' が重複しています");
    }
    t->columns.push_back(ColumnFromSpec(cs));
  }
  LayOutColumns(*t);
  for (auto& c : t->columns) {
    c.column_number_again = c.number;
    t->descriptor_order.push_back(c.number);
    if (c.long_value()) t->long_value_order.push_back(c.number);
  }

  AddIndexes(*t, spec);
  // Pages: TDEF (up to 4 for 255 columns), a map page or two, one root per index, plus the
  // catalogue's possible new data and index pages.
  CheckRoom(8 + 2 * static_cast<uint32_t>(spec.indexes.size()) + 16);

  // Everything is checked: register the table.
  TableModel* table = t.get();
  tables_.push_back(std::move(t));
  AllocateTables({table});
  AddToCatalogue(*table, now);
}

void DatabaseFile::AddToCatalogue(const TableModel& table_model, double now) {
  const TableModel* table = &table_model;

  std::vector<std::optional<Value>> row(objects_->columns.size());
  const Bytes* creator = &kSidCreator;
  row[0] = Value::Integer(static_cast<int32_t>(table->id));
  row[1] = Value::Integer(kTablesContainerId);
  row[2] = Value::Text(table->name);
  row[3] = Value::Integer(kObjectTypeTable);
  row[4] = Value::FromDateTime({now});
  row[5] = Value::FromDateTime({now});
  row[6] = Value::Binary(*creator);
  row[7] = Value::Integer(0);
  InsertRowInto(*objects_, row);
  int32_t id = static_cast<int32_t>(table->id);
  InsertRowInto(*aces_, {Value::Integer(id), Value::Binary(kSidCreator),
                         Value::Integer(kAcmCreatorFull), Value::Boolean(false)});
  InsertRowInto(*aces_, {Value::Integer(id), Value::Binary(kSidAdmins),
                         Value::Integer(kAcmTablesAdmins), Value::Boolean(false)});
}

std::vector<Value> DatabaseFile::InsertRow(std::u16string_view table_name,
                                           const std::vector<std::optional<Value>>& values) {
  EnsureLoaded();
  TableModel* table = nullptr;
  for (auto& t : tables_) {
    if (base::EqualIgnoringCase(t->name, table_name)) table = t.get();
  }
  if (table == nullptr) throw Error(u"テーブル '" + std::u16string(table_name) + u"' がありません");
  if (table->table_type != kUserTable) {
    throw Error(u"システムテーブル '" + table->name + u"' には書き込めません");
  }
  if (values.size() != table->columns.size()) {
    throw Error(u"テーブル '" + table->name + u"' の列の数と値の数が合いません");
  }
  std::vector<Value> row = InsertRowInto(*table, values);
  store_.Trim();
  return row;
}

std::vector<Value> DatabaseFile::InsertRowInto(TableModel& t,
                                               const std::vector<std::optional<Value>>& given) {
  uint32_t autonumber = t.autonumber;
  std::vector<Value> values = ValuesForRow(t, given, autonumber);
  RowKeys keys = KeysForRow(t, values);
  VariablePart variable = VariablePartOfRow(t, values);
  CheckRoom(variable.new_pages + 4 * static_cast<uint32_t>(t.indexes.size()) + 4);

  // Everything is checked; from here on the row is written.
  for (ColumnModel& c : t.columns) {
    if (!variable.long_data[c.number].empty())
      variable.bytes[c.var_index] = StoreLongValue(c, variable.long_data[c.number]);
  }
  RowPointer where;
  PlaceRow(t, AssembleRow(t, values, variable.bytes), where);
  for (size_t x = 0; x < t.indexes.size(); ++x) {
    if (!keys.keys[x]) continue;
    unflushed_key_bytes_ += keys.keys[x]->size() + kIndexEntryOverhead;
    t.indexes[x].tree->Insert(*keys.keys[x], where, store_, *t.indexes[x].map);
    if (keys.new_key[x]) ++t.indexes[x].distinct_keys;
  }
  ++t.row_count;
  t.autonumber = autonumber;
  t.dirty = true;
  return values;
}

// Values in the columns' kinds, with the next AutoNumber where none is given.
std::vector<Value> DatabaseFile::ValuesForRow(const TableModel& t,
                                              const std::vector<std::optional<Value>>& given,
                                              uint32_t& autonumber) {
  std::vector<Value> values(t.columns.size());
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnModel& c = t.columns[i];
    values[i] = ConvertForColumn(c, given[i]);
    if (c.auto_number()) {
      if (values[i].is_null()) {
        if (autonumber >= 0x7FFFFFFF) throw Error(u"オートナンバーの値が上限に達しました");
        values[i] = Value::Integer(static_cast<int64_t>(autonumber) + 1);
      }
      int64_t v = values[i].integer();
      if (v > static_cast<int64_t>(autonumber)) autonumber = static_cast<uint32_t>(v);
    }
    if (c.not_null && values[i].is_null()) {
      throw Error(u"列 '" + c.name + u"' は空 (NULL) にできません");
    }
  }
  return values;
}

// Index keys; refuses NULLs in required indexes and duplicates in unique ones.
DatabaseFile::RowKeys DatabaseFile::KeysForRow(const TableModel& t,
                                               const std::vector<Value>& values) const {
  RowKeys out;
  out.keys.resize(t.indexes.size());
  out.new_key.assign(t.indexes.size(), false);
  for (size_t x = 0; x < t.indexes.size(); ++x) {
    const RealIndexModel& index = t.indexes[x];
    auto index_name = [&] {
      for (const auto& li : t.logical) {
        if (li.real == x) return li.name;
      }
      return std::u16string();
    };
    bool all_null = true, any_null = false;
    std::string key;
    for (const auto& ic : index.columns) {
      const Value& v = values[ic.column];
      bool is_null = v.is_null() && t.columns[ic.column].type != ColumnType::kBoolean;
      all_null = all_null && is_null;
      any_null = any_null || is_null;
      AppendKeyPiece(key, t.columns[ic.column].type, v, ic.ascending);
    }
    if (key.size() > kMaxIndexKeyLength)
      throw Error(u"索引 '" + index_name() + u"' のキーが長すぎます");
    if ((index.flags & kIndexRequired) && any_null) {
      throw Error(u"索引 '" + index_name() + u"' の列は空 (NULL) にできません");
    }
    if ((index.flags & kIndexIgnoreNulls) && all_null) continue;
    bool present = index.tree->ContainsKey(store_, key);
    if (present && index.unique() && !all_null) {
      throw Error(u"索引 '" + index_name() + u"' の値が重複しています (テーブル '" + t.name +
                  u"')");
    }
    out.new_key[x] = !present;
    out.keys[x] = std::move(key);
  }
  return out;
}

// The variable part: text and binary bytes, long values inline or (filled in once stored) by
// reference. Refuses a row longer than a page can hold.
DatabaseFile::VariablePart DatabaseFile::VariablePartOfRow(const TableModel& t,
                                                           const std::vector<Value>& values) {
  VariablePart out;
  out.bytes.resize(t.variable_count);
  out.long_data.resize(t.columns.size());
  size_t variable_length = 0;
  out.new_pages = 2;
  for (const ColumnModel& c : t.columns) {
    if (c.fixed() || values[c.number].is_null()) continue;
    std::string bytes = VariableBytes(c, values[c.number]);
    if (c.long_value()) {
      if (bytes.size() <= kMaxInlineLongValue) {
        out.bytes[c.var_index] = format::EncodeInlineLongValue(bytes);
      } else {
        out.bytes[c.var_index] =
            std::string(format::kLongValueHeaderSize, '\0');  // set once stored
        out.new_pages += static_cast<uint32_t>(bytes.size() / kLongValueChainPiece + 2);
        out.long_data[c.number] = std::move(bytes);
      }
    } else {
      if (c.type == ColumnType::kBinary && bytes.size() > c.length) {
        throw Error(u"列 '" + c.name + u"' に長すぎるバイナリ値は入れられません");
      }
      out.bytes[c.var_index] = std::move(bytes);
    }
    variable_length += out.bytes[c.var_index].size();
  }
  const size_t length = format::EncodedRecordSize(static_cast<uint16_t>(t.columns.size()),
                                                  t.fixed_area, t.variable_count, variable_length);
  if (length > kMaxRowLength) {
    throw Error(u"レコードが大きすぎます (" + Number(static_cast<int64_t>(length)) +
                u" バイト、上限 " + Number(kMaxRowLength) + u" バイト)");
  }
  return out;
}

// The stored row: column count, fixed area, variable data, its offset table, null mask.
std::string DatabaseFile::AssembleRow(const TableModel& t, const std::vector<Value>& values,
                                      const std::vector<std::string>& var_bytes) {
  format::RecordEncoder encoder(static_cast<uint16_t>(t.columns.size()), t.fixed_area,
                                t.variable_count);
  for (const ColumnModel& c : t.columns) {
    const Value& v = values[c.number];
    if (c.type == ColumnType::kBoolean) {
      encoder.SetBoolean(c.number, v.boolean());
    } else if (v.is_null()) {
      continue;
    } else if (c.fixed()) {
      encoder.SetFixed(c.number, c.fixed_offset, c.type, v);
    } else {
      encoder.SetVariable(c.number, c.var_index, var_bytes[c.var_index]);
    }
  }
  return encoder.Finish();
}

// Refuses, before anything is written, an operation that needs `pages` more pages when the
// file would then have no room left for what the next Flush writes: the index pages of the
// keys added since the last Flush (leaves at least half full, plus node pages) and a new map
// page for every usage map and for the global map.
void DatabaseFile::CheckRoom(uint32_t pages) const {
  size_t index_count = 0;
  for (const auto& t : tables_) index_count += t->indexes.size();
  const uint64_t flush_pages = 2 * unflushed_key_bytes_ / kIndexEntryCapacity + 4 * index_count +
                               maps_.size() + format::kReferenceMapSlots + 4;
  if (uint64_t{store_.page_count()} + pages + flush_pages > PageStore::PageLimit()) {
    throw FileFullError(
        u"データベースファイルが大きくなりすぎるため、これ以上行を追加できません (上限 " +
        Number(static_cast<int64_t>(PageStore::PageLimit()) * static_cast<int64_t>(kPageSize) /
               (1024 * 1024)) +
        u" MB)。");
  }
}

void DatabaseFile::PlaceRow(TableModel& t, const std::string& row, RowPointer& where) {
  if (t.current_page == 0 || !data_page::Fits(store_.Read(t.current_page), row.size())) {
    uint32_t page = store_.Allocate();
    data_page::Init(store_.Mutable(page), t.id);
    t.owned->Add(page);
    if (t.current_page != 0) {
      t.free_space->Remove(t.current_page);
      store_.Retire(t.current_page);  // full: no later row goes there
    }
    t.free_space->Add(page);
    t.current_page = page;
  }
  uint8_t* p = store_.Mutable(t.current_page);
  where.page = t.current_page;
  where.row = data_page::AddRow(p, reinterpret_cast<const uint8_t*>(row.data()), row.size());
}

RowPointer DatabaseFile::StoreLongValuePiece(ColumnModel& c, const std::string& data) {
  if (c.lv_page == 0 || !data_page::Fits(store_.Read(c.lv_page), data.size())) {
    uint32_t page = store_.Allocate();
    uint8_t* p = store_.Mutable(page);
    data_page::Init(p, 0);
    PutU32(p + format::kDataPageOwnerOffset, format::kLongValueOwner);
    c.lv_owned->Add(page);
    if (c.lv_page != 0) {
      c.lv_free->Remove(c.lv_page);
      store_.Retire(c.lv_page);
    }
    c.lv_free->Add(page);
    c.lv_page = page;
  }
  uint8_t* p = store_.Mutable(c.lv_page);
  uint8_t row = data_page::AddRow(p, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return RowPointer{c.lv_page, row};
}

// The long-value field in the row (format::EncodeLongValueHeader): one LVAL row, or a chain.
std::string DatabaseFile::StoreLongValue(ColumnModel& c, const std::string& data) {
  const auto length = static_cast<uint32_t>(data.size());
  if (data.size() <= kMaxSingleLongValue) {
    RowPointer at = StoreLongValuePiece(c, data);
    return format::EncodeLongValueHeader(length, format::kLongValueSingle, at);
  }
  // Chain: every piece is (RP of the next piece, data); written from the last piece back.
  size_t pieces = (data.size() + kLongValueChainPiece - 1) / kLongValueChainPiece;
  RowPointer next;
  for (size_t i = pieces; i-- > 0;) {
    size_t start = i * kLongValueChainPiece;
    size_t n = std::min(kLongValueChainPiece, data.size() - start);
    next = StoreLongValuePiece(
        c, format::EncodeLongValueChainPiece(next, std::string_view(data).substr(start, n)));
  }
  return format::EncodeLongValueHeader(length, format::kLongValueChain, next);
}

UsageMap* DatabaseFile::LoadMap(uint32_t rp) {
  for (auto& m : maps_) {
    if (m->location().ToU32() == rp) return m.get();
  }
  maps_.push_back(UsageMap::Load(store_, RowPointer::FromU32(rp)));
  return maps_.back().get();
}

namespace {

// The fixed area's size and the count of variable columns, from the columns.
void MeasureColumns(TableModel& t) {
  uint16_t fixed = 0, variable = 0;
  for (const auto& c : t.columns) {
    if (c.fixed() && c.type != ColumnType::kBoolean)
      fixed = std::max<uint16_t>(fixed, static_cast<uint16_t>(c.fixed_offset + c.length));
    if (!c.fixed()) ++variable;
  }
  t.fixed_area = fixed;
  t.variable_count = variable;
}

}  // namespace

format::TableDefinition DatabaseFile::ReadDefinition(uint32_t first, std::vector<uint32_t>& pages) {
  const std::vector<uint8_t> buffer = format::JoinTableDefinitionPages(
      first,
      [&](uint32_t page) -> std::span<const uint8_t> {
        if (page >= store_.page_count()) throw Error(u"テーブル定義のページが不正です");
        return std::span(store_.Read(page), kPageSize);
      },
      pages);
  return format::ParseTableDefinition(buffer, first);
}

std::vector<std::pair<uint32_t, std::u16string>> DatabaseFile::CatalogueTables(
    const TableModel& objects) {
  std::vector<uint32_t> definition_pages;
  const format::TableDefinition def = ReadDefinition(objects.id, definition_pages);
  const auto column = [&def](std::u16string_view name) {
    for (const format::ColumnDefinition& c : def.columns) {
      if (c.name == name) return &c;
    }
    throw Error(u"MSysObjects の列が不正です");
  };
  const format::ColumnDefinition* id = column(u"Id");
  const format::ColumnDefinition* type = column(u"Type");
  const format::ColumnDefinition* name = column(u"Name");
  std::vector<std::pair<uint32_t, std::u16string>> tables;
  for (uint32_t p : objects.owned->Pages()) {
    auto page = std::make_shared<format::Page>();
    page->number = p;
    std::copy_n(store_.Read(p), kPageSize, page->bytes.begin());
    const format::DataPage data(std::move(page));
    for (uint16_t r = 0; r < data.row_count(); ++r) {
      const format::RowSlot slot = data.Slot(r);
      if (slot.deleted || slot.overflow) continue;
      const format::RecordView row(def, data.Row(r, slot), p);
      const Value kind = row.Decode(nullptr, *type);
      const Value object = row.Decode(nullptr, *id);
      std::u16string text;
      if (kind.kind() != Value::Kind::kInteger || kind.integer() != 1 ||
          object.kind() != Value::Kind::kInteger || !row.DecodeTextInto(nullptr, *name, text)) {
        continue;
      }
      if (object.integer() != objects.id) {
        tables.emplace_back(static_cast<uint32_t>(object.integer()), std::move(text));
      }
    }
  }
  return tables;
}

std::unique_ptr<TableModel> DatabaseFile::LoadTable(uint32_t first, std::u16string name) {
  auto t = std::make_unique<TableModel>();
  t->name = std::move(name);
  t->id = first;
  const format::TableDefinition def = ReadDefinition(first, t->tdef_pages);
  if (def.real_indexes.size() > 64 || def.logical_indexes.size() > 64) {
    throw Error(u"テーブル定義の索引の数が不正です");
  }
  t->row_count = def.row_count;
  t->autonumber = def.auto_number;
  t->table_type = def.table_type;
  t->owned = LoadMap(def.owned_map);
  t->free_space = LoadMap(def.free_map);

  // The parsed columns come ordered by number; the writer keeps them by number as well.
  t->columns.resize(def.columns.size());
  std::vector<std::pair<uint16_t, uint16_t>> descriptors;  // descriptor index, number
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const format::ColumnDefinition& d = def.columns[i];
    if (d.number != i) throw Error(u"テーブル定義の列番号が不正です");
    ColumnModel& c = t->columns[i];
    c.name = d.name;
    c.type = static_cast<ColumnType>(d.type);
    c.number = d.number;
    c.var_index = d.variable_index;
    c.column_number_again = d.number_again;
    c.flags = d.flags;
    c.extra_flags = d.extra_flags;
    c.fixed_offset = d.fixed_offset;
    c.length = d.length;
    c.max_chars = c.type == ColumnType::kText ? c.length / 2 : 0;
    descriptors.emplace_back(d.descriptor_index, d.number);
  }
  std::sort(descriptors.begin(), descriptors.end());
  for (const auto& [index, number] : descriptors) t->descriptor_order.push_back(number);

  t->indexes.resize(def.real_indexes.size());
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const format::RealIndex& r = def.real_indexes[i];
    RealIndexModel& index = t->indexes[i];
    for (const auto& [column, ascending] : r.columns) {
      if (column >= t->columns.size()) throw Error(u"索引の列番号が不正です");
      index.columns.push_back({column, ascending});
    }
    index.distinct_keys = r.distinct_keys;
    index.map = LoadMap(r.map_pointer);
    index.root = r.root_page;
    index.flags = r.flags;
    index.tree = IndexTree::Load(store_, index.root, t->id);
  }
  for (const format::LogicalIndex& l : def.logical_indexes) {
    t->logical.push_back({l.name, l.number, l.real_index, l.type});
  }
  for (const format::LongValueColumn& lv : def.long_value_columns) {
    if (lv.column >= t->columns.size()) throw Error(u"長い値の列番号が不正です");
    ColumnModel& c = t->columns[lv.column];
    c.lv_owned = LoadMap(lv.owned_map);
    c.lv_free = LoadMap(lv.free_map);
    std::vector<uint32_t> free_pages = c.lv_free->Pages();
    c.lv_page = free_pages.empty() ? 0 : free_pages.back();
    t->long_value_order.push_back(lv.column);
  }
  MeasureColumns(*t);
  std::vector<uint32_t> free_pages = t->free_space->Pages();
  t->current_page = free_pages.empty() ? 0 : free_pages.back();
  t->dirty = false;
  return t;
}

void DatabaseFile::DiscardUnflushedChanges() {
  // NOT NULL is kept by the writer only (Jet keeps it in a property blob we do not write).
  std::vector<std::pair<std::u16string, std::vector<bool>>> not_null = released_not_null_;
  for (const auto& t : tables_) {
    std::vector<bool> flags;
    for (const auto& c : t->columns) flags.push_back(c.not_null);
    not_null.emplace_back(t->name, std::move(flags));
  }
  tables_.clear();
  maps_.clear();
  objects_ = aces_ = nullptr;
  unflushed_key_bytes_ = 0;
  try {
    // Pages appended since the last Flush may already be in the file: cut them off.
    if (file_->Size() > flushed_size_) file_->Truncate(flushed_size_);
    store_.Open(*file_, flushed_size_);
    auto objects = LoadTable(2, u"MSysObjects");
    const std::vector<std::pair<uint32_t, std::u16string>> tables = CatalogueTables(*objects);
    tables_.push_back(std::move(objects));
    for (auto& [page, table_name] : tables) tables_.push_back(LoadTable(page, table_name));
    for (auto& t : tables_) {
      if (base::EqualIgnoringCase(t->name, u"MSysObjects")) objects_ = t.get();
      if (base::EqualIgnoringCase(t->name, u"MSysACEs")) aces_ = t.get();
      for (const auto& [n, flags] : not_null) {
        if (n != t->name) continue;
        for (size_t i = 0; i < flags.size() && i < t->columns.size(); ++i)
          t->columns[i].not_null = flags[i];
      }
    }
    if (!objects_ || !aces_) throw Error(u"システムテーブルが見つかりません");
    loaded_ = true;
    released_not_null_.clear();
  } catch (...) {
    tables_.clear();
    maps_.clear();
    objects_ = aces_ = nullptr;
    loaded_ = false;
    throw;
  }
}

bool DatabaseFile::HasUnflushedChanges() const {
  if (!loaded_) return false;
  if (store_.has_changes()) return true;
  for (const auto& t : tables_) {
    if (t->dirty) return true;
    for (const auto& index : t->indexes) {
      if (index.tree->dirty()) return true;
    }
  }
  for (const auto& m : maps_) {
    if (m->dirty()) return true;
  }
  return false;
}

void DatabaseFile::Flush() {
  if (!loaded_) return;
  for (auto& t : tables_) {
    for (auto& index : t->indexes) {
      if (index.tree->dirty()) index.tree->Write(store_, *index.map);
      store_.Trim();
    }
  }
  for (auto& t : tables_) {
    if (t->dirty) {
      WriteTableDefinition(store_, *t);
      t->dirty = false;
    }
  }
  for (auto& m : maps_) {
    if (m->dirty()) m->Write(store_);
  }
  unflushed_key_bytes_ = 0;
  if (!store_.has_changes()) return;
  store_.WriteGlobalMap();
  store_.Commit();
  flushed_size_ = static_cast<uint64_t>(store_.page_count()) * static_cast<uint64_t>(kPageSize);
}

}  // namespace jet::write
