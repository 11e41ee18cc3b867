// Evaluating WHERE conditions and ORDER BY over rows held in memory.
//
// A condition is bound to a field list once: names become row indexes, literals are
// converted to the type of the column they are compared with (a text literal against a
// number column must read as a number), text literals are folded and LIKE patterns
// compiled. Testing a row then walks the bound tree with three-valued logic: NULL compared
// with anything is unknown, NOT unknown is unknown, and only rows whose condition is true
// match.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "base/fold.h"
#include "jet/sql.h"
#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

enum class Tri : uint8_t { kFalse, kTrue, kUnknown };

Tri Not(Tri t) {
  if (t == Tri::kUnknown) return t;
  return t == Tri::kTrue ? Tri::kFalse : Tri::kTrue;
}

// What a value or a column is compared as.
enum class Category { kNull, kNumber, kDate, kText, kBinary, kGuid };

Category CategoryOf(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull:
      return Category::kNull;
    case Value::Kind::kBoolean:
    case Value::Kind::kInteger:
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
    case Value::Kind::kDecimal:
      return Category::kNumber;
    case Value::Kind::kDateTime:
      return Category::kDate;
    case Value::Kind::kText:
      return Category::kText;
    case Value::Kind::kBinary:
      return Category::kBinary;
    case Value::Kind::kGuid:
      return Category::kGuid;
  }
  return Category::kNull;
}

Category CategoryOf(const Field& f) {
  switch (f.column_type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kNumeric:
      return Category::kNumber;
    case ColumnType::kDateTime:
      return Category::kDate;
    case ColumnType::kText:
    case ColumnType::kMemo:
      return Category::kText;
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return Category::kBinary;
    case ColumnType::kGuid:
      return Category::kGuid;
  }
  return Category::kText;
}

// A number as double; dates in chronological order.
double NumericKey(const Value& v) {
  if (v.kind() == Value::Kind::kDateTime) return ChronologicalDate(v.date_time().ole);
  return v.number();
}

int CompareDoubles(double a, double b) {
  const bool a_nan = std::isnan(a), b_nan = std::isnan(b);
  if (a_nan || b_nan) return a_nan == b_nan ? 0 : (a_nan ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <typename T>
int Three(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareNumbers(const Value& a, const Value& b) {
  if (a.kind() == Value::Kind::kInteger && b.kind() == Value::Kind::kInteger) {
    return Three(a.integer(), b.integer());
  }
  if (a.kind() == Value::Kind::kCurrency && b.kind() == Value::Kind::kCurrency) {
    return Three(a.currency().ten_thousandths, b.currency().ten_thousandths);
  }
  if (a.kind() == Value::Kind::kInteger && b.kind() == Value::Kind::kCurrency) {
    return Three(static_cast<__int128>(a.integer()) * 10000,
                 static_cast<__int128>(b.currency().ten_thousandths));
  }
  if (a.kind() == Value::Kind::kCurrency && b.kind() == Value::Kind::kInteger) {
    return -Three(static_cast<__int128>(b.integer()) * 10000,
                  static_cast<__int128>(a.currency().ten_thousandths));
  }
  return CompareDoubles(NumericKey(a), NumericKey(b));
}

// Replication IDs in the order their text shows them.
std::array<uint8_t, 16> GuidDisplayOrder(const Guid& g) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::array<uint8_t, 16> out{};
  for (int i = 0; i < 16; ++i) out[static_cast<size_t>(i)] = g[static_cast<size_t>(kOrder[i])];
  return out;
}

// The text LIKE sees for a value that is not text.
std::u16string LikeText(const Value& v) {
  if (v.kind() == Value::Kind::kDouble) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15g", v.number());
    return AsciiToUtf16(buffer);
  }
  return v.ToDisplayText();
}

// Compares two values in a condition; nullopt when the result is unknown (a NULL, or values
// that cannot be compared, such as a text that reads as no number against a number).
std::optional<int> CompareForCondition(const Value& a, const Value& b) {
  const Category ca = CategoryOf(a), cb = CategoryOf(b);
  if (ca == Category::kNull || cb == Category::kNull) return std::nullopt;
  const bool a_numeric = ca == Category::kNumber || ca == Category::kDate;
  const bool b_numeric = cb == Category::kNumber || cb == Category::kDate;
  if (a_numeric && b_numeric) {
    const int r = CompareNumbers(a, b);
    if (std::isnan(NumericKey(a)) || std::isnan(NumericKey(b))) return std::nullopt;
    return r;
  }
  if (ca == Category::kText && cb == Category::kText)
    return base::CompareIgnoringCase(a.text(), b.text());
  if (ca == Category::kText && b_numeric) {
    std::optional<Value> converted;
    if (cb == Category::kDate) {
      if (auto date = ParseDateText(a.text())) converted = Value::FromDateTime(*date);
    }
    if (!converted) converted = ParseNumberText(a.text());
    if (!converted) return std::nullopt;
    return CompareForCondition(*converted, b);
  }
  if (a_numeric && cb == Category::kText) {
    const std::optional<int> r = CompareForCondition(b, a);
    if (!r) return r;
    return -*r;
  }
  if (ca == Category::kBinary && cb == Category::kBinary) {
    const Bytes& x = a.binary();
    const Bytes& y = b.binary();
    if (std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end())) return -1;
    return x == y ? 0 : 1;
  }
  if (ca == Category::kGuid && cb == Category::kGuid) {
    return Three(GuidDisplayOrder(a.guid()), GuidDisplayOrder(b.guid()));
  }
  if ((ca == Category::kGuid && cb == Category::kText) ||
      (ca == Category::kText && cb == Category::kGuid)) {
    return base::CompareIgnoringCase(a.ToDisplayText(), b.ToDisplayText());
  }
  return std::nullopt;
}

