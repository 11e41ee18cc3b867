#include "jet/format/index_page.h"

#include <algorithm>
#include <cstring>

#include "jet/format/corruption.h"

namespace jet::format {
namespace {

constexpr size_t kBitmapBytes = kIndexEntriesStart - kIndexPageBitmapOffset;

bool IsIndexPageType(uint8_t type) {
  return type == PageTypeByte(PageType::kIndexLeaf) || type == PageTypeByte(PageType::kIndexNode);
}

}  // namespace

IndexPage DecodeIndexPage(std::span<const uint8_t> bytes, uint32_t number) {
  const ByteReader r(bytes, number);
  const uint8_t type = r.U8(0);
  if (!IsIndexPageType(type)) ThrowCorrupt(u"索引ページの種類が不正です", number);
  IndexPage page;
  IndexPageHeader& h = page.header;
  h.type = static_cast<PageType>(type);
  h.tdef_page = r.U32(kIndexPageTdefOffset);
  h.prev_page = r.U32(kIndexPagePrevOffset);
  h.next_page = r.U32(kIndexPageNextOffset);
  h.tail_page = r.U32(kIndexPageTailOffset);
  h.shared_prefix = r.U16(kIndexPagePrefixOffset);
  const auto bitmap = r.Slice(kIndexPageBitmapOffset, kBitmapBytes);
  const auto stored = r.Slice(kIndexEntriesStart, kIndexEntryCapacity);
  size_t begin = 0;
  for (size_t end = 1; end < kBitmapBytes * 8; ++end) {
    if (!(bitmap[end / 8] & (1u << (end % 8)))) continue;
    if (end > stored.size()) ThrowCorrupt(u"索引ページの項目がページの外で終わっています", number);
    std::string entry;
    if (!page.entries.empty()) {
      const std::string& first = page.entries.front();
      if (first.size() < h.shared_prefix) {
        ThrowCorrupt(u"索引ページの共通接頭辞が最初の項目より長いです", number);
      }
      entry.assign(first, 0, h.shared_prefix);
    }
    entry.append(reinterpret_cast<const char*>(stored.data() + begin), end - begin);
    page.entries.push_back(std::move(entry));
    begin = end;
  }
  return page;
}

size_t IndexEntriesSize(const std::vector<std::string>& entries, size_t shared_prefix) {
  size_t bytes = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    bytes += i == 0 ? entries[i].size() : entries[i].size() - shared_prefix;
  }
  return bytes;
}

void EncodeIndexPage(const IndexPageHeader& header, const std::vector<std::string>& entries,
                     std::span<uint8_t> out) {
  if (out.size() != kPageSize || !IsIndexPageType(PageTypeByte(header.type))) {
    throw Error(u"内部エラー: 索引ページを組み立てられません");
  }
  const size_t prefix = header.shared_prefix;
  // An entry must leave at least one byte on the page: the bitmap marks only where it ends.
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& e = entries[i];
    if (i == 0 ? e.empty() || e.size() < prefix
               : e.size() <= prefix || e.compare(0, prefix, entries.front(), 0, prefix) != 0) {
      throw Error(u"内部エラー: 索引ページの項目が共通接頭辞で始まっていません");
    }
  }
  if (IndexEntriesSize(entries, prefix) > kIndexEntryCapacity) {
    throw Error(u"内部エラー: 索引ページに項目が入りきりません");
  }
  std::fill(out.begin(), out.end(), uint8_t{0});
  out[0] = PageTypeByte(header.type);
  out[1] = kPageMarker;
  PutU32(out, kIndexPageTdefOffset, header.tdef_page);
  PutU32(out, kIndexPagePrevOffset, header.prev_page);
  PutU32(out, kIndexPageNextOffset, header.next_page);
  PutU32(out, kIndexPageTailOffset, header.tail_page);
  PutU16(out, kIndexPagePrefixOffset, header.shared_prefix);
  size_t at = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string_view e = std::string_view(entries[i]).substr(i == 0 ? 0 : prefix);
    std::memcpy(out.data() + kIndexEntriesStart + at, e.data(), e.size());
    at += e.size();
    out[kIndexPageBitmapOffset + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  PutU16(out, kIndexPageFreeSpaceOffset, static_cast<uint16_t>(kIndexEntryCapacity - at));
}

void SetIndexPageNeighbours(std::span<uint8_t> page, uint32_t prev, uint32_t next) {
  PutU32(page, kIndexPagePrevOffset, prev);
  PutU32(page, kIndexPageNextOffset, next);
}

std::string MakeLeafEntry(std::string_view key, RowPointer row) {
  std::string e(key);
  e.push_back(static_cast<char>(row.page >> 16));
  e.push_back(static_cast<char>(row.page >> 8));
  e.push_back(static_cast<char>(row.page));
  e.push_back(static_cast<char>(row.row));
  return e;
}

bool LeafEntryHasKey(std::string_view entry, std::string_view key) {
  return entry.size() == key.size() + kLeafEntryRowSize && entry.substr(0, key.size()) == key;
}

std::string MakeNodeEntry(std::string_view last_below, uint32_t child) {
  std::string e(last_below);
  AppendU32Be(e, child);
  return e;
}

uint32_t NodeEntryChild(std::string_view entry, uint32_t number) {
  if (entry.size() < kNodeEntryChildSize) ThrowCorrupt(u"索引の節の項目が短すぎます", number);
  return GetU32Be(reinterpret_cast<const uint8_t*>(entry.data()) + entry.size() -
                  kNodeEntryChildSize);
}

}  // namespace jet::format
