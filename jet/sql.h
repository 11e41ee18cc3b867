// The engine's SQL dialect: parsing statements, and evaluating WHERE and ORDER BY over rows
// held in memory.
//
//   SELECT * FROM t [WHERE cond] [ORDER BY col [ASC|DESC], ...]
//   CREATE TABLE t (col type [(n)] [NOT NULL] [CONSTRAINT name PRIMARY KEY], ...)
//   INSERT INTO t [(col, ...)] VALUES (literal, ...)
//
// Names may be [bracketed]; literals are "double" or 'single' quoted with the quote doubled
// inside, or numbers. Text comparison and LIKE ignore letter case.
#ifndef QUORVEL_JET_SQL_H_
#define QUORVEL_JET_SQL_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "jet/jet.h"

namespace jet::sql {

struct Expr;  // a parsed condition; defined in sql.cpp

struct OrderTerm {
  std::u16string column;
  bool descending = false;
};

struct SelectStatement {
  std::u16string table;
  std::shared_ptr<const Expr> where;  // null when there is no WHERE clause
  std::vector<OrderTerm> order_by;
};

struct ColumnDefinition {
  std::u16string name;
  ColumnType type = ColumnType::kText;
  // Text: maximum characters (255 when not given); Binary: maximum bytes (255 when not
  // given); otherwise 0.
  int32_t length = 0;
  bool not_null = false;
  bool primary_key = false;
  std::u16string constraint_name;    // name given with CONSTRAINT, or empty
  bool auto_increment = false;       // COUNTER / AUTOINCREMENT
  uint8_t precision = 0;             // Decimal only: digits in all (18 when not given)
  uint8_t scale = 0;                 // Decimal only: digits after the point (0 when not given)
  bool unicode_compression = false;  // Text and Memo: WITH COMPRESSION / WITH COMP
};

struct CreateTableStatement {
  std::u16string table;
  std::vector<ColumnDefinition> columns;
};

struct InsertStatement {
  std::u16string table;
  std::vector<std::u16string> columns;  // empty: every column in table order
  // Literals as parsed: Text, Integer, Double, Boolean (TRUE/FALSE/YES/NO), DateTime
  // (#...#) or Null.
  std::vector<Value> values;
};

using Statement = std::variant<SelectStatement, CreateTableStatement, InsertStatement>;

// Parses one statement. Throws jet::Error with a message naming what was expected and where.
Statement Parse(std::u16string_view sql);

// A row whose values are produced as a condition asks for them (a stored row decodes only
// the columns a condition reads). References returned stay valid until the reader moves to
// another row.
class RowReader {
 public:
  virtual ~RowReader() = default;
  virtual const Value& Get(int field_index) = 0;
  // The text of a Text or Memo field without building a value; nullopt when it is NULL.
  virtual std::optional<std::u16string_view> Text(int field_index) = 0;
  virtual bool IsNull(int field_index) = 0;
};

// A WHERE condition bound to a field list: names are resolved once, so testing a row costs
// no name lookups. Binding throws jet::Error for a name that is not among the fields.
class Predicate {
 public:
  Predicate(const Expr* where, const std::vector<Field>& fields);
  ~Predicate();
  Predicate(Predicate&&) noexcept;
  Predicate& operator=(Predicate&&) noexcept;
  bool Matches(const std::vector<Value>& row) const;  // true when there is no condition
  bool Matches(RowReader& row) const;
  bool empty() const { return bound_ == nullptr; }  // no condition: every row matches

 private:
  struct Bound;
  std::unique_ptr<Bound> bound_;
};

// True when every row that `narrower` accepts is accepted by `wider` too (a null condition
// accepts every row): the same condition, a LIKE whose pattern narrows the other's on the
// same operand, or AND/OR of such pairs in the same order. False when that cannot be shown.
bool Narrows(const Expr* narrower, const Expr* wider);

// Orders rows by the terms: numbers as numbers, texts without regard to case, NULL first.
// The sort is stable, so rows that compare equal keep the engine's order. Throws jet::Error
// for a name that is not among the fields.
void SortRows(std::vector<std::vector<Value>>& rows, const std::vector<OrderTerm>& order_by,
              const std::vector<Field>& fields);

// The order ORDER BY gives `count` rows whose values `value_of(row, field)` yields: the row
// numbers, sorted stably. Throws jet::Error for a name that is not among the fields.
std::vector<size_t> SortOrder(size_t count, const std::vector<OrderTerm>& order_by,
                              const std::vector<Field>& fields,
                              const std::function<Value(size_t row, int field)>& value_of);

// Compares two values the way ORDER BY does: <0, 0 or >0.
int CompareValues(const Value& a, const Value& b);

// LIKE: "%" any run, "_" one character (one UTF-16 code unit), "[abc]", "[a-z]", "[!abc]" one
// of / none of a list ("[]" stands for nothing; a "[" never closed stands for itself); "*"
// and "?" are ordinary characters. Letters are compared without case, as base::FoldCase folds them.
bool Like(std::u16string_view text, std::u16string_view pattern);

// A LIKE pattern compiled once and matched against many texts. An unclosed "[" stands for
// itself.
class LikePattern {
 public:
  explicit LikePattern(std::u16string_view pattern);
  ~LikePattern();
  LikePattern(LikePattern&&) noexcept;
  LikePattern& operator=(LikePattern&&) noexcept;
  bool Matches(std::u16string_view text) const;
  // True when every text this pattern matches is matched by `wider` too: the same pattern,
  // or `wider` is "%X%" (X without "%") and X's elements stand side by side in this one.
  // False when that cannot be shown.
  bool Narrows(const LikePattern& wider) const;

 private:
  struct Compiled;
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace jet::sql

#endif  // QUORVEL_JET_SQL_H_
