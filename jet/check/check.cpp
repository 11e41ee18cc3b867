#include "jet/check/check.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "base/utf.h"
#include "jet/format/coding.h"
#include "jet/format/constants.h"
#include "jet/format/page_source.h"
#include "jet/jet.h"
#include "jet/write/index_key.h"

namespace jet::check {
namespace {

using format::GetDouble;
using format::GetU16;
using format::GetU24Be;
using format::GetU32;
using format::GetU32Be;
using format::GetU64;
using format::kPageSize;
using format::PageType;
using format::PageTypeByte;
using format::RowPointer;
using write::AppendKeyPiece;
using write::IsIndexableType;

constexpr size_t kRowCountAt = format::kDataPageRowCountOffset;
constexpr size_t kSlotsAt = format::kDataPageSlotsOffset;
constexpr uint8_t kDataPage = PageTypeByte(PageType::kData);
constexpr uint8_t kIndexNode = PageTypeByte(PageType::kIndexNode);
constexpr uint8_t kIndexLeaf = PageTypeByte(PageType::kIndexLeaf);

// A structural fault that stops the check of one part (a table, an index) at once.
struct Bad : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

struct Column {
  std::string name;
  uint8_t type = 0;
  uint16_t number = 0;
  uint16_t var_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  bool fixed() const { return flags & format::kColumnFixed; }
};

struct RealIndex {
  std::vector<std::pair<uint16_t, bool>> columns;
  uint32_t map = 0;
  uint32_t root = 0;
  uint8_t flags = 0;
  uint32_t distinct = 0;
  std::string name;
};

struct LongValueColumn {
  uint16_t column;
  uint32_t owned;
  uint32_t free;
};

struct Table {
  std::string name;
  uint32_t id = 0;
  uint32_t rows = 0;
  uint32_t autonumber = 0;
  uint16_t max_columns = 0;
  uint16_t var_count = 0;
  std::vector<Column> columns;  // by column number
  std::vector<RealIndex> indexes;
  uint32_t owned = 0;
  uint32_t free = 0;
  std::vector<LongValueColumn> long_values;
  std::vector<int> by_number;  // column number -> index into columns, -1 for none
  const Column& ByNumber(uint16_t n) const { return columns[static_cast<size_t>(by_number[n])]; }
};

// Every row is handed to a visitor as it is decoded and then dropped, so that the check of a
// table costs the same memory whatever its number of rows.
using RowVisitor = std::function<void(RowPointer, const std::vector<Value>&)>;
// Leaf entries of an index (key + row pointer), in the order of the tree.
using EntryVisitor = std::function<void(const std::string&)>;

// Index entries are compared with the rows through multiset digests: every entry adds two
// independent 64-bit hashes of its bytes to the bucket the top bits of its second hash pick.
// Two multisets of entries that agree in every bucket (count and both sums) are taken as
// equal. The first comparison uses one bucket; when it differs, finer digests find the
// buckets that differ, and only their entries are collected and compared exactly.
// The seeds are fixed: the digests guard against faults, not against a file made to collide
// on purpose, and fixed seeds give every run the same report.
constexpr uint64_t kHashSeeds[2] = {0x9E3779B97F4A7C15u, 0xD1B54A32D192ED03u};

uint64_t Mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0x7FB5D329728EA185u;
  x ^= x >> 27;
  x *= 0x81DADEF4BC2DD44Du;
  x ^= x >> 33;
  return x;
}

uint64_t HashBytes(std::string_view bytes, uint64_t seed) {
  uint64_t h = Mix(seed ^ (bytes.size() * 0xFF51AFD7ED558CCDu));
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    h = Mix(h ^ word) + seed;
  }
  uint64_t tail = 0;  // the length is in the start value, so zero padding is unambiguous
  std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  return Mix(h ^ tail) ^ seed;
}

class Digest {
 public:
  // 2^bits buckets of 24 bytes each.
  explicit Digest(int bits = 0) : bits_(bits), buckets_(size_t{1} << bits) {}

  static size_t BucketOf(uint64_t second_hash, int bits) {
    return bits == 0 ? 0 : static_cast<size_t>(second_hash >> (64 - bits));
  }
  static size_t BucketOf(std::string_view entry, int bits) {
    return BucketOf(HashBytes(entry, kHashSeeds[1]), bits);
  }
  void Add(std::string_view entry) {
    const uint64_t a = HashBytes(entry, kHashSeeds[0]);
    const uint64_t b = HashBytes(entry, kHashSeeds[1]);
    Bucket& bucket = buckets_[BucketOf(b, bits_)];
    ++bucket.count;
    bucket.sum_a += a;
    bucket.sum_b += b;
  }
  size_t buckets() const { return buckets_.size(); }
  uint64_t count(size_t bucket) const { return buckets_[bucket].count; }
  bool Same(const Digest& other, size_t bucket) const {
    return buckets_[bucket] == other.buckets_[bucket];
  }

 private:
  struct Bucket {
    uint64_t count = 0;
    uint64_t sum_a = 0;
    uint64_t sum_b = 0;
    bool operator==(const Bucket&) const = default;
  };
  int bits_;
  std::vector<Bucket> buckets_;
};

// The digests that find where the rows and an index differ: 65,536 buckets (1.5 MB a side),
// so that a few differing entries among millions select a few thousand entries to compare.
constexpr int kFineBucketBits = 16;

// What the rows say one index must hold, gathered while the rows are read.
struct ExpectedEntries {
  bool keyed = true;    // every column of the index has a type whose key can be re-encoded
  bool failed = false;  // a row's key could not be encoded; `failure` says which
  std::string failure;
  Digest digest;
};

// The most entries collected on either side when the digests of an index differ (unless a
// test lowered it): beyond it the differences are counted from the buckets' counts only.
constexpr size_t kCompareLimit = size_t{1} << 18;
std::atomic<size_t> compare_limit_for_testing{0};
size_t CompareLimit() {
  const size_t limit = compare_limit_for_testing.load();
  return limit == 0 ? kCompareLimit : limit;
}

// The largest file Jet 4.0 makes. A larger one is no Jet 4.0 database; refusing it also keeps
// the per-page bookkeeping below a few megabytes.
constexpr uint64_t kLargestFile = uint64_t{1} << 31;

// One page read from the file, kept alive for as long as someone looks at it. It stands in
// for a pointer to the page's first byte.
class PageRef {
 public:
  using Bytes = std::array<uint8_t, kPageSize>;
  PageRef() = default;
  explicit PageRef(std::shared_ptr<const Bytes> bytes) : bytes_(std::move(bytes)) {}
  operator const uint8_t*() const { return bytes_->data(); }

 private:
  std::shared_ptr<const Bytes> bytes_;
};

