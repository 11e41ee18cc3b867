// The export of the project table into a new SQLite file, on real Jet and SQLite files.
#include "db/export_sqlite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "db/conversion.h"
#include "db/sqlite_access.h"
#include "platform/error.h"
#include "sqlite_test_support.h"

namespace {

using db_test::FileNames;
using db_test::Fixture;
using db_test::RawSQLite;
using db_test::ReadAll;
using db_test::ScratchDir;
using db_test::U16;
using db_test::U8;
using jet::TFieldType;
using jet::Value;

constexpr char16_t kTable[] = u"T_projectMain";

jet::Field MakeField(std::u16string name, TFieldType type) {
  jet::Field field;
  field.name = std::move(name);
  field.type = type;
  return field;
}

// The message of whatever the call raises ("" when it raises nothing).
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const base::Error& e) {
    return U8(e.message());
  }
  return "";
}

// A Jet project table whose first column is an AutoNumber key.
void MakeAutoNumberProjectTable(const std::filesystem::path& path, const db_test::Rows& rows) {
  db_test::MakeJetTable(path,
                        u"CREATE TABLE T_projectMain ([ID] COUNTER CONSTRAINT pkey PRIMARY KEY,"
                        u"[TITLE] VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255))",
                        kTable, rows);
}

TEST(ExportStatement, ProjectTableWithAutoNumberKeyGivesTheExampleExactly) {
  const std::vector<jet::Field> fields = {MakeField(u"ID", TFieldType::ftAutoInc),
                                          MakeField(u"TITLE", TFieldType::ftWideString),
                                          MakeField(u"FILENAME", TFieldType::ftWideString),
                                          MakeField(u"PASSWORD", TFieldType::ftWideString)};
  EXPECT_EQ(U8(db::BuildExportTableStatement(kTable, fields)),
            "CREATE TABLE T_projectMain (ID  CONSTRAINT pkey PRIMARY KEY,TITLE TEXT,"
            "FILENAME TEXT,PASSWORD TEXT);");
}

TEST(ExportStatement, NamesThatAreNoPlainIdentifierAreQuoted) {
  const struct {
    const char16_t* name;
    const char* written;
  } cases[] = {
      {u"TITLE", "TITLE"},
      {u"_x9", "_x9"},
      {u"Order", "\"Order\""},  // a keyword
      {u"table", "\"table\""},
      {u"File Name", "\"File Name\""},
      {u"1st", "\"1st\""},
      {u"名前", "\"名前\""},
      {u"a\"b", "\"a\"\"b\""},
      {u"a);VACUUM INTO'/tmp/x';CREATE TABLE z(b", "\"a);VACUUM INTO'/tmp/x';CREATE TABLE z(b\""},
  };
  for (const auto& c : cases) {
    const std::vector<jet::Field> fields = {MakeField(c.name, TFieldType::ftInteger)};
    EXPECT_EQ(U8(db::BuildExportTableStatement(c.name, fields)),
              std::string("CREATE TABLE ") + c.written + " (" + c.written +
                  " INTEGER CONSTRAINT pkey PRIMARY KEY);")
        << U8(c.name);
  }
}

