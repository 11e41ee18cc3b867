// One index's B-tree, kept in memory as a list of leaves and written to pages on demand. The
// pages and their entries are laid out by jet/format/index_page.h; this writer stores every
// entry whole (no shared prefix).
//
// The root page never moves: a single leaf lives on it; once there are more, it becomes
// the top node. Leaves hold entries up to the page's capacity; appending past the end
// starts a new leaf (keeps pages full for ascending keys), any other overflow splits the leaf
// in half. Node levels are rebuilt from the leaves whenever the index is written.
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

  // Whether an entry with exactly this key is present.
  bool ContainsKey(std::string_view key) const;
  // Inserts key + row location. The entry must not be present yet.
  void Insert(const std::string& key, RowPointer row);
  size_t size() const { return size_; }
  bool dirty() const { return dirty_; }

  // Writes the changed pages. New pages come from `store` and are added to `map`; node pages
  // no longer needed are freed and removed from it.
  void Write(PageStore& store, UsageMap& map);

 private:
  struct Leaf {
    std::vector<std::string> entries;
    size_t bytes = 0;
    uint32_t page = 0;
    uint32_t written_prev = 0;
    uint32_t written_next = 0;
    bool dirty = true;
  };
  void LoadPage(const PageStore& store, uint32_t page, bool is_root, int depth);
  size_t LeafFor(const std::string& entry) const;
  void SplitIfNeeded(size_t leaf_index, bool appended_at_end);
  void WriteLeaf(PageStore& store, Leaf& leaf, uint32_t prev, uint32_t next);

  uint32_t root_;
  uint32_t tdef_;
  std::vector<std::unique_ptr<Leaf>> leaves_;
  std::vector<uint32_t> node_pages_;  // node pages other than the root, from the last write
  size_t size_ = 0;
  bool dirty_ = true;
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_INDEX_TREE_H_
