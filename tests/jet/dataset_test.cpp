// The ADO-shaped API over real files: connection strings, datasets, commands, and the glue
// that sends writes to the writer of a file this process created.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "base/utf.h"
#include "jet/jet.h"

namespace jet {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
const std::filesystem::path kProjects = kFixtures / "generated-jackcess-T_projectMain-1000.mdb";

// The connection string the program builds for a basic database.
std::u16string ProgramConnectionString(const std::filesystem::path& path) {
  return u"Provider=Microsoft.Jet.OLEDB.4.0;User ID=;Data Source=" + base::FromUtf8(path.string()) +
         u";Mode=Share Deny None;Extended Properties=\"\";Persist Security Info=False;"
         u"Jet OLEDB:System database=\"\";Jet OLEDB:Registry Path=\"\";"
         u"Jet OLEDB:Database Password=\"\";Jet OLEDB:Engine Type=5;"
         u"Jet OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;"
         u"Jet OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";"
         u"Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;"
         u"Jet OLEDB:Don't Copy Locale on Compact=False;"
         u"Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False";
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return base::ToUtf8(e.message());
  }
  ADD_FAILURE() << "no error was raised";
  return "";
}

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_.SetConnectionString(ProgramConnectionString(kProjects));
    connection_.Open();
  }
  Connection connection_;
};

TEST_F(DatasetTest, OpensWithTheProgramsConnectionString) {
  EXPECT_TRUE(connection_.connected());
  EXPECT_EQ(connection_.TableNames(), std::vector<std::u16string>{u"T_projectMain"});
}

TEST_F(DatasetTest, QuotedDataSourceAndOtherKeysAreAccepted) {
  Connection c;
  c.SetConnectionString(u"Mode=Read; data source = \"" + base::FromUtf8(kProjects.string()) +
                        u"\" ;Jet OLEDB:Engine Type=5");
  c.Open();
  EXPECT_TRUE(c.connected());
  c.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;");
  EXPECT_NE(ErrorOf([&] { c.Open(); }).find("Data Source"), std::string::npos);
  EXPECT_FALSE(c.connected());  // the old file was closed first
}

TEST_F(DatasetTest, HoldsTheWholeTableWithExactCountAndNavigation) {
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_projectMain  ");  // both clauses empty
  ds.Open();
  ASSERT_TRUE(ds.active());
  ASSERT_EQ(ds.fields().size(), 4u);
  EXPECT_EQ(ds.fields()[1].name, u"TITLE");
  EXPECT_EQ(ds.fields()[1].type, TFieldType::ftWideString);
  EXPECT_EQ(ds.record_count(), 1000);
  EXPECT_EQ(ds.record_number(), 1);
  EXPECT_EQ(ds.FieldIndex(u"password"), 3);
  EXPECT_EQ(ds.FieldIndex(u"nothing"), -1);
  int64_t seen = 0;
  for (ds.First(); !ds.eof(); ds.Next()) {
    ++seen;
    EXPECT_EQ(ds.record_number(), seen);
    EXPECT_EQ(ds.FieldByName(u"id").integer(), seen);  // the rows are stored in ID order
  }
  EXPECT_EQ(seen, 1000);
  EXPECT_NE(ErrorOf([&] { ds.value(0); }).find("現在のレコード"), std::string::npos);
  ds.MoveTo(2);
  EXPECT_EQ(ds.FieldByName(u"TITLE").text(), u"東京都 道路台帳");
  EXPECT_NE(ErrorOf([&] { ds.MoveTo(1001); }), "");
  EXPECT_NE(ErrorOf([&] { ds.FieldByName(u"NOPE"); }).find("NOPE"), std::string::npos);
  ds.Close();
  EXPECT_FALSE(ds.active());
  EXPECT_TRUE(ds.fields().empty());
  EXPECT_EQ(ds.record_count(), 0);
}

// Counts counted independently with mdb-reader over the same file.
struct QueryCase {
  const char16_t* sql;
  int64_t count;
  int64_t first_id;  // -1: no rows
};