bool Holds(CompareOp op, int c) {
  switch (op) {
    case CompareOp::kEqual:
      return c == 0;
    case CompareOp::kNotEqual:
      return c != 0;
    case CompareOp::kLess:
      return c < 0;
    case CompareOp::kGreater:
      return c > 0;
    case CompareOp::kLessEqual:
      return c <= 0;
    case CompareOp::kGreaterEqual:
      return c >= 0;
  }
  return false;
}

int FindField(const std::vector<Field>& fields, std::u16string_view name) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name.size() == name.size() &&
        base::CompareIgnoringCase(fields[i].name, name) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::u16string CategoryName(Category c) {
  switch (c) {
    case Category::kNumber:
      return u"数値";
    case Category::kDate:
      return u"日付";
    case Category::kText:
      return u"文字列";
    case Category::kBinary:
      return u"バイナリ";
    case Category::kGuid:
      return u"GUID";
    case Category::kNull:
      return u"NULL";
  }
  return u"";
}

struct BoundOperand {
  int column = -1;  // row index, or -1 for the literal
  Value literal;

  template <typename Row>
  const Value& Get(Row& row) const {
    return column >= 0 ? row.Get(column) : literal;
  }
};

// A row held in memory, seen through the same face as a stored row.
class MemoryRow {
 public:
  explicit MemoryRow(const std::vector<Value>& row) : row_(row) {}
  const Value& Get(int column) { return row_[static_cast<size_t>(column)]; }
  std::optional<std::u16string_view> Text(int column) {
    const Value& v = row_[static_cast<size_t>(column)];
    if (v.kind() != Value::Kind::kText) return std::nullopt;
    return std::u16string_view(v.text());
  }
  bool IsNull(int column) { return row_[static_cast<size_t>(column)].is_null(); }

 private:
  const std::vector<Value>& row_;
};

// A stored row, through the virtual face the engine's readers implement.
class ReaderRow {
 public:
  explicit ReaderRow(RowReader& reader) : reader_(reader) {}
  const Value& Get(int column) { return reader_.Get(column); }
  std::optional<std::u16string_view> Text(int column) { return reader_.Text(column); }
  bool IsNull(int column) { return reader_.IsNull(column); }

