// Parsing: the statements the program sends, the dialect around them, and the errors for
// statements that do not parse.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "base/utf.h"
#include "jet/sql.h"
#include "jet/sql_internal.h"

namespace jet::sql {
namespace {

std::string U8(std::u16string_view s) { return base::ToUtf8(s); }

std::string DescribeValue(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull:
      return "NULL";
    case Value::Kind::kBoolean:
      return v.boolean() ? "TRUE" : "FALSE";
    case Value::Kind::kInteger:
      return std::to_string(v.integer());
    case Value::Kind::kDouble: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%gd", v.number());
      return buffer;
    }
    case Value::Kind::kText:
      return "'" + U8(v.text()) + "'";
    case Value::Kind::kDateTime:
      return "#" + v.date_time().ToIsoString() + "#";
    default:
      return "?";
  }
}

std::string DescribeOperand(const Operand& o) {
  if (o.kind == Operand::Kind::kColumn) return "[" + U8(o.column) + "]";
  return DescribeValue(o.literal);
}

// The condition tree as an S-expression: (AND ...), (= [col] 'text'), (LIKE [col] '%a%').
std::string Describe(const Expr& e) {
  auto children = [&](const char* head) {
    std::string out = std::string("(") + head;
    for (const Expr& c : e.children) out += " " + Describe(c);
    return out + ")";
  };
  static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
  switch (e.kind) {
    case Expr::Kind::kAnd:
      return children("AND");
    case Expr::Kind::kOr:
      return children("OR");
    case Expr::Kind::kNot:
      return children("NOT");
    case Expr::Kind::kCompare:
      return std::string("(") + kOps[static_cast<int>(e.op)] + " " + DescribeOperand(e.left) + " " +
             DescribeOperand(e.right) + ")";
    case Expr::Kind::kLike:
      return std::string(e.negated ? "(NOTLIKE " : "(LIKE ") + DescribeOperand(e.left) + " " +
             DescribeOperand(e.right) + ")";
    case Expr::Kind::kIsNull:
      return std::string(e.negated ? "(NOTNULL " : "(ISNULL ") + DescribeOperand(e.left) + ")";
    case Expr::Kind::kBetween:
      return std::string(e.negated ? "(NOTBETWEEN " : "(BETWEEN ") + DescribeOperand(e.left) + " " +
             DescribeOperand(e.right) + " " + DescribeOperand(e.third) + ")";
    case Expr::Kind::kIn: {
      std::string out = std::string(e.negated ? "(NOTIN " : "(IN ") + DescribeOperand(e.left);
      for (const Operand& o : e.list) out += " " + DescribeOperand(o);
      return out + ")";
    }
    case Expr::Kind::kTruth:
      return "(TRUTH " + DescribeOperand(e.left) + ")";
  }
  return "?";
}

std::string DescribeSelect(const SelectStatement& s) {
  std::string out = "FROM [" + U8(s.table) + "]";
  if (s.where) out += " WHERE " + Describe(*s.where);
  if (!s.order_by.empty()) {
    out += " ORDER";
    for (const OrderTerm& t : s.order_by) out += " [" + U8(t.column) + (t.descending ? "]-" : "]+");
  }
  return out;
}

struct SelectCase {
  std::u16string sql;
  std::string expected;
};

