#include "jet/format/pager.h"

#include <algorithm>
#include <limits>

#include "jet/format/corruption.h"
#include "jet/format/rc4.h"
#include "jet/jet.h"

namespace jet::format {

Pager::Pager(std::unique_ptr<PageSource> source) : source_(std::move(source)) { Reload(); }

void Pager::Reload() {
  cache_.clear();
  held_.clear();
  source_->Refresh();
  stamp_ = source_->Stamp();
  const uint64_t size = source_->size();
  std::array<uint8_t, kPageSize> first{};
  const size_t n = source_->ReadAt(0, first);
  header_ = DecodeHeaderPage(std::span<const uint8_t>(first.data(), n), size);
  // Page numbers are 24-bit in row pointers and 32-bit elsewhere; a larger file is damaged.
  const uint64_t pages = size / kPageSize;
  page_count_ = static_cast<uint32_t>(std::min<uint64_t>(pages, 0xFFFFFF));
}

PagePtr Pager::Get(uint32_t number) {
  if (auto it = cache_.find(number); it != cache_.end()) return it->second;
  if (auto it = held_.find(number); it != held_.end()) {
    if (PagePtr page = it->second.lock()) {
      Remember(page);
      return page;
    }
  }
  if (number >= page_count_ && uint64_t{number} * kPageSize < source_->size()) {
    ThrowCorrupt(u"ファイルが途中で切れています (ページ " + Number(number) + u" が不完全です)");
  }
  if (number >= page_count_) {
    ThrowCorrupt(u"ファイルの外のページ " + Number(number) + u" を参照しています (全 " +
                 Number(page_count_) + u" ページ)");
  }
  auto page = std::make_shared<Page>();
  page->number = number;
  const size_t n =
      source_->ReadAt(static_cast<uint64_t>(number) * kPageSize, std::span<uint8_t>(page->bytes));
  if (n != kPageSize) ThrowCorrupt(u"ページを最後まで読めません", number);
  if (header_.database_key != 0 && number != 0) {
    const auto key = PageKey(header_.database_key, number);
    Rc4Apply(key, page->bytes);
  }
  Remember(page);
  return page;
}

void Pager::Remember(const PagePtr& page) {
  if (cache_.size() >= kCacheLimit) {
    // Pages someone still holds stay findable; the rest are forgotten.
    for (const auto& [number, cached] : cache_) {
      if (cached.use_count() > 1) held_[number] = cached;
    }
    cache_.clear();
    if (held_.size() > 4 * kCacheLimit)
      std::erase_if(held_, [](const auto& e) { return e.second.expired(); });
  }
  cache_.emplace(page->number, page);
}

PagePtr Pager::GetTyped(uint32_t number, PageType type, std::u16string_view what) {
  PagePtr page = Get(number);
  if (page->type() != static_cast<uint8_t>(type)) {
    ThrowCorrupt(
        std::u16string(what) + u"のページではありません (種別 " + Number(page->type()) + u")",
        number);
  }
  return page;
}

}  // namespace jet::format
