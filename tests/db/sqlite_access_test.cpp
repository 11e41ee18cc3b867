// The SQLite layer on real SQLite files: field types of declared column types, untyped
// columns, the pragmas, the three primitives, the text rules and appending rows.
#include "db/sqlite_access.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/conversion.h"
#include "platform/error.h"
#include "sqlite_test_support.h"

namespace {

using db::FieldTypeFromDeclaration;
using db::IsListedFieldType;
using db::SQLiteConnection;
using db::SQLiteQuery;
using db_test::RawSQLite;
using db_test::ScratchDir;
using db_test::U16;
using db_test::U8;
using jet::TFieldType;
using jet::Value;

// Any type the program does not decide on.
constexpr TFieldType kUnlisted = TFieldType::ftUnknown;

struct TypeCase {
  const char* column;       // column name
  const char* declared;     // declared type as written in CREATE TABLE
  const char* constraints;  // what follows the type in the column definition
  TFieldType expected;      // kUnlisted: any unlisted member
  int32_t length;           // characters for string fields
};

constexpr int32_t kDefault = db::kSQLiteDefaultStringLength;

const TypeCase kTypeCases[] = {
    // Integers, keys and the row id.
    {"ID", "INTEGER", "PRIMARY KEY AUTOINCREMENT", TFieldType::ftAutoInc, 0},
    {"ID", "integer", "primary key autoincrement", TFieldType::ftAutoInc, 0},
    {"ID", "INTEGER", "PRIMARY KEY", TFieldType::ftInteger, 0},
    {"C", "INTEGER", "", TFieldType::ftInteger, 0},
    {"C", "INT", "", TFieldType::ftInteger, 0},
    {"C", "MEDIUMINT", "", TFieldType::ftInteger, 0},
    {"C", "INT32", "", TFieldType::ftInteger, 0},
    {"C", "UNSIGNED INTEGER", "", kUnlisted, 0},
    {"C", "INTEGER UNSIGNED", "", kUnlisted, 0},
    {"rowid", "INTEGER", "", TFieldType::ftLargeint, 0},
    {"_ROWID_", "INTEGER", "", TFieldType::ftLargeint, 0},
    {"Oid", "INTEGER", "", TFieldType::ftLargeint, 0},
    {"C", "SMALLINT", "", TFieldType::ftSmallint, 0},
    {"C", "INT16", "", TFieldType::ftSmallint, 0},
    {"C", "UNSIGNED SMALLINT", "", kUnlisted, 0},
    {"C", "BIGINT", "", TFieldType::ftLargeint, 0},
    {"C", "INT64", "", TFieldType::ftLargeint, 0},
    {"C", "COUNTER", "", TFieldType::ftLargeint, 0},
    {"C", "AUTOINCREMENT", "", TFieldType::ftLargeint, 0},
    {"C", "IDENTITY", "", TFieldType::ftLargeint, 0},
    {"C", "LONGLONGWORD", "", TFieldType::ftLargeint, 0},
    {"C", "UINT64", "", TFieldType::ftLargeint, 0},
    // Logical values.
    {"C", "BIT", "", TFieldType::ftBoolean, 0},
    {"C", "BOOL", "", TFieldType::ftBoolean, 0},
    {"C", "BOOLEAN", "", TFieldType::ftBoolean, 0},
    {"C", "LOGICAL", "", TFieldType::ftBoolean, 0},
    {"C", "YESNO", "", TFieldType::ftBoolean, 0},
    // Floating point.
    {"C", "FLOAT", "", TFieldType::ftFloat, 0},
    {"C", "REAL", "", TFieldType::ftFloat, 0},
    {"C", "DOUBLE", "", TFieldType::ftFloat, 0},
    {"C", "DOUBLE PRECISION", "", TFieldType::ftFloat, 0},
    {"C", "FLOAT(16)", "", TFieldType::ftFloat, 0},
    {"C", "REAL(10,2)", "", TFieldType::ftFloat, 0},
    {"C", "FLOAT(17)", "", kUnlisted, 0},
    {"C", "DOUBLE(30)", "", kUnlisted, 0},
    {"C", "SINGLE", "", TFieldType::ftSingle, 0},
    {"C", "SINGLE(7)", "", TFieldType::ftSingle, 0},
    {"C", "SINGLE(20)", "", kUnlisted, 0},
    // Exact numbers.
    {"C", "DECIMAL", "", TFieldType::ftLargeint, 0},
    {"C", "DECIMAL(2)", "", kUnlisted, 0},
    {"C", "DECIMAL(3)", "", TFieldType::ftSmallint, 0},
    {"C", "DEC(4,0)", "", TFieldType::ftSmallint, 0},
    {"C", "NUMERIC(5)", "", TFieldType::ftInteger, 0},
    {"C", "NUMBER(9)", "", TFieldType::ftInteger, 0},
    {"C", "NUMERIC(10)", "", TFieldType::ftLargeint, 0},
    {"C", "DECIMAL(20,0)", "", TFieldType::ftLargeint, 0},
    {"C", "DECIMAL(21)", "", kUnlisted, 0},
    {"C", "DECIMAL(10,2)", "", kUnlisted, 0},
    {"C", "NUMERIC(18,4)", "", kUnlisted, 0},
    {"C", "UNSIGNED DECIMAL(9)", "", kUnlisted, 0},
    {"C", "UNSIGNED DECIMAL(21)", "", TFieldType::ftLargeint, 0},
    {"C", "UNSIGNED DECIMAL(22)", "", kUnlisted, 0},
    // Dates and times.
    {"C", "DATE", "", TFieldType::ftDate, 0},
    {"C", "SMALLDATE", "", TFieldType::ftDate, 0},
    {"C", "TIME", "", TFieldType::ftTime, 0},
    {"C", "DATETIME", "", TFieldType::ftDateTime, 0},
    {"C", "SMALLDATETIME", "", TFieldType::ftDateTime, 0},
    // 8-bit strings.
    {"C", "VARCHAR", "", TFieldType::ftString, kDefault},
    {"C", "VARCHAR(50)", "", TFieldType::ftString, 50},
    {"C", "varchar(50)", "", TFieldType::ftString, 50},
    {"C", "VARCHAR2(10)", "", TFieldType::ftString, 10},
    {"C", "TYNITEXT", "", TFieldType::ftString, kDefault},
    {"C", "CHAR VARYING(20)", "", TFieldType::ftString, 20},
    {"C", "CHARACTER VARYING(20)", "", TFieldType::ftString, 20},
    {"C", "VARCHAR(32767)", "", TFieldType::ftString, 32767},
    {"C", "VARCHAR(32768)", "", TFieldType::ftMemo, 0},
    // Unicode strings.
    {"C", "NVARCHAR(30)", "", TFieldType::ftWideString, 30},
    {"C", "NVARCHAR2", "", TFieldType::ftWideString, kDefault},
    {"C", "STRING", "", TFieldType::ftWideString, kDefault},
    {"C", "NATIONAL CHAR VARYING(10)", "", TFieldType::ftWideString, 10},
    {"C", "NATIONAL CHARACTER VARYING(11)", "", TFieldType::ftWideString, 11},
    {"C", "NATIONAL VARYING CHAR(12)", "", TFieldType::ftWideString, 12},
    {"C", "NATIONAL VARYING CHARACTER(13)", "", TFieldType::ftWideString, 13},
    {"C", "NVARCHAR(40000)", "", TFieldType::ftWideMemo, 0},
    // 8-bit memos.
    {"C", "MEDIUMTEXT", "", TFieldType::ftMemo, 0},
    {"C", "LONGTEXT", "", TFieldType::ftMemo, 0},
    {"C", "CLOB", "", TFieldType::ftMemo, 0},
    {"C", "MEMO", "", TFieldType::ftMemo, 0},
    {"C", "NOTE", "", TFieldType::ftMemo, 0},
    {"C", "LONG", "", TFieldType::ftMemo, 0},
    {"C", "LONGCHAR", "", TFieldType::ftMemo, 0},
    {"C", "LONGVARCHAR", "", TFieldType::ftMemo, 0},
    {"C", "TINYTEXT", "", TFieldType::ftMemo, 0},
    {"C", "MEMO(100)", "", TFieldType::ftString, 100},
    {"C", "MEMO(32767)", "", TFieldType::ftMemo, 0},
    // Unicode memos.
    {"C", "TEXT", "", TFieldType::ftWideMemo, 0},
    {"C", "NTEXT", "", TFieldType::ftWideMemo, 0},
    {"C", "WTEXT", "", TFieldType::ftWideMemo, 0},
    {"C", "NCLOB", "", TFieldType::ftWideMemo, 0},
    {"C", "NMEMO", "", TFieldType::ftWideMemo, 0},
    {"C", "LONGWCHAR", "", TFieldType::ftWideMemo, 0},
    {"C", "LONGWVARCHAR", "", TFieldType::ftWideMemo, 0},
    {"C", "HTML", "", TFieldType::ftWideMemo, 0},
    {"C", "TEXT(50)", "", TFieldType::ftWideString, 50},
    {"C", "TEXT(32767)", "", TFieldType::ftWideString, 32767},
    {"C", "TEXT(32768)", "", TFieldType::ftWideMemo, 0},
    // Unlisted types.
    {"C", "TINYINT", "", kUnlisted, 0},
    {"C", "SHORTINT", "", kUnlisted, 0},
    {"C", "INT8", "", kUnlisted, 0},
    {"C", "BYTE", "", kUnlisted, 0},
    {"C", "UINT8", "", kUnlisted, 0},
    {"C", "WORD", "", kUnlisted, 0},
    {"C", "UINT16", "", kUnlisted, 0},
    {"C", "YEAR", "", kUnlisted, 0},
    {"C", "LONGWORD", "", kUnlisted, 0},
    {"C", "UINT32", "", kUnlisted, 0},
    {"C", "MONEY", "", kUnlisted, 0},
    {"C", "SMALLMONEY", "", kUnlisted, 0},
    {"C", "CURRENCY", "", kUnlisted, 0},
    {"C", "FINANCIAL", "", kUnlisted, 0},
    {"C", "TIMESTAMP", "", kUnlisted, 0},
    {"C", "INTERVAL", "", kUnlisted, 0},
    {"C", "CHAR(5)", "", kUnlisted, 0},
    {"C", "CHARACTER", "", kUnlisted, 0},
    {"C", "NCHAR(3)", "", kUnlisted, 0},
    {"C", "BINARY", "", kUnlisted, 0},
    {"C", "VARBINARY(16)", "", kUnlisted, 0},
    {"C", "RAW", "", kUnlisted, 0},
    {"C", "BLOB", "", kUnlisted, 0},
    {"C", "MEDIUMBLOB", "", kUnlisted, 0},
    {"C", "LONGBLOB", "", kUnlisted, 0},
    {"C", "TINYBLOB", "", kUnlisted, 0},
    {"C", "LONGVARBINARY", "", kUnlisted, 0},
    {"C", "OLEOBJECT", "", kUnlisted, 0},
    {"C", "IMAGE", "", kUnlisted, 0},
    {"C", "GRAPHIC", "", kUnlisted, 0},
    {"C", "PICTURE", "", kUnlisted, 0},
    {"C", "PHOTO", "", kUnlisted, 0},
    {"C", "GENERAL", "", kUnlisted, 0},
    {"C", "XML", "", kUnlisted, 0},
    {"C", "GUID", "", kUnlisted, 0},
    {"C", "UNIQUEIDENTIFIER", "", kUnlisted, 0},
    // Any other name, and none (the table is empty, so no first row names a type).
    {"C", "FOO", "", TFieldType::ftWideString, kDefault},
    {"C", "NATIONAL CHAR", "", TFieldType::ftWideString, kDefault},
    {"C", "", "", TFieldType::ftWideString, kDefault},
    {"ID", "", "CONSTRAINT pkey PRIMARY KEY", TFieldType::ftWideString, kDefault},
};

void ExpectType(const TypeCase& c, TFieldType type, int32_t length, const char* how) {
  if (c.expected == kUnlisted) {
    EXPECT_FALSE(IsListedFieldType(type))
        << how << ": '" << c.declared << "' gave " << jet::FieldTypeName(type);
  } else {
    EXPECT_EQ(jet::FieldTypeName(type), jet::FieldTypeName(c.expected))
        << how << ": '" << c.declared << "' " << c.constraints;
    EXPECT_EQ(length, c.length) << how << ": '" << c.declared << "'";
  }
}

// The field-type table: each declared type through the rules, and through a real table of
// that declaration opened with OpenSQLiteTableQuery.
TEST(SQLiteFieldTypes, DeclaredTypesGiveTheTableFieldTypes) {
  std::vector<std::string> refused_by_sqlite;
  for (const TypeCase& c : kTypeCases) {
    const bool autoinc = std::string(c.constraints).find("AUTOINCREMENT") != std::string::npos ||
                         std::string(c.constraints).find("autoincrement") != std::string::npos;
    const db::SQLiteColumnType rule =
        FieldTypeFromDeclaration(U16(c.declared), U16(c.column), autoinc);
    ExpectType(c, rule.type, rule.length, "rule");

    SQLiteConnection connection;
    ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
    try {
      connection.Execute(U16(std::string("CREATE TABLE T (") + c.column + " " + c.declared + " " +
                             c.constraints + ", X TEXT)"));
    } catch (const platform::Error&) {
      refused_by_sqlite.push_back(c.declared);  // a keyword SQLite does not take as a type
      continue;
    }
    SQLiteQuery query(&connection);
    db::OpenSQLiteTableQuery(query, u"T", u"", u"");
    ASSERT_EQ(query.fields().size(), 2u);
    ExpectType(c, query.fields()[0].type, query.FieldLength(0), "table");
    EXPECT_EQ(U8(query.fields()[0].name), c.column);
  }
  EXPECT_EQ(refused_by_sqlite, std::vector<std::string>{"AUTOINCREMENT"});
}

TEST(SQLiteFieldTypes, UntypedColumnsTakeTheTypeOfTheFirstRowsValue) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(u"CREATE TABLE T (A, B, C, D, E)");
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  for (const jet::Field& field : query.fields()) {
    EXPECT_EQ(field.type, TFieldType::ftWideString) << U8(field.name);
  }
  connection.Execute(
      u"INSERT INTO T VALUES (7, 1.5, 'x', X'00', NULL);"
      u"INSERT INTO T VALUES ('text', 'text', 3, 4, 5)");
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  ASSERT_EQ(query.fields().size(), 5u);
  EXPECT_EQ(query.fields()[0].type, TFieldType::ftLargeint);
  EXPECT_EQ(query.fields()[1].type, TFieldType::ftFloat);
  EXPECT_EQ(query.fields()[2].type, TFieldType::ftWideString);
  EXPECT_EQ(query.FieldLength(2), 32767);
  EXPECT_FALSE(IsListedFieldType(query.fields()[3].type));
  EXPECT_EQ(query.fields()[4].type, TFieldType::ftWideString);
  EXPECT_EQ(query.record_count(), 2);