class Checker {
 public:
  Checker(std::unique_ptr<format::PageSource> source, CheckResult& result)
      : source_(std::move(source)), size_(source_->size()), result_(result) {}

  void Run();

 private:
  // Pages are read when they are looked at, and a bounded number of them is kept, so that
  // the memory used does not grow with the file.
  static constexpr size_t kCachedPages = 1024;

  uint32_t pages() const { return static_cast<uint32_t>(size_ / kPageSize); }
  PageRef Page(uint32_t n) const {
    if (n >= pages()) throw Bad(Format("ページ %u はファイルの外です", n));
    if (const auto it = cache_.find(n); it != cache_.end()) return PageRef(it->second);
    if (cache_.size() >= kCachedPages) cache_.clear();  // pages still in use stay alive
    auto bytes = std::make_shared<PageRef::Bytes>();
    if (source_->ReadAt(uint64_t{n} * kPageSize, *bytes) != bytes->size()) {
      throw Bad(Format("ページ %u を読めません (ファイルが途中で短くなりました)", n));
    }
    cache_.emplace(n, bytes);
    return PageRef(std::move(bytes));
  }
  // Index of a role text, 0 for none: the owner of every page is kept as this small number.
  uint32_t RoleId(const std::string& role);
  void Note(std::string text) {
    if (!quiet_ && result_.notes.size() < 200) result_.notes.push_back(std::move(text));
  }
  void Problem(std::string text) {
    if (!quiet_ && result_.problems.size() < 200) result_.problems.push_back(std::move(text));
  }
  void Claim(uint32_t page, const std::string& role, bool shared = false);

  // Bytes of one row of a data page (start, length); throws Bad when out of range.
  std::pair<uint16_t, uint16_t> RowExtent(const uint8_t* page, uint32_t page_number, int row) const;
  std::vector<uint32_t> ReadMap(uint32_t rp, const std::string& role);
  Table ReadTable(uint32_t page, const std::string& name);
  void CheckDataPageBookkeeping(uint32_t page_number, const uint8_t* page);
  // Reads the table's maps and every live row, handing each row's values to `each`.
  void WalkRows(const Table& t, const RowVisitor& each);
  // Reads the rows of `t` once, checking the row count and the AutoNumber values and
  // gathering what each index must hold, then checks every index. `each` also sees the rows.
  void CheckTable(const Table& t, const RowVisitor& each);
  // The entry the row at `at` must have in `index` (key + row pointer) into `entry`; false
  // when the index leaves the row out. Throws jet::Error when the key cannot be encoded.
  static bool ExpectedEntry(const Table& t, const RealIndex& index, RowPointer at,
                            const std::vector<Value>& values, std::string& entry);
  std::vector<Value> DecodeRow(const Table& t, const uint8_t* row, size_t length,
                               const std::map<uint16_t, std::set<uint32_t>>& lv_pages);
  void CheckLongValue(const Table& t, const Column& c, const uint8_t* v, size_t length,
                      const std::set<uint32_t>& pages);
  void CheckIndex(const Table& t, const RealIndex& index, const ExpectedEntries& expected,
                  uint64_t rows);
  std::string WalkIndex(const Table& t, const RealIndex& index, uint32_t page, int depth,
                        std::vector<bool>& visited, std::vector<uint32_t>& leaves,
                        const EntryVisitor& each, int& kind);
  // Called when the digests of the rows' and the index's entries differ: reads the rows and
  // the leaves again without reporting, first for finer digests, then to collect the entries
  // of the differing buckets, and reports the entries missing from the index and those no row
  // accounts for.
  void CompareEntries(const Table& t, const RealIndex& index, const std::vector<uint32_t>& leaves);
  std::vector<std::string> ReadIndexEntries(const uint8_t* page, uint32_t number) const;

  std::unique_ptr<format::PageSource> source_;
  uint64_t size_ = 0;
  mutable std::unordered_map<uint32_t, std::shared_ptr<const PageRef::Bytes>> cache_;
  CheckResult& result_;
  std::vector<uint32_t> owner_;     // by page: index into roles_, 0 when unclaimed
  std::vector<std::string> roles_;  // roles_[0] is the empty text
  std::map<std::string, uint32_t> role_ids_;
  std::vector<bool> shared_;
  // While set, problems, notes and page claims are dropped: parts already checked are read
  // again only to collect index entries.
  bool quiet_ = false;
};

uint32_t Checker::RoleId(const std::string& role) {
  if (roles_.empty()) roles_.emplace_back();
  const auto [it, added] = role_ids_.emplace(role, static_cast<uint32_t>(roles_.size()));
  if (added) roles_.push_back(role);
  return it->second;
}

void Checker::Claim(uint32_t page, const std::string& role, bool shared) {
  if (quiet_) return;
  if (page >= pages()) {
    Problem(Format("%s がファイルの外のページ %u を指しています", role.c_str(), page));
    return;
  }
  const uint32_t id = RoleId(role);
  if (owner_[page] == 0) {
    owner_[page] = id;
    shared_[page] = shared;
  } else if (!(shared && shared_[page] && owner_[page] == id)) {
    Problem(Format("ページ %u が %s と %s の両方に使われています", page,
                   roles_[owner_[page]].c_str(), role.c_str()));
  }
}

std::pair<uint16_t, uint16_t> Checker::RowExtent(const uint8_t* page, uint32_t number,
                                                 int row) const {
  int count = GetU16(page + kRowCountAt);
  if (row >= count) throw Bad(Format("ページ %u に行 %d がありません", number, row));
  uint16_t start = GetU16(page + kSlotsAt + 2 * row) & format::kRowOffsetMask;
  uint16_t end =
      row == 0 ? kPageSize : (GetU16(page + kSlotsAt + 2 * (row - 1)) & format::kRowOffsetMask);
  if (start < kSlotsAt + 2 * static_cast<size_t>(count) || start > end || end > kPageSize) {
    throw Bad(Format("ページ %u の行 %d の位置が不正です (%u〜%u)", number, row, start, end));
  }
  return {start, static_cast<uint16_t>(end - start)};
}

