#include "jet/format/record.h"

#include <algorithm>
#include <cstring>
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

// The data of a long value. A value stored inside the row needs no pager; any other needs
// the file, which is gone when the row is read after its file was closed (pager null).
std::vector<uint8_t> LongValueData(Pager* pager, std::span<const uint8_t> field) {
  if (pager) return ReadLongValue(*pager, field);
  if (field.size() >= kLongValueHeaderSize && (field[3] & 0xC0) == kLongValueInline) {
    const uint32_t length = ByteReader(field).U32(0) & kLongValueLengthMask;
    const auto data = ByteReader(field).Slice(kLongValueHeaderSize, length);
    return std::vector<uint8_t>(data.begin(), data.end());
  }
  throw Error(u"データベースが閉じられたため、長いテキストやバイナリの値を読めません。");
}

Value DecodeValue(Pager* pager, const ColumnDefinition& column, const ByteReader& r) {
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
      return Value::Text(DecodeText(LongValueData(pager, r.bytes())));
    case ColumnType::kOle:
      if (r.size() == 0) return Value::Binary({});
      return Value::Binary(LongValueData(pager, r.bytes()));
    case ColumnType::kBoolean:  // handled by the caller (the null mask holds it)
    case ColumnType::kBinary:
    default:
      return Value::Binary(Bytes(r.bytes().begin(), r.bytes().end()));
  }
}

}  // namespace

RecordView::RecordView(const TableDefinition& def, std::span<const uint8_t> row, uint32_t page)
    : reader_(row, page) {
  column_count_ = reader_.U16(0);
  const size_t mask_size = (column_count_ + 7u) / 8u;
  if (row.size() < 2 + mask_size) ThrowCorrupt(u"行が短すぎます (null マスクがありません)", page);
  mask_at_ = row.size() - mask_size;
  if (def.variable_columns == 0) return;
  if (mask_at_ < 4) ThrowCorrupt(u"行が短すぎます (可変長列の数がありません)", page);
  variable_count_ = reader_.U16(mask_at_ - 2);
  const size_t table_bytes = 2 * (variable_count_ + 1);
  if (table_bytes + 2 > mask_at_ - 2) {
    ThrowCorrupt(u"行の可変長列の数 " + Number(variable_count_) + u" が行に収まりません", page);
  }
  // Slot i starts at the i-th offset from the end and ends where slot i + 1 starts; the
  // offsets must rise and stay before the offset table.
  const size_t table_at = mask_at_ - 2 - table_bytes;
  // The whole offset table lies inside the row (checked above), so it is read directly.
  const uint8_t* last = row.data() + mask_at_ - 4;
  size_t previous = 0;
  for (size_t i = 0; i <= variable_count_; ++i) {
    const uint8_t* at = last - 2 * i;
    const auto offset = static_cast<uint16_t>(at[0] | (at[1] << 8));
    if (offset < 2 || offset > table_at || offset < previous) {
      ThrowCorrupt(u"行の可変長列の位置が不正です", page);
    }
    previous = offset;
  }
}

bool RecordView::Present(const ColumnDefinition& column) const {
  const uint16_t number = column.number;
  return number < column_count_ &&
         (reader_.U8(mask_at_ + number / 8u) & (1u << (number % 8u))) != 0;
}

std::optional<ByteReader> RecordView::Field(const ColumnDefinition& column) const {
  if (!Present(column)) return std::nullopt;
  if (column.fixed()) {
    size_t size = FixedSize(column.type);
    if (size == 0) size = column.length;
    return reader_.Sub(2u + column.fixed_offset, size);
  }
  if (column.variable_index >= variable_count_) return std::nullopt;  // added later
  const uint16_t start = reader_.U16(mask_at_ - 4 - 2 * column.variable_index);
  const uint16_t end = reader_.U16(mask_at_ - 4 - 2 * (column.variable_index + 1u));
  ByteReader field = reader_.Sub(start, end - start);
  if (field.size() < FixedSize(column.type)) {
    ThrowCorrupt(u"行の値が型の長さより短いです", reader_.page());
  }
  return field;
}

Value RecordView::Decode(Pager* pager, const ColumnDefinition& column) const {
  if (column.type == static_cast<uint8_t>(ColumnType::kBoolean)) {
    return Value::Boolean(Present(column));
  }
  const std::optional<ByteReader> field = Field(column);
  if (!field) return Value();
  return DecodeValue(pager, column, *field);
}

void RecordView::DecodeInto(Pager* pager, const ColumnDefinition& column, Value& out) const {
  const auto type = static_cast<ColumnType>(column.type);
  if (type != ColumnType::kText && type != ColumnType::kMemo) {
    out = Decode(pager, column);
  } else if (!DecodeTextInto(pager, column, out.TextToFill())) {
    out = Value();
  }
}

