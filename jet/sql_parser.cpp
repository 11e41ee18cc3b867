// The statement parser: a lexer that reads one token ahead, and a recursive-descent parser
// for SELECT, CREATE TABLE and INSERT INTO.
//
// Errors name the 1-based position (in UTF-16 code units) of the token where the statement
// stopped making sense, so that a keyword that breaks a query is reported where it breaks it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "base/fold.h"
#include "jet/sql.h"
#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

constexpr int kMaxNesting = 200;       // parentheses and NOT in one condition
constexpr size_t kMaxNameLength = 64;  // Jet's limit for table, column and index names
constexpr size_t kMaxColumns = 255;    // Jet's limit for columns in a table

enum class TokenType { kEnd, kWord, kName, kString, kNumber, kDate, kSymbol };

struct Token {
  TokenType type = TokenType::kEnd;
  size_t position = 0;
  size_t length = 0;
  std::u16string text;  // word as written, name without brackets, string without quotes,
                        // symbol, number as written, date without the #s
};

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsWordStart(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80;
}
bool IsWordPart(char16_t c) { return IsWordStart(c) || IsDigit(c); }

class Lexer {
 public:
  explicit Lexer(std::u16string_view sql) : sql_(sql) {}

  Token Next() {
    while (pos_ < sql_.size() && IsBlank(sql_[pos_])) ++pos_;
    Token t;
    t.position = pos_;
    if (pos_ >= sql_.size()) return t;
    const char16_t c = sql_[pos_];
    if (IsWordStart(c)) {
      size_t end = pos_;
      while (end < sql_.size() && IsWordPart(sql_[end])) ++end;
      return Take(TokenType::kWord, end, sql_.substr(pos_, end - pos_));
    }
    if (c == u'[') {
      const size_t close = sql_.find(u']', pos_ + 1);
      if (close == std::u16string_view::npos) {
        ThrowSyntaxError(sql_, pos_, sql_.size() - pos_, u"名前の [ が ] で閉じていません");
      }
      if (close == pos_ + 1) ThrowSyntaxError(sql_, pos_, 2, u"名前が空です");
      return Take(TokenType::kName, close + 1, sql_.substr(pos_ + 1, close - pos_ - 1));
    }
    if (c == u'"' || c == u'\'') {
      std::u16string text;
      size_t i = pos_ + 1;
      while (true) {
        if (i >= sql_.size()) {
          ThrowSyntaxError(
              sql_, pos_, sql_.size() - pos_,
              c == u'"' ? u"文字列の \" が閉じていません" : u"文字列の ' が閉じていません");
        }
        if (sql_[i] == c) {
          if (i + 1 < sql_.size() && sql_[i + 1] == c) {
            text.push_back(c);
            i += 2;
            continue;
          }
          break;
        }
        text.push_back(sql_[i++]);
      }
      return Take(TokenType::kString, i + 1, std::move(text));
    }
    if (c == u'#') {
      const size_t close = sql_.find(u'#', pos_ + 1);
      if (close == std::u16string_view::npos) {
        ThrowSyntaxError(sql_, pos_, sql_.size() - pos_, u"日付の # が閉じていません");
      }
      return Take(TokenType::kDate, close + 1, sql_.substr(pos_ + 1, close - pos_ - 1));
    }
    if (IsDigit(c) || (c == u'.' && pos_ + 1 < sql_.size() && IsDigit(sql_[pos_ + 1]))) {
      size_t end = pos_;
      while (end < sql_.size() && IsDigit(sql_[end])) ++end;
      if (end < sql_.size() && sql_[end] == u'.') {
        ++end;
        while (end < sql_.size() && IsDigit(sql_[end])) ++end;
      }
      if (end < sql_.size() && (sql_[end] == u'e' || sql_[end] == u'E')) {
        size_t e = end + 1;
        if (e < sql_.size() && (sql_[e] == u'+' || sql_[e] == u'-')) ++e;
        if (e < sql_.size() && IsDigit(sql_[e])) {
          while (e < sql_.size() && IsDigit(sql_[e])) ++e;
          end = e;
        }
      }
      if (end < sql_.size() && IsWordPart(sql_[end])) {
        ThrowSyntaxError(sql_, pos_, end + 1 - pos_, u"数値の書き方が正しくありません");
      }
      return Take(TokenType::kNumber, end, sql_.substr(pos_, end - pos_));
    }
    if (pos_ + 1 < sql_.size()) {
      const std::u16string_view two = sql_.substr(pos_, 2);
      if (two == u"<>" || two == u"<=" || two == u">=") {
        return Take(TokenType::kSymbol, pos_ + 2, two);
      }
    }
    static constexpr std::u16string_view kSingles = u"(),;*.=<>-+";
    if (kSingles.find(c) != std::u16string_view::npos) {
      return Take(TokenType::kSymbol, pos_ + 1, sql_.substr(pos_, 1));
    }
    ThrowSyntaxError(sql_, pos_, 1, u"この文字は使えません");
  }

