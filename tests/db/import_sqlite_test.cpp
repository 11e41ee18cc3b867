// A new basic database from a SQLite file, on real files: the statement, the values, the
// failure cases, the round trips, and the new file as two independent checkers see it
// (the npm reader mdb-reader, and our consistency check `jetsql --check`).
#include "db/import_sqlite.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "db/export_sqlite.h"
#include "db/sqlite_access.h"
#include "jet/json.h"
#include "jet/write/page_store.h"
#include "platform/error.h"
#include "sqlite_test_support.h"

namespace {

using db_test::FileNames;
using db_test::Fixture;
using db_test::RawSQLite;
using db_test::ReadAll;
using db_test::ScratchDir;
using db_test::ShellQuote;
using db_test::U16;
using db_test::U8;
using jet::TFieldType;
using jet::Value;

constexpr char16_t kTable[] = u"T_projectMain";

const std::filesystem::path kOracle =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "oracle";
const std::filesystem::path kJetSql =
    std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" / "jetsql" / "jetsql";

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const base::Error& e) {
    return U8(e.message());
  }
  return "";
}

jet::Field MakeField(std::u16string name, TFieldType type) {
  jet::Field field;
  field.name = std::move(name);
  field.type = type;
  return field;
}

// A SQLite file as the mobile edition keeps its project list.
void MakeMobileFile(const std::filesystem::path& path, const std::string& rows_sql) {
  RawSQLite raw(path);
  ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                     "TITLE TEXT, FILENAME TEXT, PASSWORD TEXT);" +
                     rows_sql),
            "");
}

// What mdb-reader finds in the table: line 0 the fields, then one JSON array per row.
std::vector<std::string> OracleDump(const std::filesystem::path& file, const std::string& table) {
  std::string out;
  const int status =
      db_test::RunCommand("node " + ShellQuote((kOracle / "dump.mjs").string()) + " " +
                              ShellQuote(file.string()) + " " + ShellQuote(table),
                          &out);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(out.substr(start, nl - start));
  }
  return lines;
}

// The new file passes our consistency check and mdb-reader reads exactly `rows` from it.
void ExpectReadableByOthers(const std::filesystem::path& file, const std::string& table,
                            const db_test::Rows& rows) {
  std::string check;
  EXPECT_EQ(
      db_test::RunCommand(
          ShellQuote(kJetSql.string()) + " --check " + ShellQuote(file.string()) + " 2>&1", &check),
      0)
      << check;
  ASSERT_TRUE(std::filesystem::exists(kOracle / "node_modules" / "mdb-reader"))
      << "mdb-reader is not installed: run scripts/setup";
  std::vector<std::string> lines = OracleDump(file, table);
  ASSERT_EQ(lines.size(), rows.size() + 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(lines[r + 1], jet::json::Row(rows[r])) << "row " << r;
  }
}

TEST(ImportStatement, MobileProjectTableGivesTheExampleExactly) {
  const std::vector<jet::Field> fields = {MakeField(u"ID", TFieldType::ftAutoInc),
                                          MakeField(u"TITLE", TFieldType::ftWideMemo),
                                          MakeField(u"FILENAME", TFieldType::ftWideMemo),
                                          MakeField(u"PASSWORD", TFieldType::ftWideMemo)};
  const std::string expected =
      "CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
      "VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));";
  EXPECT_EQ(U8(db::BuildImportTableStatement(kTable, fields)), expected);

  // The same from a real SQLite file with those columns.
  ScratchDir dir;
  MakeMobileFile(dir / "m.sqlite", "");
  db::SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", dir.U16("m.sqlite")), 0);
  db::SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, kTable, u"", u"");
  EXPECT_EQ(U8(db::BuildImportTableStatement(kTable, query.fields())), expected);
}

