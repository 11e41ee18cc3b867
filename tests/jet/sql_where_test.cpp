// WHERE and ORDER BY over rows held in memory: which rows a condition keeps, in which order
// ORDER BY puts them, and the errors of binding a statement to a field list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "base/utf.h"
#include "jet/sql.h"

namespace jet::sql {
namespace {

std::string U8(std::u16string_view s) { return base::ToUtf8(s); }

Field MakeField(std::u16string name, ColumnType type, TFieldType field_type) {
  Field f;
  f.name = std::move(name);
  f.column_type = type;
  f.type = field_type;
  return f;
}

// A project table with the program's four fields and a few more of other types.
const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = {
      MakeField(u"ID", ColumnType::kLong, TFieldType::ftAutoInc),
      MakeField(u"TITLE", ColumnType::kText, TFieldType::ftWideString),
      MakeField(u"FILENAME", ColumnType::kText, TFieldType::ftWideString),
      MakeField(u"PASSWORD", ColumnType::kText, TFieldType::ftWideString),
      MakeField(u"PRICE", ColumnType::kDouble, TFieldType::ftFloat),
      MakeField(u"DONE", ColumnType::kBoolean, TFieldType::ftBoolean),
      MakeField(u"CREATED", ColumnType::kDateTime, TFieldType::ftDateTime),
      MakeField(u"NOTE", ColumnType::kMemo, TFieldType::ftWideMemo),
      MakeField(u"Field With Blank", ColumnType::kInteger, TFieldType::ftSmallint),
  };
  return fields;
}

Value T(std::u16string s) { return Value::Text(std::move(s)); }
Value I(int64_t v) { return Value::Integer(v); }
Value D(double v) { return Value::Double(v); }
Value Date(double ole) { return Value::FromDateTime(DateTime{ole}); }
const Value N;

std::vector<std::vector<Value>> Rows() {
  return {
      //  ID     TITLE              FILENAME              PASSWORD  PRICE   DONE
      //  CREATED          NOTE             Field With Blank
      {I(1), T(u"Tokyo survey"), T(u"C:\\data\\tokyo.qvp"), T(u""), D(10.5), Value::Boolean(true),
       Date(45000.5), T(u"memo abc"), I(3)},
      {I(2), T(u"OSAKA survey"), T(u"C:\\data\\osaka.qvp"), T(u"secret"), D(-2),
       Value::Boolean(false), Date(-1.25), N, I(-1)},
      {I(3), T(u"京都の計画"), T(u"D:\\京都.qvp"), N, N, N, N, T(u"abc"), N},
      {I(4), N, N, N, D(10.5), Value::Boolean(true), Date(-1.75), N, I(0)},
      {I(5), T(u"ｔｏｋｙｏ　ＷＩＤＥ"), T(u"wide.qvp"), T(u"pw\"q"), D(100), Value::Boolean(false),
       Date(2.0), N, I(7)},
      {I(6), T(u"100% done_ok"), T(u"x[1].qvp"), T(u"*?"), D(0), Value::Boolean(false), Date(-1.0),
       N, I(3)},
      {I(7), T(u""), T(u"tokyo2.qvp"), T(u"TOKYO"), D(7), Value::Boolean(true), Date(0.0), N, I(3)},
  };
}

std::string Ids(const std::vector<std::vector<Value>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    if (!out.empty()) out += ",";
    out += row[0].is_null() ? "null" : std::to_string(row[0].integer());
  }
  return out;
}

// Runs SELECT * FROM t <clauses> over Rows(): filter, then sort.
std::string Select(const std::u16string& clauses) {
  Statement s = Parse(u"SELECT * FROM t " + clauses);
  const auto& select = std::get<SelectStatement>(s);
  Predicate predicate(select.where.get(), Fields());
  std::vector<std::vector<Value>> kept;
  for (auto& row : Rows()) {
    if (predicate.Matches(row)) kept.push_back(row);
  }
  SortRows(kept, select.order_by, Fields());
  return Ids(kept);
}