std::vector<uint32_t> Checker::ReadMap(uint32_t rp, const std::string& role) {
  if (rp == 0) return {};  // no map
  RowPointer at = RowPointer::FromU32(rp);
  const PageRef page = Page(at.page);
  if (page[0] != kDataPage)
    throw Bad(
        Format("%s の使用マップのページ %u がデータページではありません", role.c_str(), at.page));
  Claim(at.page, "使用マップページ", true);
  auto [start, length] = RowExtent(page, at.page, at.row);
  const uint8_t* row = page + start;
  std::vector<uint32_t> out;
  if (length < 5) throw Bad(role + " の使用マップが短すぎます");
  if (row[0] == format::kInlineMap) {
    uint32_t first = GetU32(row + 1);
    for (uint32_t bit = 0; bit < (length - 5u) * 8u; ++bit) {
      if (row[5 + bit / 8] & (1u << (bit % 8))) out.push_back(first + bit);
    }
  } else if (row[0] == format::kReferenceMap) {
    for (uint32_t j = 0; 1 + 4 * j + 4 <= length; ++j) {
      uint32_t map_page = GetU32(row + 1 + 4 * j);
      if (map_page == 0) continue;
      const PageRef bitmap = Page(map_page);
      if (bitmap[0] != PageTypeByte(PageType::kUsageMap))
        throw Bad(
            Format("%s の使用マップのページ %u が種類 5 ではありません", role.c_str(), map_page));
      Claim(map_page, role + " の使用マップ");
      for (uint32_t bit = 0; bit < format::kPagesPerMapPage; ++bit) {
        if (bitmap[format::kMapPageBitmapOffset + bit / 8] & (1u << (bit % 8)))
          out.push_back(j * format::kPagesPerMapPage + bit);
      }
    }
  } else {
    throw Bad(Format("%s の使用マップの種類 %u は不明です", role.c_str(), row[0]));
  }
  return out;
}

Table Checker::ReadTable(uint32_t first, const std::string& name) {
  Table t;
  t.name = name;
  t.id = first;
  std::vector<uint8_t> def;
  std::set<uint32_t> seen;
  for (uint32_t p = first; p != 0;) {
    if (!seen.insert(p).second) throw Bad("テーブル " + name + " の定義ページが循環しています");
    const PageRef page = Page(p);
    if (page[0] != PageTypeByte(PageType::kTableDefinition))
      throw Bad(Format("テーブル %s の定義ページ %u の種類が不正です", name.c_str(), p));
    Claim(p, "テーブル " + name + " の定義");
    def.insert(def.end(), page + (p == first ? 0 : 8), page + kPageSize);
    p = GetU32(page + 4);
  }
  auto need = [&](size_t end) {
    if (end > def.size()) throw Bad("テーブル " + name + " の定義が途中で切れています");
  };
  need(63);
  uint32_t length = GetU32(&def[8]);
  t.rows = GetU32(&def[16]);
  t.autonumber = GetU32(&def[20]);
  t.max_columns = GetU16(&def[41]);
  t.var_count = GetU16(&def[43]);
  uint16_t column_count = GetU16(&def[45]);
  uint32_t logical_count = GetU32(&def[47]);
  uint32_t real_count = GetU32(&def[51]);
  if (real_count > 64 || logical_count > 64)
    throw Bad("テーブル " + name + " の索引の数が不正です");
  t.owned = GetU32(&def[55]);
  t.free = GetU32(&def[59]);
  size_t at = 63;
  need(at + 12 * real_count);
  t.indexes.resize(real_count);
  for (uint32_t i = 0; i < real_count; ++i) t.indexes[i].distinct = GetU32(&def[at + 12 * i + 4]);
  at += 12 * real_count;
  need(at + 25 * column_count);
  for (uint16_t i = 0; i < column_count; ++i) {
    const uint8_t* d = &def[at + 25 * i];
    Column c;
    c.type = d[0];
    c.number = GetU16(d + 5);
    c.var_index = GetU16(d + 7);
    c.flags = d[15];
    c.fixed_offset = GetU16(d + 21);
    c.length = GetU16(d + 23);
    t.columns.push_back(c);
  }
  at += 25 * column_count;
  for (auto& c : t.columns) {
    need(at + 2);
    uint16_t n = GetU16(&def[at]);
    need(at + 2 + n);
    std::u16string s;
    for (uint16_t k = 0; k + 1 < n; k += 2)
      s.push_back(static_cast<char16_t>(GetU16(&def[at + 2 + k])));
    c.name = base::ToUtf8(s);
    at += 2 + n;
  }
  std::sort(t.columns.begin(), t.columns.end(),
            [](const Column& a, const Column& b) { return a.number < b.number; });
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (i > 0 && t.columns[i].number == t.columns[i - 1].number) {
      throw Bad("テーブル " + name + " の列番号が重複しています");
    }
  }
  // Column number 0xFFFF must not wrap the size of the lookup table to zero.
  const size_t top = t.columns.empty() ? 0 : static_cast<size_t>(t.columns.back().number) + 1;
  t.by_number.assign(top, -1);
  for (size_t i = 0; i < t.columns.size(); ++i)
    t.by_number[t.columns[i].number] = static_cast<int>(i);
  need(at + 52 * real_count);
  for (uint32_t i = 0; i < real_count; ++i) {
    const uint8_t* r = &def[at + 52 * i];
    for (int s = 0; s < 10; ++s) {
      uint16_t col = GetU16(r + 4 + 3 * s);
      if (col == format::kNoColumn) continue;
      if (col >= t.by_number.size() || t.by_number[col] < 0) {
        throw Bad("テーブル " + name + " の索引が存在しない列を指しています");
      }
      t.indexes[i].columns.emplace_back(col, r[6 + 3 * s] != 0);
    }
    t.indexes[i].map = GetU32(r + 34);
    t.indexes[i].root = GetU32(r + 38);
    t.indexes[i].flags = r[46];
    t.indexes[i].name = Format("%s の索引 %u", name.c_str(), i);
  }
  at += 52 * real_count;
  need(at + 28 * logical_count);
  std::vector<uint32_t> logical_real;
  for (uint32_t i = 0; i < logical_count; ++i)
    logical_real.push_back(GetU32(&def[at + 28 * i + 8]));
  at += 28 * logical_count;
  for (uint32_t i = 0; i < logical_count; ++i) {
    need(at + 2);
    uint16_t n = GetU16(&def[at]);
    need(at + 2 + n);
    std::u16string s;
    for (uint16_t k = 0; k + 1 < n; k += 2)
      s.push_back(static_cast<char16_t>(GetU16(&def[at + 2 + k])));
    if (logical_real[i] < real_count) {
      t.indexes[logical_real[i]].name = name + " の索引 " + base::ToUtf8(s);
    } else {
      Problem("テーブル " + name + " の索引 " + base::ToUtf8(s) +
              " が存在しない実索引を指しています");
    }
    at += 2 + n;
  }
  while (true) {
    need(at + 2);
    uint16_t col = GetU16(&def[at]);
    if (col == format::kNoColumn) {
      at += 2;
      break;
    }
    need(at + 10);
    t.long_values.push_back({col, GetU32(&def[at + 2]), GetU32(&def[at + 6])});
    at += 10;
  }
  if (at != length) {
    Problem(Format("テーブル %s の定義の長さ %u が内容 (%zu バイト) と合いません", name.c_str(),
                   length, at));
  }
  if (seen.size() == 1) {
    uint16_t free = GetU16(Page(first) + 2);
    if (length + 8 <= kPageSize && free != kPageSize - length - 8) {
      Problem(Format("テーブル %s の定義ページの空き %u が不正です (正: %u)", name.c_str(), free,
                     kPageSize - length - 8));
    }
  }
  return t;
}

