#include "jet/write/index_tree.h"

#include <algorithm>
#include <span>

#include "jet/format/index_page.h"
#include "jet/jet.h"

namespace jet::write {
namespace {

struct Child {
  uint32_t page;
  std::string last;  // last entry of the child's subtree
};

// Splits one level into nodes: a node holds an entry for each child but the last, which
// goes into its tail field (a lone child is an ordinary entry). Returns [first, last] pairs.
std::vector<std::pair<size_t, size_t>> GroupChildren(const std::vector<Child>& level) {
  std::vector<std::pair<size_t, size_t>> groups;
  size_t first = 0;
  while (first < level.size()) {
    size_t last = first;
    size_t bytes = 0;
    while (last + 1 < level.size() &&
           bytes + level[last].last.size() + format::kNodeEntryChildSize <=
               static_cast<size_t>(kIndexEntryCapacity)) {
      bytes += level[last].last.size() + format::kNodeEntryChildSize;
      ++last;
    }
    groups.emplace_back(first, last);
    first = last + 1;
  }
  return groups;
}

// Writes one index page of this writer's: entries stored whole, no shared prefix.
void WriteIndexPage(uint8_t* page, PageType type, uint32_t tdef, uint32_t prev, uint32_t next,
                    uint32_t tail, const std::vector<std::string>& entries) {
  format::IndexPageHeader header;
  header.type = type;
  header.tdef_page = tdef;
  header.prev_page = prev;
  header.next_page = next;
  header.tail_page = tail;
  format::EncodeIndexPage(header, entries, std::span<uint8_t>(page, kPageSize));
}

}  // namespace

IndexTree::IndexTree(uint32_t root_page, uint32_t tdef_page) : root_(root_page), tdef_(tdef_page) {
  leaves_.push_back(std::make_unique<Leaf>());
  leaves_.back()->page = root_;
}

std::unique_ptr<IndexTree> IndexTree::Load(const PageStore& store, uint32_t root_page,
                                           uint32_t tdef_page) {
  auto tree = std::make_unique<IndexTree>(root_page, tdef_page);
  tree->leaves_.clear();
  tree->LoadPage(store, root_page, true, 0);
  if (tree->leaves_.empty()) throw Error(u"索引の木に葉ページがありません");
  uint32_t prev = 0;
  for (size_t i = 0; i < tree->leaves_.size(); ++i) {
    Leaf& leaf = *tree->leaves_[i];
    leaf.written_prev = prev;
    leaf.written_next = i + 1 < tree->leaves_.size() ? tree->leaves_[i + 1]->page : 0;
    prev = leaf.page;
    tree->size_ += leaf.entries.size();
    // The leaves are on their pages already; a lone leaf on the root stays, as it moves once
    // the tree grows.
    if (tree->leaves_.size() > 1 && !leaf.entries.empty()) {
      leaf.last = std::move(leaf.entries.back());
      leaf.entries = std::vector<std::string>();  // its memory too
      leaf.let_go = true;
    }
  }
  tree->dirty_ = false;
  return tree;
}

std::vector<std::string> IndexTree::EntriesOnPage(const PageStore& store, const Leaf& leaf) {
  format::IndexPage p =
      format::DecodeIndexPage(std::span(store.Read(leaf.page), kPageSize), leaf.page);
  if (p.header.type != PageType::kIndexLeaf || p.entries.empty() || p.entries.back() != leaf.last) {
    throw Error(u"索引の葉ページが書いた内容と違います");
  }
  return std::move(p.entries);
}

void IndexTree::TakeBack(const PageStore& store, Leaf& leaf) {
  if (!leaf.let_go) return;
  leaf.entries = EntriesOnPage(store, leaf);
  leaf.bytes = 0;
  for (const auto& e : leaf.entries) leaf.bytes += e.size();
  leaf.last.clear();
  leaf.let_go = false;
}

void IndexTree::LetGo(size_t index, PageStore& store, UsageMap& map) {
  Leaf& leaf = *leaves_[index];
  Leaf& next = *leaves_[index + 1];
  const uint32_t prev = index > 0 ? leaves_[index - 1]->page : 0;
  // The links are written now, so both neighbours need their pages; a leaf before this one
  // without a page yet (a split in the middle made it) keeps this one in memory.
  if (index > 0 && (prev == 0 || prev == root_)) return;
  const auto give_page = [&](Leaf& l) {
    if (l.page != 0 && l.page != root_) return;
    l.page = store.Allocate();
    map.Add(l.page);
    l.dirty = true;
  };
  give_page(leaf);
  give_page(next);
  WriteLeaf(store, leaf, prev, next.page);
  store.Retire(leaf.page);
  leaf.last = std::move(leaf.entries.back());
  leaf.entries = std::vector<std::string>();  // its memory too
  leaf.let_go = true;
}

size_t IndexTree::leaves_in_memory() const {
  size_t n = 0;
  for (const auto& leaf : leaves_) n += leaf->let_go ? 0u : 1u;
  return n;
}

void IndexTree::LoadPage(const PageStore& store, uint32_t page, bool is_root, int depth) {
  if (page == 0 || page >= store.page_count() || depth > 16) {
    throw Error(u"索引の木のページが不正です");
  }
  format::IndexPage p = format::DecodeIndexPage(std::span(store.Read(page), kPageSize), page);
  if (p.header.type == PageType::kIndexLeaf) {
    auto leaf = std::make_unique<Leaf>();
    for (auto& e : p.entries) leaf->bytes += e.size();
    leaf->entries = std::move(p.entries);
    leaf->page = page;
    leaf->dirty = false;
    leaves_.push_back(std::move(leaf));
    return;
  }
  if (!is_root) node_pages_.push_back(page);
  for (const auto& e : p.entries) {
    LoadPage(store, format::NodeEntryChild(e, page), false, depth + 1);
  }
  if (p.header.tail_page != 0) LoadPage(store, p.header.tail_page, false, depth + 1);
}

size_t IndexTree::LeafFor(const std::string& entry) const {
  // The first leaf whose last entry is not below `entry`; the last leaf otherwise.
  size_t lo = 0, hi = leaves_.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    const Leaf& leaf = *leaves_[mid];
    if (!leaf.empty() && leaf.LastEntry() < entry) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return std::min(lo, leaves_.size() - 1);
}

bool IndexTree::ContainsKey(const PageStore& store, std::string_view key) const {
  std::string probe(key);
  const Leaf& leaf = *leaves_[LeafFor(probe)];
  const std::vector<std::string> read =
      leaf.let_go ? EntriesOnPage(store, leaf) : std::vector<std::string>();
  const std::vector<std::string>& entries = leaf.let_go ? read : leaf.entries;
  auto it = std::lower_bound(entries.begin(), entries.end(), probe);
  return it != entries.end() && format::LeafEntryHasKey(*it, key);
}

void IndexTree::Insert(const std::string& key, RowPointer row, PageStore& store, UsageMap& map) {
  std::string entry = format::MakeLeafEntry(key, row);
  size_t index = LeafFor(entry);
  Leaf& leaf = *leaves_[index];
  TakeBack(store, leaf);
  auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), entry);
  bool at_end = it == leaf.entries.end() && index + 1 == leaves_.size();
  leaf.bytes += entry.size();
  leaf.entries.insert(it, std::move(entry));
  leaf.dirty = true;
  ++size_;
  dirty_ = true;
  if (SplitIfNeeded(index, at_end)) LetGo(index, store, map);
}