TEST(SqlParseTest, Select) {
  const SelectCase cases[] = {
      // The texts OpenTableQuery builds: both blanks always present.
      {u"SELECT * FROM T_projectMain  ", "FROM [T_projectMain]"},
      {u"SELECT * FROM T_projectMain  ORDER BY ID", "FROM [T_projectMain] ORDER [ID]+"},
      {u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%ab%\") OR ([FILENAME] Like "
       u"\"%ab%\") ) ",
       "FROM [T_projectMain] WHERE (OR (LIKE [TITLE] '%ab%') (LIKE [FILENAME] '%ab%'))"},
      // A doubled quote inside the literal is one quote.
      {u"SELECT * FROM t WHERE ( ([TITLE] Like \"%a\"\"b%\") ) ",
       "FROM [t] WHERE (LIKE [TITLE] '%a\"b%')"},
      {u"select * from t where a like 'it''s' order by a desc, [b c] asc;",
       "FROM [t] WHERE (LIKE [a] 'it's') ORDER [a]- [b c]+"},
      {u"SELECT * FROM [My Table] WHERE [Col 1] = 'x'", "FROM [My Table] WHERE (= [Col 1] 'x')"},
      {u"SELECT * FROM [表] WHERE 名前 = \"東京\"", "FROM [表] WHERE (= [名前] '東京')"},
      {u"SELECT * FROM t WHERE a = 1 AND b = 2 OR c = 3",
       "FROM [t] WHERE (OR (AND (= [a] 1) (= [b] 2)) (= [c] 3))"},
      {u"SELECT * FROM t WHERE a = 1 AND (b = 2 OR c = 3)",
       "FROM [t] WHERE (AND (= [a] 1) (OR (= [b] 2) (= [c] 3)))"},
      {u"SELECT * FROM t WHERE NOT a = 1 AND b <> 2",
       "FROM [t] WHERE (AND (NOT (= [a] 1)) (<> [b] 2))"},
      {u"SELECT * FROM t WHERE a<1 OR a>2 OR a<=3 OR a>=4",
       "FROM [t] WHERE (OR (< [a] 1) (> [a] 2) (<= [a] 3) (>= [a] 4))"},
      {u"SELECT * FROM t WHERE a IS NULL AND b IS NOT NULL",
       "FROM [t] WHERE (AND (ISNULL [a]) (NOTNULL [b]))"},
      {u"SELECT * FROM t WHERE a NOT LIKE 'x%'", "FROM [t] WHERE (NOTLIKE [a] 'x%')"},
      {u"SELECT * FROM t WHERE a = -5 OR a = +2.5 OR a = .5 OR a = 1e3",
       "FROM [t] WHERE (OR (= [a] -5) (= [a] 2.5d) (= [a] 0.5d) (= [a] 1000d))"},
      {u"SELECT * FROM t WHERE a = -9223372036854775808",
       "FROM [t] WHERE (= [a] -9223372036854775808)"},
      {u"SELECT * FROM t WHERE a = 9223372036854775808", "FROM [t] WHERE (= [a] 9.22337e+18d)"},
      {u"SELECT * FROM t WHERE a = NULL", "FROM [t] WHERE (= [a] NULL)"},
      {u"SELECT * FROM t WHERE flag = True OR flag = FALSE OR flag",
       "FROM [t] WHERE (OR (= [flag] TRUE) (= [flag] FALSE) (TRUTH [flag]))"},
      {u"SELECT * FROM t WHERE d >= #2001-02-03# AND d < #1/2/1850 13:30#",
       "FROM [t] WHERE (AND (>= [d] #2001-02-03T00:00:00#) (< [d] #1850-01-02T13:30:00#))"},
      {u"SELECT * FROM t WHERE a BETWEEN 1 AND 5 AND b NOT BETWEEN 'a' AND 'c'",
       "FROM [t] WHERE (AND (BETWEEN [a] 1 5) (NOTBETWEEN [b] 'a' 'c'))"},
      {u"SELECT * FROM t WHERE a IN (1, 2, 'x') OR a NOT IN (3)",
       "FROM [t] WHERE (OR (IN [a] 1 2 'x') (NOTIN [a] 3))"},
      {u"SELECT * FROM t WHERE t.a = 1 ORDER BY [t].[a]", "FROM [t] WHERE (= [a] 1) ORDER [a]+"},
      {u"SELECT * FROM t WHERE 'x' = a", "FROM [t] WHERE (= 'x' [a])"},
      {u"SELECT * FROM t WHERE ((((a = 1))))", "FROM [t] WHERE (= [a] 1)"},
      {u"  SELECT\t*\r\nFROM\nt\n;  ", "FROM [t]"},
      {u"SELECT * FROM t WHERE [*?] LIKE '*?'", "FROM [t] WHERE (LIKE [*?] '*?')"},
  };
  for (const SelectCase& c : cases) {
    SCOPED_TRACE(U8(c.sql));
    Statement s = Parse(c.sql);
    ASSERT_TRUE(std::holds_alternative<SelectStatement>(s));
    EXPECT_EQ(DescribeSelect(std::get<SelectStatement>(s)), c.expected);
  }
}