  // Expressions have no declared type either.
  SQLiteQuery expressions(&connection);
  expressions.SetSQL(u"SELECT 7 AS N, 'a' || 'b' AS S, 2.5 AS R");
  expressions.Open();
  EXPECT_EQ(expressions.fields()[0].type, TFieldType::ftLargeint);
  EXPECT_EQ(expressions.fields()[1].type, TFieldType::ftWideString);
  EXPECT_EQ(expressions.fields()[2].type, TFieldType::ftFloat);
  EXPECT_EQ(expressions.value(1), Value::Text(u"ab"));
}

TEST(SQLiteConnectionTest, RunsThePragmasInOrderRightAfterOpening) {
  ScratchDir dir;
  SQLiteConnection connection;
  std::vector<std::u16string> statements;
  connection.SetTrace([&](std::u16string_view sql) { statements.emplace_back(sql); });
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", dir.U16("p.sqlite")), 0);
  const std::vector<std::u16string> expected = {
      u"PRAGMA cache_size = 10000", u"PRAGMA locking_mode = Exclusive",
      u"PRAGMA synchronous = Off",  u"PRAGMA journal_mode = Delete",
      u"PRAGMA foreign_keys = On",
  };
  EXPECT_EQ(statements, expected);

  SQLiteQuery query(&connection);
  auto pragma = [&](const char16_t* name) {
    query.SetSQL(std::u16string(u"PRAGMA ") + name);
    query.Open();
    return query.value(0).ToDisplayText();
  };
  EXPECT_EQ(pragma(u"cache_size"), u"10000");
  EXPECT_EQ(pragma(u"locking_mode"), u"exclusive");
  EXPECT_EQ(pragma(u"synchronous"), u"0");
  EXPECT_EQ(pragma(u"journal_mode"), u"delete");
  EXPECT_EQ(pragma(u"foreign_keys"), u"1");
}