bool IndexTree::SplitIfNeeded(size_t index, bool appended_at_end) {
  Leaf& leaf = *leaves_[index];
  if (leaf.bytes <= static_cast<size_t>(kIndexEntryCapacity)) return false;
  auto fresh = std::make_unique<Leaf>();
  if (appended_at_end) {
    // Ascending inserts: the new last entry starts the next leaf, the full one stays full.
    fresh->entries.push_back(std::move(leaf.entries.back()));
    leaf.entries.pop_back();
  } else {
    size_t half = 0, cut = 0;
    while (cut < leaf.entries.size() && half < leaf.bytes / 2) half += leaf.entries[cut++].size();
    cut = std::clamp<size_t>(cut, 1, leaf.entries.size() - 1);
    fresh->entries.assign(std::make_move_iterator(leaf.entries.begin() + static_cast<long>(cut)),
                          std::make_move_iterator(leaf.entries.end()));
    leaf.entries.resize(cut);
  }
  leaf.bytes = 0;
  for (const auto& e : leaf.entries) leaf.bytes += e.size();
  for (const auto& e : fresh->entries) fresh->bytes += e.size();
  leaf.dirty = true;
  leaves_.insert(leaves_.begin() + static_cast<long>(index) + 1, std::move(fresh));
  return appended_at_end;
}