struct ColumnCase {
  std::u16string definition;  // inside CREATE TABLE t (...)
  ColumnType type;
  int32_t length;
  bool auto_increment;
};

// Type words and the Jet column each one makes. In Jet SQL INTEGER is the 32-bit Long and
// FLOAT the Double; SMALLINT/SHORT are the 16-bit Integer.
TEST(SqlParseTest, CreateTableTypeWords) {
  const ColumnCase cases[] = {
      {u"c VARCHAR(255)", ColumnType::kText, 255, false},
      {u"c varchar(10)", ColumnType::kText, 10, false},
      {u"c VARCHAR", ColumnType::kText, 255, false},
      {u"c TEXT(50)", ColumnType::kText, 50, false},
      {u"c TEXT", ColumnType::kText, 255, false},
      {u"c CHAR(1)", ColumnType::kText, 1, false},
      {u"c CHARACTER VARYING (20)", ColumnType::kText, 20, false},
      {u"c NATIONAL CHARACTER VARYING(30)", ColumnType::kText, 30, false},
      {u"c NVARCHAR(40)", ColumnType::kText, 40, false},
      {u"c STRING", ColumnType::kText, 255, false},
      {u"c MEMO", ColumnType::kMemo, 0, false},
      {u"c LONGTEXT", ColumnType::kMemo, 0, false},
      {u"c NOTE", ColumnType::kMemo, 0, false},
      {u"c BYTE", ColumnType::kByte, 0, false},
      {u"c TINYINT", ColumnType::kByte, 0, false},
      {u"c SMALLINT", ColumnType::kInteger, 0, false},
      {u"c SHORT", ColumnType::kInteger, 0, false},
      {u"c Integer", ColumnType::kLong, 0, false},
      {u"c INT", ColumnType::kLong, 0, false},
      {u"c LONG", ColumnType::kLong, 0, false},
      {u"c SINGLE", ColumnType::kSingle, 0, false},
      {u"c REAL", ColumnType::kSingle, 0, false},
      {u"c Float", ColumnType::kDouble, 0, false},
      {u"c DOUBLE", ColumnType::kDouble, 0, false},
      {u"c DOUBLE PRECISION", ColumnType::kDouble, 0, false},
      {u"c CURRENCY", ColumnType::kCurrency, 0, false},
      {u"c MONEY", ColumnType::kCurrency, 0, false},
      {u"c Datetime", ColumnType::kDateTime, 0, false},
      {u"c DATE", ColumnType::kDateTime, 0, false},
      {u"c TIMESTAMP", ColumnType::kDateTime, 0, false},
      {u"c Boolean", ColumnType::kBoolean, 0, false},
      {u"c BIT", ColumnType::kBoolean, 0, false},
      {u"c YESNO", ColumnType::kBoolean, 0, false},
      {u"c COUNTER", ColumnType::kLong, 0, true},
      {u"c AUTOINCREMENT", ColumnType::kLong, 0, true},
      {u"c AUTOINCREMENT(1, 1)", ColumnType::kLong, 0, true},
      {u"c GUID", ColumnType::kGuid, 0, false},
      {u"c UNIQUEIDENTIFIER", ColumnType::kGuid, 0, false},
      {u"c BINARY(16)", ColumnType::kBinary, 16, false},
      {u"c VARBINARY", ColumnType::kBinary, 255, false},
      {u"c LONGBINARY", ColumnType::kOle, 0, false},
      {u"c OLEOBJECT", ColumnType::kOle, 0, false},
      {u"c DECIMAL", ColumnType::kNumeric, 0, false},
      // A column without a type word is Text(255).
      {u"c", ColumnType::kText, 255, false},
      {u"[c] NOT NULL", ColumnType::kText, 255, false},
  };
  for (const ColumnCase& c : cases) {
    const std::u16string sql = u"CREATE TABLE t (" + c.definition + u")";
    SCOPED_TRACE(U8(sql));
    Statement s = Parse(sql);
    ASSERT_TRUE(std::holds_alternative<CreateTableStatement>(s));
    const auto& create = std::get<CreateTableStatement>(s);
    ASSERT_EQ(create.columns.size(), 1u);
    EXPECT_EQ(create.columns[0].name, u"c");
    EXPECT_EQ(create.columns[0].type, c.type);
    EXPECT_EQ(create.columns[0].length, c.length);
    EXPECT_EQ(create.columns[0].auto_increment, c.auto_increment);
  }
}