 private:
  RowReader& reader_;
};

struct Node {
  Expr::Kind kind = Expr::Kind::kTruth;
  CompareOp op = CompareOp::kEqual;
  bool negated = false;
  std::vector<Node> children;
  BoundOperand a, b, c;
  std::vector<BoundOperand> list;
  std::optional<LikePattern> like;  // empty when the pattern is NULL
  bool like_text_column = false;    // LIKE on a Text or Memo column: matched on its text
  // Fast path of a comparison of a text column with a text literal: the literal folded.
  bool folded_text_literal = false;
};

}  // namespace

struct Predicate::Bound {
  Node root;
  int max_column = -1;
  const std::vector<Field>* fields = nullptr;

  BoundOperand BindColumn(const Operand& o) {
    BoundOperand out;
    out.column = FindField(*fields, o.column);
    if (out.column < 0) ThrowStatementError(o.position, u"列「" + o.column + u"」がありません");
    max_column = std::max(max_column, out.column);
    return out;
  }

  // Binds an operand compared with `other`: a literal takes the type of a column on the
  // other side.
  BoundOperand BindCompared(const Operand& o, const Operand& other) {
    if (o.kind == Operand::Kind::kColumn) return BindColumn(o);
    BoundOperand out;
    out.literal = o.literal;
    if (other.kind != Operand::Kind::kColumn) return out;
    const int index = FindField(*fields, other.column);
    if (index < 0) return out;  // reported when the other side is bound
    const Field& field = (*fields)[static_cast<size_t>(index)];
    const Category column = CategoryOf(field);
    const Category literal = CategoryOf(o.literal);
    if (literal == Category::kText && (column == Category::kNumber || column == Category::kDate)) {
      std::optional<Value> converted;
      if (column == Category::kDate) {
        if (auto date = ParseDateText(o.literal.text())) converted = Value::FromDateTime(*date);
      }
      if (!converted) converted = ParseNumberText(o.literal.text());
      if (!converted && field.column_type == ColumnType::kBoolean) {
        static constexpr std::pair<std::u16string_view, bool> kWords[] = {
            {u"true", true}, {u"false", false}, {u"yes", true},
            {u"no", false},  {u"on", true},     {u"off", false}};
        for (const auto& [word, value] : kWords) {
          if (base::FoldString(o.literal.text()) == word) converted = Value::Boolean(value);
        }
      }
      if (!converted) {
        ThrowStatementError(o.position, CategoryName(column) + u"の列「" + field.name +
                                            u"」と文字列 " + o.spelling +
                                            u" は比べられません (型が一致しません)");
      }
      out.literal = std::move(*converted);
    } else if (column == Category::kText && (literal == Category::kNumber)) {
      out.literal = Value::Text(LikeText(o.literal));
    }
    return out;
  }

  // Yes, No, On and Off written as plain words are the Yes/No constants unless the table
  // has a field of that name.
  Operand Resolved(const Operand& o) const {
    if (o.kind != Operand::Kind::kColumn || !o.plain_word || FindField(*fields, o.column) >= 0) {
      return o;
    }
    static constexpr std::pair<std::u16string_view, bool> kWords[] = {
        {u"yes", true}, {u"no", false}, {u"on", true}, {u"off", false}};
    for (const auto& [word, value] : kWords) {
      if (o.column.size() == word.size() && base::CompareIgnoringCase(o.column, word) == 0) {
        Operand literal = o;
        literal.kind = Operand::Kind::kLiteral;
        literal.literal = Value::Boolean(value);
        return literal;
      }
    }
    return o;
  }

