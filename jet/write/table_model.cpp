// The writer's table model, and its definition (TDEF) pages. The definition's bytes and the
// pages they are cut into are encoded by jet/format/table_definition.h from the model's
// definition.
#include "jet/write/table_model.h"

#include <algorithm>
#include <span>

#include "base/fold.h"

namespace jet::write {

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

uint32_t TableDefinitionPages(size_t length) { return format::TableDefinitionPageCount(length); }

void WriteTableDefinition(PageStore& store, const TableModel& t) {
  std::vector<uint8_t> def = SerializeTableDefinition(t);
  if (TableDefinitionPages(def.size()) != t.tdef_pages.size()) {
    throw Error(u"内部エラー: テーブル定義のページ数が変わりました");
  }
  for (size_t i = 0; i < t.tdef_pages.size(); ++i) {
    const bool last = i + 1 == t.tdef_pages.size();
    format::EncodeTableDefinitionPage(def, i, last ? 0 : t.tdef_pages[i + 1],
                                      std::span(store.Mutable(t.tdef_pages[i]), kPageSize));
  }
}

}  // namespace jet::write