struct WhereCase {
  std::u16string clauses;
  std::string ids;
};

TEST(SqlWhereTest, Conditions) {
  const WhereCase cases[] = {
      {u"", "1,2,3,4,5,6,7"},
      // The keyword filter: every text field, OR-ed; NULL fields never match.
      {u"WHERE ( ([TITLE] Like \"%tokyo%\") OR ([FILENAME] Like \"%tokyo%\") OR ([PASSWORD] "
       u"Like \"%tokyo%\") ) ",
       "1,7"},
      {u"WHERE ( ([TITLE] Like \"%ｔｏｋｙｏ%\") ) ", "5"},
      {u"WHERE ( ([TITLE] Like \"%ＴＯＫＹＯ%\") ) ", "5"},
      {u"WHERE ( ([TITLE] Like \"%survey%\") ) ", "1,2"},
      {u"WHERE ( ([TITLE] Like \"%京都%\") OR ([FILENAME] Like \"%京都%\") ) ", "3"},
      // "_" alone matches every row with a non-empty text in a searched field.
      {u"WHERE ( ([TITLE] Like \"%_%\") ) ", "1,2,3,5,6"},
      {u"WHERE ( ([TITLE] Like \"%_%\") OR ([FILENAME] Like \"%_%\") ) ", "1,2,3,5,6,7"},
      // A keyword of blanks only is a keyword: the full-width blank is not an ASCII blank.
      {u"WHERE ( ([TITLE] Like \"% %\") ) ", "1,2,6"},
      {u"WHERE ( ([TITLE] Like \"%[%]%\") ) ", "6"},
      {u"WHERE ( ([TITLE] Like \"%e[_]o%\") ) ", "6"},
      {u"WHERE ( ([FILENAME] Like \"%[[]1]%\") ) ", "6"},
      {u"WHERE ( ([PASSWORD] Like \"%\"\"%\") ) ", "5"},
      {u"WHERE ( ([PASSWORD] Like \"*?\") ) ", "6"},
      {u"WHERE TITLE LIKE ''", "7"},
      {u"WHERE TITLE NOT LIKE '%survey%'", "3,5,6,7"},  // row 4 has a NULL title
      {u"WHERE NOTE LIKE '%abc'", "1,3"},
      // Comparisons: texts without case; NULL is unknown.
      {u"WHERE TITLE = 'osaka SURVEY'", "2"},
      {u"WHERE TITLE <> 'osaka SURVEY'", "1,3,5,6,7"},
      {u"WHERE PASSWORD = ''", "1"},
      {u"WHERE PASSWORD = NULL", ""},
      {u"WHERE PASSWORD <> NULL", ""},
      {u"WHERE PASSWORD IS NULL", "3,4"},
      {u"WHERE PASSWORD IS NOT NULL", "1,2,5,6,7"},
      {u"WHERE NOT PASSWORD IS NULL", "1,2,5,6,7"},
      {u"WHERE TITLE < 'b'", "6,7"},
      {u"WHERE TITLE >= 'Tokyo survey'", "1,3,5"},
      // Numbers, and a number column with a text that reads as a number.
      {u"WHERE ID = 3", "3"},
      {u"WHERE ID = '3'", "3"},
      {u"WHERE ID = ' 3 '", "3"},
      {u"WHERE ID > 2 AND ID <= 5", "3,4,5"},
      {u"WHERE ID >= 6 OR ID < 2", "1,6,7"},
      {u"WHERE PRICE = 10.5", "1,4"},
      {u"WHERE PRICE > -3 AND PRICE < 1", "2,6"},
      {u"WHERE PRICE = -2", "2"},
      {u"WHERE PRICE >= 1e2", "5"},
      {u"WHERE [Field With Blank] = 3", "1,6,7"},
      {u"WHERE [field with blank] = 3", "1,6,7"},
      {u"WHERE id = 1", "1"},
      // A text column against a number: the number is compared as its text.
      {u"WHERE PASSWORD = 5", ""},
      {u"WHERE TITLE LIKE '1%'", "6"},
      {u"WHERE ID LIKE '7'", "7"},
      {u"WHERE PRICE LIKE '10.5'", "1,4"},
      // Yes/No: True is -1.
      {u"WHERE DONE = True", "1,4,7"},
      {u"WHERE DONE = FALSE", "2,5,6"},
      {u"WHERE DONE = -1", "1,4,7"},
      {u"WHERE DONE = 'Yes'", "1,4,7"},
      {u"WHERE DONE = Yes", "1,4,7"},
      {u"WHERE DONE = no", "2,5,6"},
      {u"WHERE DONE <> Off", "1,4,7"},
      {u"WHERE DONE", "1,4,7"},
      {u"WHERE NOT DONE", "2,5,6"},
      {u"WHERE [Field With Blank]", "1,2,5,6,7"},
      // Dates: before 1899-12-30 the day count is negative but the time runs forward, so
      // -1.75 (1899-12-29 18:00) comes after -1.25 (1899-12-29 06:00).
      {u"WHERE CREATED > #1899-12-29 12:00#", "1,4,5,7"},
      {u"WHERE CREATED < #1899-12-29 12:00#", "2,6"},
      {u"WHERE CREATED = #1899-12-29#", "6"},
      {u"WHERE CREATED >= '2023-03-15'", "1"},
      {u"WHERE CREATED BETWEEN #1899-12-29 05:00# AND #1899-12-29 19:00#", "2,4"},
      // Three-valued logic: NOT of unknown stays unknown.
      {u"WHERE NOT (PRICE > 5)", "2,6"},
      {u"WHERE NOT (PRICE > 5) OR PRICE IS NULL", "2,3,6"},
      {u"WHERE PRICE > 5 OR TITLE LIKE '京%'", "1,3,4,5,7"},
      {u"WHERE NOT (PRICE > 5 AND TITLE LIKE '%')", "2,6"},
      {u"WHERE PRICE > 5 AND NOT (TITLE LIKE '%')", ""},
      {u"WHERE (ID = 1 OR ID = 2) AND NOT (ID = 2)", "1"},
      {u"WHERE ID BETWEEN 2 AND 4", "2,3,4"},
      {u"WHERE ID NOT BETWEEN 2 AND 4", "1,5,6,7"},
      {u"WHERE PRICE NOT BETWEEN 0 AND 10", "1,2,4,5"},
      {u"WHERE ID IN (1, 3, '5')", "1,3,5"},
      {u"WHERE ID NOT IN (1, 3, 5)", "2,4,6,7"},
      {u"WHERE ID NOT IN (1, NULL)", ""},
      {u"WHERE PASSWORD IN ('SECRET', 'tokyo')", "2,7"},
      {u"WHERE 1 = 1", "1,2,3,4,5,6,7"},
      {u"WHERE 'a' = 'A'", "1,2,3,4,5,6,7"},
      {u"WHERE NULL IS NULL", "1,2,3,4,5,6,7"},
      {u"WHERE TITLE = FILENAME", ""},
      {u"WHERE PRICE = ID", "7"},
      {u"WHERE t.ID = 2", "2"},
  };
  for (const WhereCase& c : cases) {
    SCOPED_TRACE(U8(c.clauses));
    EXPECT_EQ(Select(c.clauses), c.ids);
  }
}