TEST(ImportStatement, TypeWordsByFieldType) {
  const struct {
    TFieldType type;
    const char* word;
  } cases[] = {
      {TFieldType::ftString, "VARCHAR(255)"},
      {TFieldType::ftWideString, "VARCHAR(255)"},
      {TFieldType::ftWideMemo, "VARCHAR(255)"},
      {TFieldType::ftSmallint, "Integer"},
      {TFieldType::ftInteger, "Integer"},
      {TFieldType::ftLargeint, "Integer"},
      {TFieldType::ftAutoInc, "Integer CONSTRAINT pkey PRIMARY KEY"},
      {TFieldType::ftFloat, "Float"},
      {TFieldType::ftSingle, "Float"},
      {TFieldType::ftDate, "Datetime"},
      {TFieldType::ftTime, "Datetime"},
      {TFieldType::ftBoolean, "Boolean"},
      // Types the word table does not name.
      {TFieldType::ftDateTime, "Datetime"},
      {TFieldType::ftMemo, "VARCHAR(255)"},
      {TFieldType::ftByte, "Integer"},
      {TFieldType::ftCurrency, "Float"},
      {TFieldType::ftFMTBcd, "Float"},
      {TFieldType::ftBlob, "LONGBINARY"},
      {TFieldType::ftVarBytes, "LONGBINARY"},
      {TFieldType::ftGuid, "VARCHAR(255)"},
      {TFieldType::ftUnknown, "VARCHAR(255)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(U8(db::BuildImportTableStatement(
                  u"T", {MakeField(u"A", TFieldType::ftInteger), MakeField(u"B", c.type)})),
              std::string("CREATE TABLE T ([A] Integer,[B] ") + c.word + ");")
        << jet::FieldTypeName(c.type);
  }
}

TEST(ImportSQLiteToJetTest, MobileFileBecomesABasicDatabase) {
  ScratchDir dir;
  const std::string long_title(300, 'L');
  MakeMobileFile(dir / "p.sqlite",
                 "INSERT INTO T_projectMain (TITLE, FILENAME, PASSWORD) VALUES "
                 "('道路台帳', 'C:\\data\\p1.dat', NULL),"
                 "('河川調査 \r\n', 'C:\\data\\p2.dat', ''),"
                 "('" +
                     long_title +
                     "', 'same', 'pw'),"
                     "('dup', 'same', 'pw');");
  const db::CopyCounts counts =
      db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable);
  EXPECT_EQ(counts.copied, 4);
  EXPECT_EQ(counts.refused, 0);

  const db_test::JetTable table = db_test::ReadJetTable(dir / "p.mdb", kTable);
  ASSERT_EQ(table.fields.size(), 4u);
  EXPECT_EQ(table.fields[0].type, TFieldType::ftInteger);  // a Long key, not an AutoNumber
  EXPECT_EQ(table.fields[0].column_type, jet::ColumnType::kLong);
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(table.fields[static_cast<size_t>(i)].type, TFieldType::ftWideString);
    EXPECT_EQ(table.fields[static_cast<size_t>(i)].size, 510);
  }
  const db_test::Rows expected = {
      {Value::Integer(1), Value::Text(u"道路台帳"), Value::Text(u"C:\\data\\p1.dat"), Value()},
      {Value::Integer(2), Value::Text(u"河川調査"), Value::Text(u"C:\\data\\p2.dat"),
       Value::Text(u"")},
      {Value::Integer(3), Value::Text(std::u16string(255, u'L')), Value::Text(u"same"),
       Value::Text(u"pw")},
      {Value::Integer(4), Value::Text(u"dup"), Value::Text(u"same"), Value::Text(u"pw")},
  };
  EXPECT_EQ(table.rows, expected);
  ExpectReadableByOthers(dir / "p.mdb", "T_projectMain", expected);

  // The key is a primary key: a repeated value is refused by the engine.
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(dir.U16("p.mdb"), u"", u"", connection), 0);
  EXPECT_THROW(connection.Execute(u"INSERT INTO T_projectMain (ID) VALUES (1)"), jet::Error);
}