void Checker::CheckDataPageBookkeeping(uint32_t number, const uint8_t* page) {
  int count = GetU16(page + kRowCountAt);
  if (kSlotsAt + 2 * static_cast<size_t>(count) > kPageSize)
    throw Bad(Format("ページ %u の行数 %d が不正です", number, count));
  size_t used = 0;
  uint16_t previous = kPageSize;
  for (int i = 0; i < count; ++i) {
    uint16_t start = GetU16(page + kSlotsAt + 2 * i) & format::kRowOffsetMask;
    if (start > previous || start < kSlotsAt + 2 * static_cast<size_t>(count)) {
      Problem(Format("ページ %u の行 %d が他の行と重なっているか、範囲外です", number, i));
      return;
    }
    used += previous - start;
    previous = start;
  }
  size_t expect = kPageSize - kSlotsAt - 2 * static_cast<size_t>(count) - used;
  if (GetU16(page + 2) != expect) {
    Problem(Format("ページ %u の空き容量 %u が実際 (%zu) と合いません", number, GetU16(page + 2),
                   expect));
  }
}

std::u16string DecodeText(const uint8_t* p, size_t n) {
  std::u16string s;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    for (size_t i = 2; i < n;) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        s.push_back(p[i++]);
      } else {
        if (i + 1 >= n) break;
        s.push_back(static_cast<char16_t>(GetU16(p + i)));
        i += 2;
      }
    }
  } else {
    for (size_t i = 0; i + 1 < n; i += 2) s.push_back(static_cast<char16_t>(GetU16(p + i)));
  }
  return s;
}

void Checker::CheckLongValue(const Table& t, const Column& c, const uint8_t* v, size_t n,
                             const std::set<uint32_t>& pages) {
  if (n < 12) throw Bad("テーブル " + t.name + " の列 " + c.name + " の長い値の見出しが短すぎます");
  uint32_t word = GetU32(v);
  uint32_t length = word & 0x3FFFFFFF;
  uint8_t form = static_cast<uint8_t>(word >> 24) & 0xC0;
  struct LvalRow {
    PageRef page;
    uint16_t start;
    uint16_t length;
  };
  auto lval_row = [&](uint32_t rp) {
    RowPointer at = RowPointer::FromU32(rp);
    const PageRef page = Page(at.page);
    if (page[0] != kDataPage ||
        GetU32(page + format::kDataPageOwnerOffset) != format::kLongValueOwner ||
        !pages.count(at.page)) {
      throw Bad(
          Format("テーブル %s の列 %s の長い値がページ %u (列の LVAL ページでない) を指しています",
                 t.name.c_str(), c.name.c_str(), at.page));
    }
    const auto [start, len] = RowExtent(page, at.page, at.row);
    return LvalRow{page, start, len};
  };
  if (form == format::kLongValueInline) {
    if (length != n - 12) {
      throw Bad("テーブル " + t.name + " の列 " + c.name + " の行内の長い値の長さが合いません");
    }
  } else if (form == format::kLongValueSingle) {
    if (lval_row(GetU32(v + 4)).length != length)
      throw Bad("テーブル " + t.name + " の列 " + c.name + " の LVAL 行の長さが合いません");
  } else if (form == 0x00) {
    uint32_t rp = GetU32(v + 4);
    size_t total = 0;
    int pieces = 0;
    while (rp != 0) {
      if (++pieces > 300000) throw Bad("LVAL の連鎖が終わりません");
      const LvalRow piece = lval_row(rp);
      if (piece.length < 4) throw Bad("LVAL の連鎖の行が短すぎます");
      total += piece.length - 4u;
      rp = GetU32(piece.page + piece.start);
    }
    if (total != length) {
      throw Bad(Format("テーブル %s の列 %s の LVAL 連鎖の長さ %zu が見出し (%u) と合いません",
                       t.name.c_str(), c.name.c_str(), total, length));
    }
  } else {
    throw Bad("テーブル " + t.name + " の列 " + c.name + " の長い値の形式が不明です");
  }
}

std::vector<Value> Checker::DecodeRow(const Table& t, const uint8_t* row, size_t n,
                                      const std::map<uint16_t, std::set<uint32_t>>& lv_pages) {
  if (n < 3) throw Bad("行が短すぎます");
  uint16_t columns_in_row = GetU16(row);
  size_t mask_length = (columns_in_row + 7u) / 8u;
  if (2 + mask_length > n) throw Bad("行の列数が不正です");
  const uint8_t* mask = row + n - mask_length;
  // Columns added after the row was written are not in it: NULL (No for Yes/No).
  auto present = [&](uint16_t col) {
    return col < columns_in_row && ((mask[col / 8] >> (col % 8)) & 1);
  };
  std::vector<uint16_t> starts;
  uint16_t eod = 0;
  uint16_t var_in_row = 0;
  if (t.var_count > 0) {
    size_t at = n - mask_length - 2;
    var_in_row = GetU16(row + at);
    if (at < 2u + 2u * var_in_row) throw Bad("行の可変長列の数が不正です");
    for (uint16_t i = 0; i < var_in_row; ++i) starts.push_back(GetU16(row + at - 2 * (i + 1)));
    eod = GetU16(row + at - 2 * (var_in_row + 1));
    size_t table_start = at - 2 * (static_cast<size_t>(var_in_row) + 1);
    if (eod > table_start) throw Bad("行のデータの終わりが不正です");
    uint16_t previous = 0;
    for (uint16_t s : starts) {
      if (s < previous || s > eod) throw Bad("行の可変長列の位置が不正です");
      previous = s;
    }
  }
  std::vector<Value> values(t.by_number.size());
  for (const Column& c : t.columns) {
    bool bit = present(c.number);
    if (c.type == 0x01) {
      values[c.number] = Value::Boolean(bit);
      continue;
    }
    if (!bit) continue;
    const uint8_t* p = nullptr;
    size_t len = 0;
    if (c.fixed()) {
      size_t at = 2 + c.fixed_offset;
      if (at + c.length > n - mask_length) throw Bad("行の固定長列が行の外にあります");
      p = row + at;
      len = c.length;
    } else {
      if (c.var_index >= var_in_row) continue;  // column added after the row was written
      uint16_t start = starts[c.var_index];
      uint16_t end = c.var_index + 1 < var_in_row ? starts[c.var_index + 1] : eod;
      if (end < start) throw Bad("行の可変長列の長さが負です");
      p = row + start;
      len = end - start;
    }
    auto need = [&](size_t size) {
      if (len < size) throw Bad("行の列 " + c.name + " の値が短すぎます");
    };
    switch (c.type) {
      case 0x02:
        need(1);
        values[c.number] = Value::Integer(p[0]);
        break;
      case 0x03:
        need(2);
        values[c.number] = Value::Integer(static_cast<int16_t>(GetU16(p)));
        break;
      case 0x04:
        need(4);
        values[c.number] = Value::Integer(static_cast<int32_t>(GetU32(p)));
        break;
      case 0x05:
        need(8);
        values[c.number] = Value::FromCurrency({static_cast<int64_t>(GetU64(p))});
        break;
      case 0x06: {
        need(4);
        uint32_t bits = GetU32(p);
        float f;
        std::memcpy(&f, &bits, 4);
        values[c.number] = Value::Double(f);
        break;
      }
      case 0x07:
        need(8);
        values[c.number] = Value::Double(GetDouble(p));
        break;
      case 0x08:
        need(8);
        values[c.number] = Value::FromDateTime({GetDouble(p)});
        break;
      case 0x0A:
        values[c.number] = Value::Text(DecodeText(p, len));
        break;
      case 0x0B:
      case 0x0C: {
        auto it = lv_pages.find(c.number);
        static const std::set<uint32_t> kNone;
        CheckLongValue(t, c, p, len, it == lv_pages.end() ? kNone : it->second);
        break;
      }
      default:
        break;
    }
  }
  return values;
}