TEST(SQLiteConnectionTest, ConnectSQLiteAddsTheTwoParameterLines) {
  ScratchDir dir;
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", dir.U16("a.sqlite")), 0);
  ASSERT_EQ(connection.params().size(), 2u);
  EXPECT_EQ(connection.params()[0], u"DriverID=SQLite");
  EXPECT_EQ(connection.params()[1], u"DataBase=" + dir.U16("a.sqlite"));
  EXPECT_EQ(connection.Param(u"database"), dir.U16("a.sqlite"));
  EXPECT_TRUE(std::filesystem::exists(dir / "a.sqlite"));
}

TEST(SQLiteConnectionTest, EmptyPathOpensAnInMemoryDatabase) {
  ScratchDir dir;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    SQLiteConnection connection;
    EXPECT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
    connection.Execute(u"CREATE TABLE T (A TEXT); INSERT INTO T VALUES ('x')");
  }
  std::filesystem::current_path(before);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SQLiteConnectionTest, FolderThatDoesNotExistGivesMinusOne) {
  ScratchDir dir;
  SQLiteConnection connection;
  EXPECT_EQ(db::ConnectSQLite(connection, u"SQLite", dir.U16("missing/p.sqlite")), -1);
  EXPECT_FALSE(connection.connected());
  SQLiteQuery query(&connection);
  EXPECT_THROW(db::OpenSQLiteTableQuery(query, u"T", u"", u""), platform::Error);
}