TEST(ImportSQLiteToJetTest, DeclaredTypesBecomeTheirJetColumns) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "t.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T (K INTEGER PRIMARY KEY, D DATE, T TIME, B BOOLEAN, "
                       "R REAL, S SMALLINT, V VARCHAR(20), DT DATETIME);"
                       "INSERT INTO T VALUES (5, '2024-02-29', '13:30:15', 1, 2.5, -3, 'v', "
                       "'2024-02-29 13:30:15');"
                       "INSERT INTO T VALUES (6, NULL, NULL, 0, NULL, NULL, NULL, NULL);"),
              "");
  }
  db::ImportSQLiteToJet(dir.U16("t.mdb"), dir.U16("t.sqlite"), u"T");
  const db_test::JetTable table = db_test::ReadJetTable(dir / "t.mdb", u"T");
  const std::vector<jet::ColumnType> columns = {
      jet::ColumnType::kLong,    jet::ColumnType::kDateTime, jet::ColumnType::kDateTime,
      jet::ColumnType::kBoolean, jet::ColumnType::kDouble,   jet::ColumnType::kLong,
      jet::ColumnType::kText,    jet::ColumnType::kDateTime};
  ASSERT_EQ(table.fields.size(), columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    EXPECT_EQ(jet::ColumnTypeName(table.fields[i].column_type), jet::ColumnTypeName(columns[i]))
        << U8(table.fields[i].name);
  }
  ASSERT_EQ(table.rows.size(), 2u);
  const auto& row = table.rows[0];
  EXPECT_EQ(row[0], Value::Integer(5));
  EXPECT_EQ(row[1].date_time().ToIsoString(), "2024-02-29T00:00:00");
  EXPECT_EQ(row[2].date_time().ToIsoString(), "1899-12-30T13:30:15");
  EXPECT_EQ(row[3], Value::Boolean(true));
  EXPECT_EQ(row[4], Value::Double(2.5));
  EXPECT_EQ(row[5], Value::Integer(-3));
  EXPECT_EQ(row[6], Value::Text(u"v"));
  EXPECT_EQ(row[7].date_time().ToIsoString(), "2024-02-29T13:30:15");
  EXPECT_EQ(table.rows[1][3], Value::Boolean(false));
  ExpectReadableByOthers(dir / "t.mdb", "T", table.rows);

  // INTEGER PRIMARY KEY without AUTOINCREMENT is a plain Integer column without a key.
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(dir.U16("t.mdb"), u"", u"", connection), 0);
  EXPECT_FALSE(table.fields[0].auto_increment);
}

TEST(ImportSQLiteToJetTest, EmptyTableGivesTheEmptyJetTable) {
  ScratchDir dir;
  MakeMobileFile(dir / "e.sqlite", "");
  const db::CopyCounts counts =
      db::ImportSQLiteToJet(dir.U16("e.mdb"), dir.U16("e.sqlite"), kTable);
  EXPECT_EQ(counts.copied, 0);
  const db_test::JetTable table = db_test::ReadJetTable(dir / "e.mdb", kTable);
  EXPECT_EQ(table.fields.size(), 4u);
  EXPECT_TRUE(table.rows.empty());
  ExpectReadableByOthers(dir / "e.mdb", "T_projectMain", {});
}

TEST(ImportSQLiteToJetTest, FileWrittenByTheExportKeepsItsKeysAsText) {
  ScratchDir dir;
  db_test::MakeJetTable(dir / "basic.mdb",
                        u"CREATE TABLE T_projectMain ([ID] COUNTER CONSTRAINT pkey PRIMARY KEY,"
                        u"[TITLE] VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255))",
                        kTable,
                        {{Value(), Value::Text(u"a"), Value(), Value()},
                         {Value(), Value::Text(u"b"), Value(), Value()}});
  db::ExportToSQLite(dir.U16("x.sqlite"), dir.U16("basic.mdb"), kTable);
  db::ImportSQLiteToJet(dir.U16("x.mdb"), dir.U16("x.sqlite"), kTable);
  const db_test::JetTable table = db_test::ReadJetTable(dir / "x.mdb", kTable);
  EXPECT_EQ(table.fields[0].type, TFieldType::ftWideString);
  EXPECT_EQ(table.rows[0][0], Value::Text(u"1"));
  EXPECT_EQ(table.rows[1][0], Value::Text(u"2"));
}