  Node Bind(const Expr& original) {
    Expr resolved;
    const bool has_operands = original.kind != Expr::Kind::kAnd &&
                              original.kind != Expr::Kind::kOr && original.kind != Expr::Kind::kNot;
    if (has_operands) {
      resolved.kind = original.kind;
      resolved.position = original.position;
      resolved.op = original.op;
      resolved.negated = original.negated;
      resolved.pattern = original.pattern;
      resolved.left = Resolved(original.left);
      resolved.right = Resolved(original.right);
      resolved.third = Resolved(original.third);
      for (const Operand& item : original.list) resolved.list.push_back(Resolved(item));
    }
    const Expr& e = has_operands ? resolved : original;
    Node n;
    n.kind = e.kind;
    n.op = e.op;
    n.negated = e.negated;
    switch (e.kind) {
      case Expr::Kind::kAnd:
      case Expr::Kind::kOr:
      case Expr::Kind::kNot:
        n.children.reserve(e.children.size());
        for (const Expr& child : e.children) n.children.push_back(Bind(child));
        break;
      case Expr::Kind::kCompare:
        n.a = BindCompared(e.left, e.right);
        n.b = BindCompared(e.right, e.left);
        n.folded_text_literal =
            n.a.column >= 0 && n.b.column < 0 && n.b.literal.kind() == Value::Kind::kText;
        break;
      case Expr::Kind::kLike: {
        n.a = e.left.kind == Operand::Kind::kColumn ? BindColumn(e.left)
                                                    : BoundOperand{-1, e.left.literal};
        n.like_text_column =
            n.a.column >= 0 &&
            CategoryOf((*fields)[static_cast<size_t>(n.a.column)]) == Category::kText;
        const Value& pattern = e.right.literal;
        if (!pattern.is_null()) {
          n.like.emplace(pattern.kind() == Value::Kind::kText ? pattern.text() : LikeText(pattern));
        }
        break;
      }
      case Expr::Kind::kIsNull:
        n.a = e.left.kind == Operand::Kind::kColumn ? BindColumn(e.left)
                                                    : BoundOperand{-1, e.left.literal};
        break;
      case Expr::Kind::kBetween:
        n.a = BindCompared(e.left, e.right);
        n.b = BindCompared(e.right, e.left);
        n.c = BindCompared(e.third, e.left);
        break;
      case Expr::Kind::kIn:
        n.a = BindCompared(e.left, e.list.front());
        for (const Operand& item : e.list) n.list.push_back(BindCompared(item, e.left));
        break;
      case Expr::Kind::kTruth: {
        n.a = e.left.kind == Operand::Kind::kColumn ? BindColumn(e.left)
                                                    : BoundOperand{-1, e.left.literal};
        const Category category = n.a.column >= 0
                                      ? CategoryOf((*fields)[static_cast<size_t>(n.a.column)])
                                      : CategoryOf(n.a.literal);
        if (category != Category::kNumber && category != Category::kDate &&
            category != Category::kNull) {
          ThrowStatementError(e.left.position, CategoryName(category) + u"の " + e.left.spelling +
                                                   u" は条件として使えません (比較が必要です)");
        }
        break;
      }
    }
    return n;
  }

  static Tri Compare(const Value& x, const Value& y, CompareOp op) {
    const std::optional<int> c = CompareForCondition(x, y);
    if (!c) return Tri::kUnknown;
    return Holds(op, *c) ? Tri::kTrue : Tri::kFalse;
  }

