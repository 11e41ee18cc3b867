// Index keys in the General (legacy) sort order, version 0, which is the order that Jet 4.0
// files created with locale 1033 carry.
//
// A key is the concatenation of one piece per index column:
//   NULL      ascending 00            descending FF
//   value     ascending 7F + bytes    descending 80 + bytes (descending form)
// Numbers are big-endian with the sign arranged so that unsigned byte order is numeric order;
// texts are one sort code per character, case-insensitive. Yes/No has no NULL form: a NULL
// Yes/No is keyed as No. constants.h names the bytes.
//
// Texts: the encoder covers every printable ASCII character plus TAB, LF, VT, FF and CR.
// Anything else raises a jet::Error, so that no key is ever written that Jet would encode
// differently.
//
// Decoding gives back the value of every piece except a text's: a text key keeps only sort
// codes, so its piece decodes to the folded text the codes stand for (letters as capitals,
// the text cut to the characters that take part in the key, trailing blanks removed).
// Apostrophes and hyphens, which the key keeps apart from the other characters, are put
// back where they stood.
#ifndef QUORVEL_JET_FORMAT_INDEX_KEY_H_
#define QUORVEL_JET_FORMAT_INDEX_KEY_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "jet/jet.h"

namespace jet::format {

// The first character of `text` that the text key encoder cannot encode, if any. Only the
// characters that take part in the key (the first 255, trailing blanks removed) are looked at.
std::optional<char16_t> UnsupportedKeyCharacter(std::u16string_view text);

// Whether a column of this type can be part of an index we write.
bool IsIndexableType(ColumnType type);

// Appends the key piece of one column value. `value` must already be of the column's
// kind (Integer for integer types, Double for Single/Double, DateTime, Boolean, Currency,
// Text). Throws jet::Error for values the encoder cannot encode.
void AppendKeyPiece(std::string& key, ColumnType type, const Value& value, bool ascending);

// Decodes the piece of a column of `type` that starts at `pos` in `key` and moves `pos` past
// it: a Value of the kind AppendKeyPiece takes (Integer, Double, DateTime, Currency,
// Boolean, Text as said above, or NULL). Throws the format's corruption error when the bytes
// are not such a piece.
Value DecodeKeyPiece(std::string_view key, size_t& pos, ColumnType type, bool ascending);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_INDEX_KEY_H_