TEST(ImportSQLiteToJetTest, ProgressReachesTheTotal) {
  ScratchDir dir;
  MakeMobileFile(dir / "p.sqlite",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                 "INSERT INTO T_projectMain (TITLE) SELECT 'title ' || i FROM n;");
  std::vector<std::pair<int64_t, int64_t>> calls;
  const db::CopyCounts counts =
      db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable,
                            [&](int64_t done, int64_t total) { calls.emplace_back(done, total); });
  EXPECT_EQ(counts.copied, 5000);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back(), std::make_pair(int64_t{5000}, int64_t{5000}));
  EXPECT_EQ(db_test::ReadJetTable(dir / "p.mdb", kTable).rows.size(), 5000u);
}

// The failure table of the import: what fails, and what is left behind.
TEST(ImportFailureTest, FileAlreadyAtTheNewPathIsNeverTouched) {
  ScratchDir dir;
  MakeMobileFile(dir / "p.sqlite", "INSERT INTO T_projectMain (TITLE) VALUES ('x');");
  {
    std::ofstream out(dir / "p.mdb", std::ios::binary);
    out << "someone else's file";
  }
  EXPECT_FALSE(ErrorOf([&] {
                 db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable);
               }).empty());
  EXPECT_EQ(ReadAll(dir / "p.mdb"), "someone else's file");
}

TEST(ImportFailureTest, FolderThatDoesNotExistLeavesNothingNew) {
  ScratchDir dir;
  MakeMobileFile(dir / "p.sqlite", "");
  EXPECT_FALSE(ErrorOf([&] {
                 db::ImportSQLiteToJet(dir.U16("no/p.mdb"), dir.U16("p.sqlite"), kTable);
               }).empty());
  EXPECT_EQ(FileNames(dir.path()), std::vector<std::string>{"p.sqlite"});
}

// Failures after the new file was created: the new file is removed again, and the SQLite
// file is left as it was.
class ImportRemovesNewFileTest : public ::testing::Test {
 protected:
  void ExpectFailsAndCleansUp(const std::string& sqlite_name, const std::string& expected_error) {
    const auto files = FileNames(dir_.path());
    const std::string before = std::filesystem::exists(dir_ / sqlite_name)
                                   ? ReadAll(dir_ / sqlite_name)
                                   : std::string("<none>");
    const std::string error =
        ErrorOf([&] { db::ImportSQLiteToJet(dir_.U16("new.mdb"), dir_.U16(sqlite_name), kTable); });
    EXPECT_NE(error.find(expected_error), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "new.mdb"));
    if (before != "<none>") {
      EXPECT_EQ(ReadAll(dir_ / sqlite_name), before);
      EXPECT_EQ(FileNames(dir_.path()), files);
    }
  }
  ScratchDir dir_;
};

// A source too large for a Jet file stops the import with the reason, instead of refusing
// every row after the file is full; nothing is left at the new path. The limit is lowered
// here (a real 2 GB file would take minutes to write).
TEST_F(ImportRemovesNewFileTest, SourceTooLargeForAJetFileStopsTheImport) {
  {
    RawSQLite raw(dir_ / "big.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER, TITLE TEXT);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                       "WHERE i < 3000) INSERT INTO T_projectMain SELECT i, printf('%.250c', "
                       "'x') FROM n;"),
              "");
  }
  struct Limit {
    Limit() { jet::write::PageStore::SetPageLimitForTesting(300); }
    ~Limit() { jet::write::PageStore::SetPageLimitForTesting(0); }
  } limit;
  ExpectFailsAndCleansUp("big.sqlite", "これ以上行を追加できません");
}