TEST(CreateSQLiteDatabaseTest, CreatesOnlyTheNewEmptyFile) {
  ScratchDir dir;
  db::CreateSQLiteDatabase(dir.U16("new.sqlite"));
  ASSERT_TRUE(std::filesystem::exists(dir / "new.sqlite"));
  RawSQLite raw(dir / "new.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM sqlite_master"), "i:0");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"new.sqlite"});
}

TEST(CreateSQLiteDatabaseTest, ReplacesAFileThatHoldsData) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "old.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (A TEXT); INSERT INTO T_projectMain "
                       "VALUES ('keep?')"),
              "");
  }
  db::CreateSQLiteDatabase(dir.U16("old.sqlite"));
  RawSQLite raw(dir / "old.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM sqlite_master"), "i:0");
}

TEST(CreateSQLiteDatabaseTest, NeverRemovesAFolder) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "folder.sqlite" / "inner");
  EXPECT_THROW(db::CreateSQLiteDatabase(dir.U16("folder.sqlite")), platform::Error);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.sqlite" / "inner"));
}

TEST(CreateSQLiteDatabaseTest, FolderThatDoesNotExistRaises) {
  ScratchDir dir;
  EXPECT_THROW(db::CreateSQLiteDatabase(dir.U16("no/such/x.sqlite")), platform::Error);
}