void Checker::WalkRows(const Table& t, const RowVisitor& each) {
  std::vector<uint32_t> owned = ReadMap(t.owned, "テーブル " + t.name);
  std::vector<uint32_t> free = ReadMap(t.free, "テーブル " + t.name + " の空き");
  std::vector<bool> owned_set(pages(), false);
  for (uint32_t p : owned) {
    if (p < pages()) owned_set[p] = true;
  }
  for (uint32_t p : free) {
    if (p >= pages() || !owned_set[p])
      Problem(Format("テーブル %s の空きマップのページ %u がテーブルのものではありません",
                     t.name.c_str(), p));
  }
  std::map<uint16_t, std::set<uint32_t>> lv_pages;
  for (const auto& lv : t.long_values) {
    if (lv.column >= t.by_number.size() || t.by_number[lv.column] < 0) {
      throw Bad("テーブル " + t.name + " の長い値の列番号が不正です");
    }
    std::string role = "テーブル " + t.name + " の列 " + t.ByNumber(lv.column).name + " の LVAL";
    auto pages = ReadMap(lv.owned, role);
    auto free_pages = ReadMap(lv.free, role + " の空き");
    std::set<uint32_t> set(pages.begin(), pages.end());
    for (uint32_t p : free_pages) {
      if (!set.count(p))
        Problem(Format("%s の空きマップのページ %u が列のものではありません", role.c_str(), p));
    }
    for (uint32_t p : pages) {
      const PageRef page = Page(p);
      Claim(p, role);
      if (page[0] != kDataPage ||
          GetU32(page + format::kDataPageOwnerOffset) != format::kLongValueOwner) {
        Problem(Format("%s のページ %u が LVAL ページではありません", role.c_str(), p));
        continue;
      }
      CheckDataPageBookkeeping(p, page);
    }
    lv_pages[lv.column] = std::move(set);
  }
  for (uint32_t p : owned) {
    const PageRef page = Page(p);
    Claim(p, "テーブル " + t.name + " のデータ");
    if (page[0] != kDataPage || GetU32(page + 4) != t.id) {
      Problem(Format("テーブル %s のデータページ %u の種類か持ち主が不正です", t.name.c_str(), p));
      continue;
    }
    CheckDataPageBookkeeping(p, page);
    int count = GetU16(page + kRowCountAt);
    std::vector<Value> values;
    for (int i = 0; i < count && i < 256; ++i) {
      uint16_t raw = GetU16(page + kSlotsAt + 2 * i);
      if (raw & format::kRowDeleted) continue;  // deleted (or the moved body of an overflow row)
      try {
        const uint8_t* body;
        size_t length;
        PageRef target;  // holds the page of a moved row while the row is decoded
        if (raw & format::kRowOverflow) {
          auto [start, len] = RowExtent(page, p, i);
          if (len < 4) throw Bad("行の移動先ポインタが短すぎます");
          RowPointer to = RowPointer::FromU32(GetU32(page + start));
          target = Page(to.page);
          auto [s2, l2] = RowExtent(target, to.page, to.row);
          body = target + s2;
          length = l2;
        } else {
          auto [start, len] = RowExtent(page, p, i);
          body = page + start;
          length = len;
        }
        values = DecodeRow(t, body, length, lv_pages);
      } catch (const Bad& e) {
        Problem(Format("テーブル %s のページ %u 行 %d: %s", t.name.c_str(), p, i, e.what()));
        continue;
      }
      each(RowPointer{p, static_cast<uint8_t>(i)}, values);
    }
  }
}

std::vector<std::string> Checker::ReadIndexEntries(const uint8_t* page, uint32_t number) const {
  std::vector<std::string> entries;
  uint16_t prefix = GetU16(page + 24);
  size_t begin = 0;
  std::string first;
  for (size_t bit = 1; bit <= format::kIndexEntryCapacity; ++bit) {
    if (format::kIndexPageBitmapOffset + bit / 8 >= format::kIndexEntriesStart) break;
    if (!(page[format::kIndexPageBitmapOffset + bit / 8] & (1u << (bit % 8)))) continue;
    std::string e(reinterpret_cast<const char*>(page + format::kIndexEntriesStart + begin),
                  bit - begin);
    if (!entries.empty() && prefix > 0) {
      if (first.size() < prefix) throw Bad(Format("索引ページ %u の共通接頭辞が不正です", number));
      e = first.substr(0, prefix) + e;
    }
    if (entries.empty()) first = e;
    entries.push_back(std::move(e));
    begin = bit;
  }
  size_t free = format::kIndexEntryCapacity - begin;
  if (GetU16(page + 2) != free) {
    throw Bad(Format("索引ページ %u の空き容量 %u が実際 (%zu) と合いません", number,
                     GetU16(page + 2), free));
  }
  return entries;
}