TEST_F(ImportRemovesNewFileTest, SQLiteFileWithoutTheTable) {
  {
    RawSQLite raw(dir_ / "other.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE Something (A TEXT)"), "");
  }
  ExpectFailsAndCleansUp("other.sqlite", "no such table: T_projectMain");
}

TEST_F(ImportRemovesNewFileTest, MissingSQLiteFileIsCreatedEmptyAndHasNoTable) {
  ExpectFailsAndCleansUp("typed.sqlite", "no such table: T_projectMain");
  EXPECT_EQ(std::filesystem::file_size(dir_ / "typed.sqlite"), 0u);
}

TEST_F(ImportRemovesNewFileTest, FileThatIsNoSQLiteDatabase) {
  {
    std::ofstream out(dir_ / "junk.sqlite", std::ios::binary);
    out << std::string(2048, 'j');
  }
  ExpectFailsAndCleansUp("junk.sqlite", "");
}

TEST_F(ImportRemovesNewFileTest, FieldNameTheJetEngineDoesNotAcceptInBrackets) {
  {
    RawSQLite raw(dir_ / "odd.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER, \"a]b\" TEXT);"
                       "INSERT INTO T_projectMain VALUES (1, 'x')"),
              "");
  }
  ExpectFailsAndCleansUp("odd.sqlite", "");
}

TEST_F(ImportRemovesNewFileTest, ValueThatCannotBeConverted) {
  {
    RawSQLite raw(dir_ / "bad.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER, TITLE TEXT);"
                       "INSERT INTO T_projectMain VALUES (1, 'fine');"
                       "INSERT INTO T_projectMain VALUES ('not a number', 'bad')"),
              "");
  }
  ExpectFailsAndCleansUp("bad.sqlite", "not a number");
}

TEST_F(ImportRemovesNewFileTest, FileThatIsNoSQLiteDatabaseNamesTheReason) {
  // A real SQLite file cut short, and bytes that are no SQLite file at all.
  {
    RawSQLite raw(dir_ / "whole.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER, TITLE TEXT);"
                       "INSERT INTO T_projectMain VALUES (1, 'x')"),
              "");
  }
  const std::string whole = ReadAll(dir_ / "whole.sqlite");
  std::ofstream(dir_ / "cut.sqlite", std::ios::binary) << whole.substr(0, 1000);
  std::ofstream(dir_ / "random.sqlite", std::ios::binary) << std::string(4096, '\x9c');
  const struct {
    const char* file;
    const char* reason;
  } cases[] = {
      {"cut.sqlite", ""},  // SQLite names a damaged image in one of several ways
      {"random.sqlite", ": file is not a database"},
  };
  for (const auto& c : cases) {
    const std::string error =
        ErrorOf([&] { db::ImportSQLiteToJet(dir_.U16("new.mdb"), dir_.U16(c.file), kTable); });
    const std::string sentence =
        "SQLiteデータベース「" + (dir_ / c.file).string() + "」を開けませんでした: ";
    EXPECT_EQ(error.rfind(sentence, 0), 0u) << c.file << ": " << error;
    EXPECT_GT(error.size(), sentence.size()) << c.file << ": " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.file << ": " << error;
    EXPECT_EQ(error.find("接続されていません"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "new.mdb"));
  }
  EXPECT_EQ(FileNames(dir_.path()),
            (std::vector<std::string>{"cut.sqlite", "random.sqlite", "whole.sqlite"}));
}

