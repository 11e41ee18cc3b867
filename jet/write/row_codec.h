// What the writer decides about a row's values before they are encoded: each given value
// converted to its column's kind, or refused. The bytes of a row, its texts and its
// long-value fields are encoded by jet/format (record.h, text.h, long_value.h).
#ifndef QUORVEL_JET_WRITE_ROW_CODEC_H_
#define QUORVEL_JET_WRITE_ROW_CODEC_H_

#include <optional>
#include <string>
#include <vector>

#include "jet/jet.h"
#include "jet/write/table_model.h"

namespace jet::write {

// Largest row the writer stores (what other writers accept; a page could take 4080).
inline constexpr size_t kMaxRowLength = 4060;
// Long values up to this many bytes stay inside the row.
inline constexpr size_t kMaxInlineLongValue = 64;
// Long values up to this many bytes go into one LVAL row; longer ones into a chain.
inline constexpr size_t kMaxSingleLongValue = 4076;
inline constexpr size_t kLongValueChainPiece = 4072;

// Converts a given value to the column's kind: Integer for Byte/Integer/Long, Double for
// Single/Double, Currency, DateTime, Boolean, Text for Text/Memo, Binary for Binary/OLE,
// Guid. Not given (nullopt) and NULL give NULL, except Yes/No, which has no NULL and gives
// No. Throws jet::Error with a message naming the column when the value cannot be stored
// (out of range, unconvertible text, text longer than the column).
Value ConvertForColumn(const ColumnModel& column, const std::optional<Value>& value);

// The bytes of a variable-length value (Text, Binary) or of long-value data (Memo, OLE), as
// format::EncodeVariableValue makes them for the column.
std::string VariableBytes(const ColumnModel& column, const Value& value);

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_ROW_CODEC_H_