// Walks the subtree at `page`; returns its last entry (key + row pointer). Leaves are appended
// in order to `leaves` and their entries handed to `each`. `kind` returns the page type.
std::string Checker::WalkIndex(const Table& t, const RealIndex& index, uint32_t page, int depth,
                               std::vector<bool>& visited, std::vector<uint32_t>& leaves,
                               const EntryVisitor& each, int& kind) {
  if (depth > 16) throw Bad(index.name + " の木が深すぎます");
  if (page < visited.size()) {
    if (visited[page]) throw Bad(Format("%s のページ %u が二度現れます", index.name.c_str(), page));
    visited[page] = true;
  }
  const PageRef p = Page(page);
  kind = p[0];
  if ((kind != kIndexNode && kind != kIndexLeaf) || GetU32(p + 4) != t.id) {
    throw Bad(Format("%s のページ %u の種類か持ち主が不正です", index.name.c_str(), page));
  }
  std::vector<std::string> list = ReadIndexEntries(p, page);
  uint32_t tail = GetU32(p + 20);
  if (kind == kIndexLeaf) {
    if (tail != 0)
      throw Bad(Format("%s の葉ページ %u に末尾ページがあります", index.name.c_str(), page));
    for (auto& e : list) {
      if (e.size() < 5)
        throw Bad(Format("%s の葉ページ %u の項目が短すぎます", index.name.c_str(), page));
    }
    leaves.push_back(page);
    for (const auto& e : list) each(e);
    return list.empty() ? std::string() : list.back();
  }
  if (list.empty()) throw Bad(Format("%s の節ページ %u が空です", index.name.c_str(), page));
  std::vector<uint32_t> children;
  std::string last;
  int child_kind = -1;
  for (auto& e : list) {
    if (e.size() < 9)
      throw Bad(Format("%s の節ページ %u の項目が短すぎます", index.name.c_str(), page));
    uint32_t child = GetU32Be(reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4);
    std::string expect = e.substr(0, e.size() - 4);
    int k = 0;
    std::string child_last = WalkIndex(t, index, child, depth + 1, visited, leaves, each, k);
    if (child_kind >= 0 && k != child_kind)
      throw Bad(Format("%s の節ページ %u の子の種類がそろっていません", index.name.c_str(), page));
    child_kind = k;
    if (child_last != expect) {
      Problem(Format("%s の節ページ %u の項目が子ページ %u の最後の項目と一致しません",
                     index.name.c_str(), page, child));
    }
    children.push_back(child);
    last = child_last;
  }
  if (tail != 0) {
    int k = 0;
    last = WalkIndex(t, index, tail, depth + 1, visited, leaves, each, k);
    if (k != child_kind)
      throw Bad(Format("%s の節ページ %u の末尾ページの種類が不正です", index.name.c_str(), page));
    children.push_back(tail);
  }
  if (child_kind == kIndexNode) {
    for (size_t i = 0; i < children.size(); ++i) {
      const PageRef c = Page(children[i]);
      uint32_t prev = i > 0 ? children[i - 1] : 0;
      uint32_t next = i + 1 < children.size() ? children[i + 1] : 0;
      if (GetU32(c + 12) != prev || GetU32(c + 16) != next) {
        Problem(
            Format("%s の節ページ %u の前後のリンクが不正です", index.name.c_str(), children[i]));
      }
    }
  }
  return last;
}

bool Checker::ExpectedEntry(const Table& t, const RealIndex& index, RowPointer at,
                            const std::vector<Value>& values, std::string& entry) {
  entry.clear();
  bool all_null = true;
  for (auto [col, asc] : index.columns) {
    const Value& v = values[col];
    if (!v.is_null() || t.ByNumber(col).type == 0x01) all_null = false;
    AppendKeyPiece(entry, static_cast<ColumnType>(t.ByNumber(col).type), v, asc);
  }
  if ((index.flags & format::kIndexIgnoreNulls) && all_null) return false;
  entry.push_back(static_cast<char>(at.page >> 16));
  entry.push_back(static_cast<char>(at.page >> 8));
  entry.push_back(static_cast<char>(at.page));
  entry.push_back(static_cast<char>(at.row));
  return true;
}

// The row an entry points at (its last four bytes).
std::pair<uint32_t, unsigned> EntryRow(std::string_view e) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(e.data()) + e.size() - 4;
  return {GetU24Be(p), p[3]};
}

// The key part of an entry: all but the row pointer.
std::string_view EntryKey(std::string_view e) { return e.substr(0, e.size() - 4); }

// The key of a row whose index columns are all NULL, if the index can have one (a Yes/No
// column is never NULL). Every non-NULL piece starts with another byte than a NULL piece, so
// a key equals this one exactly when all its values are NULL.
std::optional<std::string> NullKey(const Table& t, const RealIndex& index) {
  std::string key;
  for (auto [col, asc] : index.columns) {
    const auto type = static_cast<ColumnType>(t.ByNumber(col).type);
    if (t.ByNumber(col).type == 0x01) return std::nullopt;
    try {
      AppendKeyPiece(key, type, Value(), asc);
    } catch (const Error&) {
      return std::nullopt;
    }
  }
  return key;
}

void Checker::CheckIndex(const Table& t, const RealIndex& index, const ExpectedEntries& expected,
                         uint64_t rows) {
  std::vector<uint32_t> map = ReadMap(index.map, index.name);
  for (uint32_t p : map) Claim(p, index.name);
  std::vector<bool> visited(pages(), false);
  std::vector<uint32_t> leaves;
  // Each entry is looked at once, in the order of the tree, next to the one before it.
  const bool unique = index.flags & format::kIndexUnique;
  const std::optional<std::string> null_key =
      expected.keyed ? NullKey(t, index) : std::optional<std::string>();
  std::string previous;
  uint64_t count = 0;
  uint64_t distinct = 0;
  uint64_t disorder = 0;  // the first entry found before the one it follows, 0 for none
  std::vector<std::pair<uint32_t, unsigned>> duplicates;
  Digest actual;
  const auto each = [&](const std::string& e) {
    if (count > 0 && disorder == 0 && !(previous < e)) disorder = count;
    if (count == 0 || EntryKey(e) != EntryKey(previous)) {
      ++distinct;
    } else if (unique && expected.keyed && EntryKey(e) != null_key && duplicates.size() < 200) {
      duplicates.push_back(EntryRow(e));
    }
    if (expected.keyed && !expected.failed) actual.Add(e);
    previous = e;
    ++count;
  };
  int kind = 0;
  WalkIndex(t, index, index.root, 0, visited, leaves, each, kind);
  std::vector<bool> in_map(pages(), false);
  for (uint32_t p : map) {
    if (p < pages()) in_map[p] = true;
  }
  for (uint32_t p = 0; p < pages(); ++p) {
    if (visited[p] && !in_map[p])
      Problem(Format("%s のページ %u が索引の使用マップにありません", index.name.c_str(), p));
  }
  for (uint32_t p : map) {
    if (p >= pages() || !visited[p])
      Problem(Format("%s の使用マップのページ %u が木から届きません", index.name.c_str(), p));
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    const PageRef p = Page(leaves[i]);
    uint32_t prev = i > 0 ? leaves[i - 1] : 0;
    uint32_t next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
    if (GetU32(p + 12) != prev || GetU32(p + 16) != next) {
      Problem(Format("%s の葉ページ %u の前後のリンクが不正です", index.name.c_str(), leaves[i]));
    }
  }
  if (disorder > 0) {
    Problem(Format("%s の項目 %llu が順序どおりに並んでいません", index.name.c_str(),
                   static_cast<unsigned long long>(disorder)));
  }
  result_.index_entries += static_cast<long long>(count);

  if (!expected.keyed) {
    if (rows > 0)
      Note(index.name + ": この型の列のキーは照合できないため、行との対応は確かめていません");
    return;
  }
  for (const auto& [page, row] : duplicates) {
    Problem(Format("%s は一意ですが、ページ %u 行 %u のキーが重複しています", index.name.c_str(),
                   page, row));
  }
  if (expected.failed) {
    Note(expected.failure);
    return;
  }
  if (!expected.digest.Same(actual, 0)) CompareEntries(t, index, leaves);
  // Other writers do not lower the count when rows are deleted; a count above the real one
  // is only noted.
  if (distinct < index.distinct) {
    Note(Format("%s のキーの種類数 %u が実際 (%llu) より多くなっています", index.name.c_str(),
                index.distinct, static_cast<unsigned long long>(distinct)));
  } else if (distinct != index.distinct) {
    // Access keeps this count as a statistic that can lag behind; readers do not use it.
    Note(Format("%s のキーの種類数 %u が実際 (%llu) と合いません", index.name.c_str(),
                index.distinct, static_cast<unsigned long long>(distinct)));
  }
}