TEST(SqlParseTest, CreateTableOfTheConversion) {
  Statement s = Parse(
      u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
      u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));");
  const auto& create = std::get<CreateTableStatement>(s);
  EXPECT_EQ(create.table, u"T_projectMain");
  ASSERT_EQ(create.columns.size(), 4u);
  EXPECT_EQ(create.columns[0].name, u"ID");
  EXPECT_EQ(create.columns[0].type, ColumnType::kLong);
  EXPECT_FALSE(create.columns[0].auto_increment);
  EXPECT_TRUE(create.columns[0].primary_key);
  EXPECT_EQ(create.columns[0].constraint_name, u"pkey");
  EXPECT_FALSE(create.columns[0].not_null);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(create.columns[i].type, ColumnType::kText);
    EXPECT_EQ(create.columns[i].length, 255);
    EXPECT_FALSE(create.columns[i].primary_key);
    EXPECT_TRUE(create.columns[i].constraint_name.empty());
  }
  EXPECT_EQ(create.columns[3].name, u"PASSWORD");
}

TEST(SqlParseTest, CreateTableOptions) {
  Statement s = Parse(
      u"create table [a b] (x long not null primary key, y text(10) with compression null, "
      u"z decimal(10, 3), w memo with comp, v counter)");
  const auto& create = std::get<CreateTableStatement>(s);
  EXPECT_EQ(create.table, u"a b");
  ASSERT_EQ(create.columns.size(), 5u);
  EXPECT_TRUE(create.columns[0].not_null);
  EXPECT_TRUE(create.columns[0].primary_key);
  EXPECT_TRUE(create.columns[0].constraint_name.empty());
  EXPECT_FALSE(create.columns[1].not_null);
  EXPECT_TRUE(create.columns[1].unicode_compression);
  EXPECT_EQ(create.columns[1].length, 10);
  EXPECT_EQ(create.columns[2].precision, 10);
  EXPECT_EQ(create.columns[2].scale, 3);
  EXPECT_TRUE(create.columns[3].unicode_compression);
  EXPECT_EQ(create.columns[4].type, ColumnType::kLong);
  EXPECT_TRUE(create.columns[4].auto_increment);

  Statement d = Parse(u"CREATE TABLE t (c DECIMAL)");
  EXPECT_EQ(std::get<CreateTableStatement>(d).columns[0].precision, 18);
  EXPECT_EQ(std::get<CreateTableStatement>(d).columns[0].scale, 0);

  // A key over several columns, given after the columns.
  Statement k = Parse(u"CREATE TABLE t (a INT, b INT, c TEXT, CONSTRAINT pk PRIMARY KEY (a, c))");
  const auto& keyed = std::get<CreateTableStatement>(k);
  EXPECT_TRUE(keyed.columns[0].primary_key);
  EXPECT_FALSE(keyed.columns[1].primary_key);
  EXPECT_TRUE(keyed.columns[2].primary_key);
  EXPECT_EQ(keyed.columns[2].constraint_name, u"pk");
}

TEST(SqlParseTest, Insert) {
  Statement s = Parse(
      u"INSERT INTO [T_projectMain] (ID, [TITLE], PASSWORD, d, f, g) VALUES (-12, \"題名 "
      u"\"\"x\"\"\", "
      u"NULL, #1850-06-01 12:00:00#, True, 2.5);");
  const auto& insert = std::get<InsertStatement>(s);
  EXPECT_EQ(insert.table, u"T_projectMain");
  ASSERT_EQ(insert.columns.size(), 6u);
  EXPECT_EQ(insert.columns[1], u"TITLE");
  ASSERT_EQ(insert.values.size(), 6u);
  EXPECT_EQ(insert.values[0], Value::Integer(-12));
  EXPECT_EQ(insert.values[1], Value::Text(u"題名 \"x\""));
  EXPECT_TRUE(insert.values[2].is_null());
  ASSERT_EQ(insert.values[3].kind(), Value::Kind::kDateTime);
  // Before 1899-12-30 the day count is negative and the time fraction still counts forward.
  EXPECT_EQ(insert.values[3].date_time().ToIsoString(), "1850-06-01T12:00:00");
  EXPECT_LT(insert.values[3].date_time().ole, 0);
  EXPECT_EQ(insert.values[4], Value::Boolean(true));
  EXPECT_EQ(insert.values[5], Value::Double(2.5));

  Statement t = Parse(u"insert into t values ('a', yes, no, 'it''s')");
  const auto& plain = std::get<InsertStatement>(t);
  EXPECT_TRUE(plain.columns.empty());
  ASSERT_EQ(plain.values.size(), 4u);
  EXPECT_EQ(plain.values[1], Value::Boolean(true));
  EXPECT_EQ(plain.values[2], Value::Boolean(false));
  EXPECT_EQ(plain.values[3], Value::Text(u"it's"));
}