// Field names of a Jet file, hostile or merely unusual, reach the SQLite file as names and
// never as statements.
TEST(ExportToSQLiteTest, FieldNamesArriveAsTheyAreAndRunNothing) {
  ScratchDir dir;
  {
    RawSQLite other(dir / "other");
    ASSERT_EQ(other.Exec("CREATE TABLE keep (A)"), "");
  }
  // The engine keeps names to 64 characters: the files are named relative to the folder.
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string names[] = {
      "Order",
      "File Name",
      "say \"hi\"",
      "a);VACUUM INTO'copy';CREATE TABLE z(b",
      "a);ATTACH'other'AS o;DROP TABLE keep;CREATE TABLE z(b",
  };
  for (const std::string& name : names) {
    std::filesystem::remove(dir / "odd.mdb");
    db_test::MakeJetTable(dir / "odd.mdb",
                          u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,"
                          u"[" +
                              U16(name) + u"] VARCHAR(255))",
                          kTable, {{Value::Integer(1), Value::Text(u"x")}});
    const db::CopyCounts counts =
        db::ExportToSQLite(dir.U16("out.sqlite"), dir.U16("odd.mdb"), kTable);
    EXPECT_EQ(counts.copied, 1) << name;
    RawSQLite raw(dir / "out.sqlite");
    EXPECT_EQ(raw.Rows("SELECT name FROM pragma_table_info('T_projectMain')"),
              (std::vector<std::vector<std::string>>{{"t:ID"}, {"t:" + name}}))
        << name;
    EXPECT_EQ(raw.Scalar("SELECT count(*) FROM sqlite_master WHERE name = 'z'"), "i:0") << name;
  }
  std::filesystem::current_path(before);
  EXPECT_FALSE(std::filesystem::exists(dir / "copy"));
  RawSQLite other(dir / "other");
  EXPECT_EQ(other.Scalar("SELECT count(*) FROM sqlite_master WHERE name = 'keep'"), "i:1");
}

TEST(SQLiteConnectionExecuteOne, RunsOneStatementAndRefusesASecond) {
  db::SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", u""), 0);
  connection.ExecuteOne(u"CREATE TABLE A (X); ;\n ");
  const std::string error =
      ErrorOf([&] { connection.ExecuteOne(u"CREATE TABLE B (X);DROP TABLE A"); });
  EXPECT_NE(error.find("別の文"), std::string::npos) << error;
  sqlite3* db = connection.handle();
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT group_concat(name) FROM sqlite_master", -1, &st, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))), "A");
  sqlite3_finalize(st);
}

// A file that is there already: what it keeps, and when it is refused.
TEST(ExportToSQLiteTest, TargetThatIsThereAlready) {
  namespace fs = std::filesystem;
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
  const struct {
    const char* what;
    bool exists;
    fs::perms before;
    bool refused;
    fs::perms after;
  } cases[] = {
      {"private file keeps its permissions", true, rw, false, rw},
      {"shared file keeps its permissions", true,
       rw | fs::perms::group_read | fs::perms::others_read, false,
       rw | fs::perms::group_read | fs::perms::others_read},
      {"group file keeps its permissions", true,
       rw | fs::perms::group_read | fs::perms::group_write, false,
       rw | fs::perms::group_read | fs::perms::group_write},
      {"read-only file is refused", true,
       fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, true,
       fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read},
      {"new file with passwords is the owner's only", false, fs::perms::none, false, rw},
  };
  const mode_t old_mask = ::umask(022);
  for (const auto& c : cases) {
    ScratchDir dir;
    MakeAutoNumberProjectTable(dir / "basic.mdb",
                               {{Value(), Value::Text(u"t"), Value(), Value::Text(u"secret")}});
    if (c.exists) {
      std::ofstream(dir / "out.sqlite") << "old";
      fs::permissions(dir / "out.sqlite", c.before);
    }
    const std::string error =
        ErrorOf([&] { db::ExportToSQLite(dir.U16("out.sqlite"), dir.U16("basic.mdb"), kTable); });
    if (c.refused) {
      EXPECT_NE(error.find("「" + (dir / "out.sqlite").string() + "」"), std::string::npos)
          << c.what << ": " << error;
      EXPECT_NE(error.find("アクセスが拒否されました"), std::string::npos)
          << c.what << ": " << error;
      EXPECT_EQ(ReadAll(dir / "out.sqlite"), "old") << c.what;
    } else {
      EXPECT_EQ(error, "") << c.what;
      RawSQLite raw(dir / "out.sqlite");
      EXPECT_EQ(raw.Scalar("SELECT PASSWORD FROM T_projectMain"), "t:secret") << c.what;
    }
    EXPECT_EQ(fs::status(dir / "out.sqlite").permissions(), c.after) << c.what;
    EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"basic.mdb", "out.sqlite"}))
        << c.what;
  }
  ::umask(old_mask);
}