  template <typename Row>
  static Tri Eval(const Node& n, Row& row) {
    switch (n.kind) {
      case Expr::Kind::kOr: {
        Tri result = Tri::kFalse;
        for (const Node& child : n.children) {
          const Tri t = Eval(child, row);
          if (t == Tri::kTrue) return t;
          if (t == Tri::kUnknown) result = t;
        }
        return result;
      }
      case Expr::Kind::kAnd: {
        Tri result = Tri::kTrue;
        for (const Node& child : n.children) {
          const Tri t = Eval(child, row);
          if (t == Tri::kFalse) return t;
          if (t == Tri::kUnknown) result = t;
        }
        return result;
      }
      case Expr::Kind::kNot:
        return Not(Eval(n.children.front(), row));
      case Expr::Kind::kLike: {
        if (n.like_text_column) {
          // The stored text is matched where it lies, without building a value.
          const std::optional<std::u16string_view> text = row.Text(n.a.column);
          if (!text || !n.like) return Tri::kUnknown;
          return n.like->Matches(*text) != n.negated ? Tri::kTrue : Tri::kFalse;
        }
        const Value& v = n.a.Get(row);
        if (v.is_null() || !n.like) return Tri::kUnknown;
        const bool match = v.kind() == Value::Kind::kText ? n.like->Matches(v.text())
                                                          : n.like->Matches(LikeText(v));
        return match != n.negated ? Tri::kTrue : Tri::kFalse;
      }
      case Expr::Kind::kCompare: {
        const Value& x = n.a.Get(row);
        const Value& y = n.b.Get(row);
        if (n.folded_text_literal && x.kind() == Value::Kind::kText) {
          return Holds(n.op, base::CompareIgnoringCase(x.text(), y.text())) ? Tri::kTrue
                                                                            : Tri::kFalse;
        }
        return Compare(x, y, n.op);
      }
      case Expr::Kind::kIsNull: {
        const bool null = n.a.column >= 0 ? row.IsNull(n.a.column) : n.a.literal.is_null();
        return null != n.negated ? Tri::kTrue : Tri::kFalse;
      }
      case Expr::Kind::kBetween: {
        const Value& x = n.a.Get(row);
        const Tri low = Compare(x, n.b.Get(row), CompareOp::kGreaterEqual);
        const Tri high = Compare(x, n.c.Get(row), CompareOp::kLessEqual);
        Tri inside;
        if (low == Tri::kFalse || high == Tri::kFalse) {
          inside = Tri::kFalse;
        } else if (low == Tri::kUnknown || high == Tri::kUnknown) {
          inside = Tri::kUnknown;
        } else {
          inside = Tri::kTrue;
        }
        return n.negated ? Not(inside) : inside;
      }
      case Expr::Kind::kIn: {
        const Value& x = n.a.Get(row);
        Tri found = Tri::kFalse;
        for (const BoundOperand& item : n.list) {
          const Tri t = Compare(x, item.Get(row), CompareOp::kEqual);
          if (t == Tri::kTrue) {
            found = t;
            break;
          }
          if (t == Tri::kUnknown) found = t;
        }
        return n.negated ? Not(found) : found;
      }
      case Expr::Kind::kTruth: {
        const Value& v = n.a.Get(row);
        if (v.is_null()) return Tri::kUnknown;
        if (CategoryOf(v) != Category::kNumber && CategoryOf(v) != Category::kDate) {
          return Tri::kUnknown;
        }
        const double d = v.number();
        if (std::isnan(d)) return Tri::kUnknown;
        return d != 0 ? Tri::kTrue : Tri::kFalse;
      }
    }
    return Tri::kUnknown;
  }
};

Predicate::Predicate(const Expr* where, const std::vector<Field>& fields) {
  if (where == nullptr) return;
  auto bound = std::make_unique<Bound>();
  bound->fields = &fields;
  bound->root = bound->Bind(*where);
  bound->fields = nullptr;
  bound_ = std::move(bound);
}

Predicate::~Predicate() = default;
Predicate::Predicate(Predicate&&) noexcept = default;
Predicate& Predicate::operator=(Predicate&&) noexcept = default;

bool Predicate::Matches(const std::vector<Value>& row) const {
  if (!bound_) return true;
  if (bound_->max_column >= 0 && row.size() <= static_cast<size_t>(bound_->max_column)) {
    throw Error(u"SQL のエラー: 行の値の数が列の数より少なくなっています");
  }
  MemoryRow memory(row);
  return Bound::Eval(bound_->root, memory) == Tri::kTrue;
}

bool Predicate::Matches(RowReader& row) const {
  if (!bound_) return true;
  ReaderRow reader(row);
  return Bound::Eval(bound_->root, reader) == Tri::kTrue;
}

namespace {

bool SameOperand(const Operand& a, const Operand& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Operand::Kind::kLiteral) return a.literal == b.literal;
  return a.plain_word == b.plain_word && base::EqualIgnoringCase(a.column, b.column);
}

