// What the two conversions (Jet to SQLite and SQLite to Jet) share: the conversion of a value
// for the field it is assigned to, the counts of a copy and the completion message.
#ifndef QUORVEL_DB_CONVERSION_H_
#define QUORVEL_DB_CONVERSION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "jet/jet.h"
#include "platform/error.h"

namespace db {

// Raised by ConvertForField for a number outside the range of the integer field it is to go
// to: the value is fine, only this field cannot hold it, so a copy refuses the row alone.
class OutOfRangeError : public platform::Error {
 public:
  using platform::Error::Error;
};

// Field-type groups the conversions decide on.
bool IsTextFieldType(jet::TFieldType type);     // ftString, ftWideString, ftMemo, ftWideMemo
bool IsIntegerFieldType(jet::TFieldType type);  // ftSmallint, ftInteger, ftLargeint, ftAutoInc
bool IsFloatFieldType(jet::TFieldType type);    // ftFloat, ftSingle
bool IsDateFieldType(jet::TFieldType type);     // ftDate, ftTime, ftDateTime

// Converts `value` for a field of `type`. NULL stays NULL. Text fields take the value's text
// form, cut to `max_chars` characters when it is above zero (a surrogate pair is never
// split). Integer fields take integers in the field's range, whole numbers and integer texts;
// float fields take numbers and number texts; Yes/No fields take logical values, numbers and
// "True"/"False"/"Yes"/"No"; date fields take dates, numbers (OLE dates) and date texts. Other
// field types take the value unchanged. A value that cannot be converted raises
// platform::Error naming the value; a number outside an integer field's range raises
// OutOfRangeError.
jet::Value ConvertForField(jet::Value value, jet::TFieldType type, int32_t max_chars);

// The text form of a value: decimal integers, the shortest text that reads back as the same
// double, "True"/"False", dates as "YYYY-MM-DD HH:MM:SS" (time left out at midnight,
// ".mmm" added when there are milliseconds), exact currency and decimal amounts.
std::u16string ValueToText(const jet::Value& value);

// Reads "YYYY-MM-DD", "YYYY/MM/DD", either followed by " " or "T" and a time, or a time
// "HH:MM[:SS[.fff]]" alone (on day 0). Returns false when the text is no such date.
bool ParseDateTimeText(std::u16string_view text, jet::DateTime& out);

// The outcome of one conversion.
struct CopyCounts {
  int64_t copied = 0;     // rows written
  int64_t refused = 0;    // rows the target refused (skipped)
  int64_t truncated = 0;  // rows written with a text cut to its field's length
};

// Called now and then during a copy with the rows handled so far and the total.
using ProgressFunction = std::function<void(int64_t done, int64_t total)>;

// "処理完了", followed by "\r" and "%d 件のレコードを書き込めませんでした" when rows were
// refused, and by "\r" and TruncatedRowsMessage when texts were cut.
std::u16string CompletionMessage(const CopyCounts& counts);
// "%d 件のレコードの文字列を 255 文字に切り詰めました" with the count of rows whose text was cut.
std::u16string TruncatedRowsMessage(int64_t rows);
// True when the completion message is a warning (rows were refused or texts cut).
inline bool CompletionIsWarning(const CopyCounts& counts) {
  return counts.refused > 0 || counts.truncated > 0;
}

}  // namespace db

#endif  // QUORVEL_DB_CONVERSION_H_