bool RecordView::DecodeTextInto(Pager* pager, const ColumnDefinition& column,
                                std::u16string& out) const {
  const std::optional<ByteReader> field = Field(column);
  if (!field) return false;
  if (column.type == static_cast<uint8_t>(ColumnType::kMemo)) {
    if (field->size() == 0) {
      out.clear();
    } else {
      format::DecodeTextInto(LongValueData(pager, field->bytes()), out);
    }
    return true;
  }
  format::DecodeTextInto(field->bytes(), out);
  return true;
}

std::vector<Value> DecodeRecord(Pager& pager, const TableDefinition& def,
                                std::span<const uint8_t> row, uint32_t page,
                                const std::vector<size_t>& which) {
  const RecordView view(def, row, page);
  std::vector<Value> values;
  const size_t count = which.empty() ? def.columns.size() : which.size();
  values.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    values.push_back(view.Decode(&pager, def.columns.at(which.empty() ? k : which[k])));
  }
  return values;
}

void EncodeFixedValue(ColumnType type, const Value& value, uint8_t* out) {
  switch (type) {
    case ColumnType::kByte:
      out[0] = static_cast<uint8_t>(value.integer());
      return;
    case ColumnType::kInteger:
      PutU16(out, static_cast<uint16_t>(value.integer()));
      return;
    case ColumnType::kLong:
      PutU32(out, static_cast<uint32_t>(value.integer()));
      return;
    case ColumnType::kCurrency:
      PutU64(out, static_cast<uint64_t>(value.currency().ten_thousandths));
      return;
    case ColumnType::kSingle: {
      const float f = static_cast<float>(value.number());
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      PutU32(out, bits);
      return;
    }
    case ColumnType::kDouble:
      PutDouble(out, value.number());
      return;
    case ColumnType::kDateTime:
      PutDouble(out, value.date_time().ole);
      return;
    case ColumnType::kGuid:
      std::memcpy(out, value.guid().data(), value.guid().size());
      return;
    case ColumnType::kNumeric: {
      // As DecodeDecimal reads it: the sign byte, then the words most significant first.
      const Decimal& d = value.decimal();
      out[0] = d.negative ? 0x80 : 0x00;
      for (size_t word = 0; word < 4; ++word) {
        PutU32(out + 1 + 4 * word, static_cast<uint32_t>(d.mantissa >> (32 * (3 - word))));
      }
      return;
    }
    default:
      return;
  }
}

std::string EncodeVariableValue(ColumnType type, bool compressible, const Value& value) {
  if (type == ColumnType::kText || type == ColumnType::kMemo) {
    return EncodeText(value.text(), compressible);
  }
  const Bytes& bytes = value.binary();
  return std::string(bytes.begin(), bytes.end());
}

size_t EncodedRecordSize(uint16_t column_count, uint16_t fixed_area, uint16_t variable_count,
                         size_t variable_bytes) {
  size_t size = 2 + size_t{fixed_area} + (size_t{column_count} + 7) / 8;
  if (variable_count > 0) size += 2 + 2 * size_t{variable_count} + 2 + variable_bytes;
  return size;
}

RecordEncoder::RecordEncoder(uint16_t column_count, uint16_t fixed_area, uint16_t variable_count)
    : fixed_(2 + size_t{fixed_area}, '\0'),
      slots_(variable_count),
      mask_((size_t{column_count} + 7) / 8, '\0') {
  PutU16(reinterpret_cast<uint8_t*>(fixed_.data()), column_count);
}

void RecordEncoder::SetPresent(uint16_t number) {
  mask_.at(number / 8u) = static_cast<char>(mask_.at(number / 8u) | (1 << (number % 8u)));
}

void RecordEncoder::SetFixed(uint16_t number, uint16_t fixed_offset, ColumnType type,
                             const Value& value) {
  if (2 + size_t{fixed_offset} + FixedAreaSize(type) > fixed_.size()) {
    ThrowOutOfBounds(kNoPage, 2 + size_t{fixed_offset}, FixedAreaSize(type));
  }
  EncodeFixedValue(type, value, reinterpret_cast<uint8_t*>(fixed_.data()) + 2 + fixed_offset);
  SetPresent(number);
}

void RecordEncoder::SetBoolean(uint16_t number, bool value) {
  if (value) SetPresent(number);
}

void RecordEncoder::SetVariable(uint16_t number, uint16_t variable_index, std::string bytes) {
  slots_.at(variable_index) = std::move(bytes);
  SetPresent(number);
}