// What a value the Jet table cannot hold as it is does to its row, one value per case.
TEST(ImportValueTest, ValuesTheJetTableCannotHoldAsTheyAre) {
  const std::string long_text(300, 'a');
  const struct {
    const char* what;
    std::string value;  // SQL for the value of the second column
    const char* type;   // its declared type
    db::CopyCounts counts;
    const char* message;
  } cases[] = {
      {"text above 255 characters is cut and counted",
       "'" + long_text + "'",
       "TEXT",
       {2, 0, 1},
       "処理完了\r1 件のレコードの文字列を 255 文字に切り詰めました"},
      {"text of 255 characters is whole",
       "'" + long_text.substr(0, 255) + "'",
       "TEXT",
       {2, 0, 0},
       "処理完了"},
      {"integer above Long Integer refuses its row",
       "3000000000",
       "INTEGER",
       {1, 1, 0},
       "処理完了\r1 件のレコードを書き込めませんでした"},
      {"integer below Long Integer refuses its row",
       "-2147483649",
       "INTEGER",
       {1, 1, 0},
       "処理完了\r1 件のレコードを書き込めませんでした"},
      {"whole number beyond any integer refuses its row",
       "1e30",
       "INTEGER",
       {1, 1, 0},
       "処理完了\r1 件のレコードを書き込めませんでした"},
      {"infinity refuses its row",
       "9e999",
       "REAL",
       {1, 1, 0},
       "処理完了\r1 件のレコードを書き込めませんでした"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    {
      RawSQLite raw(dir / "v.sqlite");
      ASSERT_EQ(raw.Exec(std::string("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY, V ") +
                         c.type + ");INSERT INTO T_projectMain VALUES (1, " + c.value +
                         ");INSERT INTO T_projectMain VALUES (2, 7)"),
                "")
          << c.what;
    }
    db::CopyCounts counts;
    const std::string error = ErrorOf(
        [&] { counts = db::ImportSQLiteToJet(dir.U16("v.mdb"), dir.U16("v.sqlite"), kTable); });
    ASSERT_EQ(error, "") << c.what;
    EXPECT_EQ(counts.copied, c.counts.copied) << c.what;
    EXPECT_EQ(counts.refused, c.counts.refused) << c.what;
    EXPECT_EQ(counts.truncated, c.counts.truncated) << c.what;
    EXPECT_EQ(U8(db::CompletionMessage(counts)), c.message) << c.what;
    EXPECT_EQ(db::CompletionIsWarning(counts), std::string(c.message) != "処理完了") << c.what;
    EXPECT_EQ(db_test::ReadJetTable(dir / "v.mdb", kTable).rows.size(),
              static_cast<size_t>(c.counts.copied))
        << c.what;
  }
}

TEST(ImportValueTest, RefusedAndCutRowsGiveTwoWarningLines) {
  db::CopyCounts counts;
  counts.copied = 5;
  counts.refused = 2;
  counts.truncated = 3;
  EXPECT_EQ(db::CompletionMessage(counts),
            u"処理完了\r2 件のレコードを書き込めませんでした\r3 件のレコードの文字列を 255 "
            u"文字に切り詰めました");
  EXPECT_TRUE(db::CompletionIsWarning(counts));
}

// The new file takes its name only when complete, and never over a file that appeared there
// while the import ran.
TEST(ImportFailureTest, FileThatAppearsAtTheNewPathMeanwhileStays) {
  ScratchDir dir;
  MakeMobileFile(dir / "p.sqlite", "INSERT INTO T_projectMain (TITLE) VALUES ('x');");
  bool seen_absent = true;
  const std::string error = ErrorOf([&] {
    db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable,
                          [&](int64_t done, int64_t total) {
                            if (done != total) return;
                            // All rows are in, yet nothing is at the new path.
                            seen_absent = !std::filesystem::exists(dir / "p.mdb");
                            std::ofstream(dir / "p.mdb") << "someone else's file";
                          });
  });
  EXPECT_TRUE(seen_absent);
  EXPECT_NE(error.find("「" + (dir / "p.mdb").string() + "」を作成できませんでした"),
            std::string::npos)
      << error;
  EXPECT_EQ(ReadAll(dir / "p.mdb"), "someone else's file");
  EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"p.mdb", "p.sqlite"}));
}

