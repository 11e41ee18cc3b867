#include "jet/format/table_definition.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

namespace jet::format {
namespace {

// A name: u16 byte length, then UCS-2. Advances `pos`.
std::u16string ReadName(const ByteReader& r, size_t& pos) {
  const uint16_t length = r.U16(pos);
  pos += 2;
  if (length % 2 != 0) ThrowCorrupt(u"表定義の名前の長さが奇数です", r.page());
  const auto bytes = r.Slice(pos, length);
  pos += length;
  std::u16string name(length / 2, u'\0');
  for (size_t i = 0; i < name.size(); ++i) {
    name[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return name;
}

}  // namespace

std::vector<uint8_t> JoinTableDefinitionPages(uint32_t page, const DefinitionPageReader& read_page,
                                              std::vector<uint32_t>& chain) {
  std::vector<uint8_t> buffer;
  std::unordered_set<uint32_t> seen;
  chain.clear();
  uint32_t next = page;
  while (next != 0) {
    if (!seen.insert(next).second) {
      ThrowCorrupt(u"表定義のページのつながりが循環しています", next);
    }
    const ByteReader r(read_page(next), next);
    if (r.size() != kPageSize || r.U8(0) != PageTypeByte(PageType::kTableDefinition)) {
      ThrowCorrupt(u"表定義のページではありません", next);
    }
    chain.push_back(next);
    const size_t skip = buffer.empty() ? 0 : kTdefContinuationHeader;
    buffer.insert(buffer.end(), r.bytes().begin() + static_cast<std::ptrdiff_t>(skip),
                  r.bytes().end());
    next = r.U32(kTdefNextPageOffset);
  }
  return buffer;
}

TableDefinition ReadTableDefinition(Pager& pager, uint32_t page) {
  std::vector<uint32_t> chain;
  PagePtr held;
  const std::vector<uint8_t> buffer = JoinTableDefinitionPages(
      page,
      [&](uint32_t number) -> std::span<const uint8_t> {
        held = pager.GetTyped(number, PageType::kTableDefinition, u"表定義");
        return held->bytes;
      },
      chain);
  TableDefinition def = ParseTableDefinition(buffer, page);
  def.pages = std::move(chain);
  return def;
}

uint32_t TableDefinitionPageCount(size_t length) {
  if (length <= kPageSize) return 1;
  const size_t per_page = kPageSize - kTdefContinuationHeader;
  return static_cast<uint32_t>(1 + (length - kPageSize + per_page - 1) / per_page);
}

void EncodeTableDefinitionPage(std::span<const uint8_t> definition, size_t index,
                               uint32_t next_page, std::span<uint8_t> out) {
  const size_t per_page = kPageSize - kTdefContinuationHeader;
  const size_t header = index == 0 ? 0 : kTdefContinuationHeader;
  const size_t start = index == 0 ? 0 : kPageSize + (index - 1) * per_page;
  if (out.size() != kPageSize || start >= std::max<size_t>(definition.size(), 1)) {
    throw Error(u"内部エラー: 表定義のページを組み立てられません");
  }
  const size_t chunk = std::min(kPageSize - header, definition.size() - start);
  std::fill(out.begin(), out.end(), uint8_t{0});
  std::copy_n(definition.begin() + static_cast<std::ptrdiff_t>(start), chunk,
              out.begin() + static_cast<std::ptrdiff_t>(header));
  out[0] = PageTypeByte(PageType::kTableDefinition);
  out[1] = kPageMarker;
  const bool last = start + chunk == definition.size();
  const size_t used = header + chunk;
  const size_t free = last && used + kTdefContinuationHeader < kPageSize
                          ? kPageSize - used - kTdefContinuationHeader
                          : 0;
  PutU16(out, kTdefFreeSpaceOffset, static_cast<uint16_t>(free));
  PutU32(out, kTdefNextPageOffset, next_page);
}

TableDefinition ParseTableDefinition(std::span<const uint8_t> buffer, uint32_t page) {
  const ByteReader r(buffer, page);
  TableDefinition def;
  def.page = page;
  def.row_count = r.U32(kTdefRowCountOffset);
  def.auto_number = r.U32(kTdefAutoNumberOffset);
  def.table_type = r.U8(kTdefTableTypeOffset);
  def.max_columns = r.U16(kTdefMaxColumnsOffset);
  def.variable_columns = r.U16(kTdefVariableColumnsOffset);
  const uint16_t column_count = r.U16(kTdefColumnCountOffset);
  const uint32_t logical_count = r.U32(kTdefLogicalIndexCountOffset);
  const uint32_t real_count = r.U32(kTdefRealIndexCountOffset);
  def.owned_map = r.U32(kTdefOwnedMapOffset);
  def.free_map = r.U32(kTdefFreeMapOffset);
  // Every count is checked against the bytes that remain before anything is allocated, so a
  // damaged count can neither read outside nor make the engine allocate without bound.
  const size_t limit = r.size();
  if (real_count > limit / kRealIndexCounterSize || logical_count > limit / kLogicalIndexSize ||
      column_count > limit / kColumnDescriptorSize) {
    ThrowCorrupt(u"表定義の列数または索引数が不正です", page);
  }
  size_t pos = kTdefRealIndexCountersOffset + real_count * kRealIndexCounterSize;
  std::vector<uint32_t> distinct_keys(real_count);
  for (uint32_t i = 0; i < real_count; ++i) {
    distinct_keys[i] = r.U32(kTdefRealIndexCountersOffset + i * kRealIndexCounterSize + 4);
  }
  def.columns.resize(column_count);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    ColumnDefinition& column = def.columns[i];
    column.descriptor_index = static_cast<uint16_t>(i);
    const ByteReader d = r.Sub(pos, kColumnDescriptorSize);
    column.type = d.U8(0);
    column.number = d.U16(5);
    column.variable_index = d.U16(7);
    column.number_again = d.U16(9);
    column.precision = d.U8(11);
    column.scale = d.U8(12);
    column.flags = d.U8(15);
    column.extra_flags = d.U8(16);
    column.fixed_offset = d.U16(21);
    column.length = d.U16(23);
    pos += kColumnDescriptorSize;
  }
  for (auto& column : def.columns) column.name = ReadName(r, pos);

  def.real_indexes.resize(real_count);
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    RealIndex& index = def.real_indexes[i];
    index.distinct_keys = distinct_keys[i];
    const ByteReader d = r.Sub(pos, kRealIndexSize);
    for (size_t slot = 0; slot < kIndexColumnSlots; ++slot) {
      const uint16_t number = d.U16(4 + 3 * slot);
      if (number != kNoColumn) index.columns.emplace_back(number, d.U8(6 + 3 * slot) == 1);
    }
    index.map_pointer = d.U32(34);
    index.root_page = d.U32(38);
    index.flags = d.U8(46);
    pos += kRealIndexSize;
  }
  def.logical_indexes.resize(logical_count);
  for (auto& index : def.logical_indexes) {
    const ByteReader d = r.Sub(pos, kLogicalIndexSize);
    index.number = d.U32(4);
    index.real_index = d.U32(8);
    index.type = d.U8(23);
    pos += kLogicalIndexSize;
  }
  for (auto& index : def.logical_indexes) index.name = ReadName(r, pos);
  // The long-value column list ends at FF FF; readers do not need it, so a list cut short
  // ends it as well.
  while (def.long_value_columns.size() < column_count &&
         r.Contains(pos, kLongValueColumnEntrySize) && r.U16(pos) != kNoColumn) {
    def.long_value_columns.push_back({r.U16(pos), r.U32(pos + 2), r.U32(pos + 6)});
    pos += kLongValueColumnEntrySize;
  }