bool SameExpr(const Expr& a, const Expr& b) {
  if (a.kind != b.kind || a.op != b.op || a.negated != b.negated || a.pattern != b.pattern ||
      a.children.size() != b.children.size() || a.list.size() != b.list.size() ||
      !SameOperand(a.left, b.left) || !SameOperand(a.right, b.right) ||
      !SameOperand(a.third, b.third)) {
    return false;
  }
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!SameExpr(a.children[i], b.children[i])) return false;
  }
  for (size_t i = 0; i < a.list.size(); ++i) {
    if (!SameOperand(a.list[i], b.list[i])) return false;
  }
  return true;
}

bool NarrowsExpr(const Expr& narrower, const Expr& wider) {
  if (SameExpr(narrower, wider)) return true;
  if (narrower.kind != wider.kind) return false;
  switch (narrower.kind) {
    case Expr::Kind::kAnd:
    case Expr::Kind::kOr:
      // Each side narrowed keeps true rows true, whichever side made them true.
      if (narrower.children.size() != wider.children.size()) return false;
      for (size_t i = 0; i < narrower.children.size(); ++i) {
        if (!NarrowsExpr(narrower.children[i], wider.children[i])) return false;
      }
      return true;
    case Expr::Kind::kLike: {
      if (narrower.negated || wider.negated || !SameOperand(narrower.left, wider.left)) {
        return false;
      }
      const Value& n = narrower.right.literal;
      const Value& w = wider.right.literal;
      if (n.kind() != Value::Kind::kText || w.kind() != Value::Kind::kText) return false;
      return LikePattern(n.text()).Narrows(LikePattern(w.text()));
    }
    default:
      return false;
  }
}

}  // namespace

bool Narrows(const Expr* narrower, const Expr* wider) {
  if (wider == nullptr) return true;
  if (narrower == nullptr) return false;
  return NarrowsExpr(*narrower, *wider);
}

int CompareValues(const Value& a, const Value& b) {
  auto rank = [](Category c) {
    switch (c) {
      case Category::kNull:
        return 0;
      case Category::kNumber:
      case Category::kDate:
        return 1;
      case Category::kText:
        return 2;
      case Category::kBinary:
        return 3;
      case Category::kGuid:
        return 4;
    }
    return 5;
  };
  const Category ca = CategoryOf(a), cb = CategoryOf(b);
  const int ra = rank(ca), rb = rank(cb);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ca) {
    case Category::kNull:
      return 0;
    case Category::kNumber:
    case Category::kDate:
      return CompareNumbers(a, b);
    case Category::kText:
      return base::CompareIgnoringCase(a.text(), b.text());
    case Category::kBinary: {
      const Bytes& x = a.binary();
      const Bytes& y = b.binary();
      if (std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end())) return -1;
      return x == y ? 0 : 1;
    }
    case Category::kGuid:
      return Three(GuidDisplayOrder(a.guid()), GuidDisplayOrder(b.guid()));
  }
  return 0;
}

namespace {

// One row's value for one ORDER BY term, prepared so that the common comparisons (whole
// numbers, other numbers and dates, texts) need no folding or type dispatch while sorting.
// A key is small: a text's folded form and a value of the other kinds (Currency, Decimal,
// Binary, GUID) live in the term's side tables, at `slot`.
struct SortKey {
  enum class Class : uint8_t { kNull, kInteger, kReal, kText, kOther };
  Class cls = Class::kNull;
  uint32_t slot = 0;
  int64_t integer = 0;
  double real = 0;
};

struct SortTerm {
  int index = 0;
  bool descending = false;
  std::vector<SortKey> keys;  // one per row
  std::vector<std::u16string> texts;
  std::vector<Value> others;