TEST(ExportToSQLiteTest, LinkAtTheTargetStaysAndItsFileIsReplaced) {
  ScratchDir dir;
  MakeAutoNumberProjectTable(dir / "basic.mdb", {{Value(), Value::Text(u"t"), Value(), Value()}});
  std::filesystem::create_directory(dir / "real");
  std::ofstream(dir / "real" / "out.sqlite") << "old";
  std::filesystem::permissions(dir / "real" / "out.sqlite",
                               std::filesystem::perms::owner_read |
                                   std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_read);
  std::filesystem::create_symlink(dir / "real" / "out.sqlite", dir / "link.sqlite");
  db::ExportToSQLite(dir.U16("link.sqlite"), dir.U16("basic.mdb"), kTable);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.sqlite"));
  EXPECT_EQ(std::filesystem::read_symlink(dir / "link.sqlite"), dir / "real" / "out.sqlite");
  EXPECT_EQ(std::filesystem::status(dir / "real" / "out.sqlite").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  RawSQLite raw(dir / "real" / "out.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT TITLE FROM T_projectMain"), "t:t");
  EXPECT_EQ(FileNames(dir / "real"), std::vector<std::string>{"out.sqlite"});
}

TEST(ExportStatement, TypeWordsByFieldType) {
  struct Case {
    std::vector<TFieldType> types;  // field types in order; fields are named A, B, C...
    const char* expected;           // the definitions between "(" and ");"
  };
  const Case cases[] = {
      {{TFieldType::ftString}, "A TEXT CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftWideString}, "A TEXT CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftWideMemo}, "A TEXT CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftSmallint}, "A INTEGER CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftInteger}, "A INTEGER CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftLargeint}, "A INTEGER CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftFloat}, "A REAL CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftSingle}, "A REAL CONSTRAINT pkey PRIMARY KEY"},
      // Any other type as the first field has no word.
      {{TFieldType::ftAutoInc}, "A  CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftBoolean}, "A  CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftDateTime}, "A  CONSTRAINT pkey PRIMARY KEY"},
      {{TFieldType::ftCurrency}, "A  CONSTRAINT pkey PRIMARY KEY"},
      // Later fields of other types get the word whose column holds their values.
      {{TFieldType::ftInteger, TFieldType::ftBoolean, TFieldType::ftDateTime,
        TFieldType::ftCurrency, TFieldType::ftFMTBcd, TFieldType::ftByte, TFieldType::ftGuid,
        TFieldType::ftBlob, TFieldType::ftVarBytes, TFieldType::ftAutoInc},
       "A INTEGER CONSTRAINT pkey PRIMARY KEY,B INTEGER,C TEXT,D REAL,E REAL,F INTEGER,"
       "G TEXT,H BLOB,I BLOB,J INTEGER"},
      {{TFieldType::ftWideString, TFieldType::ftFloat, TFieldType::ftWideMemo},
       "A TEXT CONSTRAINT pkey PRIMARY KEY,B REAL,C TEXT"},
  };
  for (const Case& c : cases) {
    std::vector<jet::Field> fields;
    for (TFieldType type : c.types) {
      fields.push_back(
          MakeField(std::u16string(1, static_cast<char16_t>(u'A' + fields.size())), type));
    }
    EXPECT_EQ(U8(db::BuildExportTableStatement(u"T", fields)),
              std::string("CREATE TABLE T (") + c.expected + ");");
  }
}

