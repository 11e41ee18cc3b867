// Index keys in the General (legacy) sort order, version 0, which is the order that Jet 4.0
// files created with locale 1033 carry.
//
// A key is the concatenation of one piece per index column:
//   NULL      ascending 00            descending FF
//   value     ascending 7F + bytes    descending 80 + bytes (descending form)
// Numbers are big-endian with the sign arranged so that unsigned byte order is numeric order;
// texts are one sort code per character, case-insensitive. Yes/No has no NULL form.
//
// Texts: the encoder covers every printable ASCII character plus TAB, LF, VT, FF and CR.
// Anything else raises a jet::Error, so that no key is ever written that Jet would encode
// differently.
#ifndef QUORVEL_JET_WRITE_INDEX_KEY_H_
#define QUORVEL_JET_WRITE_INDEX_KEY_H_

#include <optional>
#include <string>
#include <string_view>

#include "jet/jet.h"

namespace jet::write {

// The first character of `text` that the text key encoder cannot encode, if any. Only the
// characters that take part in the key (the first 255, trailing blanks removed) are looked at.
std::optional<char16_t> UnsupportedKeyCharacter(std::u16string_view text);

// Whether a column of this type can be part of an index we write.
bool IsIndexableType(ColumnType type);

// Appends the key piece of one column value. `value` must already be of the column's
// kind (Integer for integer types, Double for Single/Double, DateTime, Boolean, Currency,
// Text). Throws jet::Error for values the encoder cannot encode.
void AppendKeyPiece(std::string& key, ColumnType type, const Value& value, bool ascending);

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_INDEX_KEY_H_