TEST(ImportFailureTest, NoTemporaryFileOfAnEarlierKilledImportIsLeft) {
  ScratchDir dir;
  MakeMobileFile(dir / "p.sqlite", "INSERT INTO T_projectMain (TITLE) VALUES ('x');");
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::ofstream(dir / (".p.mdb.tmp" + std::to_string(child) + "-0-5")) << "half";
  EXPECT_EQ(db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable).copied, 1);
  EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"p.mdb", "p.sqlite"}));
}

// A tiny file system of its own, mounted for the test (only the superuser may mount).
class TinyFileSystem {
 public:
  explicit TinyFileSystem(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    if (::geteuid() != 0) return;
    mounted_ = db_test::RunCommand("mount -t tmpfs -o size=96k tmpfs " +
                                   ShellQuote(folder_.string()) + " 2>/dev/null") == 0;
  }
  // Detached lazily: the engine may still hold a file of a failed import open.
  ~TinyFileSystem() {
    if (mounted_) db_test::RunCommand("umount -l " + ShellQuote(folder_.string()));
  }
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

// A full disk: the conversion fails with a message, an earlier file stays as it was and no
// temporary file is left.
TEST(FullDiskTest, ConversionsFailCleanly) {
  ScratchDir dir;
  TinyFileSystem disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a small file system needs the superuser";
  const auto source = Fixture("generated-jackcess-T_projectMain-1000.mdb");
  // The SQLite source of the import lies outside, and is larger than the little disk.
  db::ExportToSQLite(dir.U16("p.sqlite"), platform::FromPath(source), kTable);
  MakeMobileFile(dir / "disk" / "old.sqlite", "INSERT INTO T_projectMain (TITLE) VALUES ('old');");
  const std::string old_bytes = ReadAll(dir / "disk" / "old.sqlite");

  const std::string export_error = ErrorOf(
      [&] { db::ExportToSQLite(dir.U16("disk/old.sqlite"), platform::FromPath(source), kTable); });
  EXPECT_FALSE(export_error.empty());
  EXPECT_EQ(ReadAll(dir / "disk" / "old.sqlite"), old_bytes);

  const std::string import_error =
      ErrorOf([&] { db::ImportSQLiteToJet(dir.U16("disk/new.mdb"), dir.U16("p.sqlite"), kTable); });
  EXPECT_FALSE(import_error.empty());
  EXPECT_EQ(FileNames(dir / "disk"), std::vector<std::string>{"old.sqlite"});
}

TEST(ImportFailureTest, RowsTheJetTableRefusesAreSkippedAndCounted) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "dup.sqlite");
    // A view that repeats every row of a table with an AUTOINCREMENT key: the Jet primary
    // key refuses the repeats.
    ASSERT_EQ(raw.Exec("CREATE TABLE base (ID INTEGER PRIMARY KEY AUTOINCREMENT, TITLE TEXT);"
                       "INSERT INTO base (TITLE) VALUES ('a'), ('b'), ('c');"
                       "CREATE VIEW T_projectMain AS SELECT base.* FROM base, "
                       "(SELECT 1 AS k UNION ALL SELECT 2) ORDER BY base.ID, k;"),
              "");
  }
  const db::CopyCounts counts =
      db::ImportSQLiteToJet(dir.U16("dup.mdb"), dir.U16("dup.sqlite"), kTable);
  EXPECT_EQ(counts.copied, 3);
  EXPECT_EQ(counts.refused, 3);
  EXPECT_EQ(db::CompletionMessage(counts), u"処理完了\r3 件のレコードを書き込めませんでした");
  const db_test::JetTable table = db_test::ReadJetTable(dir / "dup.mdb", kTable);
  const db_test::Rows expected = {{Value::Integer(1), Value::Text(u"a")},
                                  {Value::Integer(2), Value::Text(u"b")},
                                  {Value::Integer(3), Value::Text(u"c")}};
  EXPECT_EQ(table.rows, expected);
  ExpectReadableByOthers(dir / "dup.mdb", "T_projectMain", expected);
}