void Checker::CompareEntries(const Table& t, const RealIndex& index,
                             const std::vector<uint32_t>& leaves) {
  // Every entry the rows call for, then every entry of the leaves in their order. The parts
  // read here were checked already: nothing is reported while they are read again.
  std::string row_entry;
  const auto expected_entries = [&](const EntryVisitor& each) {
    quiet_ = true;
    struct Loud {
      bool& quiet;
      ~Loud() { quiet = false; }
    } loud{quiet_};
    WalkRows(t, [&](RowPointer at, const std::vector<Value>& values) {
      try {
        if (ExpectedEntry(t, index, at, values, row_entry)) each(row_entry);
      } catch (const Error&) {
        // Every key was encoded once already; a row that fails now is left out.
      }
    });
  };
  const auto actual_entries = [&](const EntryVisitor& each) {
    for (uint32_t leaf : leaves) {
      for (const std::string& e : ReadIndexEntries(Page(leaf), leaf)) each(e);
    }
  };
  Digest expected(kFineBucketBits);
  Digest actual(kFineBucketBits);
  expected_entries([&](const std::string& e) { expected.Add(e); });
  actual_entries([&](const std::string& e) { actual.Add(e); });

  // The differing buckets, taken in order while both sides stay within the limit (the first
  // one always). For the buckets left out only their counts say what at least differs.
  const size_t limit = CompareLimit();
  std::vector<bool> chosen(expected.buckets(), false);
  uint64_t want_total = 0;
  uint64_t have_total = 0;
  uint64_t missing_left = 0;
  uint64_t extra_left = 0;
  bool partial = false;
  for (size_t b = 0; b < expected.buckets(); ++b) {
    if (expected.Same(actual, b)) continue;
    const uint64_t want = expected.count(b);
    const uint64_t have = actual.count(b);
    if (want_total + have_total == 0 ||
        (want_total + want <= limit && have_total + have <= limit)) {
      chosen[b] = true;
      want_total += want;
      have_total += have;
    } else {
      partial = true;
      missing_left += want > have ? want - have : 0;
      extra_left += have > want ? have - want : 0;
    }
  }
  std::vector<std::string> want;
  std::vector<std::string> have;
  expected_entries([&](const std::string& e) {
    if (chosen[Digest::BucketOf(e, kFineBucketBits)]) want.push_back(e);
  });
  actual_entries([&](const std::string& e) {
    if (chosen[Digest::BucketOf(e, kFineBucketBits)]) have.push_back(e);
  });
  std::sort(want.begin(), want.end());
  std::sort(have.begin(), have.end());
  // Both are sorted: one merge finds the entries only one side has (as many times as one side
  // has an entry more often than the other). The first five of each are named.
  uint64_t missing = 0;
  uint64_t extra = 0;
  std::vector<std::pair<uint32_t, unsigned>> missing_rows;
  std::vector<std::pair<uint32_t, unsigned>> extra_rows;
  size_t i = 0;
  size_t j = 0;
  while (i < want.size() || j < have.size()) {
    if (j == have.size() || (i < want.size() && want[i] < have[j])) {
      if (missing++ < 5) missing_rows.push_back(EntryRow(want[i]));
      ++i;
    } else if (i == want.size() || have[j] < want[i]) {
      if (extra++ < 5) extra_rows.push_back(EntryRow(have[j]));
      ++j;
    } else {
      ++i;
      ++j;
    }
  }
  for (const auto& [pg, r] : missing_rows)
    Problem(Format("%s にページ %u 行 %u の行の項目がありません", index.name.c_str(), pg, r));
  for (const auto& [pg, r] : extra_rows) {
    Problem(Format("%s の項目 (ページ %u 行 %u) に当たる行がないか、キーが行の値と違います",
                   index.name.c_str(), pg, r));
  }
  if (partial) {
    Problem(
        Format("%s: 食い違いが多いため一部だけを照らし合わせました。足りない項目は少なくとも "
               "%llu 件、余分な項目は少なくとも %llu 件あります。",
               index.name.c_str(), static_cast<unsigned long long>(missing + missing_left),
               static_cast<unsigned long long>(extra + extra_left)));
  } else if (missing + extra > 10) {
    Problem(Format("%s: 足りない項目 %llu 件、余分な項目 %llu 件", index.name.c_str(),
                   static_cast<unsigned long long>(missing),
                   static_cast<unsigned long long>(extra)));
  }
}

