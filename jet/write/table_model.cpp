// Table definition (TDEF) layout, Jet 4.0:
//    0  u8  2, u8 1, u16 free space, u32 next TDEF page, u32 definition length
//   12  u32 0x659   16 u32 row count   20 u32 last autonumber   24 u8 1
//   40  u8  table type (0x4E user, 0x53 system)
//   41  u16 max columns, u16 variable columns, u16 columns, u32 logical indexes,
//       u32 real indexes, RP owned-pages map, RP free-space map
//   63  12 bytes per real index (u32 0, u32 distinct keys, u32 0)
//       25-byte column descriptors, then their names (u16 byte length + UCS-2)
//       52-byte real index blocks, 28-byte logical index blocks, their names
//       10 bytes per long-value column (u16 column, RP owned map, RP free map), u16 FFFF
// A definition longer than a page continues on further pages, each with an 8-byte header.
#include "jet/write/table_model.h"

#include <algorithm>
#include <cstring>

#include "base/fold.h"

namespace jet::write {
namespace {

using format::kColumnDescriptorSize;
using format::kIndexColumnSlots;
using format::kLogicalIndexSize;
using format::kRealIndexMagic;
using format::kRealIndexSize;
using format::kTdefContinuationHeader;
using format::kTdefMagic;

void AppendName(std::vector<uint8_t>& out, std::u16string_view name) {
  size_t at = out.size();
  out.resize(at + 2 + 2 * name.size());
  PutU16(&out[at], static_cast<uint16_t>(2 * name.size()));
  for (size_t i = 0; i < name.size(); ++i) PutU16(&out[at + 2 + 2 * i], name[i]);
}

}  // namespace

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

std::vector<uint8_t> SerializeTableDefinition(const TableModel& t) {
  size_t real_count = t.indexes.size();
  std::vector<uint8_t> out(63 + 12 * real_count, 0);
  uint8_t* h = out.data();
  h[0] = PageTypeByte(PageType::kTableDefinition);
  h[1] = format::kPageMarker;
  PutU32(h + format::kTdefMagicOffset, kTdefMagic);
  PutU32(h + 16, t.row_count);
  PutU32(h + 20, t.autonumber);
  h[24] = 0x01;
  h[40] = t.table_type;
  PutU16(h + 41, static_cast<uint16_t>(t.columns.size()));
  PutU16(h + 43, t.variable_count);
  PutU16(h + 45, static_cast<uint16_t>(t.columns.size()));
  PutU32(h + 47, static_cast<uint32_t>(t.logical.size()));
  PutU32(h + 51, static_cast<uint32_t>(real_count));
  PutU32(h + 55, t.owned->location().ToU32());
  PutU32(h + 59, t.free_space->location().ToU32());
  for (size_t i = 0; i < real_count; ++i) PutU32(h + 63 + 12 * i + 4, t.indexes[i].distinct_keys);

  for (uint16_t number : t.descriptor_order) {
    const ColumnModel& c = t.columns[number];
    uint8_t d[kColumnDescriptorSize] = {};
    d[0] = static_cast<uint8_t>(c.type);
    PutU32(d + 1, kTdefMagic);
    PutU16(d + 5, c.number);
    PutU16(d + 7, c.var_index);
    PutU16(d + 9, c.column_number_again);
    d[11] = 0x09;  // sort order 1033 (General), version 0
    d[12] = 0x04;
    d[15] = c.flags;
    d[16] = c.extra_flags;
    PutU16(d + 21, c.fixed_offset);
    PutU16(d + 23, c.length);
    out.insert(out.end(), d, d + kColumnDescriptorSize);
  }
  for (uint16_t number : t.descriptor_order) AppendName(out, t.columns[number].name);

  for (const RealIndexModel& index : t.indexes) {
    uint8_t r[kRealIndexSize] = {};
    PutU32(r, kRealIndexMagic);
    for (size_t s = 0; s < kIndexColumnSlots; ++s) {
      uint8_t* slot = r + 4 + 3 * s;
      if (s < index.columns.size()) {
        PutU16(slot, index.columns[s].column);
        slot[2] = index.columns[s].ascending ? 0x01 : 0x00;
      } else {
        PutU16(slot, format::kNoColumn);
      }
    }
    PutU32(r + 34, index.map->location().ToU32());
    PutU32(r + 38, index.root);
    r[46] = index.flags;
    out.insert(out.end(), r, r + kRealIndexSize);
  }
  for (const LogicalIndexModel& li : t.logical) {
    uint8_t l[kLogicalIndexSize] = {};
    PutU32(l, kTdefMagic);
    PutU32(l + 4, li.number);
    PutU32(l + 8, li.real);
    PutU32(l + 13, 0xFFFFFFFF);
    l[21] = 0x04;  // what Jet writes for an index that is not a foreign key
    l[22] = 0x04;
    l[23] = li.type;
    out.insert(out.end(), l, l + kLogicalIndexSize);
  }
  for (const LogicalIndexModel& li : t.logical) AppendName(out, li.name);

  for (uint16_t number : t.long_value_order) {
    const ColumnModel& c = t.columns[number];
    uint8_t e[10];
    PutU16(e, c.number);
    PutU32(e + 2, c.lv_owned->location().ToU32());
    PutU32(e + 6, c.lv_free->location().ToU32());
    out.insert(out.end(), e, e + 10);
  }
  out.push_back(0xFF);
  out.push_back(0xFF);
  PutU32(out.data() + 8, static_cast<uint32_t>(out.size()));
  return out;
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