TEST(SqlParseTest, DateLiterals) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"#2024-02-29#", "2024-02-29T00:00:00"},
      {u"#2024/2/29 23:59:59#", "2024-02-29T23:59:59"},
      {u"#12/31/9999#", "9999-12-31T00:00:00"},
      {u"#0100-01-01#", "0100-01-01T00:00:00"},
      {u"#1899-12-30#", "1899-12-30T00:00:00"},
      {u"#1899-12-29 06:00#", "1899-12-29T06:00:00"},
      {u"#2100-03-01 00:00:00.250#", "2100-03-01T00:00:00.250"},
      {u"#13:45#", "1899-12-30T13:45:00"},
  };
  for (const auto& [literal, iso] : cases) {
    SCOPED_TRACE(U8(literal));
    Statement s = Parse(u"INSERT INTO t VALUES (" + literal + u")");
    const Value& v = std::get<InsertStatement>(s).values.at(0);
    ASSERT_EQ(v.kind(), Value::Kind::kDateTime);
    EXPECT_EQ(v.date_time().ToIsoString(), iso);
  }
  // 1899-12-29 06:00 is day -1 with a quarter day forward: stored as -1.25.
  EXPECT_DOUBLE_EQ(std::get<InsertStatement>(Parse(u"INSERT INTO t VALUES (#1899-12-29 06:00#)"))
                       .values[0]
                       .date_time()
                       .ole,
                   -1.25);
}

struct ErrorCase {
  std::u16string sql;
  std::string message;  // the whole message
};