 private:
  Token Take(TokenType type, size_t end, std::u16string text) {
    Token t;
    t.type = type;
    t.position = pos_;
    t.length = end - pos_;
    t.text = std::move(text);
    pos_ = end;
    return t;
  }
  Token Take(TokenType type, size_t end, std::u16string_view text) {
    return Take(type, end, std::u16string(text));
  }

  std::u16string_view sql_;
  size_t pos_ = 0;
};

bool WordIs(const Token& t, std::u16string_view keyword) {
  return t.type == TokenType::kWord && t.text.size() == keyword.size() &&
         base::CompareIgnoringCase(t.text, keyword) == 0;
}

// Words that end or join conditions and so cannot stand for a column without brackets.
bool IsReserved(const Token& t) {
  static constexpr std::u16string_view kReserved[] = {
      u"SELECT", u"FROM", u"WHERE",   u"ORDER", u"BY",  u"AND",  u"OR",   u"NOT",  u"LIKE",
      u"IS",     u"NULL", u"BETWEEN", u"IN",    u"ASC", u"DESC", u"TRUE", u"FALSE"};
  for (std::u16string_view word : kReserved) {
    if (WordIs(t, word)) return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::u16string_view sql) : sql_(sql), lexer_(sql) { Advance(); }

  Statement ParseStatement() {
    if (tok_.type == TokenType::kEnd) Fail(u"SQL 文が空です");
    Statement result;
    if (WordIs(tok_, u"SELECT")) {
      result = ParseSelect();
    } else if (WordIs(tok_, u"CREATE")) {
      result = ParseCreateTable();
    } else if (WordIs(tok_, u"INSERT")) {
      result = ParseInsert();
    } else {
      Fail(u"SELECT、CREATE TABLE、INSERT INTO のどれかで始めてください");
    }
    if (IsSymbol(u";")) Advance();
    if (tok_.type != TokenType::kEnd) Fail(u"文の終わりが必要です");
    return result;
  }

 private:
  // ---- tokens --------------------------------------------------------------------------
  void Advance() {
    last_end_ = tok_.position + tok_.length;
    tok_ = lexer_.Next();
  }

  [[noreturn]] void Fail(std::u16string_view detail) const {
    ThrowSyntaxError(sql_, tok_.position, std::max<size_t>(tok_.length, 1), detail);
  }

  bool IsSymbol(std::u16string_view symbol) const {
    return tok_.type == TokenType::kSymbol && tok_.text == symbol;
  }
  bool AcceptWord(std::u16string_view keyword) {
    if (!WordIs(tok_, keyword)) return false;
    Advance();
    return true;
  }
  void ExpectWord(std::u16string_view keyword) {
    if (!AcceptWord(keyword)) Fail(std::u16string(keyword) + u" が必要です");
  }
  bool AcceptSymbol(std::u16string_view symbol) {
    if (!IsSymbol(symbol)) return false;
    Advance();
    return true;
  }
  void ExpectSymbol(std::u16string_view symbol) {
    if (!AcceptSymbol(symbol)) Fail(std::u16string(symbol) + u" が必要です");
  }

  bool AtName() const {
    return tok_.type == TokenType::kName || (tok_.type == TokenType::kWord && !IsReserved(tok_));
  }

  // A table or column name, plain or [bracketed].
  std::u16string ExpectName(std::u16string_view what) {
    if (!AtName()) Fail(std::u16string(what) + u"が必要です");
    std::u16string name = tok_.text;
    Advance();
    return name;
  }

  // A name that CREATE TABLE will register: Jet's naming rules.
  std::u16string ExpectNewName(std::u16string_view what) {
    const Token at = tok_;
    std::u16string name = ExpectName(what);
    std::u16string_view problem;
    if (name.size() > kMaxNameLength) {
      problem = u"名前が長すぎます (64 文字まで)";
    } else if (name.front() == u' ') {
      problem = u"名前を空白で始めることはできません";
    } else {
      for (char16_t ch : name) {
        if (ch < 0x20 || ch == u'.' || ch == u'!' || ch == u'`' || ch == u'[' || ch == u']') {
          problem = u"名前に使えない文字 (. ! ` [ ] や制御文字) があります";
          break;
        }
      }
    }
    if (!problem.empty()) ThrowSyntaxError(sql_, at.position, at.length, problem);
    return name;
  }

  // ---- SELECT --------------------------------------------------------------------------
  SelectStatement ParseSelect() {
    Advance();  // SELECT
    if (!IsSymbol(u"*")) Fail(u"SELECT の後には * が必要です (列の指定には対応していません)");
    Advance();
    ExpectWord(u"FROM");
    SelectStatement s;
    s.table = ExpectName(u"テーブル名");
    table_ = s.table;
    if (AcceptWord(u"WHERE")) {
      s.where = std::make_shared<const Expr>(ParseOr(0));
    }
    if (AcceptWord(u"ORDER")) {
      ExpectWord(u"BY");
      do {
        OrderTerm term;
        term.column = ParseColumnReference(nullptr);
        if (AcceptWord(u"DESC")) {
          term.descending = true;
        } else {
          AcceptWord(u"ASC");
        }
        s.order_by.push_back(std::move(term));
      } while (AcceptSymbol(u","));
    }
    return s;
  }

  // name, or table.name where the table is the one queried.
  std::u16string ParseColumnReference(size_t* position) {
    if (position) *position = tok_.position;
    const Token first = tok_;
    std::u16string name = ExpectName(u"列名");
    if (IsSymbol(u".")) {
      Advance();
      if (base::CompareIgnoringCase(name, table_) != 0 || name.size() != table_.size()) {
        ThrowSyntaxError(sql_, first.position, first.length,
                         u"テーブル「" + name + u"」は FROM にありません");
      }
      if (position) *position = tok_.position;
      name = ExpectName(u"列名");
    }
    return name;
  }

  Expr ParseOr(int depth) {
    Expr first = ParseAnd(depth);
    if (!WordIs(tok_, u"OR")) return first;
    Expr node;
    node.kind = Expr::Kind::kOr;
    node.position = first.position;
    node.children.push_back(std::move(first));
    while (AcceptWord(u"OR")) node.children.push_back(ParseAnd(depth));
    return node;
  }

  Expr ParseAnd(int depth) {
    Expr first = ParseNot(depth);
    if (!WordIs(tok_, u"AND")) return first;
    Expr node;
    node.kind = Expr::Kind::kAnd;
    node.position = first.position;
    node.children.push_back(std::move(first));
    while (AcceptWord(u"AND")) node.children.push_back(ParseNot(depth));
    return node;
  }

  Expr ParseNot(int depth) {
    if (depth >= kMaxNesting) Fail(u"条件の入れ子が深すぎます");
    if (WordIs(tok_, u"NOT")) {
      Expr node;
      node.kind = Expr::Kind::kNot;
      node.position = tok_.position;
      Advance();
      node.children.push_back(ParseNot(depth + 1));
      return node;
    }
    if (IsSymbol(u"(")) {
      Advance();
      Expr inner = ParseOr(depth + 1);
      ExpectSymbol(u")");
      return inner;
    }
    return ParsePredicate();
  }

  Expr ParsePredicate() {
    Expr node;
    node.position = tok_.position;
    node.left = ParseOperand();
    if (tok_.type == TokenType::kSymbol) {
      static constexpr std::pair<std::u16string_view, CompareOp> kOps[] = {
          {u"=", CompareOp::kEqual},      {u"<>", CompareOp::kNotEqual},
          {u"<", CompareOp::kLess},       {u">", CompareOp::kGreater},
          {u"<=", CompareOp::kLessEqual}, {u">=", CompareOp::kGreaterEqual}};
      for (const auto& [text, op] : kOps) {
        if (tok_.text == text) {
          Advance();
          node.kind = Expr::Kind::kCompare;
          node.op = op;
          node.right = ParseOperand();
          return node;
        }
      }
    }
    if (AcceptWord(u"IS")) {
      node.kind = Expr::Kind::kIsNull;
      node.negated = AcceptWord(u"NOT");
      ExpectWord(u"NULL");
      return node;
    }
    const bool negated = AcceptWord(u"NOT");
    if (AcceptWord(u"LIKE")) {
      node.kind = Expr::Kind::kLike;
      node.negated = negated;
      node.right = ParseOperand();
      if (node.right.kind != Operand::Kind::kLiteral) {
        ThrowSyntaxError(sql_, node.right.position, node.right.spelling.size(),
                         u"LIKE の右には文字列のパターンが必要です");
      }
      return node;
    }
    if (AcceptWord(u"BETWEEN")) {
      node.kind = Expr::Kind::kBetween;
      node.negated = negated;
      node.right = ParseOperand();
      ExpectWord(u"AND");
      node.third = ParseOperand();
      return node;
    }
    if (AcceptWord(u"IN")) {
      node.kind = Expr::Kind::kIn;
      node.negated = negated;
      ExpectSymbol(u"(");
      do {
        node.list.push_back(ParseOperand());
      } while (AcceptSymbol(u","));
      ExpectSymbol(u")");
      return node;
    }
    if (negated) Fail(u"NOT の後には LIKE、BETWEEN、IN のどれかが必要です");
    node.kind = Expr::Kind::kTruth;
    return node;
  }

  Operand ParseOperand() {
    Operand o;
    o.position = tok_.position;
    if (AtName()) {
      o.kind = Operand::Kind::kColumn;
      const size_t start = tok_.position;
      o.plain_word = tok_.type == TokenType::kWord;
      o.column = ParseColumnReference(&o.position);
      if (last_end_ != start + o.column.size()) o.plain_word = false;  // qualified
      o.spelling = o.column;
      o.position = start;
      return o;
    }
    o.literal = ParseLiteral();
    o.spelling = std::u16string(sql_.substr(o.position, last_end_ - o.position));
    return o;
  }

  // A literal: "text", 'text', a number with an optional sign, NULL, TRUE/FALSE (also
  // YES/NO where a name cannot stand), #date#.
  Value ParseLiteral() {
    const Token t = tok_;
    switch (t.type) {
      case TokenType::kString:
        Advance();
        return Value::Text(t.text);
      case TokenType::kNumber:
        Advance();
        return NumberValue(t, false);
      case TokenType::kDate: {
        Advance();
        std::optional<DateTime> date = ParseDateText(t.text);
        if (!date) {
          ThrowSyntaxError(sql_, t.position, t.length,
                           u"日付の書き方が正しくありません (#YYYY-MM-DD hh:mm:ss# など)");
        }
        return Value::FromDateTime(*date);
      }
      case TokenType::kSymbol:
        if (t.text == u"-" || t.text == u"+") {
          Advance();
          if (tok_.type != TokenType::kNumber) Fail(u"符号の後には数値が必要です");
          const Token number = tok_;
          Advance();
          return NumberValue(number, t.text == u"-");
        }
        break;
      case TokenType::kWord:
        if (WordIs(t, u"NULL")) {
          Advance();
          return Value::Null();
        }
        if (WordIs(t, u"TRUE") || WordIs(t, u"FALSE")) {
          Advance();
          return Value::Boolean(WordIs(t, u"TRUE"));
        }
        break;
      default:
        break;
    }
    Fail(u"値 (文字列、数値、NULL など) が必要です");
  }

  Value NumberValue(const Token& t, bool negative) {
    const bool whole = t.text.find_first_of(u".eE") == std::u16string::npos;
    if (whole) {
      // Accumulate the magnitude; beyond 64 bits the number becomes a Double.
      unsigned __int128 magnitude = 0;
      bool fits = true;
      for (char16_t ch : t.text) {
        magnitude = magnitude * 10 + static_cast<unsigned>(ch - u'0');
        if (magnitude > (static_cast<unsigned __int128>(1) << 63)) {
          fits = false;
          break;
        }
      }
      const unsigned __int128 limit =
          (static_cast<unsigned __int128>(1) << 63) - (negative ? 0 : 1);
      if (fits && magnitude <= limit) {
        if (negative) {
          return Value::Integer(magnitude == (static_cast<unsigned __int128>(1) << 63)
                                    ? INT64_MIN
                                    : -static_cast<int64_t>(magnitude));
        }
        return Value::Integer(static_cast<int64_t>(magnitude));
      }
    }
    std::string ascii(t.text.begin(), t.text.end());
    double d = std::strtod(ascii.c_str(), nullptr);
    if (!std::isfinite(d)) {
      ThrowSyntaxError(sql_, t.position, t.length, u"数値が大きすぎます");
    }
    return Value::Double(negative ? -d : d);
  }

  // ---- CREATE TABLE --------------------------------------------------------------------
  CreateTableStatement ParseCreateTable() {
    Advance();  // CREATE
    ExpectWord(u"TABLE");
    CreateTableStatement s;
    s.table = ExpectNewName(u"テーブル名");
    ExpectSymbol(u"(");
    bool table_key_seen = false;
    do {
      if (WordIs(tok_, u"CONSTRAINT") || WordIs(tok_, u"PRIMARY")) {
        ParseTableKey(s);
        table_key_seen = true;
        continue;
      }
      if (table_key_seen) Fail(u"キーの指定の後に列は定義できません");
      const Token at = tok_;
      ColumnDefinition column = ParseColumnDefinition();
      for (const ColumnDefinition& other : s.columns) {
        if (other.name.size() == column.name.size() &&
            base::CompareIgnoringCase(other.name, column.name) == 0) {
          ThrowSyntaxError(sql_, at.position, at.length,
                           u"列「" + column.name + u"」が二度定義されています");
        }
      }
      if (column.primary_key) {
        for (const ColumnDefinition& other : s.columns) {
          if (other.primary_key) {
            ThrowSyntaxError(sql_, at.position, at.length,
                             u"主キーは一つだけです (複数の列のキーは CONSTRAINT 名前 PRIMARY "
                             u"KEY (列, ...) で)");
          }
        }
      }
      if (s.columns.size() >= kMaxColumns) {
        ThrowSyntaxError(sql_, at.position, at.length, u"列が多すぎます (255 列まで)");
      }
      s.columns.push_back(std::move(column));
    } while (AcceptSymbol(u","));
    ExpectSymbol(u")");
    if (s.columns.empty()) Fail(u"列が一つもありません");
    return s;
  }

  // [CONSTRAINT name] PRIMARY KEY (col, ...) after the columns. The key's columns must be
  // listed in table order, which is the order the key is built in.
  void ParseTableKey(CreateTableStatement& s) {
    std::u16string constraint_name;
    if (AcceptWord(u"CONSTRAINT")) constraint_name = ExpectNewName(u"制約名");
    if (!WordIs(tok_, u"PRIMARY")) Fail(u"PRIMARY KEY が必要です (ほかの制約には対応していません)");
    Advance();
    ExpectWord(u"KEY");
    for (const ColumnDefinition& column : s.columns) {
      if (column.primary_key) Fail(u"主キーは一つだけです");
    }
    ExpectSymbol(u"(");
    size_t previous = 0;
    bool first = true;
    do {
      const Token at = tok_;
      std::u16string name = ExpectName(u"列名");
      size_t index = s.columns.size();
      for (size_t i = 0; i < s.columns.size(); ++i) {
        if (s.columns[i].name.size() == name.size() &&
            base::CompareIgnoringCase(s.columns[i].name, name) == 0) {
          index = i;
        }
      }
      if (index == s.columns.size()) {
        ThrowSyntaxError(sql_, at.position, at.length, u"列「" + name + u"」がありません");
      }
      if (s.columns[index].primary_key) {
        ThrowSyntaxError(sql_, at.position, at.length, u"列「" + name + u"」が二度あります");
      }
      if (!first && index < previous) {
        ThrowSyntaxError(sql_, at.position, at.length,
                         u"キーの列はテーブルの列の順に並べてください");
      }
      s.columns[index].primary_key = true;
      s.columns[index].constraint_name = constraint_name;
      previous = index;
      first = false;
    } while (AcceptSymbol(u","));
    ExpectSymbol(u")");
  }

  ColumnDefinition ParseColumnDefinition() {
    ColumnDefinition c;
    c.name = ExpectNewName(u"列名");
    // A column without a type word is a Text column of 255 characters.
    c.type = ColumnType::kText;
    c.length = 255;
    if (tok_.type == TokenType::kWord && !IsConstraintWord(tok_)) ParseType(c);
    bool null_given = false;
    while (true) {
      if (WordIs(tok_, u"NOT")) {
        Advance();
        ExpectWord(u"NULL");
        if (null_given && !c.not_null) Fail(u"NULL と NOT NULL が両方あります");
        c.not_null = true;
        null_given = true;
      } else if (WordIs(tok_, u"NULL")) {
        if (null_given && c.not_null) Fail(u"NULL と NOT NULL が両方あります");
        Advance();
        null_given = true;
      } else if (WordIs(tok_, u"CONSTRAINT") || WordIs(tok_, u"PRIMARY")) {
        std::u16string constraint_name;
        if (AcceptWord(u"CONSTRAINT")) constraint_name = ExpectNewName(u"制約名");
        if (!WordIs(tok_, u"PRIMARY")) {
          Fail(u"PRIMARY KEY が必要です (ほかの制約には対応していません)");
        }
        Advance();
        ExpectWord(u"KEY");
        if (c.primary_key) Fail(u"PRIMARY KEY が二度あります");
        c.primary_key = true;
        c.constraint_name = std::move(constraint_name);
      } else if (WordIs(tok_, u"UNIQUE") || WordIs(tok_, u"DEFAULT") ||
                 WordIs(tok_, u"REFERENCES") || WordIs(tok_, u"CHECK")) {
        Fail(u"この列の指定には対応していません");
      } else {
        break;
      }
    }
    return c;
  }

  static bool IsConstraintWord(const Token& t) {
    return WordIs(t, u"NOT") || WordIs(t, u"NULL") || WordIs(t, u"CONSTRAINT") ||
           WordIs(t, u"PRIMARY") || WordIs(t, u"UNIQUE") || WordIs(t, u"DEFAULT");
  }

  // One optional "(n)" or "(n, m)" after a type word.
  struct TypeArguments {
    bool given = false;
    int64_t first = 0;
    bool has_second = false;
    int64_t second = 0;
    Token at;
  };

  TypeArguments ParseTypeArguments() {
    TypeArguments a;
    if (!IsSymbol(u"(")) return a;
    a.at = tok_;
    Advance();
    a.given = true;
    a.first = ExpectSmallInteger();
    if (AcceptSymbol(u",")) {
      a.has_second = true;
      a.second = ExpectSmallInteger();
    }
    ExpectSymbol(u")");
    a.at.length = last_end_ - a.at.position;
    return a;
  }

  int64_t ExpectSmallInteger() {
    if (tok_.type != TokenType::kNumber ||
        tok_.text.find_first_not_of(u"0123456789") != std::u16string::npos ||
        tok_.text.size() > 9) {
      Fail(u"整数が必要です");
    }
    const int64_t v = std::stoll(std::string(tok_.text.begin(), tok_.text.end()));
    Advance();
    return v;
  }

  void ParseType(ColumnDefinition& c) {
    const Token word = tok_;
    Advance();
    auto is = [&](std::initializer_list<std::u16string_view> names) {
      for (std::u16string_view n : names) {
        if (WordIs(word, n)) return true;
      }
      return false;
    };
    auto fail_at_word = [&](std::u16string_view detail) {
      ThrowSyntaxError(sql_, word.position, word.length, detail);
    };
    // Two-word spellings.
    bool varying = false;
    if (is({u"DOUBLE"}) && AcceptWord(u"PRECISION")) {
      // DOUBLE PRECISION is Double.
    } else if (is({u"NATIONAL"})) {
      if (!AcceptWord(u"CHARACTER") && !AcceptWord(u"CHAR")) fail_at_word(u"CHAR が必要です");
      varying = AcceptWord(u"VARYING");
    } else if (is({u"CHARACTER", u"CHAR", u"BINARY", u"BIT"})) {
      varying = AcceptWord(u"VARYING");
    }
    c.length = 0;
    TypeArguments args;
    bool takes_length = false;
    if (is({u"NATIONAL"}) || is({u"VARCHAR", u"CHAR", u"CHARACTER", u"NCHAR", u"NVARCHAR",
                                 u"ALPHANUMERIC", u"STRING", u"TEXT"})) {
      c.type = ColumnType::kText;
      takes_length = true;
    } else if ((is({u"BIT"}) && varying) || is({u"BINARY", u"VARBINARY"})) {
      c.type = ColumnType::kBinary;
      takes_length = true;
    } else if (is({u"MEMO", u"LONGTEXT", u"LONGCHAR", u"NOTE", u"NTEXT"})) {
      c.type = ColumnType::kMemo;
    } else if (is({u"LONGBINARY", u"GENERAL", u"OLEOBJECT", u"IMAGE"})) {
      c.type = ColumnType::kOle;
    } else if (is({u"BIT", u"BOOLEAN", u"LOGICAL", u"LOGICAL1", u"YESNO"})) {
      c.type = ColumnType::kBoolean;
    } else if (is({u"BYTE", u"TINYINT", u"INTEGER1"})) {
      c.type = ColumnType::kByte;
    } else if (is({u"SMALLINT", u"SHORT", u"INTEGER2"})) {
      c.type = ColumnType::kInteger;
    } else if (is({u"INTEGER", u"INT", u"LONG", u"INTEGER4"})) {
      c.type = ColumnType::kLong;  // Jet SQL's INTEGER is the 32-bit Long
    } else if (is({u"COUNTER", u"AUTOINCREMENT"})) {
      c.type = ColumnType::kLong;
      c.auto_increment = true;
      args = ParseTypeArguments();
      if (args.given && (args.first != 1 || !args.has_second || args.second != 1)) {
        ThrowSyntaxError(sql_, args.at.position, args.at.length,
                         u"連番の開始値と増分は (1, 1) だけに対応しています");
      }
      return FinishType(c);
    } else if (is({u"SINGLE", u"REAL", u"FLOAT4", u"IEEESINGLE"})) {
      c.type = ColumnType::kSingle;
    } else if (is({u"FLOAT", u"DOUBLE", u"FLOAT8", u"IEEEDOUBLE", u"NUMBER"})) {
      c.type = ColumnType::kDouble;
    } else if (is({u"CURRENCY", u"MONEY"})) {
      c.type = ColumnType::kCurrency;
    } else if (is({u"DATETIME", u"DATE", u"TIME", u"TIMESTAMP"})) {
      c.type = ColumnType::kDateTime;
    } else if (is({u"GUID", u"UNIQUEIDENTIFIER"})) {
      c.type = ColumnType::kGuid;
    } else if (is({u"DECIMAL", u"NUMERIC", u"DEC"})) {
      c.type = ColumnType::kNumeric;
      c.precision = 18;
      c.scale = 0;
      args = ParseTypeArguments();
      if (args.given) {
        if (args.first < 1 || args.first > 28) {
          ThrowSyntaxError(sql_, args.at.position, args.at.length,
                           u"DECIMAL の桁数は 1 から 28 までです");
        }
        if (args.has_second && args.second > args.first) {
          ThrowSyntaxError(sql_, args.at.position, args.at.length,
                           u"DECIMAL の小数桁数は桁数以下にしてください");
        }
        c.precision = static_cast<uint8_t>(args.first);
        c.scale = static_cast<uint8_t>(args.has_second ? args.second : 0);
      }
      return FinishType(c);
    } else {
      fail_at_word(u"この型名は使えません");
    }
    args = ParseTypeArguments();
    if (takes_length) {
      c.length = 255;
      if (args.given) {
        if (args.has_second || args.first < 1 || args.first > 255) {
          ThrowSyntaxError(sql_, args.at.position, args.at.length,
                           c.type == ColumnType::kText ? u"文字列の長さは 1 から 255 までです"
                                                       : u"バイナリの長さは 1 から 255 までです");
        }
        c.length = static_cast<int32_t>(args.first);
      }
    } else if (args.given) {
      ThrowSyntaxError(sql_, args.at.position, args.at.length, u"この型には長さを指定できません");
    }
    FinishType(c);
  }

  // WITH COMPRESSION / WITH COMP after a Text or Memo type.
  void FinishType(ColumnDefinition& c) {
    if (!WordIs(tok_, u"WITH")) return;
    const Token with = tok_;
    Advance();
    if (!AcceptWord(u"COMPRESSION") && !AcceptWord(u"COMP")) Fail(u"COMPRESSION が必要です");
    if (c.type != ColumnType::kText && c.type != ColumnType::kMemo) {
      ThrowSyntaxError(sql_, with.position, with.length,
                       u"WITH COMPRESSION は文字列とメモの列にだけ指定できます");
    }
    c.unicode_compression = true;
  }

  // ---- INSERT INTO ---------------------------------------------------------------------
  InsertStatement ParseInsert() {
    Advance();  // INSERT
    ExpectWord(u"INTO");
    InsertStatement s;
    s.table = ExpectName(u"テーブル名");
    std::vector<Token> column_tokens;
    if (AcceptSymbol(u"(")) {
      do {
        column_tokens.push_back(tok_);
        std::u16string name = ExpectName(u"列名");
        for (const std::u16string& other : s.columns) {
          if (other.size() == name.size() && base::CompareIgnoringCase(other, name) == 0) {
            const Token& at = column_tokens.back();
            ThrowSyntaxError(sql_, at.position, at.length, u"列「" + name + u"」が二度あります");
          }
        }
        s.columns.push_back(std::move(name));
      } while (AcceptSymbol(u","));
      ExpectSymbol(u")");
    }
    ExpectWord(u"VALUES");
    const Token open = tok_;
    ExpectSymbol(u"(");
    do {
      if (WordIs(tok_, u"YES") || WordIs(tok_, u"NO")) {
        s.values.push_back(Value::Boolean(WordIs(tok_, u"YES")));
        Advance();
      } else {
        s.values.push_back(ParseLiteral());
      }
    } while (AcceptSymbol(u","));
    ExpectSymbol(u")");
    if (!s.columns.empty() && s.columns.size() != s.values.size()) {
      ThrowSyntaxError(sql_, open.position, last_end_ - open.position,
                       u"列の数 (" + PositionText(s.columns.size()) + u") と値の数 (" +
                           PositionText(s.values.size()) + u") が違います");
    }
    return s;
  }

  std::u16string_view sql_;
  Lexer lexer_;
  Token tok_;
  size_t last_end_ = 0;   // end of the token before the current one
  std::u16string table_;  // the table of a SELECT, for qualified column names
};

}  // namespace

Statement Parse(std::u16string_view sql) { return Parser(sql).ParseStatement(); }

}  // namespace jet::sql