  std::stable_sort(
      def.columns.begin(), def.columns.end(),
      [](const ColumnDefinition& a, const ColumnDefinition& b) { return a.number < b.number; });
  for (size_t i = 1; i < def.columns.size(); ++i) {
    if (def.columns[i].number == def.columns[i - 1].number) {
      ThrowCorrupt(u"表定義に同じ番号の列が 2 つあります", page);
    }
  }
  return def;
}

std::vector<uint8_t> EncodeTableDefinition(const TableDefinition& def) {
  const size_t real_count = def.real_indexes.size();
  std::vector<uint8_t> out(kTdefRealIndexCountersOffset + kRealIndexCounterSize * real_count, 0);
  uint8_t* h = out.data();
  h[0] = PageTypeByte(PageType::kTableDefinition);
  h[1] = kPageMarker;
  PutU32(h + kTdefMagicOffset, kTdefMagic);
  PutU32(h + kTdefRowCountOffset, def.row_count);
  PutU32(h + kTdefAutoNumberOffset, def.auto_number);
  h[kTdefAutoNumberFlagOffset] = 0x01;
  h[kTdefTableTypeOffset] = def.table_type;
  PutU16(h + kTdefMaxColumnsOffset, def.max_columns);
  PutU16(h + kTdefVariableColumnsOffset, def.variable_columns);
  PutU16(h + kTdefColumnCountOffset, static_cast<uint16_t>(def.columns.size()));
  PutU32(h + kTdefLogicalIndexCountOffset, static_cast<uint32_t>(def.logical_indexes.size()));
  PutU32(h + kTdefRealIndexCountOffset, static_cast<uint32_t>(real_count));
  PutU32(h + kTdefOwnedMapOffset, def.owned_map);
  PutU32(h + kTdefFreeMapOffset, def.free_map);
  for (size_t i = 0; i < real_count; ++i) {
    PutU32(h + kTdefRealIndexCountersOffset + kRealIndexCounterSize * i + 4,
           def.real_indexes[i].distinct_keys);
  }

  auto append_name = [&out](std::u16string_view name) {
    const size_t at = out.size();
    out.resize(at + 2 + 2 * name.size());
    PutU16(&out[at], static_cast<uint16_t>(2 * name.size()));
    for (size_t i = 0; i < name.size(); ++i) PutU16(&out[at + 2 + 2 * i], name[i]);
  };
  std::vector<const ColumnDefinition*> stored;
  stored.reserve(def.columns.size());
  for (const ColumnDefinition& c : def.columns) stored.push_back(&c);
  std::stable_sort(stored.begin(), stored.end(),
                   [](const ColumnDefinition* a, const ColumnDefinition* b) {
                     return a->descriptor_index < b->descriptor_index;
                   });
  for (const ColumnDefinition* column : stored) {
    const ColumnDefinition& c = *column;
    uint8_t d[kColumnDescriptorSize] = {};
    d[0] = c.type;
    PutU32(d + 1, kTdefMagic);
    PutU16(d + 5, c.number);
    PutU16(d + 7, c.variable_index);
    PutU16(d + 9, c.number_again);
    d[11] = c.precision;
    d[12] = c.scale;
    d[15] = c.flags;
    d[16] = c.extra_flags;
    PutU16(d + 21, c.fixed_offset);
    PutU16(d + 23, c.length);
    out.insert(out.end(), d, d + kColumnDescriptorSize);
  }
  for (const ColumnDefinition* c : stored) append_name(c->name);

  for (const RealIndex& index : def.real_indexes) {
    uint8_t b[kRealIndexSize] = {};
    PutU32(b, kRealIndexMagic);
    for (size_t slot = 0; slot < kIndexColumnSlots; ++slot) {
      uint8_t* at = b + 4 + 3 * slot;
      if (slot < index.columns.size()) {
        PutU16(at, index.columns[slot].first);
        at[2] = index.columns[slot].second ? 0x01 : 0x00;
      } else {
        PutU16(at, kNoColumn);
      }
    }
    PutU32(b + 34, index.map_pointer);
    PutU32(b + 38, index.root_page);
    b[46] = index.flags;
    out.insert(out.end(), b, b + kRealIndexSize);
  }
  for (const LogicalIndex& index : def.logical_indexes) {
    uint8_t b[kLogicalIndexSize] = {};
    PutU32(b, kTdefMagic);
    PutU32(b + 4, index.number);
    PutU32(b + 8, index.real_index);
    PutU32(b + 13, kLogicalIndexNoRelatedIndex);
    b[21] = kLogicalIndexNoRelation;
    b[22] = kLogicalIndexNoRelation;
    b[23] = index.type;
    out.insert(out.end(), b, b + kLogicalIndexSize);
  }
  for (const LogicalIndex& index : def.logical_indexes) append_name(index.name);

  for (const LongValueColumn& entry : def.long_value_columns) {
    uint8_t e[kLongValueColumnEntrySize];
    PutU16(e, entry.column);
    PutU32(e + 2, entry.owned_map);
    PutU32(e + 6, entry.free_map);
    out.insert(out.end(), e, e + kLongValueColumnEntrySize);
  }
  out.push_back(0xFF);
  out.push_back(0xFF);
  PutU32(out.data() + kTdefLengthOffset, static_cast<uint32_t>(out.size()));
  return out;
}

}  // namespace jet::format