TEST(OpenSQLiteTableQueryTest, QueryTextHasBothBlanksAndFetchesEveryRow) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(
      u"CREATE TABLE T (A INTEGER, B TEXT);"
      u"INSERT INTO T VALUES (1,'a'),(2,'b'),(3,'c')");
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  EXPECT_EQ(query.sql(), u"SELECT * FROM T  ");
  EXPECT_EQ(query.record_count(), 3);
  db::OpenSQLiteTableQuery(query, u"T", u"WHERE A > 1", u"ORDER BY A DESC");
  EXPECT_EQ(query.sql(), u"SELECT * FROM T WHERE A > 1 ORDER BY A DESC");
  ASSERT_EQ(query.record_count(), 2);
  query.First();
  EXPECT_EQ(query.FieldByName(u"a"), Value::Integer(3));
  query.Next();
  EXPECT_EQ(query.FieldByName(u"B"), Value::Text(u"b"));
  query.Next();
  EXPECT_TRUE(query.eof());
}

TEST(OpenSQLiteTableQueryTest, MissingTableRaisesAndLeavesTheQueryClosed) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(u"CREATE TABLE T (A INTEGER)");
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  ASSERT_TRUE(query.active());
  try {
    db::OpenSQLiteTableQuery(query, u"T_projectMain", u"", u"");
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(U8(e.message()).find("no such table: T_projectMain"), std::string::npos)
        << U8(e.message());
  }
  EXPECT_FALSE(query.active());
  EXPECT_TRUE(query.fields().empty());
}