void IndexTree::WriteLeaf(PageStore& store, Leaf& leaf, uint32_t prev, uint32_t next) {
  if (!leaf.dirty && leaf.written_prev == prev && leaf.written_next == next) return;
  WriteIndexPage(store.Mutable(leaf.page), PageType::kIndexLeaf, tdef_, prev, next, 0,
                 leaf.entries);
  leaf.written_prev = prev;
  leaf.written_next = next;
  leaf.dirty = false;
}

void IndexTree::Write(PageStore& store, UsageMap& map) {
  if (!dirty_) return;
  std::vector<uint32_t> spare = std::move(node_pages_);
  node_pages_.clear();
  size_t spare_used = 0;
  auto take_page = [&]() -> uint32_t {
    if (spare_used < spare.size()) return spare[spare_used++];
    uint32_t p = store.Allocate();
    map.Add(p);
    return p;
  };

  if (leaves_.size() == 1) {
    Leaf& leaf = *leaves_[0];
    if (leaf.page != root_) {
      leaf.page = root_;
      leaf.dirty = true;
    }
    WriteLeaf(store, leaf, 0, 0);
  } else {
    for (auto& leaf : leaves_) {
      if (leaf->page == 0 || leaf->page == root_) {
        uint32_t p = store.Allocate();
        map.Add(p);
        leaf->page = p;
        leaf->dirty = true;
      }
    }
    for (size_t i = 0; i < leaves_.size(); ++i) {
      uint32_t prev = i > 0 ? leaves_[i - 1]->page : 0;
      uint32_t next = i + 1 < leaves_.size() ? leaves_[i + 1]->page : 0;
      Leaf& leaf = *leaves_[i];
      // A leaf let go is written again only when its neighbours changed.
      if (leaf.let_go && (leaf.written_prev != prev || leaf.written_next != next)) {
        TakeBack(store, leaf);
      }
      WriteLeaf(store, leaf, prev, next);
    }

    // Node levels, bottom up. Each child is (page, last entry of its subtree).
    std::vector<Child> level;
    level.reserve(leaves_.size());
    for (auto& leaf : leaves_) level.push_back({leaf->page, leaf->LastEntry()});
    std::vector<std::pair<size_t, size_t>> groups = GroupChildren(level);
    while (true) {
      bool top = groups.size() == 1;
      std::vector<Child> parents;
      for (auto [a, b] : groups) {
        uint32_t page = top ? root_ : take_page();
        std::vector<std::string> entries;
        size_t entry_end = a == b ? b + 1 : b;
        for (size_t c = a; c < entry_end; ++c) {
          entries.push_back(format::MakeNodeEntry(level[c].last, level[c].page));
        }
        uint32_t tail = a != b ? level[b].page : 0;
        WriteIndexPage(store.Mutable(page), PageType::kIndexNode, tdef_, 0, 0, tail, entries);
        if (!top) node_pages_.push_back(page);
        parents.push_back({page, level[b].last});
      }
      if (top) break;
      // Node pages are linked to their neighbours only among the children of one parent.
      level = std::move(parents);
      groups = GroupChildren(level);
      for (auto [a, b] : groups) {
        for (size_t c = a; c <= b; ++c) {
          format::SetIndexPageNeighbours(std::span(store.Mutable(level[c].page), kPageSize),
                                         c > a ? level[c - 1].page : 0,
                                         c < b ? level[c + 1].page : 0);
        }
      }
    }
  }
  for (size_t i = spare_used; i < spare.size(); ++i) {
    map.Remove(spare[i]);
    store.Free(spare[i]);
  }
  map.Add(root_);
  dirty_ = false;
}

}  // namespace jet::write