TEST(ExportToSQLiteTest, AutoNumberKeysArriveAsTextAndTextsLoseTrailingBlanks) {
  ScratchDir dir;
  MakeAutoNumberProjectTable(
      dir / "basic.mdb",
      {{Value(), Value::Text(u"道路台帳  "), Value::Text(u"C:\\p1.dat"), Value::Text(u"")},
       {Value(), Value::Text(u"河川\t\r\n"), Value(), Value::Text(u"pw ")}});
  const db::CopyCounts counts =
      db::ExportToSQLite(dir.U16("out.sqlite"), dir.U16("basic.mdb"), kTable);
  EXPECT_EQ(counts.copied, 2);
  EXPECT_EQ(counts.refused, 0);
  EXPECT_EQ(db::CompletionMessage(counts), u"処理完了");

  RawSQLite raw(dir / "out.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT sql FROM sqlite_master WHERE name = 'T_projectMain'"),
            "t:CREATE TABLE T_projectMain (ID  CONSTRAINT pkey PRIMARY KEY,TITLE TEXT,"
            "FILENAME TEXT,PASSWORD TEXT)");
  const auto rows = raw.Rows("SELECT * FROM T_projectMain ORDER BY rowid");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"t:1", "t:道路台帳", "t:C:\\p1.dat", "t:"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"t:2", "t:河川", "n:", "t:pw"}));
  EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"basic.mdb", "out.sqlite"}));
}

TEST(ExportToSQLiteTest, FixtureProjectTableIsCopiedValueByValue) {
  ScratchDir dir;
  const auto source = Fixture("generated-jackcess-T_projectMain-1000.mdb");
  const db_test::JetTable jet_table = db_test::ReadJetTable(source, kTable);
  ASSERT_EQ(jet_table.rows.size(), 1000u);

  const db::CopyCounts counts =
      db::ExportToSQLite(dir.U16("p.sqlite"), platform::FromPath(source), kTable);
  EXPECT_EQ(counts.copied, 1000);
  EXPECT_EQ(counts.refused, 0);

  // Read back through our layer (which applies the text rules again) and through SQLite.
  db::SQLiteConnection connection;
  ASSERT_EQ(db::ConnectSQLite(connection, u"SQLite", dir.U16("p.sqlite")), 0);
  db::SQLiteQuery query(&connection);
  db::OpenSQLiteTableQuery(query, kTable, u"", u"");
  ASSERT_EQ(query.record_count(), 1000);
  ASSERT_EQ(query.fields().size(), 4u);
  EXPECT_EQ(query.fields()[0].type, TFieldType::ftInteger);
  EXPECT_EQ(query.fields()[1].type, TFieldType::ftWideMemo);
  int trimmed = 0, empty = 0, nulls = 0;
  for (int64_t r = 0; r < 1000; ++r) {
    const auto& expected = jet_table.rows[static_cast<size_t>(r)];
    EXPECT_EQ(query.ValueAt(r, 0), expected[0]) << "row " << r;
    for (int c = 1; c < 4; ++c) {
      Value want = expected[static_cast<size_t>(c)];
      if (!want.is_null()) {
        const std::u16string cut = db::TrimTrailingControls(want.text());
        if (cut != want.text()) ++trimmed;
        if (cut.empty()) ++empty;
        want = Value::Text(cut);
      } else {
        ++nulls;
      }
      EXPECT_EQ(query.ValueAt(r, c), want) << "row " << r << " field " << c;
    }
  }
  EXPECT_GT(empty, 0);  // the fixture holds zero-length strings: they stay text
  EXPECT_GT(nulls, 0);
  connection.Close();
  RawSQLite raw(dir / "p.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain WHERE TITLE = ''"),
            raw.Scalar("SELECT count(*) FROM T_projectMain WHERE typeof(TITLE) = 'text' AND "
                       "length(TITLE) = 0"));
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain WHERE typeof(ID) <> 'integer'"), "i:0");
}

TEST(ExportToSQLiteTest, EveryJetColumnTypeIsCopied) {
  ScratchDir dir;
  const auto source = Fixture("generated-jackcess-types-rich.mdb");
  const db_test::JetTable jet_table = db_test::ReadJetTable(source, u"T_types");
  const db::CopyCounts counts =
      db::ExportToSQLite(dir.U16("t.sqlite"), platform::FromPath(source), u"T_types");
  EXPECT_EQ(counts.copied + counts.refused, static_cast<int64_t>(jet_table.rows.size()));
  EXPECT_EQ(counts.refused, 0);

  RawSQLite raw(dir / "t.sqlite");
  const std::string sql = raw.Scalar("SELECT sql FROM sqlite_master WHERE name = 'T_types'");
  EXPECT_EQ(sql.substr(0, 2), "t:");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_types"),
            "i:" + std::to_string(jet_table.rows.size()));
  // Every value of every column arrives: NULL where the source is NULL, a value elsewhere.
  for (size_t c = 0; c < jet_table.fields.size(); ++c) {
    const std::string name = U8(jet_table.fields[c].name);
    int64_t source_nulls = 0;
    for (const auto& row : jet_table.rows) source_nulls += row[c].is_null() ? 1 : 0;
    EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_types WHERE \"" + name + "\" IS NULL"),
              "i:" + std::to_string(source_nulls))
        << name << " in " << sql;
  }
}

