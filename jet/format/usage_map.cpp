#include "jet/format/usage_map.h"

#include "jet/format/data_page.h"

namespace jet::format {
namespace {

// Appends the pages whose bits are set, for pages first… (page numbers are 32-bit).
void AddBits(std::span<const uint8_t> bitmap, uint64_t first, std::vector<uint32_t>& out) {
  for (size_t byte = 0; byte < bitmap.size(); ++byte) {
    if (bitmap[byte] == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if ((bitmap[byte] & (1u << bit)) == 0) continue;
      const uint64_t page = first + byte * 8 + static_cast<uint64_t>(bit);
      if (page > 0xFFFFFFFF) return;
      out.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

std::vector<uint32_t> ReadUsageMap(Pager& pager, uint32_t row_pointer) {
  const RowPointer rp = RowPointer::FromU32(row_pointer);
  const DataPage page(pager.Get(rp.page));
  return DecodeUsageMap(pager, page.Row(rp.row), rp.page);
}

std::vector<uint32_t> DecodeUsageMap(Pager& pager, std::span<const uint8_t> row,
                                     uint32_t row_page) {
  const ByteReader r(row, row_page);
  std::vector<uint32_t> pages;
  const uint8_t type = r.U8(0);
  if (type == kInlineMap) {
    const uint32_t first = r.U32(1);
    AddBits(row.subspan(5), first, pages);
  } else if (type == kReferenceMap) {
    const size_t entries = (row.size() - 1) / 4;
    for (size_t j = 0; j < entries; ++j) {
      const uint32_t map_page = r.U32(1 + 4 * j);
      if (map_page == 0) continue;
      const PagePtr p = pager.GetTyped(map_page, PageType::kUsageMap, u"使用状況マップ");
      const uint64_t first = static_cast<uint64_t>(j) * kPagesPerMapPage;
      AddBits(std::span<const uint8_t>(p->bytes).subspan(kMapPageBitmapOffset), first, pages);
    }
  } else {
    ThrowCorrupt(u"使用状況マップの種類 " + Number(type) + u" が不正です", row_page);
  }
  return pages;
}

}  // namespace jet::format