TEST(SqlParseTest, SyntaxErrorsNameThePosition) {
  const ErrorCase cases[] = {
      {u"", "SQL の構文エラー: 文の終わり (1 文字目): SQL 文が空です"},
      {u"   ", "SQL の構文エラー: 文の終わり (4 文字目): SQL 文が空です"},
      {u"DELETE FROM t",
       "SQL の構文エラー: 1 文字目付近「DELETE」: SELECT、CREATE TABLE、INSERT INTO "
       "のどれかで始めてください"},
      {u"SELECT a FROM t",
       "SQL の構文エラー: 8 文字目付近「a」: SELECT の後には * が必要です "
       "(列の指定には対応していません)"},
      {u"SELECT * FROM", "SQL の構文エラー: 文の終わり (14 文字目): テーブル名が必要です"},
      {u"SELECT * FROM WHERE", "SQL の構文エラー: 15 文字目付近「WHERE」: テーブル名が必要です"},
      // The keyword filter's clause for a keyword holding one double quote: the literal
      // ends early and the next token cannot continue the condition.
      {u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%ab\"c%\") OR ([FILENAME] Like "
       u"\"%ab\"c%\") ) ",
       "SQL の構文エラー: 56 文字目付近「c」: ) が必要です"},
      {u"SELECT * FROM t WHERE ( ([TITLE] Like \"%\"%\") ) ",
       "SQL の構文エラー: 42 文字目付近「%」: この文字は使えません"},
      {u"SELECT * FROM t WHERE a = \"abc",
       "SQL の構文エラー: 27 文字目付近「\"abc」: 文字列の \" が閉じていません"},
      {u"SELECT * FROM t WHERE a = 'abc",
       "SQL の構文エラー: 27 文字目付近「'abc」: 文字列の ' が閉じていません"},
      {u"SELECT * FROM [t WHERE",
       "SQL の構文エラー: 15 文字目付近「[t WHERE」: 名前の [ が ] で閉じていません"},
      {u"SELECT * FROM [] ", "SQL の構文エラー: 15 文字目付近「[]」: 名前が空です"},
      {u"SELECT * FROM t WHERE",
       "SQL の構文エラー: 文の終わり (22 文字目): 値 (文字列、数値、NULL など) が必要です"},
      {u"SELECT * FROM t WHERE (a = 1", "SQL の構文エラー: 文の終わり (29 文字目): ) が必要です"},
      {u"SELECT * FROM t WHERE a = 1)",
       "SQL の構文エラー: 28 文字目付近「)」: 文の終わりが必要です"},
      {u"SELECT * FROM t WHERE a LIKE b",
       "SQL の構文エラー: 30 文字目付近「b」: LIKE の右には文字列のパターンが必要です"},
      {u"SELECT * FROM t WHERE a NOT = 1",
       "SQL の構文エラー: 29 文字目付近「=」: NOT の後には LIKE、BETWEEN、IN のどれかが必要です"},
      {u"SELECT * FROM t WHERE a IS 1", "SQL の構文エラー: 28 文字目付近「1」: NULL が必要です"},
      {u"SELECT * FROM t WHERE a = - 'x'",
       "SQL の構文エラー: 29 文字目付近「'x'」: 符号の後には数値が必要です"},
      {u"SELECT * FROM t WHERE a = 12abc",
       "SQL の構文エラー: 27 文字目付近「12a」: 数値の書き方が正しくありません"},
      {u"SELECT * FROM t WHERE a = #2001-02-30#",
       "SQL の構文エラー: 27 文字目付近「#2001-02-30#」: 日付の書き方が正しくありません "
       "(#YYYY-MM-DD "
       "hh:mm:ss# など)"},
      {u"SELECT * FROM t WHERE a = 1e999",
       "SQL の構文エラー: 27 文字目付近「1e999」: 数値が大きすぎます"},
      {u"SELECT * FROM t WHERE x.a = 1",
       "SQL の構文エラー: 23 文字目付近「x」: テーブル「x」は FROM にありません"},
      {u"SELECT * FROM t ORDER ID", "SQL の構文エラー: 23 文字目付近「ID」: BY が必要です"},
      {u"SELECT * FROM t ORDER BY", "SQL の構文エラー: 文の終わり (25 文字目): 列名が必要です"},
      {u"SELECT * FROM t WHERE a = 1 ;;",
       "SQL の構文エラー: 30 文字目付近「;」: 文の終わりが必要です"},
      {u"SELECT * FROM t WHERE a ! 1",
       "SQL の構文エラー: 25 文字目付近「!」: この文字は使えません"},
      {u"CREATE t (a INT)", "SQL の構文エラー: 8 文字目付近「t」: TABLE が必要です"},
      {u"CREATE TABLE t ()", "SQL の構文エラー: 17 文字目付近「)」: 列名が必要です"},
      {u"CREATE TABLE t (a VARCHAR(256))",
       "SQL の構文エラー: 26 文字目付近「(256)」: 文字列の長さは 1 から 255 までです"},
      {u"CREATE TABLE t (a VARCHAR(0))",
       "SQL の構文エラー: 26 文字目付近「(0)」: 文字列の長さは 1 から 255 までです"},
      {u"CREATE TABLE t (a TEXT(-1))", "SQL の構文エラー: 24 文字目付近「-」: 整数が必要です"},
      {u"CREATE TABLE t (a INTEGER(4))",
       "SQL の構文エラー: 26 文字目付近「(4)」: この型には長さを指定できません"},
      {u"CREATE TABLE t (a BLOB)", "SQL の構文エラー: 19 文字目付近「BLOB」: この型名は使えません"},
      {u"CREATE TABLE t (a INT, A TEXT)",
       "SQL の構文エラー: 24 文字目付近「A」: 列「A」が二度定義されています"},
      {u"CREATE TABLE t (a INT PRIMARY KEY, b INT PRIMARY KEY)",
       "SQL の構文エラー: 36 文字目付近「b」: 主キーは一つだけです (複数の列のキーは CONSTRAINT "
       "名前 PRIMARY KEY (列, ...) で)"},
      {u"CREATE TABLE t (a INT UNIQUE)",
       "SQL の構文エラー: 23 文字目付近「UNIQUE」: この列の指定には対応していません"},
      {u"CREATE TABLE t (a INT CONSTRAINT c UNIQUE)",
       "SQL の構文エラー: 36 文字目付近「UNIQUE」: PRIMARY KEY が必要です "
       "(ほかの制約には対応していません)"},
      {u"CREATE TABLE t (a INT NOT NULL NULL)",
       "SQL の構文エラー: 32 文字目付近「NULL」: NULL と NOT NULL が両方あります"},
      {u"CREATE TABLE [a.b] (c INT)",
       "SQL の構文エラー: 14 文字目付近「[a.b]」: 名前に使えない文字 (. ! ` [ ] や制御文字) "
       "があります"},
      {u"CREATE TABLE [ a] (c INT)",
       "SQL の構文エラー: 14 文字目付近「[ a]」: 名前を空白で始めることはできません"},
      {u"CREATE TABLE t (c COUNTER(5, 2))",
       "SQL の構文エラー: 26 文字目付近「(5, 2)」: 連番の開始値と増分は (1, 1) "
       "だけに対応しています"},
      {u"CREATE TABLE t (c DECIMAL(29))",
       "SQL の構文エラー: 26 文字目付近「(29)」: DECIMAL の桁数は 1 から 28 までです"},
      {u"CREATE TABLE t (c INT WITH COMPRESSION)",
       "SQL の構文エラー: 23 文字目付近「WITH」: WITH COMPRESSION "
       "は文字列とメモの列にだけ指定できます"},
      {u"CREATE TABLE t (c INT, PRIMARY KEY (d))",
       "SQL の構文エラー: 37 文字目付近「d」: 列「d」がありません"},
      {u"CREATE TABLE t (a INT, b INT, PRIMARY KEY (b, a))",
       "SQL の構文エラー: 47 文字目付近「a」: キーの列はテーブルの列の順に並べてください"},
      {u"INSERT t VALUES (1)", "SQL の構文エラー: 8 文字目付近「t」: INTO が必要です"},
      {u"INSERT INTO t (a, b) VALUES (1)",
       "SQL の構文エラー: 29 文字目付近「(1)」: 列の数 (2) と値の数 (1) が違います"},
      {u"INSERT INTO t (a, A) VALUES (1, 2)",
       "SQL の構文エラー: 19 文字目付近「A」: 列「A」が二度あります"},
      {u"INSERT INTO t VALUES (a)",
       "SQL の構文エラー: 23 文字目付近「a」: 値 (文字列、数値、NULL など) が必要です"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(U8(c.sql));
    try {
      Parse(c.sql);
      ADD_FAILURE() << "parsed";
    } catch (const Error& e) {
      EXPECT_EQ(U8(e.message()), c.message);
    }
  }
}

TEST(SqlParseTest, DeepNestingIsRefusedNotOverflowed) {
  std::u16string sql = u"SELECT * FROM t WHERE ";
  for (int i = 0; i < 100000; ++i) sql += u"(";
  EXPECT_THROW(Parse(sql), Error);
  std::u16string nots = u"SELECT * FROM t WHERE ";
  for (int i = 0; i < 100000; ++i) nots += u"NOT ";
  nots += u"a = 1";
  EXPECT_THROW(Parse(nots), Error);
  // Long chains of AND/OR are flat, not nested, and parse.
  std::u16string chain = u"SELECT * FROM t WHERE a = 0";
  for (int i = 0; i < 10000; ++i) chain += u" OR a = 1";
  EXPECT_NO_THROW(Parse(chain));
}

TEST(SqlParseTest, LongNamesAndColumns) {
  const std::u16string name64(64, u'n');
  EXPECT_NO_THROW(Parse(u"CREATE TABLE [" + name64 + u"] (a INT)"));
  EXPECT_THROW(Parse(u"CREATE TABLE [" + name64 + u"n] (a INT)"), Error);
  std::u16string many = u"CREATE TABLE t (c0 INT";
  for (int i = 1; i < 255; ++i) many += u", c" + PositionText(static_cast<size_t>(i)) + u" INT";
  EXPECT_NO_THROW(Parse(many + u")"));
  EXPECT_THROW(Parse(many + u", c255 INT)"), Error);
}

}  // namespace
}  // namespace jet::sql