TEST(OpenSQLiteTableQueryTest, FileThatIsNoSQLiteDatabaseRaises) {
  ScratchDir dir;
  {
    std::ofstream out(dir / "not.sqlite", std::ios::binary);
    out << std::string(4096, 'x');
  }
  SQLiteConnection connection;
  db::ConnectSQLite(connection, u"SQLite", dir.U16("not.sqlite"));
  SQLiteQuery query(&connection);
  EXPECT_THROW(db::OpenSQLiteTableQuery(query, u"T_projectMain", u"", u""), platform::Error);
  EXPECT_EQ(db_test::ReadAll(dir / "not.sqlite"), std::string(4096, 'x'));
}

TEST(SQLiteTextRules, TrailingControlsAreRemovedOnTheWayInAndOut) {
  ScratchDir dir;
  const auto file = dir / "t.sqlite";
  {
    SQLiteConnection connection;
    ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", platform::FromPath(file)), 0);
    connection.Execute(u"CREATE TABLE T (ID INTEGER, S TEXT)");
    SQLiteQuery query(&connection);
    db::OpenSQLiteTableQuery(query, u"T", u"", u"");
    const std::vector<std::u16string> texts = {u"blank and line break \r\n",
                                               u"",
                                               u"  lead",
                                               u"tab\t\x01\x1f",
                                               u"全角空白\u3000",
                                               u"\u3000 \n"};
    int id = 0;
    for (const std::u16string& text : texts) {
      query.Append();
      query.SetFieldValue(u"ID", Value::Integer(++id));
      query.SetFieldValue(u"S", Value::Text(text));
      query.Post();
    }
    query.Append();
    query.SetFieldValue(u"ID", Value::Integer(++id));
    query.SetFieldValue(u"S", Value::Null());
    query.Post();
  }
  {
    RawSQLite raw(file);
    const auto rows = raw.Rows("SELECT S FROM T ORDER BY ID");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0][0], "t:blank and line break");
    EXPECT_EQ(rows[1][0], "t:");  // empty text stays text, never NULL
    EXPECT_EQ(rows[2][0], "t:  lead");
    EXPECT_EQ(rows[3][0], "t:tab");
    EXPECT_EQ(rows[4][0], "t:全角空白\u3000");
    EXPECT_EQ(rows[5][0], "t:\u3000");
    EXPECT_EQ(rows[6][0], "n:");
    ASSERT_EQ(raw.Exec("INSERT INTO T VALUES (10, 'stored with blanks  \n\t');"
                       "INSERT INTO T VALUES (11, '   ')"),
              "");
  }
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", platform::FromPath(file)), 0);
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"WHERE ID >= 10", u"ORDER BY ID");
  ASSERT_EQ(query.record_count(), 2);
  EXPECT_EQ(query.ValueAt(0, 1), Value::Text(u"stored with blanks"));
  EXPECT_EQ(query.ValueAt(1, 1), Value::Text(u""));
}