class DatasetQueryTest : public DatasetTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(DatasetQueryTest, CountsAndOrder) {
  Dataset ds(&connection_);
  ds.SetCommandText(GetParam().sql);
  ds.Open();
  EXPECT_EQ(ds.record_count(), GetParam().count);
  if (GetParam().first_id >= 0) {
    EXPECT_EQ(ds.FieldByName(u"ID").integer(), GetParam().first_id);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Queries, DatasetQueryTest,
    ::testing::Values(
        QueryCase{u"SELECT * FROM T_projectMain WHERE ID <= 10 ORDER BY ID DESC", 10, 10},
        QueryCase{u"SELECT * FROM [T_projectMain] WHERE [PASSWORD] IS NULL  ", 334, 1},
        QueryCase{u"SELECT * FROM T_projectMain WHERE PASSWORD = ''", 333, 3},
        QueryCase{u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%東京%\") )", 100, 2},
        QueryCase{u"SELECT * FROM T_projectMain WHERE ID > 5000", 0, -1}));

TEST_F(DatasetTest, AFailedOpenLeavesTheDatasetClosedWithoutFields) {
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_projectMain");
  ds.Open();
  ds.SetCommandText(u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%a\"b%\") )");
  EXPECT_NE(ErrorOf([&] { ds.Open(); }), "");
  EXPECT_FALSE(ds.active());
  EXPECT_TRUE(ds.fields().empty());
  ds.SetCommandText(u"SELECT * FROM T_missing");
  EXPECT_NE(ErrorOf([&] { ds.Open(); }).find("T_missing"), std::string::npos);
  EXPECT_TRUE(ds.fields().empty());
  Dataset unbound;
  unbound.SetCommandText(u"SELECT * FROM T_projectMain");
  EXPECT_NE(ErrorOf([&] { unbound.Open(); }), "");
}

TEST_F(DatasetTest, AFileThisProcessDidNotCreateIsReadOnly) {
  EXPECT_NE(ErrorOf([&] {
              connection_.Execute(u"INSERT INTO T_projectMain (ID, TITLE) VALUES (5000, 'x')");
            }).find("読み取り専用"),
            std::string::npos);
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_projectMain");
  ds.Open();
  EXPECT_NE(ErrorOf([&] { ds.Append(); }).find("読み取り専用"), std::string::npos);
  Command command(&connection_);
  command.SetCommandText(u"CREATE TABLE T_x (ID LONG)");
  EXPECT_NE(ErrorOf([&] { command.Execute(); }).find("読み取り専用"), std::string::npos);
  EXPECT_NE(ErrorOf([] { Command().Execute(); }), "");
}

// The main window's keyword condition over the project table's three text fields.
std::u16string KeywordQuery(std::u16string_view keyword, std::u16string_view order = u"") {
  std::u16string where;
  for (const char16_t* field : {u"TITLE", u"FILENAME", u"PASSWORD"}) {
    where += where.empty() ? u"WHERE ( " : u" OR ";
    where += u"([" + std::u16string(field) + u"] Like \"%" + std::u16string(keyword) + u"%\")";
  }
  return u"SELECT * FROM T_projectMain " + (keyword.empty() ? u"" : where + u" )") + u" " +
         std::u16string(order);
}

std::vector<int64_t> IdsOf(const Dataset& ds) {
  std::vector<int64_t> ids;
  for (int64_t row = 0; row < ds.record_count(); ++row) ids.push_back(ds.ValueAt(row, 0).integer());
  return ids;
}

// Typing narrows the keyword one character at a time, and the engine may then filter the
// previous result instead of the table: every step must give exactly the rows, in the same
// order, that a query on a connection of its own gives.
TEST_F(DatasetTest, TypedKeywordsGiveTheRowsOfAFreshQuery) {
  const std::vector<std::u16string> typed = {
      u"",  u"s",  u"sa",  u"sam",  u"SAMP", u"sa", u"s", u"",   u"1",   u"1_",   u"1_3", u"1_",
      u"[", u"[a", u"[a]", u"[a]m", u"%",    u"%1", u"9", u"99", u"999", u"9999", u"99"};
  for (const std::u16string_view order : {u"", u"ORDER BY TITLE DESC, ID"}) {
    Dataset ds(&connection_);
    for (const std::u16string& keyword : typed) {
      ds.SetCommandText(KeywordQuery(keyword, order));
      ds.Open();
      Connection fresh;
      fresh.SetConnectionString(ProgramConnectionString(kProjects));
      fresh.Open();
      Dataset expected(&fresh);
      expected.SetCommandText(KeywordQuery(keyword, order));
      expected.Open();
      EXPECT_EQ(IdsOf(ds), IdsOf(expected))
          << "keyword \"" << base::ToUtf8(keyword) << "\" " << base::ToUtf8(std::u16string(order));
    }
  }
}

// The file is shared: when another program writes it, the next query sees the new content.
TEST(SharedFileTest, ANewQuerySeesWhatAnotherProgramWrote) {
  const auto dir = std::filesystem::temp_directory_path() / "jet-shared-test";
  std::filesystem::create_directories(dir);
  const auto path = dir / "shared.mdb";
  std::filesystem::copy_file(kProjects, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Connection connection;
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(path.string()));
  connection.Open();
  Dataset ds(&connection);
  ds.SetCommandText(u"SELECT * FROM T_projectMain");
  ds.Open();
  EXPECT_EQ(ds.record_count(), 1000);
  // Another program rewrites the file in place.
  std::filesystem::copy_file(kFixtures / "jackcess-testUnicodeCompV2003.mdb", path,
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(connection.TableNames(), std::vector<std::u16string>{u"Table"});
  {
    // A result opened before still shows the rows its query found.
    Dataset before(&connection);
    EXPECT_NE(ErrorOf([&] {
                before.SetCommandText(u"SELECT * FROM T_projectMain");
                before.Open();
              }).find("T_projectMain"),
              std::string::npos);
  }
  EXPECT_EQ(ds.record_count(), 1000);
  EXPECT_FALSE(ds.ValueAt(999, 1).is_null());
  EXPECT_NE(ErrorOf([&] { ds.Open(); }).find("T_projectMain"), std::string::npos);
  ds.SetCommandText(u"SELECT * FROM [Table]");
  ds.Open();
  EXPECT_EQ(ds.record_count(), 8);
  connection.Close();
  std::filesystem::remove_all(dir);
}

// Writes through the engine's own writer, on a file this process created.
class WriteGlueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("jet-glue-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "new.mdb";
    CreateDatabase(path_);
    connection_.SetConnectionString(ProgramConnectionString(path_));
    connection_.Open();
    connection_.Execute(
        u"CREATE TABLE T_projectMain (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
        u"TITLE TEXT(255), FILENAME TEXT(255), PASSWORD TEXT(255))");
  }
  void TearDown() override {
    connection_.Close();
    // This process keeps the databases it created open until it ends, and Windows removes no
    // folder that still holds an open file, so there the folder stays behind.
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  int64_t Count() {
    Dataset ds(&connection_);
    ds.SetCommandText(u"SELECT * FROM T_projectMain");
    ds.Open();
    return ds.record_count();
  }
  std::filesystem::path dir_, path_;
  Connection connection_;
};

TEST_F(WriteGlueTest, InsertMapsNamedColumnsToTableOrder) {
  EXPECT_EQ(connection_.TableNames(), std::vector<std::u16string>{u"T_projectMain"});
  EXPECT_EQ(connection_.Execute(u"INSERT INTO T_projectMain (TITLE, ID) VALUES ('二', 2)"), 1);
  EXPECT_EQ(connection_.Execute(u"INSERT INTO T_projectMain VALUES (1, 'one', 'f', '')"), 1);
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_projectMain ORDER BY ID");
  ds.Open();
  ASSERT_EQ(ds.record_count(), 2);
  EXPECT_EQ(ds.FieldByName(u"TITLE").text(), u"one");
  EXPECT_EQ(ds.FieldByName(u"PASSWORD").text(), u"");
  ds.Next();
  EXPECT_EQ(ds.FieldByName(u"TITLE").text(), u"二");
  EXPECT_TRUE(ds.FieldByName(u"FILENAME").is_null());
  EXPECT_NE(ErrorOf([&] {
              connection_.Execute(u"INSERT INTO T_projectMain (ID, NOPE) VALUES (3, 'x')");
            }).find("NOPE"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { connection_.Execute(u"INSERT INTO T_projectMain VALUES (3)"); }), "");

  // A second connection (another reader of the same file) sees the flushed rows.
  Connection other;
  other.SetConnectionString(u"Data Source=" + base::FromUtf8(path_.string()));
  other.Open();
  Dataset theirs(&other);
  theirs.SetCommandText(u"SELECT * FROM T_projectMain");
  theirs.Open();
  EXPECT_EQ(theirs.record_count(), 2);
}

TEST_F(WriteGlueTest, PostAppendsTheStoredRowAndMakesItCurrent) {
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_projectMain");
  ds.Open();
  ds.Append();
  EXPECT_TRUE(ds.appending());
  ds.SetFieldValue(u"id", Value::Integer(7));
  ds.SetFieldValue(u"TITLE", Value::Text(u"七"));
  ds.Post();
  EXPECT_FALSE(ds.appending());
  EXPECT_EQ(ds.record_count(), 1);
  EXPECT_EQ(ds.record_number(), 1);
  EXPECT_EQ(ds.FieldByName(u"TITLE").text(), u"七");
  // A refused row (duplicate key) raises and leaves nothing behind.
  ds.Append();
  ds.SetValue(0, Value::Integer(7));
  EXPECT_NE(ErrorOf([&] { ds.Post(); }), "");
  ds.Cancel();
  EXPECT_EQ(ds.record_count(), 1);
  EXPECT_EQ(Count(), 1);
}

// A result holds the rows as they were when its query ran; a query after a write sees the
// write, also when its condition narrows an earlier one.
TEST_F(WriteGlueTest, ResultsStayAsTheyWereAndLaterQueriesSeeNewRows) {
  connection_.Execute(u"INSERT INTO T_projectMain VALUES (1, 'alpha', 'a.dat', '')");
  connection_.Execute(u"INSERT INTO T_projectMain VALUES (2, 'beta', 'b.dat', '')");
  Dataset earlier(&connection_);
  earlier.SetCommandText(KeywordQuery(u"a"));
  earlier.Open();
  ASSERT_EQ(IdsOf(earlier), (std::vector<int64_t>{1, 2}));

  connection_.Execute(u"INSERT INTO T_projectMain VALUES (3, 'alphabet', 'c.dat', '')");
  Dataset later(&connection_);
  later.SetCommandText(KeywordQuery(u"alp"));  // narrows the earlier condition
  later.Open();
  EXPECT_EQ(IdsOf(later), (std::vector<int64_t>{1, 3}));
  EXPECT_EQ(IdsOf(earlier), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(earlier.ValueAt(1, 1).text(), u"beta");

  // Inside a transaction the rows it inserted are found, narrowed or not.
  connection_.BeginTrans();
  connection_.Execute(u"INSERT INTO T_projectMain VALUES (4, 'alpine', 'd.dat', '')");
  later.SetCommandText(KeywordQuery(u"alpi"));
  later.Open();
  EXPECT_EQ(IdsOf(later), (std::vector<int64_t>{4}));
  connection_.CommitTrans();
  later.SetCommandText(KeywordQuery(u"alpin"));
  later.Open();
  EXPECT_EQ(IdsOf(later), (std::vector<int64_t>{4}));
}

// Values of an open result stay readable after the connection closed, except long values
// stored outside the row, which name the reason.
TEST_F(WriteGlueTest, ValuesOfAResultOutliveTheConnection) {
  connection_.Execute(u"CREATE TABLE T_notes (ID LONG, TITLE TEXT(50), NOTE MEMO)");
  const std::u16string long_note(3000, u'長');
  connection_.Execute(u"INSERT INTO T_notes VALUES (1, 'short', 'inline note')");
  connection_.Execute(u"INSERT INTO T_notes VALUES (2, 'long', '" + long_note + u"')");
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM T_notes ORDER BY ID");
  ds.Open();
  ASSERT_EQ(ds.record_count(), 2);
  EXPECT_EQ(ds.ValueAt(1, 2).text(), long_note);
  connection_.Close();
  EXPECT_EQ(ds.ValueAt(0, 1).text(), u"short");
  EXPECT_EQ(ds.ValueAt(0, 2).text(), u"inline note");
  EXPECT_EQ(ds.ValueAt(1, 1).text(), u"long");
  EXPECT_NE(ErrorOf([&] { ds.ValueAt(1, 2); }).find("閉じられた"), std::string::npos);
  connection_.Open();  // TearDown closes it
}

TEST_F(WriteGlueTest, TransactionsWriteOnCommitAndDropOnRollback) {
  connection_.BeginTrans();
  connection_.Execute(u"CREATE TABLE T_more (ID LONG, NAME TEXT(50))");
  connection_.Execute(u"INSERT INTO T_more (NAME, ID) VALUES ('a', 1)");
  connection_.Execute(u"INSERT INTO T_projectMain (ID) VALUES (1)");
  EXPECT_EQ(Count(), 1);  // the transaction's own rows are visible to it
  connection_.CommitTrans();
  EXPECT_EQ(Count(), 1);
  Dataset more(&connection_);
  more.SetCommandText(u"SELECT * FROM T_more");
  more.Open();
  ASSERT_EQ(more.record_count(), 1);
  EXPECT_EQ(more.FieldByName(u"NAME").text(), u"a");

  connection_.BeginTrans();
  connection_.Execute(u"INSERT INTO T_projectMain (ID) VALUES (2)");
  EXPECT_EQ(Count(), 2);
  connection_.RollbackTrans();
  EXPECT_EQ(Count(), 1);
  EXPECT_NE(ErrorOf([&] { connection_.CommitTrans(); }), "");
}

}  // namespace
}  // namespace jet
