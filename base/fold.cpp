#include "base/fold.h"

#include <algorithm>

namespace base {
namespace {

// The lower-case partners below kFoldTableSize; everything else there folds to itself.
constexpr std::array<char16_t, kFoldTableSize> MakeFoldTable() {
  std::array<char16_t, kFoldTableSize> t{};
  for (unsigned c = 0; c < kFoldTableSize; ++c) t[c] = static_cast<char16_t>(c);
  auto shift = [&t](unsigned first, unsigned last, unsigned by) {
    for (unsigned c = first; c <= last; ++c) t[c] = static_cast<char16_t>(c + by);
  };
  // Capitals on the even code units with the small letter after them, or on the odd ones.
  auto pairs = [&t](unsigned first, unsigned last, bool capital_even) {
    for (unsigned c = first; c <= last; ++c) {
      if ((c % 2 == 0) == capital_even) t[c] = static_cast<char16_t>(c + 1);
    }
  };
  shift(u'A', u'Z', 32);
  t[0x00B5] = 0x03BC;  // micro sign folds to Greek mu
  shift(0x00C0, 0x00D6, 32);
  shift(0x00D8, 0x00DE, 32);
  pairs(0x0100, 0x012F, true);  // Latin Extended-A; U+0130/U+0131 (dotted/dotless i) stay
  pairs(0x0132, 0x0137, true);
  pairs(0x0139, 0x0148, false);
  pairs(0x014A, 0x0177, true);
  t[0x0178] = 0x00FF;
  pairs(0x0179, 0x017E, false);
  t[0x017F] = u's';    // long s
  t[0x0386] = 0x03AC;  // Greek
  shift(0x0388, 0x038A, 37);
  t[0x038C] = 0x03CC;
  shift(0x038E, 0x038F, 63);
  shift(0x0391, 0x03A1, 32);
  shift(0x03A3, 0x03AB, 32);
  t[0x03C2] = 0x03C3;         // final sigma
  shift(0x0400, 0x040F, 80);  // Cyrillic
  shift(0x0410, 0x042F, 32);
  pairs(0x0460, 0x0481, true);
  pairs(0x048A, 0x04BF, true);
  t[0x04C0] = 0x04CF;  // palochka
  pairs(0x04C1, 0x04CE, false);
  pairs(0x04D0, 0x052F, true);
  // The full-width Latin capitals U+FF21-U+FF3A are folded by FoldCase itself.
  return t;
}

template <typename Char, typename Pred>
std::basic_string_view<Char> TrimIf(std::basic_string_view<Char> text, Pred trimmed) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && trimmed(text[begin])) ++begin;
  while (end > begin && trimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

constinit const std::array<char16_t, kFoldTableSize> kFoldTable = MakeFoldTable();

std::u16string FoldString(std::u16string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = FoldCase(text[i]);
  return out;
}

int CompareIgnoringCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldCase(a[i]);
    const char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::u16string AsciiUpper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualAsciiIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

bool EqualAsciiIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

std::u16string_view Trim(std::u16string_view text) {
  return TrimIf(text, [](char16_t c) { return c <= 0x20; });
}

std::string_view Trim(std::string_view text) {
  return TrimIf(text, [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

std::u16string_view TrimSpacesAndTabs(std::u16string_view text) {
  return TrimIf(text, [](char16_t c) { return c == u' ' || c == u'\t'; });
}

}  // namespace base