TEST(SQLiteTextRules, StringFieldsHoldAtMostTheirLength) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(u"CREATE TABLE T (U, V VARCHAR(5), M TEXT)");
  const std::u16string long_text(40000, u'あ');
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  query.Append();
  query.SetValue(0, Value::Text(long_text));
  query.SetValue(1, Value::Text(u"123456789"));
  query.SetValue(2, Value::Text(long_text));
  query.Post();
  SQLiteQuery check(&connection);
  check.SetSQL(u"SELECT length(U), V, length(M) FROM T");
  check.Open();
  EXPECT_EQ(check.value(0), Value::Integer(32767));
  EXPECT_EQ(check.value(1), Value::Text(u"12345"));
  EXPECT_EQ(check.value(2), Value::Integer(40000));

  // Read back through an untyped column whose first value is text: cut at 32767.
  connection.Execute(u"CREATE TABLE W (U); INSERT INTO W VALUES (printf('%.40000c', 'x'))");
  db::OpenSQLiteTableQuery(query, u"W", u"", u"");
  EXPECT_EQ(query.fields()[0].type, TFieldType::ftWideString);
  EXPECT_EQ(query.value(0).text().size(), 32767u);
}

TEST(SQLiteAppendTest, RefusedRowRaisesAndWritesNothing) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(u"CREATE TABLE T (ID  CONSTRAINT pkey PRIMARY KEY, TITLE TEXT)");
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  EXPECT_EQ(query.table_name(), u"T");
  connection.BeginTransaction();
  auto add = [&](int64_t id, std::u16string title) {
    query.Append();
    query.SetFieldValue(u"ID", Value::Integer(id));
    query.SetFieldValue(u"TITLE", Value::Text(std::move(title)));
    query.Post();
  };
  add(1, u"one");
  EXPECT_THROW(add(1, u"again"), platform::Error);
  query.Cancel();
  add(2, u"two");
  connection.Commit();
  SQLiteQuery check(&connection);
  db::OpenSQLiteTableQuery(check, u"T", u"", u"ORDER BY ID");
  ASSERT_EQ(check.record_count(), 2);
  // The untyped key column receives the integer as its decimal text.
  check.First();
  EXPECT_EQ(check.value(0), Value::Text(u"1"));
  EXPECT_EQ(check.value(1), Value::Text(u"one"));
  check.Next();
  EXPECT_EQ(check.value(0), Value::Text(u"2"));
}

TEST(SQLiteAppendTest, AutoIncrementKeyIsAssignedOnPost) {
  SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.Execute(
      u"CREATE TABLE T (ID INTEGER PRIMARY KEY AUTOINCREMENT, N INTEGER, "
      u"F REAL, B BOOLEAN, D DATETIME)");
  SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, u"T", u"", u"");
  query.Append();
  query.SetFieldValue(u"N", Value::Text(u" 42"));
  query.SetFieldValue(u"F", Value::Text(u"2.5"));
  query.SetFieldValue(u"B", Value::Boolean(true));
  query.SetFieldValue(u"D", Value::FromDateTime(jet::DateTime{45000.5}));
  query.Post();
  EXPECT_EQ(query.value(0), Value::Integer(1));
  query.Append();
  EXPECT_THROW(query.SetFieldValue(u"N", Value::Text(u"forty-two")), platform::Error);
  query.Cancel();
  SQLiteQuery check(&connection);
  check.SetSQL(u"SELECT typeof(N), N, typeof(F), F, B, typeof(D), D FROM T");
  check.Open();
  EXPECT_EQ(check.value(0), Value::Text(u"integer"));
  EXPECT_EQ(check.value(1), Value::Integer(42));
  EXPECT_EQ(check.value(2), Value::Text(u"real"));
  EXPECT_EQ(check.value(3), Value::Double(2.5));
  EXPECT_EQ(check.value(4), Value::Integer(1));
  EXPECT_EQ(check.value(6), Value::Text(u"2023-03-15 12:00:00"));
}

TEST(SQLiteLocking, AfterAWriteOtherConnectionsCannotReadUntilClosed) {
  ScratchDir dir;
  const auto file = dir / "locked.sqlite";
  auto connection = std::make_unique<SQLiteConnection>();
  ASSERT_EQ(db::ConnectSQLite(*connection, u"SQLite", platform::FromPath(file)), 0);
  connection->Execute(u"CREATE TABLE T (A TEXT); INSERT INTO T VALUES ('x')");
  {
    RawSQLite other(file);
    sqlite3_busy_timeout(other.get(), 0);
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v2(other.get(), "SELECT * FROM T", -1, &st, nullptr);
    int step = rc == SQLITE_OK ? sqlite3_step(st) : rc;
    sqlite3_finalize(st);
    EXPECT_EQ(step & 0xFF, SQLITE_BUSY);
  }
  connection.reset();
  RawSQLite other(file);
  EXPECT_EQ(other.Scalar("SELECT A FROM T"), "t:x");
}

