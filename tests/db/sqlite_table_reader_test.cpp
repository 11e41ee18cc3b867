// The table reader that goes through a SQLite table one row at a time, against the query that
// holds the whole table: on real SQLite files, both must give the same fields, the same values
// in the same order, the same errors, and the same new basic database when the rows are
// copied into one.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "db/import_sqlite.h"
#include "db/jet_rows.h"
#include "db/row_copy.h"
#include "db/sqlite_access.h"
#include "db/sqlite_rows.h"
#include "platform/text.h"
#include "sqlite_test_support.h"

namespace {

using db_test::RawSQLite;
using db_test::ScratchDir;
using db_test::U16;
using db_test::U8;
using jet::TFieldType;
using jet::Value;

constexpr char16_t kTable[] = u"T";

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const base::Error& e) {
    return U8(e.message());
  }
  return "";
}

// What a reading side gives: fields with their lengths, the row count it announces, and
// every row in the order it came.
struct ReadResult {
  std::vector<jet::Field> fields;
  std::vector<int32_t> lengths;
  int64_t row_count = 0;
  db_test::Rows rows;
};

ReadResult ReadThroughQuery(const std::filesystem::path& file) {
  db::SQLiteConnection connection;
  db::ConnectSQLiteOrThrow(connection, platform::FromPath(file));
  db::SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, kTable, u"", u"");
  ReadResult out;
  out.fields = query.fields();
  for (size_t i = 0; i < out.fields.size(); ++i) {
    out.lengths.push_back(query.FieldLength(static_cast<int>(i)));
  }
  out.row_count = query.record_count();
  for (query.First(); !query.eof(); query.Next()) {
    std::vector<Value> row;
    for (size_t i = 0; i < out.fields.size(); ++i) row.push_back(query.value(static_cast<int>(i)));
    out.rows.push_back(std::move(row));
  }
  return out;
}

ReadResult ReadThroughReader(const std::filesystem::path& file) {
  db::SQLiteConnection connection;
  db::ConnectSQLiteOrThrow(connection, platform::FromPath(file));
  db::SQLiteTableReader reader(connection, kTable);
  ReadResult out;
  out.fields = reader.fields();
  for (size_t i = 0; i < out.fields.size(); ++i) {
    out.lengths.push_back(reader.FieldLength(static_cast<int>(i)));
  }
  out.row_count = reader.row_count();
  while (reader.Next()) {
    std::vector<Value> row;
    for (size_t i = 0; i < out.fields.size(); ++i) row.push_back(reader.value(static_cast<int>(i)));
    out.rows.push_back(std::move(row));
  }
  EXPECT_FALSE(reader.Next()) << "a reader past its last row stays there";
  return out;
}

void ExpectSameFields(const std::vector<jet::Field>& expected,
                      const std::vector<jet::Field>& actual, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    const jet::Field& e = expected[i];
    const jet::Field& a = actual[i];
    const std::string where = what + ", field " + U8(e.name);
    EXPECT_EQ(a.name, e.name) << where;
    EXPECT_EQ(a.type, e.type) << where;
    EXPECT_EQ(a.column_type, e.column_type) << where;
    EXPECT_EQ(a.size, e.size) << where;
    EXPECT_EQ(a.precision, e.precision) << where;
    EXPECT_EQ(a.scale, e.scale) << where;
    EXPECT_EQ(a.required, e.required) << where;
    EXPECT_EQ(a.auto_increment, e.auto_increment) << where;
  }
}

void ExpectSameRows(const db_test::Rows& expected, const db_test::Rows& actual,
                    const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t r = 0; r < expected.size(); ++r) {
    ASSERT_EQ(actual[r].size(), expected[r].size()) << what << ", row " << r;
    for (size_t i = 0; i < expected[r].size(); ++i) {
      EXPECT_EQ(actual[r][i], expected[r][i]) << what << ", row " << r << ", column " << i;
    }
  }
}

// What the copy into a new basic database gives for one source.
struct CopyResult {
  db::CopyCounts counts;
  std::vector<std::pair<int64_t, int64_t>> progress;
  db_test::JetTable table;
};

CopyResult CopyIntoNewJetFile(const std::filesystem::path& mdb, db::RowSource& source) {
  db::CreateJetDatabase(platform::FromPath(mdb));
  CopyResult out;
  {
    jet::Connection connection;
    EXPECT_EQ(db::ConnectJetDatabase(platform::FromPath(mdb), u"", u"", connection), 0);
    db::JetRowSink sink(connection, kTable, db::BuildImportTableStatement);
    out.counts = db::CopyRows(
        source, sink, [&](int64_t done, int64_t total) { out.progress.emplace_back(done, total); });
  }
  out.table = db_test::ReadJetTable(mdb, kTable);
  return out;
}

