// The writer's table model, and its definition (TDEF) pages. The definition's bytes are
// encoded by jet/format/table_definition.h from the model's definition; this file cuts them
// into pages. A definition longer than a page continues on further pages, each with an
// 8-byte header.
#include "jet/write/table_model.h"

#include <algorithm>
#include <cstring>

#include "base/fold.h"

namespace jet::write {

using format::kTdefContinuationHeader;

const ColumnModel* TableModel::FindColumn(std::u16string_view column_name) const {
  for (const auto& c : columns) {
    if (base::EqualIgnoringCase(c.name, column_name)) return &c;
  }
  return nullptr;
}

void LayOutColumns(TableModel& table) {
  uint16_t fixed = 0;
  uint16_t variable = 0;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    ColumnModel& c = table.columns[i];
    c.number = static_cast<uint16_t>(i);
    if (c.fixed()) {
      c.var_index = variable;
      if (c.type == ColumnType::kBoolean) {
        c.fixed_offset = 0;  // Yes/No lives in the null mask
      } else {
        c.fixed_offset = fixed;
        fixed = static_cast<uint16_t>(fixed + c.length);
      }
    } else {
      c.var_index = variable++;
      c.fixed_offset = 0;
    }
  }
  table.fixed_area = fixed;
  table.variable_count = variable;
}

format::TableDefinition DefinitionOf(const TableModel& t) {
  format::TableDefinition def;
  def.page = t.id;
  def.row_count = t.row_count;
  def.auto_number = t.autonumber;
  def.table_type = t.table_type;
  def.max_columns = static_cast<uint16_t>(t.columns.size());
  def.variable_columns = t.variable_count;
  def.owned_map = t.owned->location().ToU32();
  def.free_map = t.free_space->location().ToU32();
  def.columns.reserve(t.columns.size());
  for (size_t place = 0; place < t.descriptor_order.size(); ++place) {
    const ColumnModel& c = t.columns[t.descriptor_order[place]];
    format::ColumnDefinition d;
    d.descriptor_index = static_cast<uint16_t>(place);
    d.type = static_cast<uint8_t>(c.type);
    d.number = c.number;
    d.variable_index = c.var_index;
    d.number_again = c.column_number_again;
    // Every column carries the General sort order where Decimal keeps precision and scale.
    d.precision = format::kGeneralSortOrder[0];
    d.scale = format::kGeneralSortOrder[1];
    d.flags = c.flags;
    d.extra_flags = c.extra_flags;
    d.fixed_offset = c.fixed_offset;
    d.length = c.length;
    d.name = c.name;
    def.columns.push_back(std::move(d));
  }
  for (const RealIndexModel& index : t.indexes) {
    format::RealIndex r;
    for (const IndexColumnModel& ic : index.columns)
      r.columns.emplace_back(ic.column, ic.ascending);
    r.map_pointer = index.map->location().ToU32();
    r.root_page = index.root;
    r.flags = index.flags;
    r.distinct_keys = index.distinct_keys;
    def.real_indexes.push_back(std::move(r));
  }
  for (const LogicalIndexModel& li : t.logical) {
    def.logical_indexes.push_back({li.number, li.real, li.type, li.name});
  }
  for (uint16_t number : t.long_value_order) {
    const ColumnModel& c = t.columns[number];
    def.long_value_columns.push_back(
        {c.number, c.lv_owned->location().ToU32(), c.lv_free->location().ToU32()});
  }
  return def;
}

std::vector<uint8_t> SerializeTableDefinition(const TableModel& t) {
  return format::EncodeTableDefinition(DefinitionOf(t));
}

uint32_t TableDefinitionPages(size_t length) {
  if (length <= static_cast<size_t>(kPageSize)) return 1;
  size_t per_page = kPageSize - kTdefContinuationHeader;
  return static_cast<uint32_t>(1 + (length - kPageSize + per_page - 1) / per_page);
}

// The first page carries bytes 0–4095 of the definition, each continuation page its own
// 8-byte header and the next 4088 bytes. The free-space word of the last page counts 8
// bytes less than the room left, as Jet's do.
void WriteTableDefinition(PageStore& store, const TableModel& t) {
  std::vector<uint8_t> def = SerializeTableDefinition(t);
  if (TableDefinitionPages(def.size()) != t.tdef_pages.size()) {
    throw Error(u"内部エラー: テーブル定義のページ数が変わりました");
  }
  size_t at = 0;
  for (size_t i = 0; i < t.tdef_pages.size(); ++i) {
    uint8_t* p = store.Mutable(t.tdef_pages[i]);
    std::memset(p, 0, kPageSize);
    bool last = i + 1 == t.tdef_pages.size();
    size_t header = i == 0 ? 0 : kTdefContinuationHeader;
    size_t chunk = std::min(kPageSize - header, def.size() - at);
    std::memcpy(p + header, def.data() + at, chunk);
    at += chunk;
    p[0] = PageTypeByte(PageType::kTableDefinition);
    p[1] = format::kPageMarker;
    size_t used = header + chunk;
    size_t free = last && used + 8 < static_cast<size_t>(kPageSize) ? kPageSize - used - 8 : 0;
    PutU16(p + 2, static_cast<uint16_t>(free));
    PutU32(p + 4, last ? 0 : t.tdef_pages[i + 1]);
  }
}

}  // namespace jet::write
