// LIKE patterns: compiled once into a list of one-character elements and "%" runs, with fast
// paths for the common shapes ("abc", "abc%", "%abc", "%abc%").
//
// Cost: compiling is linear in the pattern (plus sorting each character list); matching is at
// worst the pattern's length times the text's, each step a table lookup or, for a character
// list, one binary search over its ranges.
//
// Letters are compared after folding both the pattern and the text (FoldCase), so the
// pattern is folded once here and each text character costs one table lookup.
#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/fold.h"
#include "jet/sql.h"
#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

// Every code unit that folds to another one, in ascending order; a character list holding one
// of these must also accept what it folds to.
const std::vector<char16_t>& FoldingUnits() {
  static const std::vector<char16_t> units = [] {
    std::vector<char16_t> out;
    for (unsigned c = 0; c < 65536; ++c) {
      if (base::FoldCase(static_cast<char16_t>(c)) != c) out.push_back(static_cast<char16_t>(c));
    }
    return out;
  }();
  return units;
}

using Range = std::pair<char16_t, char16_t>;

// Sorts ranges and joins those that overlap or touch.
void Merge(std::vector<Range>& ranges) {
  std::sort(ranges.begin(), ranges.end());
  size_t out = 0;
  for (const Range& r : ranges) {
    if (out > 0 && r.first <= ranges[out - 1].second + 1) {
      ranges[out - 1].second = std::max(ranges[out - 1].second, r.second);
    } else {
      ranges[out++] = r;
    }
  }
  ranges.resize(out);
}

// "[...]", compiled once: the ranges as written together with the folded forms of the
// characters inside them, sorted and joined, so that testing a character is one binary
// search however long the list is.
class CharClass {
 public:
  // `body` is the text between "[" and "]", not empty.
  explicit CharClass(std::u16string_view body) {
    if (body.front() == u'!' && body.size() > 1) {
      negated_ = true;
      body.remove_prefix(1);
    }
    for (size_t j = 0; j < body.size(); ++j) {
      if (j + 2 < body.size() && body[j + 1] == u'-') {
        ranges_.emplace_back(std::min(body[j], body[j + 2]), std::max(body[j], body[j + 2]));
        j += 2;
      } else {
        ranges_.emplace_back(body[j], body[j]);
      }
    }
    Merge(ranges_);
    // A text character matches when it or its folded form is in the list, so the folded
    // form of every listed character that folds joins the list.
    const std::vector<char16_t>& folding = FoldingUnits();
    std::vector<Range> folded;
    for (const auto& [low, high] : ranges_) {
      for (auto it = std::lower_bound(folding.begin(), folding.end(), low);
           it != folding.end() && *it <= high; ++it) {
        const char16_t f = base::FoldCase(*it);
        folded.emplace_back(f, f);
      }
    }
    if (!folded.empty()) {
      ranges_.insert(ranges_.end(), folded.begin(), folded.end());
      Merge(ranges_);
    }
  }

  bool Matches(char16_t c) const {
    return (Contains(c) || Contains(base::FoldCase(c))) != negated_;
  }

  bool operator==(const CharClass&) const = default;

 private:
  bool Contains(char16_t c) const {
    // The first range that ends at or after c.
    const auto it = std::lower_bound(ranges_.begin(), ranges_.end(), c,
                                     [](const Range& r, char16_t x) { return r.second < x; });
    return it != ranges_.end() && it->first <= c;
  }

  bool negated_ = false;
  std::vector<Range> ranges_;  // sorted, disjoint, not touching
};

enum class ElementType : uint8_t { kChar, kAnyOne, kAnyRun, kClass };

struct Element {
  ElementType type;
  char16_t ch;           // kChar: folded
  uint32_t class_index;  // kClass
};

enum class Shape { kGeneral, kExact, kPrefix, kSuffix, kContains };

// A folded run of characters to look for in texts, with what the search needs: the code units
// that fold to its first character (a place holding none of them cannot start a match), and
// Horspool's shifts for the rare first character with more forms than kMaxForms.
struct Needle {
  static constexpr size_t kMaxForms = 4;
  std::u16string piece;
  std::array<char16_t, kMaxForms> forms{};
  size_t form_count = 0;  // 0: more forms than kMaxForms, the shifts are used
  std::array<uint16_t, 256> shifts{};

  void Set(std::u16string piece_folded);
};

// Horspool's shifts by the low byte of a folded character.
void FillShifts(std::u16string_view piece, std::array<uint16_t, 256>& shifts) {
  const size_t k = piece.size();
  shifts.fill(static_cast<uint16_t>(std::min<size_t>(k, 0xFFFF)));
  for (size_t j = 0; j + 1 < k; ++j) {
    shifts[piece[j] & 0xFF] = static_cast<uint16_t>(std::min<size_t>(k - 1 - j, 0xFFFF));
  }
}