TEST(ConversionTest, CompletionMessageCountsRefusedRows) {
  EXPECT_EQ(db::CompletionMessage({10, 0}), u"処理完了");
  EXPECT_FALSE(db::CompletionIsWarning({10, 0}));
  EXPECT_EQ(db::CompletionMessage({8, 2}), u"処理完了\r2 件のレコードを書き込めませんでした");
  EXPECT_TRUE(db::CompletionIsWarning({8, 2}));
}

TEST(ConversionTest, ValuesAreConvertedByTargetFieldType) {
  struct Case {
    Value in;
    TFieldType type;
    int32_t max_chars;
    Value out;
  };
  const Case cases[] = {
      {Value::Integer(12), TFieldType::ftWideString, 0, Value::Text(u"12")},
      {Value::Double(0.1), TFieldType::ftWideMemo, 0, Value::Text(u"0.1")},
      {Value::Boolean(true), TFieldType::ftString, 0, Value::Text(u"True")},
      {Value::FromDateTime(jet::DateTime{45000}), TFieldType::ftWideString, 0,
       Value::Text(u"2023-03-15")},
      {Value::Text(std::u16string(300, u'x')), TFieldType::ftWideString, 255,
       Value::Text(std::u16string(255, u'x'))},
      {Value::Text(u"ab\U0001F600"), TFieldType::ftWideString, 3, Value::Text(u"ab")},
      {Value::Text(u"-7"), TFieldType::ftInteger, 0, Value::Integer(-7)},
      {Value::Double(3.0), TFieldType::ftSmallint, 0, Value::Integer(3)},
      {Value::Boolean(true), TFieldType::ftInteger, 0, Value::Integer(1)},
      {Value::Text(u"1e3"), TFieldType::ftFloat, 0, Value::Double(1000)},
      {Value::Integer(0), TFieldType::ftBoolean, 0, Value::Boolean(false)},
      {Value::Text(u"true"), TFieldType::ftBoolean, 0, Value::Boolean(true)},
      {Value::Text(u"2023-03-15 12:00:00"), TFieldType::ftDateTime, 0,
       Value::FromDateTime(jet::DateTime{45000.5})},
      {Value::Text(u"1850-01-01 06:00"), TFieldType::ftDate, 0,
       Value::FromDateTime(jet::DateTime{-18260.25})},
      {Value::Text(u"12:00"), TFieldType::ftTime, 0, Value::FromDateTime(jet::DateTime{0.5})},
      {Value::Null(), TFieldType::ftInteger, 0, Value::Null()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::ConvertForField(c.in, c.type, c.max_chars), c.out)
        << U8(c.in.ToDisplayText()) << " as " << jet::FieldTypeName(c.type);
  }
  const Case failures[] = {
      {Value::Text(u"abc"), TFieldType::ftInteger, 0, {}},
      {Value::Double(2.5), TFieldType::ftInteger, 0, {}},
      {Value::Integer(40000), TFieldType::ftSmallint, 0, {}},
      {Value::Integer(int64_t{1} << 40), TFieldType::ftInteger, 0, {}},
      {Value::Text(u"x"), TFieldType::ftFloat, 0, {}},
      {Value::Text(u"maybe"), TFieldType::ftBoolean, 0, {}},
      {Value::Text(u"2023-02-30"), TFieldType::ftDateTime, 0, {}},
      {Value::Binary({1, 2}), TFieldType::ftInteger, 0, {}},
  };
  for (const Case& c : failures) {
    EXPECT_THROW(db::ConvertForField(c.in, c.type, c.max_chars), platform::Error)
        << U8(c.in.ToDisplayText()) << " as " << jet::FieldTypeName(c.type);
  }
}

}  // namespace
