// One index's B-tree, kept as a list of leaves and written to pages on demand. The pages and
// their entries are laid out by jet/format/index_page.h; this writer stores every entry whole
// (no shared prefix).
//
// The root page never moves: a single leaf lives on it; once there are more, it becomes
// the top node. Leaves hold entries up to the page's capacity; appending past the end
// starts a new leaf (keeps pages full for ascending keys), any other overflow splits the leaf
// in half. Node levels are rebuilt from the leaves whenever the index is written.
//
// A leaf that is full and done with is let go: the leaf that ascending keys filled, once the
// next one has started, and every leaf of a tree read from the file. Its page is written and
// only its last entry stays in memory, so an index costs memory for the leaves being filled,
// not for every key. A later key that falls into such a leaf reads it back.
#ifndef QUORVEL_JET_WRITE_INDEX_TREE_H_
#define QUORVEL_JET_WRITE_INDEX_TREE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/write/page_store.h"
#include "jet/write/usage_map.h"

namespace jet::write {

using format::kIndexEntryCapacity;
// Longest key we store, so that every page split leaves at least one entry on each side and
// a node entry always fits.
inline constexpr size_t kMaxIndexKeyLength = 1000;

class IndexTree {
 public:
  IndexTree(uint32_t root_page, uint32_t tdef_page);

  // The tree as it is stored in `store` (written earlier by Write). Throws jet::Error when
  // the pages do not form a tree.
  static std::unique_ptr<IndexTree> Load(const PageStore& store, uint32_t root_page,
                                         uint32_t tdef_page);

  // Whether an entry with exactly this key is present; leaves let go are read from `store`.
  bool ContainsKey(const PageStore& store, std::string_view key) const;
  // Inserts key + row location. The entry must not be present yet. A leaf filled by ascending
  // keys is written to a page of `store` (added to `map`) and let go.
  void Insert(const std::string& key, RowPointer row, PageStore& store, UsageMap& map);
  // Leaves whose entries are in memory (for tests).
  size_t leaves_in_memory() const;
  size_t size() const { return size_; }
  bool dirty() const { return dirty_; }

  // Writes the changed pages. New pages come from `store` and are added to `map`; node pages
  // no longer needed are freed and removed from it.
  void Write(PageStore& store, UsageMap& map);

 private:
  struct Leaf {
    std::vector<std::string> entries;  // empty while let go
    size_t bytes = 0;
    uint32_t page = 0;
    uint32_t written_prev = 0;
    uint32_t written_next = 0;
    bool dirty = true;
    bool let_go = false;  // the entries are only on the page; `last` holds the last one
    std::string last;
    const std::string& LastEntry() const { return let_go ? last : entries.back(); }
    bool empty() const { return !let_go && entries.empty(); }
  };
  void LoadPage(const PageStore& store, uint32_t page, bool is_root, int depth);
  size_t LeafFor(const std::string& entry) const;
  // Splits an overfull leaf; true when ascending keys filled it and the next leaf started.
  bool SplitIfNeeded(size_t leaf_index, bool appended_at_end);
  void WriteLeaf(PageStore& store, Leaf& leaf, uint32_t prev, uint32_t next);
  // The entries of a leaf let go, as its page holds them.
  static std::vector<std::string> EntriesOnPage(const PageStore& store, const Leaf& leaf);
  // Brings a leaf let go back into memory.
  static void TakeBack(const PageStore& store, Leaf& leaf);
  // Writes the full leaf `leaf_index` (the one before it already has its page) and lets it go.
  void LetGo(size_t leaf_index, PageStore& store, UsageMap& map);

  uint32_t root_;
  uint32_t tdef_;
  std::vector<std::unique_ptr<Leaf>> leaves_;
  std::vector<uint32_t> node_pages_;  // node pages other than the root, from the last write
  size_t size_ = 0;
  bool dirty_ = true;
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_INDEX_TREE_H_