void Needle::Set(std::u16string piece_folded) {
  piece = std::move(piece_folded);
  form_count = 0;
  if (piece.empty()) return;
  // The first character itself (already folded) and every unit that folds to it.
  std::vector<char16_t> all{piece[0]};
  for (const char16_t unit : FoldingUnits()) {
    if (base::FoldCase(unit) == piece[0]) all.push_back(unit);
  }
  if (all.size() <= kMaxForms) {
    std::copy(all.begin(), all.end(), forms.begin());
    form_count = all.size();
  } else {
    FillShifts(piece, shifts);
  }
}

}  // namespace

struct LikePattern::Compiled {
  std::vector<Element> elements;
  std::vector<CharClass> classes;
  Shape shape = Shape::kGeneral;
  std::u16string literal;  // folded, for the fast shapes
  Needle contained;        // kContains: the literal

  bool ElementMatches(const Element& e, char16_t c) const {
    switch (e.type) {
      case ElementType::kChar:
        return base::FoldCase(c) == e.ch;
      case ElementType::kAnyOne:
        return true;
      case ElementType::kClass:
        return classes[e.class_index].Matches(c);
      case ElementType::kAnyRun:
        return false;
    }
    return false;
  }

  // Two cursors; on a mismatch the last "%" takes one more character. Each element other
  // than "%" consumes exactly one character, which makes this greedy retry complete.
  bool MatchGeneral(std::u16string_view text) const {
    const size_t n = text.size();
    const size_t m = elements.size();
    size_t p = 0, t = 0;
    size_t star_p = SIZE_MAX, star_t = 0;
    while (t < n) {
      if (p < m && elements[p].type == ElementType::kAnyRun) {
        if (p + 1 == m) return true;  // a final "%" takes whatever is left
        star_p = ++p;
        star_t = t;
        continue;
      }
      if (p < m && ElementMatches(elements[p], text[t])) {
        ++p;
        ++t;
        continue;
      }
      if (star_p == SIZE_MAX) return false;
      p = star_p;
      t = ++star_t;
    }
    while (p < m && elements[p].type == ElementType::kAnyRun) ++p;
    return p == m;
  }

  bool EqualFolded(std::u16string_view text, size_t at) const {
    return EqualFolded(text, at, literal);
  }

  static bool EqualFolded(std::u16string_view text, size_t at, std::u16string_view piece) {
    for (size_t j = 0; j < piece.size(); ++j) {
      if (base::FoldCase(text[at + j]) != piece[j]) return false;
    }
    return true;
  }

  bool Contains(std::u16string_view text) const { return Contains(text, contained); }

  // True when the needle's piece occurs in `text`. Candidate places are those holding a form of
  // the piece's first character, looked for eight code units at a time where the processor
  // can; each candidate is then compared whole.
  static bool Contains(std::u16string_view text, const Needle& needle) {
    const std::u16string_view piece = needle.piece;
    const size_t k = piece.size();
    const size_t n = text.size();
    if (k == 0) return true;
    if (k > n) return false;
    if (needle.form_count == 0) return ContainsByShifts(text, needle);
    const size_t starts = n - k + 1;  // places a match may start at: 0 .. starts - 1
    size_t i = 0;
#if defined(__SSE2__)
    __m128i forms[Needle::kMaxForms];
    for (size_t f = 0; f < needle.form_count; ++f) {
      forms[f] = _mm_set1_epi16(static_cast<short>(needle.forms[f]));
    }
    for (; i + 8 <= starts; i += 8) {  // the eight units lie inside the text
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      __m128i hit = _mm_cmpeq_epi16(block, forms[0]);
      for (size_t f = 1; f < needle.form_count; ++f) {
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(block, forms[f]));
      }
      // Two mask bits per code unit.
      for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0;) {
        const auto bit = static_cast<unsigned>(std::countr_zero(mask));
        if (EqualFolded(text, i + bit / 2, piece)) return true;
        mask &= ~(3u << bit);
      }
    }
#endif
    for (; i < starts; ++i) {
      if (base::FoldCase(text[i]) == piece[0] && EqualFolded(text, i, piece)) return true;
    }
    return false;
  }

  // Horspool's search on folded characters.
  static bool ContainsByShifts(std::u16string_view text, const Needle& needle) {
    const std::u16string_view piece = needle.piece;
    const size_t k = piece.size();
    const char16_t last = piece[k - 1];
    for (size_t i = 0; i + k <= text.size();) {
      const char16_t tail = base::FoldCase(text[i + k - 1]);
      if (tail == last && EqualFolded(text, i, piece)) return true;
      i += needle.shifts[tail & 0xFF];
    }
    return false;
  }

  // General patterns: the longest run of plain characters, which every matching text holds;
  // texts without it are turned away before the general match.
  Needle required;
};

