// Inside the SQL module: the parsed condition tree, case folding, literal conversions and the
// error messages shared by the parser and the evaluator.
#ifndef QUORVEL_JET_SQL_INTERNAL_H_
#define QUORVEL_JET_SQL_INTERNAL_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/jet.h"
#include "jet/sql.h"

namespace jet::sql {

// One side of a comparison: a column named in the statement, or a literal.
struct Operand {
  enum class Kind { kColumn, kLiteral };
  Kind kind = Kind::kLiteral;
  std::u16string column;    // kColumn: the name without brackets
  bool plain_word = false;  // kColumn: written without brackets or table name
  Value literal;            // kLiteral
  size_t position = 0;      // 0-based offset in the statement text
  std::u16string spelling;  // the operand as written, for messages
};

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };

struct Expr {
  enum class Kind {
    kAnd,      // children, two or more
    kOr,       // children, two or more
    kNot,      // children[0]
    kCompare,  // left op right
    kLike,     // left [NOT] LIKE pattern
    kIsNull,   // left IS [NOT] NULL
    kBetween,  // left [NOT] BETWEEN right AND third
    kIn,       // left [NOT] IN (list)
    kTruth,    // left on its own: a Yes/No or number used as a condition
  };
  Kind kind = Kind::kTruth;
  size_t position = 0;
  std::vector<Expr> children;
  Operand left, right, third;
  std::vector<Operand> list;
  CompareOp op = CompareOp::kEqual;
  bool negated = false;
  std::u16string pattern;  // kLike
};

// Chronological order of an OLE date: days plus the time of day, whatever the day's sign.
double ChronologicalDate(double ole);

// Reads a number written as text ("12", " -3.5 ", "1e3"): Integer when it is a whole number
// without point or exponent that fits 64 bits, else Double; nullopt when it is no number.
std::optional<Value> ParseNumberText(std::u16string_view text);

// Reads a date written as "YYYY-MM-DD", "YYYY/MM/DD" or "M/D/YYYY", each optionally followed
// by "hh:mm[:ss[.fff]]", or a time alone; nullopt when it is no valid date. Years 100-9999.
std::optional<DateTime> ParseDateText(std::u16string_view text);

// "12" for messages.
std::u16string PositionText(size_t offset);

// Throws the syntax error message: names the 1-based position and the text found there.
[[noreturn]] void ThrowSyntaxError(std::u16string_view sql, size_t position, size_t length,
                                   std::u16string_view detail);

// Throws an error found while binding or running a statement, naming the position.
[[noreturn]] void ThrowStatementError(size_t position, std::u16string_view detail);

std::u16string AsciiToUtf16(std::string_view text);

}  // namespace jet::sql

#endif  // QUORVEL_JET_SQL_INTERNAL_H_
