// Comparison without case and trimming: the one rule for names (tables, columns, fields,
// settings-file sections and keys) and for the engine's LIKE and ORDER BY.
//
// FoldCase maps a UTF-16 code unit to its lower-case partner for the scripts whose letters
// come in simple upper/lower pairs: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// full-width Latin. Everything else (CJK, kana, symbols) folds to itself. Texts are compared
// code unit by code unit after folding, so lengths and positions never change.
//
// The Ascii* helpers fold only A-Z/a-z. They are for the fixed words of outside formats whose
// own rule is ASCII-only (HTTP header and month names, SQLite's type words, version-resource
// keys, file-name extensions); on ASCII text they agree with FoldCase.
#ifndef QUORVEL_BASE_FOLD_H_
#define QUORVEL_BASE_FOLD_H_

#include <array>
#include <string>
#include <string_view>

namespace base {

// Only code units below kFoldTableSize and the full-width capitals U+FF21-U+FF3A fold to
// something else, so the table covers the small range and the hot ASCII and CJK cases need
// no memory access beyond the text itself.
inline constexpr unsigned kFoldTableSize = 0x0530;
extern const std::array<char16_t, kFoldTableSize> kFoldTable;

inline char16_t FoldCase(char16_t c) {
  if (c < 0x80) return static_cast<char16_t>(static_cast<unsigned>(c - u'A') < 26u ? c + 32 : c);
  if (c < kFoldTableSize) return kFoldTable[c];
  return static_cast<char16_t>(static_cast<unsigned>(c - 0xFF21) < 26u ? c + 32 : c);
}

// The text with every code unit folded.
std::u16string FoldString(std::u16string_view text);

// Compares after folding, code unit by code unit; a proper prefix sorts first: <0, 0, >0.
int CompareIgnoringCase(std::u16string_view a, std::u16string_view b);
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b);

// ASCII letters only.
inline char16_t AsciiUpper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}
inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::u16string AsciiUpper(std::u16string_view text);
std::string AsciiLower(std::string_view text);
bool EqualAsciiIgnoringCase(std::u16string_view a, std::u16string_view b);
bool EqualAsciiIgnoringCase(std::string_view a, std::string_view b);

// Trim removes every code unit at or below U+0020 (the space and the control characters)
// from both ends; TrimSpacesAndTabs removes only spaces and tabs.
std::u16string_view Trim(std::u16string_view text);
std::string_view Trim(std::string_view text);
std::u16string_view TrimSpacesAndTabs(std::u16string_view text);

}  // namespace base

#endif  // QUORVEL_BASE_FOLD_H_