LikePattern::LikePattern(std::u16string_view pattern) : compiled_(std::make_unique<Compiled>()) {
  Compiled& c = *compiled_;
  // The first "]" after the latest "[" looked at. Each search starts past the previous list,
  // and once no "]" is left none is looked for again, so the pattern is scanned once.
  size_t close = 0;
  const auto list_end = [&](size_t open) {
    if (close != std::u16string_view::npos && close <= open) close = pattern.find(u']', open + 1);
    return close;
  };
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t ch = pattern[i];
    if (ch == u'%') {
      if (c.elements.empty() || c.elements.back().type != ElementType::kAnyRun) {
        c.elements.push_back({ElementType::kAnyRun, 0, 0});
      }
    } else if (ch == u'_') {
      c.elements.push_back({ElementType::kAnyOne, 0, 0});
    } else if (ch == u'[' && list_end(i) != std::u16string_view::npos) {
      const std::u16string_view body = pattern.substr(i + 1, close - i - 1);
      i = close;
      if (body.empty()) continue;  // "[]" stands for the empty string
      c.elements.push_back({ElementType::kClass, 0, static_cast<uint32_t>(c.classes.size())});
      c.classes.emplace_back(body);
    } else {
      c.elements.push_back({ElementType::kChar, base::FoldCase(ch), 0});
    }
  }

  // Recognise the shapes that need no backtracking: literal characters with "%" at one or
  // both ends only.
  size_t first = 0, last = c.elements.size();
  const bool leading = first < last && c.elements[first].type == ElementType::kAnyRun;
  if (leading) ++first;
  const bool trailing = first < last && c.elements[last - 1].type == ElementType::kAnyRun;
  if (trailing) --last;
  bool plain = true;
  for (size_t i = first; i < last; ++i) {
    if (c.elements[i].type != ElementType::kChar) {
      plain = false;
      break;
    }
    c.literal.push_back(c.elements[i].ch);
  }
  if (!plain) {
    c.literal.clear();
    std::u16string run, longest;
    for (const Element& e : c.elements) {
      if (e.type == ElementType::kChar) {
        run.push_back(e.ch);
        if (run.size() > longest.size()) longest = run;
      } else {
        run.clear();
      }
    }
    c.required.Set(std::move(longest));
    return;
  }
  if (leading && trailing) {
    c.shape = Shape::kContains;
  } else if (leading) {
    c.shape = Shape::kSuffix;
  } else if (trailing) {
    c.shape = Shape::kPrefix;
  } else {
    c.shape = Shape::kExact;
  }
  if (c.shape == Shape::kContains) c.contained.Set(c.literal);
}

LikePattern::~LikePattern() = default;
LikePattern::LikePattern(LikePattern&&) noexcept = default;
LikePattern& LikePattern::operator=(LikePattern&&) noexcept = default;

bool LikePattern::Matches(std::u16string_view text) const {
  const Compiled& c = *compiled_;
  const size_t k = c.literal.size();
  switch (c.shape) {
    case Shape::kExact:
      return text.size() == k && c.EqualFolded(text, 0);
    case Shape::kPrefix:
      return text.size() >= k && c.EqualFolded(text, 0);
    case Shape::kSuffix:
      return text.size() >= k && c.EqualFolded(text, text.size() - k);
    case Shape::kContains:
      return c.Contains(text);
    case Shape::kGeneral:
      return Compiled::Contains(text, c.required) && c.MatchGeneral(text);
  }
  return false;
}

bool LikePattern::Narrows(const LikePattern& wider) const {
  const Compiled& n = *compiled_;
  const Compiled& w = *wider.compiled_;
  const auto same = [&](const Element& a, const Element& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
      case ElementType::kChar:
        return a.ch == b.ch;
      case ElementType::kClass:
        return n.classes[a.class_index] == w.classes[b.class_index];
      case ElementType::kAnyOne:
      case ElementType::kAnyRun:
        return true;
    }
    return false;
  };
  const auto equal_range = [&](size_t at, size_t from, size_t to) {
    for (size_t j = from; j < to; ++j) {
      if (!same(n.elements[at + j - from], w.elements[j])) return false;
    }
    return true;
  };
  if (n.elements.size() == w.elements.size() && equal_range(0, 0, w.elements.size())) return true;
  // "%X%" with no "%" inside X accepts every text that holds a piece matching X; a pattern
  // whose elements hold X's elements side by side only accepts texts that hold such a piece.
  const size_t m = w.elements.size();
  if (m < 1 || w.elements.front().type != ElementType::kAnyRun ||
      w.elements.back().type != ElementType::kAnyRun) {
    return false;
  }
  const size_t from = 1, to = m > 1 ? m - 1 : 1;
  for (size_t j = from; j < to; ++j) {
    if (w.elements[j].type == ElementType::kAnyRun) return false;
  }
  const size_t k = to - from;
  for (size_t at = 0; at + k <= n.elements.size(); ++at) {
    if (equal_range(at, from, to)) return true;
  }
  return false;
}

bool Like(std::u16string_view text, std::u16string_view pattern) {
  return LikePattern(pattern).Matches(text);
}

}  // namespace jet::sql
