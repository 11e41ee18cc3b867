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
  ahead_count_ = 0;
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

PagePtr Pager::Find(uint32_t number) {
  if (auto it = cache_.find(number); it != cache_.end()) return it->second;
  if (auto it = held_.find(number); it != held_.end()) {
    if (PagePtr page = it->second.lock()) {
      Remember(page);
      return page;
    }
  }
  return nullptr;
}

void Pager::ReadInto(uint32_t number, Page& page) {
  if (number >= page_count_ && uint64_t{number} * kPageSize < source_->size()) {
    ThrowCorrupt(u"ファイルが途中で切れています (ページ " + Number(number) + u" が不完全です)");
  }
  if (number >= page_count_) {
    ThrowCorrupt(u"ファイルの外のページ " + Number(number) + u" を参照しています (全 " +
                 Number(page_count_) + u" ページ)");
  }
  page.number = number;
  const size_t n =
      source_->ReadAt(static_cast<uint64_t>(number) * kPageSize, std::span<uint8_t>(page.bytes));
  if (n != kPageSize) ThrowCorrupt(u"ページを最後まで読めません", number);
  Decode(number, page);
}

void Pager::Decode(uint32_t number, Page& page) const {
  if (header_.database_key != 0 && number != 0) {
    const auto key = PageKey(header_.database_key, number);
    Rc4Apply(key, page.bytes);
  }
}

bool Pager::ReadAhead(uint32_t number, uint32_t run) {
  ahead_count_ = 0;
  if (number >= page_count_) return false;
  run = std::min({run, kReadAheadPages, page_count_ - number});
  ahead_.resize(size_t{kReadAheadPages} * kPageSize);
  const size_t n = source_->ReadAt(static_cast<uint64_t>(number) * kPageSize,
                                   std::span<uint8_t>(ahead_.data(), size_t{run} * kPageSize));
  ahead_first_ = number;
  ahead_count_ = static_cast<uint32_t>(n / kPageSize);  // a file cut short gives fewer
  return ahead_count_ > 0;
}

PagePtr Pager::Get(uint32_t number) {
  if (PagePtr page = Find(number)) return page;
  auto page = std::make_shared<Page>();
  ReadInto(number, *page);
  Remember(page);
  return page;
}

PagePtr Pager::GetPassing(uint32_t number, PagePtr& spare, uint32_t run) {
  if (PagePtr page = Find(number)) return page;
  std::shared_ptr<Page> page;
  if (spare && spare.use_count() == 1) {
    // Nobody else holds the spare page: its memory takes the new page. It was made as a
    // mutable Page by this pager, so writing into it is sound.
    page = std::const_pointer_cast<Page>(std::move(spare));
  } else {
    page = std::make_shared<Page>();
  }
  spare.reset();
  const bool ahead = number - ahead_first_ < ahead_count_ || (run > 1 && ReadAhead(number, run));
  if (!ahead) {
    ReadInto(number, *page);
    return page;
  }
  const auto at = static_cast<std::ptrdiff_t>(size_t{number - ahead_first_} * kPageSize);
  std::copy_n(ahead_.begin() + at, kPageSize, page->bytes.begin());
  page->number = number;
  Decode(number, *page);
  return page;
}

PagePtr Pager::GetUnchanged(uint32_t number) {
  if (PagePtr page = Find(number)) return page;
  if (Changed()) {
    throw Error(
        u"データベースが他のプログラムによって更新されたため、この行を読めません。もう一度開いてく"
        u"ださい。");
  }
  return Get(number);
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