TEST(SqlWhereTest, OrderBy) {
  const WhereCase cases[] = {
      {u" ORDER BY ID", "1,2,3,4,5,6,7"},
      {u" ORDER BY ID DESC", "7,6,5,4,3,2,1"},
      // NULL first; texts without case; equal keys keep the table's order.
      {u" ORDER BY PASSWORD", "3,4,1,6,5,2,7"},
      {u" ORDER BY PASSWORD DESC", "7,2,5,6,1,3,4"},
      {u" ORDER BY PRICE", "3,2,6,7,1,4,5"},
      {u" ORDER BY PRICE DESC", "5,1,4,7,6,2,3"},
      {u" ORDER BY PRICE DESC, ID DESC", "5,4,1,7,6,2,3"},
      {u" ORDER BY [Field With Blank], TITLE", "3,2,4,7,6,1,5"},
      {u" ORDER BY DONE, ID DESC", "3,7,4,1,6,5,2"},
      {u" ORDER BY CREATED", "3,6,2,4,7,5,1"},
      {u" ORDER BY TITLE", "4,7,6,2,1,3,5"},
      {u"WHERE ID > 3 ORDER BY TITLE DESC", "5,6,7,4"},
  };
  for (const WhereCase& c : cases) {
    SCOPED_TRACE(U8(c.clauses));
    EXPECT_EQ(Select(c.clauses), c.ids);
  }
}