std::string RecordEncoder::Finish() const {
  std::string row = fixed_;
  const size_t n = slots_.size();
  if (n > 0) {
    std::vector<uint16_t> starts(n);
    for (size_t s = 0; s < n; ++s) {
      starts[s] = static_cast<uint16_t>(row.size());
      row += slots_[s];
    }
    // The end of the data, the slots' starts last slot first, the slot count.
    std::string table(2 + 2 * n + 2, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(table.data());
    PutU16(p, static_cast<uint16_t>(row.size()));
    for (size_t s = 0; s < n; ++s) PutU16(p + 2 + 2 * (n - 1 - s), starts[s]);
    PutU16(p + 2 + 2 * n, static_cast<uint16_t>(n));
    row += table;
  }
  row += mask_;
  return row;
}

std::string EncodeRecord(const TableDefinition& def, std::span<const Value> values,
                         const LongValueFieldFunction& long_value) {
  if (values.size() != def.columns.size()) {
    throw Error(u"行の値の数が表定義の列の数と合いません。");
  }
  size_t fixed_area = 0;
  for (const ColumnDefinition& column : def.columns) {
    if (column.fixed()) {
      fixed_area = std::max(fixed_area, size_t{column.fixed_offset} + FixedSize(column.type));
    }
  }
  RecordEncoder encoder(def.max_columns, static_cast<uint16_t>(fixed_area), def.variable_columns);
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDefinition& column = def.columns[i];
    const Value& value = values[i];
    const auto type = static_cast<ColumnType>(column.type);
    if (type == ColumnType::kBoolean) {
      encoder.SetBoolean(column.number, !value.is_null() && value.boolean());
    } else if (value.is_null()) {
      continue;
    } else if (column.fixed()) {
      encoder.SetFixed(column.number, column.fixed_offset, type, value);
    } else {
      std::string bytes =
          EncodeVariableValue(type, (column.extra_flags & kColumnCompressible) != 0, value);
      if (type == ColumnType::kMemo || type == ColumnType::kOle) {
        bytes = long_value(column, std::move(bytes));
      }
      encoder.SetVariable(column.number, column.variable_index, std::move(bytes));
    }
  }
  return encoder.Finish();
}

RecordCursor::RecordCursor(Pager& pager, const TableDefinition& def)
    : pager_(pager), def_(def), pages_(ReadUsageMap(pager, def.owned_map)) {}

bool RecordCursor::Next() {
  for (;;) {
    if (page_ && next_slot_ < page_->row_count()) {
      const DataPage& page = *page_;
      const uint16_t i = next_slot_++;
      const RowSlot slot = page.Slot(i);
      if (slot.deleted) continue;
      if (!slot.overflow) {
        if (row_page_ != page.page()) row_page_ = page.page();
        row_ = page.Row(i, slot);
        return true;
      }
      // Follow the pointer to where the row lives now.
      std::unordered_set<uint32_t> seen;
      RowPointer at = RowPointer::FromU32(ByteReader(page.Row(i), page.number()).U32(0));
      for (int hop = 0;; ++hop) {
        if (hop >= kMaxOverflowHops || !seen.insert(at.ToU32()).second) {
          ThrowCorrupt(u"移動した行の参照が循環しています", page.number());
        }
        const DataPage target(pager_.Get(at.page));
        const RowSlot moved = target.Slot(at.row);
        if (moved.overflow && !moved.deleted) {
          at = RowPointer::FromU32(ByteReader(target.Row(at.row), at.page).U32(0));
          continue;
        }
        row_page_ = target.page();
        row_ = target.Row(at.row);
        return true;
      }
    }
    page_.reset();
    PagePtr spare = std::move(row_page_);
    row_ = {};
    if (next_page_ >= pages_.size()) return false;
    // The pages that follow in the file and in the walk are read together.
    uint32_t run = 1;
    while (run < Pager::kReadAheadPages && next_page_ + run < pages_.size() &&
           pages_[next_page_ + run] == pages_[next_page_] + run) {
      ++run;
    }
    PagePtr raw = pager_.GetPassing(pages_[next_page_++], spare, run);
    if (raw->type() != static_cast<uint8_t>(PageType::kData)) continue;
    DataPage page(std::move(raw));
    if (page.owner() != def_.page) continue;
    next_slot_ = 0;
    page_.emplace(std::move(page));
  }
}

void ScanRecords(Pager& pager, const TableDefinition& def,
                 const std::function<void(std::span<const uint8_t> row, uint32_t page)>& visit) {
  RecordCursor cursor(pager, def);
  while (cursor.Next()) visit(cursor.row(), cursor.page_number());
}

}  // namespace jet::format