// A column of each family of declared types, columns without a declared type, NULLs, texts
// longer than their fields and with trailing blanks, long texts and blobs.
constexpr char kEveryKindTable[] =
    "CREATE TABLE T (ID INTEGER PRIMARY KEY AUTOINCREMENT, N_INT INT NOT NULL DEFAULT 0,"
    " N_SMALL SMALLINT, N_BIG BIGINT, N_TINY TINYINT, N_DEC DECIMAL(10,2), N_NUM NUMERIC(5),"
    " N_REAL REAL, N_SINGLE SINGLE, N_WORD WORD, FLAG BOOLEAN, D DATE, TM TIME, DT DATETIME,"
    " PRICE CURRENCY, S VARCHAR(10), NS NVARCHAR(20), TX TEXT, TX8 TEXT(8), MEMO MEMO,"
    " CH CHAR(5), G GUID, BL BLOB, VB VARBINARY(16), ODD SOMETHING_ELSE,"
    " U_INT, U_REAL, U_TEXT, U_BLOB, U_NULL);";

// The first row decides the types of the columns without a declared one (U_*): an integer, a
// number, a text, a blob and a NULL.
const std::string kEveryKindRows =
    "INSERT INTO T VALUES (NULL, 1, 2, 3, 4, 5.25, 12345, 1.5, 2.5, 6, 1, '2024-02-29', '13:30:15',"
    " '2024-02-29 13:30:15', 12.34, 'short', 'wide  ', 'text', 'eight chars plus', 'memo',"
    " 'abc', '{00000000-0000-0000-0000-000000000001}', X'00FF10', X'0102', 'odd',"
    " 42, 1.5, 'abc', X'00FF', NULL);"
    "INSERT INTO T (N_INT, S, NS, TX, MEMO, BL, U_INT, U_REAL, U_TEXT, U_BLOB, U_NULL) VALUES"
    " (-7, 'a text longer than ten', 'trailing controls' || char(9) || char(10) || '  ',"
    " printf('%.*c', 100000, 'x'), printf('%.*c', 70000, 'm'), zeroblob(100000),"
    " '77', 3, 12, 'text in a blob column', printf('%.*c', 40000, 'n'));"
    "INSERT INTO T (N_INT) VALUES (0);"
    "INSERT INTO T (N_INT, N_BIG, N_REAL, FLAG, TX, U_TEXT) VALUES"
    " (9, 9223372036854775807, -0.0, 0, '', '');"
    "INSERT INTO T (N_INT, S, TX, U_INT) VALUES (5, 'ＡＢＣ全角の文字列です長い', '日本語の本文',"
    " '123');"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)"
    " INSERT INTO T (N_INT, N_REAL, S, TX, U_INT, U_TEXT) SELECT i, i / 7.0, 'row ' || i,"
    " printf('text of row %d   ', i), i * 3, 'u ' || i FROM n;";

struct TableCase {
  const char* what;
  std::string sql;  // makes table T
  size_t rows;
};

const TableCase kTableCases[] = {
    {"every kind of column", std::string(kEveryKindTable) + kEveryKindRows, 5005},
    {"empty table with undeclared columns", kEveryKindTable, 0},
    {"undeclared columns whose first row holds NULLs",
     "CREATE TABLE T (A, B, C INTEGER);"
     "INSERT INTO T VALUES (NULL, NULL, NULL);"
     "INSERT INTO T VALUES (printf('%.*c', 40000, 'q'), X'01', 3);"
     "INSERT INTO T VALUES (1.5, 'b', 3);",
     3},
};

TEST(SQLiteTableReaderTest, GivesTheFieldsAndValuesOfTheWholeTableQuery) {
  for (const TableCase& c : kTableCases) {
    ScratchDir dir;
    {
      RawSQLite raw(dir / "t.sqlite");
      ASSERT_EQ(raw.Exec(c.sql), "") << c.what;
    }
    const ReadResult expected = ReadThroughQuery(dir / "t.sqlite");
    const ReadResult actual = ReadThroughReader(dir / "t.sqlite");
    ASSERT_EQ(expected.rows.size(), c.rows) << c.what;
    ExpectSameFields(expected.fields, actual.fields, c.what);
    EXPECT_EQ(actual.lengths, expected.lengths) << c.what;
    EXPECT_EQ(actual.row_count, expected.row_count) << c.what;
    ExpectSameRows(expected.rows, actual.rows, c.what);
  }
}