TEST(ExportToSQLiteTest, EmptyTableGivesTheEmptyTable) {
  ScratchDir dir;
  MakeAutoNumberProjectTable(dir / "empty.mdb", {});
  const db::CopyCounts counts =
      db::ExportToSQLite(dir.U16("e.sqlite"), dir.U16("empty.mdb"), kTable);
  EXPECT_EQ(counts.copied, 0);
  RawSQLite raw(dir / "e.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain"), "i:0");
}

TEST(ExportToSQLiteTest, ExportingTwiceReplacesTheFirstFileCompletely) {
  ScratchDir dir;
  MakeAutoNumberProjectTable(dir / "a.mdb", {{Value(), Value::Text(u"a"), Value(), Value()}});
  db::ExportToSQLite(dir.U16("out.sqlite"), dir.U16("a.mdb"), kTable);
  {
    RawSQLite raw(dir / "out.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE Extra (X)"), "");
  }
  MakeAutoNumberProjectTable(dir / "b.mdb", {{Value(), Value::Text(u"b1"), Value(), Value()},
                                             {Value(), Value::Text(u"b2"), Value(), Value()}});
  db::ExportToSQLite(dir.U16("out.sqlite"), dir.U16("b.mdb"), kTable);
  RawSQLite raw(dir / "out.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT group_concat(name) FROM sqlite_master WHERE type = 'table'"),
            "t:T_projectMain");
  EXPECT_EQ(raw.Scalar("SELECT group_concat(TITLE) FROM T_projectMain"), "t:b1,b2");
}

TEST(ExportToSQLiteTest, ProgressReachesTheTotal) {
  ScratchDir dir;
  std::vector<std::pair<int64_t, int64_t>> calls;
  db::ExportToSQLite(dir.U16("p.sqlite"),
                     platform::FromPath(Fixture("generated-jackcess-T_projectMain-1000.mdb")),
                     kTable, [&](int64_t done, int64_t total) { calls.emplace_back(done, total); });
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(int64_t{1000}, int64_t{1000}));
}

// The failure table of the export: what fails, and what is left behind.
class ExportFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeAutoNumberProjectTable(dir_ / "basic.mdb",
                               {{Value(), Value::Text(u"t"), Value(), Value()}});
    // An earlier export sits at the target.
    MakeAutoNumberProjectTable(dir_ / "old.mdb",
                               {{Value(), Value::Text(u"old"), Value(), Value()}});
    db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("old.mdb"), kTable);
    old_bytes_ = ReadAll(dir_ / "target.sqlite");
    files_ = FileNames(dir_.path());
  }
  // The target holds the earlier export, byte for byte, and no file was added.
  void ExpectTargetUntouched() {
    EXPECT_EQ(ReadAll(dir_ / "target.sqlite"), old_bytes_);
    EXPECT_EQ(FileNames(dir_.path()), files_);
  }
  ScratchDir dir_;
  std::string old_bytes_;
  std::vector<std::string> files_;
};