// mdb -> SQLite -> mdb: the fixture's project table comes back value by value (texts without
// their trailing blanks and control characters, as the SQLite side stores them).
TEST(RoundTripTest, FixtureProjectTableThroughSQLiteAndBack) {
  ScratchDir dir;
  const auto source = Fixture("generated-jackcess-T_projectMain-1000.mdb");
  const db_test::JetTable original = db_test::ReadJetTable(source, kTable);
  ASSERT_EQ(original.rows.size(), 1000u);
  EXPECT_EQ(db::ExportToSQLite(dir.U16("p.sqlite"), platform::FromPath(source), kTable).copied,
            1000);
  EXPECT_EQ(db::ImportSQLiteToJet(dir.U16("p.mdb"), dir.U16("p.sqlite"), kTable).copied, 1000);

  const db_test::JetTable back = db_test::ReadJetTable(dir / "p.mdb", kTable);
  ASSERT_EQ(back.fields.size(), original.fields.size());
  for (size_t i = 0; i < back.fields.size(); ++i) {
    EXPECT_EQ(back.fields[i].name, original.fields[i].name);
    EXPECT_EQ(back.fields[i].type, original.fields[i].type);
    EXPECT_EQ(back.fields[i].size, original.fields[i].size);
  }
  db_test::Rows expected = original.rows;
  for (auto& row : expected) {
    for (Value& v : row) {
      if (v.kind() == Value::Kind::kText) v = Value::Text(db::TrimTrailingControls(v.text()));
    }
  }
  ASSERT_EQ(back.rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) EXPECT_EQ(back.rows[r], expected[r]) << "row " << r;
  ExpectReadableByOthers(dir / "p.mdb", "T_projectMain", expected);
}

// SQLite -> mdb -> SQLite: a mobile file's rows come back value by value.
TEST(RoundTripTest, MobileFileThroughJetAndBack) {
  ScratchDir dir;
  MakeMobileFile(dir / "m.sqlite",
                 "INSERT INTO T_projectMain (TITLE, FILENAME, PASSWORD) VALUES "
                 "('東京都 道路台帳', 'C:\\Data\\案件1\\p.dat', NULL),"
                 "('ﾊﾝｶｸ カタカナ ひらがな', '', 'pw'),"
                 "('100% _under_ [x]', '/srv/p.dat', ''),"
                 "(NULL, NULL, NULL);"
                 "DELETE FROM T_projectMain WHERE ID = 2;"
                 "INSERT INTO T_projectMain (TITLE) VALUES ('after a gap');");
  db::ImportSQLiteToJet(dir.U16("m.mdb"), dir.U16("m.sqlite"), kTable);
  db::ExportToSQLite(dir.U16("back.sqlite"), dir.U16("m.mdb"), kTable);

  RawSQLite original(dir / "m.sqlite");
  RawSQLite back(dir / "back.sqlite");
  EXPECT_EQ(back.Scalar("SELECT sql FROM sqlite_master WHERE type = 'table'"),
            "t:CREATE TABLE T_projectMain (ID INTEGER CONSTRAINT pkey PRIMARY KEY,TITLE TEXT,"
            "FILENAME TEXT,PASSWORD TEXT)");
  const auto want = original.Rows("SELECT * FROM T_projectMain ORDER BY ID");
  const auto got = back.Rows("SELECT * FROM T_projectMain ORDER BY ID");
  ASSERT_EQ(want.size(), 4u);
  EXPECT_EQ(got, want);
}

}  // namespace