TEST(SqlWhereTest, OrderByIsStableAndCaseBlind) {
  const std::vector<Field> fields = {MakeField(u"K", ColumnType::kText, TFieldType::ftWideString),
                                     MakeField(u"N", ColumnType::kLong, TFieldType::ftInteger)};
  std::vector<std::vector<Value>> rows;
  const char16_t* keys[] = {u"b", u"A", u"a", u"B", u"ａ", u"Ａ", u"10", u"9", u"a"};
  for (int i = 0; i < 9; ++i) rows.push_back({T(keys[i]), I(i)});
  SortRows(rows, {{u"k", false}}, fields);
  std::string order;
  for (const auto& row : rows) order += std::to_string(row[1].integer());
  // "10" < "9" as texts (the key is a text column); a, A, a keep their order; ａ, Ａ too.
  EXPECT_EQ(order, "671280345");
}

TEST(SqlWhereTest, CompareValuesOrdersKinds) {
  EXPECT_LT(CompareValues(N, I(-5)), 0);
  EXPECT_EQ(CompareValues(N, N), 0);
  EXPECT_LT(CompareValues(I(2), I(10)), 0);
  EXPECT_LT(CompareValues(I(2), D(2.5)), 0);
  EXPECT_EQ(CompareValues(I(2), D(2.0)), 0);
  EXPECT_LT(CompareValues(I(INT64_MAX - 1), I(INT64_MAX)), 0);
  EXPECT_EQ(CompareValues(T(u"abc"), T(u"ABC")), 0);
  EXPECT_LT(CompareValues(T(u"abc"), T(u"ABD")), 0);
  EXPECT_LT(CompareValues(T(u"ab"), T(u"abc")), 0);
  EXPECT_LT(CompareValues(Date(-1.25), Date(-1.75)), 0);
  EXPECT_LT(CompareValues(Date(-1.75), Date(0)), 0);
  EXPECT_LT(CompareValues(Value::FromCurrency({12345}), Value::FromCurrency({12346})), 0);
  EXPECT_EQ(CompareValues(Value::FromCurrency({20000}), I(2)), 0);
  EXPECT_LT(CompareValues(Value::Boolean(true), Value::Boolean(false)), 0);  // -1 < 0
  EXPECT_LT(CompareValues(I(5), T(u"1")), 0);                                // numbers before texts
}

// SortRows prepares keys for speed; its order must stay exactly CompareValues' order, with
// ties kept in place, over every mix of kinds a column can hold.
TEST(SqlWhereTest, SortRowsAgreesWithCompareValues) {
  std::mt19937 random(7);
  const std::vector<Field> fields = {MakeField(u"A", ColumnType::kText, TFieldType::ftWideString),
                                     MakeField(u"B", ColumnType::kLong, TFieldType::ftInteger),
                                     MakeField(u"N", ColumnType::kLong, TFieldType::ftInteger)};
  auto random_value = [&random]() -> Value {
    switch (random() % 9) {
      case 0:
        return N;
      case 1:
        return I(static_cast<int64_t>(random() % 7) - 3);
      case 2:
        return D(static_cast<double>(random() % 13) / 4 - 1.5);
      case 3:
        return Value::Boolean(random() % 2 == 0);
      case 4:
        return Date(static_cast<double>(random() % 9) / 4 - 1);
      case 5:
        return Value::FromCurrency({static_cast<int64_t>(random() % 5) * 2500 - 5000});
      case 6:
        return T(std::u16string(1, u"aAbB"[random() % 4]) + (random() % 2 ? u"x" : u""));
      case 7: {
        Decimal d;
        d.mantissa = random() % 300;
        d.scale = 2;
        d.negative = random() % 2 == 0;
        return Value::FromDecimal(d);
      }
      default:
        return T(u"");
    }
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < 60; ++i) rows.push_back({random_value(), random_value(), I(i)});
    const bool descending = round % 2 == 1;
    auto expected = rows;
    std::stable_sort(expected.begin(), expected.end(),
                     [descending](const std::vector<Value>& x, const std::vector<Value>& y) {
                       int c = CompareValues(x[0], y[0]);
                       if (c == 0) c = CompareValues(x[1], y[1]);
                       return descending ? c > 0 : c < 0;
                     });
    SortRows(rows, {{u"A", descending}, {u"B", descending}}, fields);
    ASSERT_EQ(rows, expected) << round;
  }
}

