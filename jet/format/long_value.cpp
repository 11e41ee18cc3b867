#include "jet/format/long_value.h"

#include <algorithm>
#include <unordered_set>

#include "jet/format/data_page.h"

namespace jet::format {

std::vector<uint8_t> ReadLongValue(Pager& pager, std::span<const uint8_t> field) {
  const ByteReader r(field);
  if (field.size() < kLongValueHeaderSize) {
    ThrowCorrupt(u"メモ型/OLE 型の値の見出しが短すぎます");
  }
  const uint32_t word = r.U32(0);
  const uint32_t length = word & kLongValueLengthMask;
  const uint8_t form = r.U8(3) & 0xC0;
  const RowPointer first = RowPointer::FromU32(r.U32(4));

  if (form == kLongValueInline) {
    const auto data = r.Slice(kLongValueHeaderSize, length);
    return std::vector<uint8_t>(data.begin(), data.end());
  }
  if (form == kLongValueSingle) {
    const DataPage page(pager.Get(first.page));
    const auto row = page.Row(first.row);
    if (row.size() < length) {
      ThrowCorrupt(u"メモ型/OLE 型の値が記録された長さより短いです", first.page);
    }
    return std::vector<uint8_t>(row.begin(), row.begin() + length);
  }
  if (form != kLongValueChain) {
    ThrowCorrupt(u"メモ型/OLE 型の値の形式が不正です");
  }
  std::vector<uint8_t> data;
  data.reserve(std::min<uint64_t>(length, uint64_t{pager.page_count()} * kPageSize));
  std::unordered_set<uint32_t> seen;
  RowPointer at = first;
  while (true) {
    if (!seen.insert(at.ToU32()).second) {
      ThrowCorrupt(u"メモ型/OLE 型の値のページのつながりが循環しています", at.page);
    }
    const DataPage page(pager.Get(at.page));
    const ByteReader row(page.Row(at.row), at.page);
    const uint32_t next = row.U32(0);
    const auto piece = row.bytes().subspan(4);
    if (data.size() + piece.size() > uint64_t{length} + kPageSize) {
      ThrowCorrupt(u"メモ型/OLE 型の値が記録された長さを超えています", at.page);
    }
    data.insert(data.end(), piece.begin(), piece.end());
    if (next == 0 || data.size() >= length) break;
    at = RowPointer::FromU32(next);
  }
  if (data.size() < length) {
    ThrowCorrupt(u"メモ型/OLE 型の値のページのつながりが途中で終わっています");
  }
  data.resize(length);
  return data;
}

std::string EncodeLongValueHeader(uint32_t length, uint8_t form, RowPointer first) {
  std::string header(kLongValueHeaderSize, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(header.data());
  PutU32(h, (length & kLongValueLengthMask) | (uint32_t{form} << 24));
  PutU32(h + 4, first.ToU32());
  return header;
}

std::string EncodeInlineLongValue(std::string_view data) {
  std::string field = EncodeLongValueHeader(static_cast<uint32_t>(data.size()), kLongValueInline);
  field += data;
  return field;
}

std::string EncodeLongValueChainPiece(RowPointer next, std::string_view data) {
  std::string piece(kLongValueChainLinkSize, '\0');
  PutU32(reinterpret_cast<uint8_t*>(piece.data()), next.ToU32());
  piece += data;
  return piece;
}

}  // namespace jet::format