  void Add(const Value& v) {
    SortKey k;
    switch (v.kind()) {
      case Value::Kind::kNull:
        k.cls = SortKey::Class::kNull;
        break;
      case Value::Kind::kInteger:
        k.cls = SortKey::Class::kInteger;
        k.integer = v.integer();
        break;
      case Value::Kind::kDouble:
      case Value::Kind::kBoolean:
      case Value::Kind::kDateTime:
        k.cls = SortKey::Class::kReal;
        k.real = NumericKey(v);
        break;
      case Value::Kind::kText:
        k.cls = SortKey::Class::kText;
        k.slot = static_cast<uint32_t>(texts.size());
        texts.push_back(base::FoldString(v.text()));
        break;
      default:
        k.cls = SortKey::Class::kOther;
        k.slot = static_cast<uint32_t>(others.size());
        others.push_back(v);
        break;
    }
    keys.push_back(k);
  }

  // A value that orders against a kept value as the key's own value does: whole numbers
  // exactly, other numbers and dates by their numeric key, texts by their rank alone.
  Value StandIn(const SortKey& k) const {
    switch (k.cls) {
      case SortKey::Class::kNull:
        return Value();
      case SortKey::Class::kInteger:
        return Value::Integer(k.integer);
      case SortKey::Class::kReal:
        return Value::Double(k.real);
      case SortKey::Class::kText:
        return Value::Text(u"");
      case SortKey::Class::kOther:
        return others[k.slot];
    }
    return Value();
  }

  // The same order as CompareValues, faster for the prepared classes.
  int Compare(size_t x, size_t y) const {
    using Class = SortKey::Class;
    const SortKey& a = keys[x];
    const SortKey& b = keys[y];
    if (a.cls == Class::kNull || b.cls == Class::kNull) {
      return a.cls == b.cls ? 0 : (a.cls == Class::kNull ? -1 : 1);
    }
    if (a.cls == b.cls) {
      switch (a.cls) {
        case Class::kInteger:
          return Three(a.integer, b.integer);
        case Class::kReal:
          return CompareDoubles(a.real, b.real);
        case Class::kText: {
          const int c = texts[a.slot].compare(texts[b.slot]);
          return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        default:
          break;
      }
    }
    return CompareValues(StandIn(a), StandIn(b));
  }
};

}  // namespace

std::vector<size_t> SortOrder(size_t count, const std::vector<OrderTerm>& order_by,
                              const std::vector<Field>& fields,
                              const std::function<Value(size_t row, int field)>& value_of) {
  std::vector<size_t> order(count);
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (order_by.empty()) return order;
  std::vector<SortTerm> terms;
  for (const OrderTerm& term : order_by) {
    const int index = FindField(fields, term.column);
    if (index < 0) {
      throw Error(u"SQL のエラー: ORDER BY の列「" + term.column + u"」がありません");
    }
    SortTerm t;
    t.index = index;
    t.descending = term.descending;
    terms.push_back(std::move(t));
  }
  for (SortTerm& term : terms) {
    term.keys.reserve(count);
    for (size_t row = 0; row < count; ++row) term.Add(value_of(row, term.index));
  }
  const auto before = [&terms](size_t x, size_t y) {
    for (const SortTerm& term : terms) {
      const int c = term.Compare(x, y);
      if (c != 0) return term.descending ? c > 0 : c < 0;
    }
    return false;
  };
  // Rows are often stored in the order asked for (numbered as they were added).
  if (std::is_sorted(order.begin(), order.end(), before)) return order;
  std::stable_sort(order.begin(), order.end(), before);
  return order;
}

void SortRows(std::vector<std::vector<Value>>& rows, const std::vector<OrderTerm>& order_by,
              const std::vector<Field>& fields) {
  if (order_by.empty()) return;
  const std::vector<size_t> order =
      SortOrder(rows.size(), order_by, fields, [&rows](size_t row, int field) {
        const std::vector<Value>& values = rows[row];
        if (static_cast<size_t>(field) >= values.size()) {
          throw Error(u"SQL のエラー: 行の値の数が列の数より少なくなっています");
        }
        return values[static_cast<size_t>(field)];
      });
  std::vector<std::vector<Value>> sorted;
  sorted.reserve(rows.size());
  for (size_t i : order) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}

}  // namespace jet::sql