TEST_F(ExportFailureTest, BasicDatabaseThatDoesNotExist) {
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("missing.mdb"), kTable); });
  EXPECT_NE(error.find("missing.mdb"), std::string::npos) << error;
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, BasicDatabaseThatCannotBeOpened) {
  {
    std::ofstream out(dir_ / "damaged.mdb", std::ios::binary);
    out << std::string(8192, '\x5a');
  }
  files_ = FileNames(dir_.path());
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("damaged.mdb"), kTable); });
  EXPECT_FALSE(error.empty());
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, TableThatDoesNotExist) {
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("basic.mdb"), u"T_none"); });
  EXPECT_FALSE(error.empty());
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, TargetFolderThatDoesNotExist) {
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("no/such/out.sqlite"), dir_.U16("basic.mdb"), kTable); });
  EXPECT_NE(error.find("作成できませんでした"), std::string::npos) << error;
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, TargetFolderThatCannotBeWritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  std::filesystem::create_directory(dir_ / "locked");
  std::filesystem::permissions(
      dir_ / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("locked/out.sqlite"), dir_.U16("basic.mdb"), kTable); });
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "locked"));
}

TEST_F(ExportFailureTest, TargetThatCannotBeCreated) {
  // The folder part names a file, so nothing can be created there, whoever runs the test.
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("basic.mdb/out.sqlite"), dir_.U16("basic.mdb"), kTable); });
  EXPECT_NE(error.find("作成できませんでした"), std::string::npos) << error;
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, TargetThatIsAFolder) {
  std::filesystem::create_directories(dir_ / "folder.sqlite" / "inside");
  files_ = FileNames(dir_.path());
  const std::string error = ErrorOf(
      [&] { db::ExportToSQLite(dir_.U16("folder.sqlite"), dir_.U16("basic.mdb"), kTable); });
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "folder.sqlite" / "inside"));
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, NoTemporaryFileOfAnEarlierKilledExportIsLeft) {
  // An export killed before its end leaves its temporary file and SQLite's journal.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::string leftover = ".target.sqlite.tmp" + std::to_string(child) + "-0-42";
  for (const std::string& name : {leftover, leftover + "-journal"}) {
    std::ofstream(dir_ / name) << "half";
  }
  db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("basic.mdb"), kTable);
  EXPECT_EQ(FileNames(dir_.path()), files_);
}

TEST_F(ExportFailureTest, RowsWithARepeatedFirstColumnValueAreSkippedAndCounted) {
  db_test::MakeJetTable(
      dir_ / "dup.mdb",
      u"CREATE TABLE T_projectMain ([TITLE] VARCHAR(255),[FILENAME] VARCHAR(255))", kTable,
      {{Value::Text(u"same"), Value::Text(u"1")},
       {Value::Text(u"other"), Value::Text(u"2")},
       {Value::Text(u"same"), Value::Text(u"3")},
       {Value::Text(u"same "), Value::Text(u"4")}});
  const db::CopyCounts counts =
      db::ExportToSQLite(dir_.U16("target.sqlite"), dir_.U16("dup.mdb"), kTable);
  EXPECT_EQ(counts.copied, 2);
  EXPECT_EQ(counts.refused, 2);  // "same " loses its blank and repeats "same" as well
  EXPECT_EQ(db::CompletionMessage(counts), u"処理完了\r2 件のレコードを書き込めませんでした");
  EXPECT_TRUE(db::CompletionIsWarning(counts));
  RawSQLite raw(dir_ / "target.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT group_concat(FILENAME) FROM T_projectMain"), "t:1,2");
}

TEST_F(ExportFailureTest, EmptyTargetPathIsRefused) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const std::string error =
      ErrorOf([&] { db::ExportToSQLite(u"", dir_.U16("basic.mdb"), kTable); });
  std::filesystem::current_path(before);
  EXPECT_EQ(error, "選択されませんでした");
  ExpectTargetUntouched();
}

TEST_F(ExportFailureTest, TargetThatIsTheBasicDatabaseItselfIsRefused) {
  const std::string before = ReadAll(dir_ / "basic.mdb");
  const std::string error =
      ErrorOf([&] { db::ExportToSQLite(dir_.U16("basic.mdb"), dir_.U16("basic.mdb"), kTable); });
  EXPECT_EQ(error, "基本データベースと同じファイルには書き出せません");
  EXPECT_EQ(ReadAll(dir_ / "basic.mdb"), before);
  ExpectTargetUntouched();
}

}  // namespace