TEST(SQLiteTableReaderTest, TypesFromTheFirstRowAndCutTextsAreThoseOfTheQuery) {
  // The values the comparison above rests on, checked once by hand.
  ScratchDir dir;
  {
    RawSQLite raw(dir / "t.sqlite");
    ASSERT_EQ(raw.Exec(kTableCases[0].sql), "");
  }
  const ReadResult read = ReadThroughReader(dir / "t.sqlite");
  auto field = [&](const std::u16string& name) {
    for (size_t i = 0; i < read.fields.size(); ++i) {
      if (read.fields[i].name == name) return i;
    }
    ADD_FAILURE() << "no field " << U8(name);
    return size_t{0};
  };
  EXPECT_EQ(read.fields[field(u"ID")].type, TFieldType::ftAutoInc);
  EXPECT_TRUE(read.fields[field(u"ID")].auto_increment);
  EXPECT_TRUE(read.fields[field(u"N_INT")].required);
  EXPECT_EQ(read.fields[field(u"U_INT")].type, TFieldType::ftLargeint);
  EXPECT_EQ(read.fields[field(u"U_REAL")].type, TFieldType::ftFloat);
  EXPECT_EQ(read.fields[field(u"U_TEXT")].type, TFieldType::ftWideString);
  EXPECT_EQ(read.fields[field(u"U_BLOB")].type, TFieldType::ftBlob);
  EXPECT_EQ(read.fields[field(u"U_NULL")].type, TFieldType::ftWideString);
  EXPECT_EQ(read.lengths[field(u"S")], 10);
  EXPECT_EQ(read.rows[1][field(u"S")], Value::Text(u"a text lon"));
  EXPECT_EQ(read.rows[1][field(u"NS")], Value::Text(u"trailing controls"));
  EXPECT_EQ(read.rows[1][field(u"U_NULL")].text().size(), 32767u);
  EXPECT_EQ(read.rows[1][field(u"TX")].text().size(), 100000u);
  EXPECT_EQ(read.rows[1][field(u"BL")].binary().size(), 100000u);
  EXPECT_EQ(read.rows[2][field(u"TX")], Value::Null());
  EXPECT_EQ(read.rows[0][field(u"ID")], Value::Integer(1));
  EXPECT_EQ(read.rows.back()[field(u"N_INT")], Value::Integer(5000));
}

TEST(SQLiteTableReaderTest, CopyIntoANewBasicDatabaseGivesTheSameTable) {
  for (const TableCase& c : kTableCases) {
    ScratchDir dir;
    {
      RawSQLite raw(dir / "t.sqlite");
      ASSERT_EQ(raw.Exec(c.sql), "") << c.what;
    }
    db::SQLiteConnection connection;
    db::ConnectSQLiteOrThrow(connection, dir.U16("t.sqlite"));

    db::SQLiteQuery query(&connection);
    db::OpenSQLiteTableQuery(query, kTable, u"", u"");
    db::SQLiteRowSource whole(query);
    const CopyResult expected = CopyIntoNewJetFile(dir / "whole.mdb", whole);
    query.Close();

    db::SQLiteTableRowSource streamed(connection, kTable);
    const CopyResult actual = CopyIntoNewJetFile(dir / "streamed.mdb", streamed);

    EXPECT_EQ(expected.counts.copied + expected.counts.refused, static_cast<int64_t>(c.rows))
        << c.what;
    EXPECT_EQ(actual.counts.copied, expected.counts.copied) << c.what;
    EXPECT_EQ(actual.counts.refused, expected.counts.refused) << c.what;
    EXPECT_EQ(actual.counts.truncated, expected.counts.truncated) << c.what;
    EXPECT_EQ(actual.progress, expected.progress) << c.what;
    ExpectSameFields(expected.table.fields, actual.table.fields, c.what);
    ExpectSameRows(expected.table.rows, actual.table.rows, c.what);
  }
}

// Errors are those of the whole-table query, word for word.
TEST(SQLiteTableReaderTest, FailuresGiveTheMessagesOfTheQuery) {
  const struct {
    const char* what;
    const char* setup;  // run on the file before it is read
    bool lock;          // another connection locks the file once ours is open
    const char* error;  // part of the message
  } cases[] = {
      {"missing table", "CREATE TABLE Other (A TEXT)", false, "no such table: T"},
      {"locked file", "CREATE TABLE T (A TEXT); INSERT INTO T VALUES ('x')", true,
       "database is locked"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    RawSQLite raw(dir / "t.sqlite");
    ASSERT_EQ(raw.Exec(c.setup), "") << c.what;
    db::SQLiteConnection connection;
    db::ConnectSQLiteOrThrow(connection, dir.U16("t.sqlite"));
    if (c.lock) {
      ASSERT_EQ(raw.Exec("BEGIN EXCLUSIVE"), "") << c.what;
    }
    const std::string expected = ErrorOf([&] {
      db::SQLiteQuery query(&connection);
      db::OpenSQLiteTableQuery(query, kTable, u"", u"");
    });
    const std::string actual = ErrorOf([&] { db::SQLiteTableReader reader(connection, kTable); });
    EXPECT_NE(expected.find(c.error), std::string::npos) << c.what << ": " << expected;
    EXPECT_EQ(expected.rfind("SQLiteの処理に失敗しました: ", 0), 0u) << c.what << ": " << expected;
    EXPECT_EQ(actual, expected) << c.what;
    if (c.lock) raw.Exec("ROLLBACK");
  }
}

TEST(SQLiteTableReaderTest, ValueOutsideARowIsAnError) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "t.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T (A TEXT); INSERT INTO T VALUES ('x')"), "");
  }
  db::SQLiteConnection connection;
  db::ConnectSQLiteOrThrow(connection, dir.U16("t.sqlite"));
  db::SQLiteTableReader reader(connection, kTable);
  EXPECT_EQ(ErrorOf([&] { reader.value(0); }), "現在のレコードがありません");
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.value(0), Value::Text(u"x"));
  EXPECT_FALSE(ErrorOf([&] { reader.value(1); }).empty());
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(ErrorOf([&] { reader.value(0); }), "現在のレコードがありません");
}

}  // namespace