void Checker::CheckTable(const Table& t, const RowVisitor& each) {
  std::vector<ExpectedEntries> expected(t.indexes.size());
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    for (auto [col, asc] : t.indexes[i].columns) {
      if (!IsIndexableType(static_cast<ColumnType>(t.ByNumber(col).type)))
        expected[i].keyed = false;
    }
  }
  std::vector<const Column*> autonumbers;
  for (const Column& c : t.columns) {
    if (c.flags & format::kColumnAutoLong) autonumbers.push_back(&c);
  }
  std::vector<std::optional<int64_t>> above(autonumbers.size());  // the first value above
  uint64_t rows = 0;
  std::string entry;
  WalkRows(t, [&](RowPointer at, const std::vector<Value>& values) {
    ++rows;
    if (each) each(at, values);
    for (size_t k = 0; k < autonumbers.size(); ++k) {
      const Value& v = values[autonumbers[k]->number];
      if (!above[k] && !v.is_null() && v.kind() == Value::Kind::kInteger &&
          v.integer() > static_cast<int64_t>(t.autonumber)) {
        above[k] = v.integer();
      }
    }
    for (size_t i = 0; i < t.indexes.size(); ++i) {
      ExpectedEntries& e = expected[i];
      if (!e.keyed || e.failed) continue;
      try {
        if (ExpectedEntry(t, t.indexes[i], at, values, entry)) e.digest.Add(entry);
      } catch (const Error& error) {
        e.failed = true;
        e.failure = Format(
            "%s: ページ %u 行 %u のキーを照合できないため、行との対応は確かめていません (%s)",
            t.indexes[i].name.c_str(), at.page, at.row, error.what());
      }
    }
  });
  ++result_.tables;
  result_.rows += static_cast<long long>(rows);
  if (rows != t.rows) {
    Problem(Format("テーブル %s の行数 %u が実際 (%llu) と合いません", t.name.c_str(), t.rows,
                   static_cast<unsigned long long>(rows)));
  }
  for (size_t k = 0; k < autonumbers.size(); ++k) {
    if (!above[k]) continue;
    Problem(Format("テーブル %s のオートナンバーの値 %lld がカウンタ %u を超えています",
                   t.name.c_str(), static_cast<long long>(*above[k]), t.autonumber));
  }
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    try {
      CheckIndex(t, t.indexes[i], expected[i], rows);
    } catch (const Bad& e) {
      Problem(e.what());
    }
  }
}

void Checker::Run() {
  if (size_ > kLargestFile) {
    Problem(
        Format("ファイルの大きさ %llu バイトは Jet 4.0 のデータベースの上限 (2 GB) を超えています",
               static_cast<unsigned long long>(size_)));
    return;
  }
  if (size_ < 3u * kPageSize || size_ % kPageSize != 0) {
    Problem(Format("ファイルの大きさ %llu バイトがページの倍数でないか、小さすぎます",
                   static_cast<unsigned long long>(size_)));
    return;
  }
  owner_.assign(pages(), 0);
  shared_.assign(pages(), false);
  const PageRef header = Page(0);
  if (std::memcmp(header + 4, "Standard Jet DB", 15) != 0 || GetU32(header + 0x14) != 1) {
    Problem("Jet 4.0 のデータベースではありません");
    return;
  }
  Claim(0, "ヘッダ");
  Claim(1, "全体の使用マップ");
  std::vector<bool> free(pages(), false);
  try {
    const PageRef p1 = Page(1);
    if (p1[0] != kDataPage || GetU32(p1 + 4) != 1)
      throw Bad("ページ 1 が全体の使用マップではありません");
    CheckDataPageBookkeeping(1, p1);
    auto [start, length] = RowExtent(p1, 1, 0);
    const uint8_t* row = p1 + start;
    if (length < 5) throw Bad("全体の使用マップの形式が不正です");
    if (row[0] == format::kInlineMap) {
      uint32_t first = GetU32(row + 1);
      for (uint32_t bit = 0; bit < (length - 5u) * 8u; ++bit) {
        uint32_t page = first + bit;
        if (page < pages() && (row[5 + bit / 8] & (1u << (bit % 8)))) free[page] = true;
      }
    } else if (row[0] == format::kReferenceMap) {
      // Map page j covers pages j * kPagesPerMapPage on; the map pages belong to page 1.
      for (uint32_t j = 0; 1 + 4 * j + 4 <= length; ++j) {
        uint32_t map_page = GetU32(row + 1 + 4 * j);
        if (map_page == 0) continue;
        const PageRef bitmap = Page(map_page);
        if (bitmap[0] != PageTypeByte(PageType::kUsageMap))
          throw Bad(Format("全体の使用マップのページ %u が種類 5 ではありません", map_page));
        Claim(map_page, "全体の使用マップ");
        const uint64_t first = uint64_t{j} * format::kPagesPerMapPage;
        for (uint32_t bit = 0; bit < format::kPagesPerMapPage; ++bit) {
          const uint64_t page = first + bit;
          if (page < pages() &&
              (bitmap[format::kMapPageBitmapOffset + bit / 8] & (1u << (bit % 8))))
            free[page] = true;
        }
      }
    } else {
      throw Bad("全体の使用マップの形式が不正です");
    }
  } catch (const Bad& e) {
    Problem(e.what());
    return;
  }

  // The catalogue: every object of type 1 is a table whose Id is its TDEF page.
  std::vector<std::pair<uint32_t, std::string>> tables;
  try {
    Table objects = ReadTable(2, "MSysObjects");
    int id_col = -1, name_col = -1, type_col = -1;
    for (const auto& c : objects.columns) {
      if (c.name == "Id") id_col = c.number;
      if (c.name == "Name") name_col = c.number;
      if (c.name == "Type") type_col = c.number;
    }
    if (id_col < 0 || name_col < 0 || type_col < 0) throw Bad("MSysObjects の列が足りません");
    CheckTable(objects, [&](RowPointer, const std::vector<Value>& values) {
      const Value& type = values[static_cast<size_t>(type_col)];
      const Value& id = values[static_cast<size_t>(id_col)];
      const Value& name = values[static_cast<size_t>(name_col)];
      if (type.kind() != Value::Kind::kInteger || type.integer() != 1) return;
      if (id.kind() != Value::Kind::kInteger || name.kind() != Value::Kind::kText) return;
      if (id.integer() == 2) return;
      tables.emplace_back(static_cast<uint32_t>(id.integer()), base::ToUtf8(name.text()));
    });
  } catch (const Bad& e) {
    Problem(e.what());
    return;
  }
  for (auto& [id, name] : tables) {
    try {
      CheckTable(ReadTable(id, name), nullptr);
    } catch (const Bad& e) {
      Problem(e.what());
    }
  }

  for (uint32_t p = 0; p < pages(); ++p) {
    if (owner_[p] == 0 && !free[p]) {
      Problem(Format("ページ %u はどこにも使われていないのに、使用中になっています", p));
    } else if (owner_[p] != 0 && free[p]) {
      Problem(Format("ページ %u は %s に使われているのに、空きになっています", p,
                     roles_[owner_[p]].c_str()));
    }
  }
}

}  // namespace

CheckResult CheckDatabase(const std::filesystem::path& path) {
  CheckResult result;
  Checker checker(format::OpenFileSource(path), result);
  checker.Run();
  return result;
}

void SetCompareLimitForTesting(size_t entries) { compare_limit_for_testing.store(entries); }

CheckResult CheckDatabaseBytes(std::vector<uint8_t> bytes) {
  CheckResult result;
  Checker checker(format::MemorySource(std::move(bytes)), result);
  checker.Run();
  return result;
}

}  // namespace jet::check
