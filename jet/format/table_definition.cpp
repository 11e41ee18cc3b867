#include "jet/format/table_definition.h"

#include <algorithm>
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

TableDefinition ReadTableDefinition(Pager& pager, uint32_t page) {
  std::vector<uint8_t> buffer;
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  uint32_t next = page;
  while (next != 0) {
    if (!seen.insert(next).second) {
      ThrowCorrupt(u"表定義のページのつながりが循環しています", next);
    }
    const PagePtr p = pager.GetTyped(next, PageType::kTableDefinition, u"表定義");
    chain.push_back(next);
    const size_t skip = buffer.empty() ? 0 : kTdefContinuationHeader;
    buffer.insert(buffer.end(), p->bytes.begin() + skip, p->bytes.end());
    next = p->reader().U32(kTdefNextPageOffset);
  }
  TableDefinition def = ParseTableDefinition(buffer, page);
  def.pages = std::move(chain);
  return def;
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
  def.columns.resize(column_count);
  for (auto& column : def.columns) {
    const ByteReader d = r.Sub(pos, kColumnDescriptorSize);
    column.type = d.U8(0);
    column.number = d.U16(5);
    column.variable_index = d.U16(7);
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
  for (auto& index : def.real_indexes) {
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

}  // namespace jet::format