struct BindErrorCase {
  std::u16string clauses;
  std::string message;
};

TEST(SqlWhereTest, BindingErrors) {
  const BindErrorCase cases[] = {
      {u"WHERE NOPE = 1", "SQL のエラー: 23 文字目付近: 列「NOPE」がありません"},
      {u"WHERE DONE = [Yes]", "SQL のエラー: 30 文字目付近: 列「Yes」がありません"},
      {u"WHERE DONE = t.Yes", "SQL のエラー: 30 文字目付近: 列「Yes」がありません"},
      {u"WHERE [TITLE ] LIKE 'a'", "SQL のエラー: 23 文字目付近: 列「TITLE 」がありません"},
      {u"WHERE ID = 'abc'",
       "SQL のエラー: 28 文字目付近: 数値の列「ID」と文字列 'abc' は比べられません "
       "(型が一致しません)"},
      {u"WHERE CREATED > \"yesterday\"",
       "SQL のエラー: 33 文字目付近: 日付の列「CREATED」と文字列 \"yesterday\" は比べられません "
       "(型が一致しません)"},
      {u"WHERE ID IN (1, 'x')",
       "SQL のエラー: 33 文字目付近: 数値の列「ID」と文字列 'x' は比べられません "
       "(型が一致しません)"},
      {u"WHERE TITLE",
       "SQL のエラー: 23 文字目付近: 文字列の TITLE は条件として使えません (比較が必要です)"},
      {u"WHERE 'x'",
       "SQL のエラー: 23 文字目付近: 文字列の 'x' は条件として使えません (比較が必要です)"},
  };
  for (const BindErrorCase& c : cases) {
    SCOPED_TRACE(U8(c.clauses));
    Statement s = Parse(u"SELECT * FROM t " + c.clauses);
    try {
      Predicate p(std::get<SelectStatement>(s).where.get(), Fields());
      ADD_FAILURE() << "bound";
    } catch (const Error& e) {
      EXPECT_EQ(U8(e.message()), c.message);
    }
  }
  std::vector<std::vector<Value>> rows = Rows();
  try {
    SortRows(rows, {{u"NOPE", false}}, Fields());
    ADD_FAILURE() << "sorted";
  } catch (const Error& e) {
    EXPECT_EQ(U8(e.message()), "SQL のエラー: ORDER BY の列「NOPE」がありません");
  }
}

TEST(SqlWhereTest, NoConditionMatchesEverything) {
  Predicate p(nullptr, Fields());
  EXPECT_TRUE(p.Matches({}));
  Predicate moved = std::move(p);
  EXPECT_TRUE(moved.Matches(Rows()[0]));
}

TEST(SqlWhereTest, ShortRowIsAnErrorNotAnOverread) {
  Statement s = Parse(u"SELECT * FROM t WHERE NOTE LIKE 'a'");
  Predicate p(std::get<SelectStatement>(s).where.get(), Fields());
  EXPECT_THROW(p.Matches({I(1), T(u"a")}), Error);
}

}  // namespace
}  // namespace jet::sql
