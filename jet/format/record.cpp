#include "jet/format/record.h"

#include <unordered_set>

#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/text.h"
#include "jet/format/usage_map.h"

namespace jet::format {
namespace {

// A row pointer from an overflow slot may lead to another overflow slot; a longer chain
// than this is taken for damage.
constexpr int kMaxOverflowHops = 16;

// The stored size of a fixed-length type; 0 for variable-length types.
size_t FixedSize(uint8_t type) { return FixedAreaSize(static_cast<ColumnType>(type)); }

// Decimal: byte 0 sign (0x80 negative), then the 96-bit magnitude in 32-bit little-endian
// words, the most significant word first (the first word is always 0 in Jet's 28 digits).
Decimal DecodeDecimal(const ByteReader& r, const ColumnDefinition& column) {
  Decimal d;
  d.negative = (r.U8(0) & 0x80) != 0;
  d.precision = column.precision;
  d.scale = column.scale;
  unsigned __int128 m = 0;
  for (size_t word = 0; word < 4; ++word) m = (m << 32) | r.U32(1 + 4 * word);
  d.mantissa = m;
  return d;
}

Value DecodeValue(Pager& pager, const ColumnDefinition& column, const ByteReader& r) {
  switch (static_cast<ColumnType>(column.type)) {
    case ColumnType::kByte:
      return Value::Integer(r.U8(0));
    case ColumnType::kInteger:
      return Value::Integer(r.I16(0));
    case ColumnType::kLong:
      return Value::Integer(r.I32(0));
    case ColumnType::kCurrency:
      return Value::FromCurrency(Currency{r.I64(0)});
    case ColumnType::kSingle:
      return Value::Double(r.F32(0));
    case ColumnType::kDouble:
      return Value::Double(r.F64(0));
    case ColumnType::kDateTime:
      return Value::FromDateTime(DateTime{r.F64(0)});
    case ColumnType::kGuid: {
      Guid g;
      const auto bytes = r.Slice(0, g.size());
      std::copy(bytes.begin(), bytes.end(), g.begin());
      return Value::FromGuid(g);
    }
    case ColumnType::kNumeric:
      return Value::FromDecimal(DecodeDecimal(r, column));
    case ColumnType::kText:
      return Value::Text(DecodeText(r.bytes()));
    case ColumnType::kMemo:
      if (r.size() == 0) return Value::Text(u"");
      return Value::Text(DecodeText(ReadLongValue(pager, r.bytes())));
    case ColumnType::kOle:
      if (r.size() == 0) return Value::Binary({});
      return Value::Binary(ReadLongValue(pager, r.bytes()));
    case ColumnType::kBoolean:  // handled by the caller (the null mask holds it)
    case ColumnType::kBinary:
    default:
      return Value::Binary(Bytes(r.bytes().begin(), r.bytes().end()));
  }
}

}  // namespace

std::vector<Value> DecodeRecord(Pager& pager, const TableDefinition& def,
                                std::span<const uint8_t> row, uint32_t page,
                                const std::vector<size_t>& which) {
  const ByteReader r(row, page);
  const uint16_t column_count = r.U16(0);
  const size_t mask_size = (column_count + 7u) / 8u;
  if (row.size() < 2 + mask_size) ThrowCorrupt(u"行が短すぎます (null マスクがありません)", page);
  const size_t mask_at = row.size() - mask_size;
  auto present = [&](uint16_t number) {
    return number < column_count && (row[mask_at + number / 8] & (1u << (number % 8))) != 0;
  };

  // Variable slot offsets: offsets[i] = start of slot i, offsets[n] = end of the data.
  std::vector<uint16_t> offsets;
  size_t variable_count = 0;
  if (def.variable_columns > 0) {
    if (mask_at < 4) ThrowCorrupt(u"行が短すぎます (可変長列の数がありません)", page);
    variable_count = r.U16(mask_at - 2);
    const size_t table_bytes = 2 * (variable_count + 1);
    if (table_bytes + 2 > mask_at - 2) {
      ThrowCorrupt(u"行の可変長列の数 " + Number(variable_count) + u" が行に収まりません", page);
    }
    const size_t table_at = mask_at - 2 - table_bytes;
    offsets.resize(variable_count + 1);
    for (size_t i = 0; i <= variable_count; ++i) offsets[i] = r.U16(mask_at - 4 - 2 * i);
    for (size_t i = 0; i <= variable_count; ++i) {
      if (offsets[i] < 2 || offsets[i] > table_at || (i > 0 && offsets[i] < offsets[i - 1])) {
        ThrowCorrupt(u"行の可変長列の位置が不正です", page);
      }
    }
  }

  std::vector<Value> values;
  const size_t count = which.empty() ? def.columns.size() : which.size();
  values.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    const ColumnDefinition& column = def.columns.at(which.empty() ? k : which[k]);
    const bool bit = present(column.number);
    if (column.type == static_cast<uint8_t>(ColumnType::kBoolean)) {
      values.push_back(Value::Boolean(bit));
      continue;
    }
    if (!bit) {
      values.emplace_back();
      continue;
    }
    if (column.fixed()) {
      size_t size = FixedSize(column.type);
      if (size == 0) size = column.length;
      values.push_back(DecodeValue(pager, column, r.Sub(2u + column.fixed_offset, size)));
    } else if (column.variable_index < variable_count) {
      const uint16_t start = offsets[column.variable_index];
      const uint16_t end = offsets[column.variable_index + 1];
      const ByteReader field = r.Sub(start, end - start);
      const size_t need = FixedSize(column.type);
      if (field.size() < need) ThrowCorrupt(u"行の値が型の長さより短いです", page);
      values.push_back(DecodeValue(pager, column, field));
    } else {
      values.emplace_back();  // the column was added after this row was written
    }
  }
  return values;
}

void ScanRecords(Pager& pager, const TableDefinition& def,
                 const std::function<void(std::span<const uint8_t> row, uint32_t page)>& visit) {
  for (const uint32_t number : ReadUsageMap(pager, def.owned_map)) {
    const PagePtr raw = pager.Get(number);
    if (raw->type() != static_cast<uint8_t>(PageType::kData)) continue;
    const DataPage page(raw);
    if (page.owner() != def.page) continue;
    for (uint16_t i = 0; i < page.row_count(); ++i) {
      const RowSlot slot = page.Slot(i);
      if (slot.deleted) continue;
      if (!slot.overflow) {
        visit(page.Row(i), number);
        continue;
      }
      // Follow the pointer to where the row lives now.
      std::unordered_set<uint32_t> seen;
      RowPointer at = RowPointer::FromU32(ByteReader(page.Row(i), number).U32(0));
      for (int hop = 0;; ++hop) {
        if (hop >= kMaxOverflowHops || !seen.insert(at.ToU32()).second) {
          ThrowCorrupt(u"移動した行の参照が循環しています", number);
        }
        const DataPage target(pager.Get(at.page));
        const RowSlot moved = target.Slot(at.row);
        if (moved.overflow && !moved.deleted) {
          at = RowPointer::FromU32(ByteReader(target.Row(at.row), at.page).U32(0));
          continue;
        }
        visit(target.Row(at.row), at.page);
        break;
      }
    }
  }
}

}  // namespace jet::format
