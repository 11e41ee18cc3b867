// Rows through the engine's SQL and datasets: what is refused writes nothing, what follows
// still goes in, and the file stays consistent.
#include <gtest/gtest.h>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/write/database_file.h"
#include "jet/write/index_key.h"
#include "tests/jet/write_support.h"

namespace jet::write_test {
namespace {

std::unique_ptr<Connection> Open(const std::filesystem::path& path) {
  auto c = std::make_unique<Connection>();
  c->SetConnectionString(u"Data Source=" + path.u16string() + u";");
  c->Open();
  return c;
}

void ExpectConsistent(const std::filesystem::path& path) {
  auto result = check::CheckDatabase(path);
  for (const auto& p : result.problems) ADD_FAILURE() << p;
  for (const auto& n : result.notes) ADD_FAILURE() << n;
}

class WriteRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "rows.mdb";
    jet::CreateDatabase(path_);
    connection_ = Open(path_);
    connection_->Execute(
        u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
        u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));");
  }
  std::vector<std::vector<Value>> Rows() {
    auto db = Database::Open(path_);
    return db->ReadTable(u"T_projectMain").rows;
  }
  TempDir dir_;
  std::filesystem::path path_;
  std::unique_ptr<Connection> connection_;
};

TEST_F(WriteRowsTest, DuplicateKeyIsRefusedAndLaterRowsGoIn) {
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (1, \"一\", \"a.dat\", NULL)");
  auto before = ReadBytes(path_);
  EXPECT_THROW(connection_->Execute(u"INSERT INTO T_projectMain VALUES (1, \"dup\", NULL, NULL)"),
               jet::Error);
  EXPECT_EQ(ReadBytes(path_), before) << "a refused row changes nothing in the file";
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (2, \"二\", NULL, \"\")");
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], Value::Text(u"一"));
  EXPECT_EQ(rows[1][0], Value::Integer(2));
  EXPECT_EQ(rows[1][3], Value::Text(u""));
  EXPECT_TRUE(rows[1][2].is_null());
  ExpectConsistent(path_);
}

// Each refused row raises and leaves the file as it was.
TEST_F(WriteRowsTest, RefusedRowsWriteNothing) {
  const std::u16string refused[] = {
      u"INSERT INTO T_projectMain VALUES (NULL, \"no key\", NULL, NULL)",
      u"INSERT INTO T_projectMain VALUES (5, \"" + std::u16string(256, u'x') + u"\", NULL, NULL)",
      u"INSERT INTO T_projectMain VALUES (2147483648, NULL, NULL, NULL)",
      u"INSERT INTO T_projectMain VALUES (\"abc\", NULL, NULL, NULL)",
      u"INSERT INTO T_projectMain (ID, NOPE) VALUES (7, 1)",
      u"INSERT INTO Missing VALUES (1)",
  };
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (1, NULL, NULL, NULL)");
  auto before = ReadBytes(path_);
  for (const auto& sql : refused) {
    EXPECT_THROW(connection_->Execute(sql), jet::Error) << base::ToUtf8(sql);
    EXPECT_EQ(ReadBytes(path_), before) << base::ToUtf8(sql);
  }
  // The 255-character limit itself is accepted.
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (5, \"" + std::u16string(255, u'漢') +
                       u"\", NULL, NULL)");
  EXPECT_EQ(Rows().size(), 2u);
  ExpectConsistent(path_);
}

TEST_F(WriteRowsTest, NotNullIsEnforced) {
  connection_->Execute(u"CREATE TABLE T2 (A Integer NOT NULL, B TEXT(10))");
  EXPECT_THROW(connection_->Execute(u"INSERT INTO T2 (B) VALUES (\"x\")"), jet::Error);
  connection_->Execute(u"INSERT INTO T2 (A) VALUES (3)");
  ExpectConsistent(path_);
}

TEST_F(WriteRowsTest, DatasetAppendPostAndCancel) {
  Dataset ds(connection_.get());
  ds.SetCommandText(u"SELECT * FROM T_projectMain");
  ds.Open();
  ds.Append();
  ds.SetFieldValue(u"ID", Value::Integer(10));
  ds.SetFieldValue(u"TITLE", Value::Text(u"posted"));
  ds.Post();
  ds.Append();
  ds.SetFieldValue(u"ID", Value::Integer(11));
  ds.Cancel();
  ds.Append();
  ds.SetFieldValue(u"ID", Value::Integer(10));
  EXPECT_THROW(ds.Post(), jet::Error);
  ds.Cancel();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], Value::Text(u"posted"));
  ExpectConsistent(path_);
}

// Names the writer cannot put into the catalogue's name index are refused up front, and the
// file is left as it was; so are duplicates (without regard to case) and bad definitions.
TEST_F(WriteRowsTest, TablesThatCannotBeStoredAreRefusedBeforeWriting) {
  auto before = ReadBytes(path_);
  const std::u16string refused[] = {
      u"CREATE TABLE 表 (A Integer)",
      u"CREATE TABLE t_PROJECTMAIN (A Integer)",
      u"CREATE TABLE MSysObjects (A Integer)",
      u"CREATE TABLE T3 (A Integer, a TEXT(5))",
      u"CREATE TABLE T3 (A TEXT(300))",
      u"CREATE TABLE T3 (A Integer CONSTRAINT p1 PRIMARY KEY, B Integer CONSTRAINT p2 PRIMARY KEY)",
      u"CREATE TABLE T3 (A MEMO CONSTRAINT p PRIMARY KEY)",
      u"CREATE TABLE [T.3] (A Integer)",
  };
  for (const auto& sql : refused) {
    EXPECT_THROW(connection_->Execute(sql), jet::Error) << base::ToUtf8(sql);
    EXPECT_EQ(ReadBytes(path_), before) << base::ToUtf8(sql);
  }
  // Printable ASCII characters the name rules allow go into the name index.
  connection_->Execute(u"CREATE TABLE [A b_c(f)~g#h$i%j&k+l=m] (X Integer)");
  connection_->Execute(u"CREATE TABLE [x'y-z] (X Integer)");
  ExpectConsistent(path_);
}

// A rolled-back transaction leaves nothing in the file, and the file stays writable.
TEST_F(WriteRowsTest, RollbackDropsTheTransactionsRows) {
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (1, \"kept\", NULL, NULL)");
  connection_->BeginTrans();
  for (int i = 2; i < 600; ++i) {
    connection_->Execute(u"INSERT INTO T_projectMain VALUES (" + base::FromUtf8(std::to_string(i)) +
                         u", \"dropped\", NULL, NULL)");
  }
  connection_->Execute(u"CREATE TABLE Dropped (A Integer)");
  connection_->RollbackTrans();
  connection_->Execute(u"INSERT INTO T_projectMain VALUES (2, \"after\", NULL, NULL)");
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][1], Value::Text(u"after"));
  EXPECT_EQ(connection_->TableNames(), std::vector<std::u16string>{u"T_projectMain"});
  ExpectConsistent(path_);
}

// A table of 200 columns has a definition longer than a page: it continues on a second
// page, and rows still read back.
TEST_F(WriteRowsTest, WideTableDefinitionSpansPages) {
  std::u16string sql = u"CREATE TABLE Wide (K Integer CONSTRAINT pk PRIMARY KEY";
  for (int i = 0; i < 200; ++i)
    sql += u", Column_Number_" + base::FromUtf8(std::to_string(i)) + u" TEXT(10)";
  connection_->Execute(sql + u")");
  std::u16string insert = u"INSERT INTO Wide VALUES (7";
  for (int i = 0; i < 200; ++i) insert += u", \"v" + base::FromUtf8(std::to_string(i)) + u"\"";
  connection_->Execute(insert + u")");
  auto db = Database::Open(path_);
  TableData data = db->ReadTable(u"Wide");
  ASSERT_EQ(data.rows.size(), 1u);
  ASSERT_EQ(data.fields.size(), 201u);
  EXPECT_EQ(data.rows[0][200], Value::Text(u"v199"));
  ExpectConsistent(path_);
  if (!kLinuxReadersRun) GTEST_SKIP() << "our reader agrees; " << kNoLinuxReaders;
  CommandResult csv =
      RunCommand("mdb-export " + Quote(path_) + " Wide | tail -n 1 | cut -d, -f1,201");
  EXPECT_EQ(csv.out, "7,\"v199\"\n");
}

TEST(WriteIndexKeyTest, TextKeysFollowTheGeneralSortOrder) {
  struct Case {
    std::u16string text;
    bool ascending;
    std::string key;
  };
  const Case cases[] = {
      {u"MSysDb", true, std::string("\x7F\x60\x6B\x76\x6B\x4F\x4C\x01\x00", 9)},
      {u"Tables", true, std::string("\x7F\x6D\x4A\x4C\x5E\x51\x6B\x01\x00", 9)},
      {u"", true, std::string("\x7F\x01\x00", 3)},
      {u"A B   ", true, std::string("\x7F\x4A\x07\x4C\x01\x00", 6)},
      {u"Ab1", false, std::string("\x80\xB5\xB3\xC7\xFE\xFF\x00", 7)},
      {u"", false, std::string("\x80\xFE\xFF\x00", 4)},
      {u"a-b", true, std::string("\x7F\x4A\x4C\x01\x01\x01\x01\x80\x0B\x06\x82\x00", 12)},
      {u"x'y-z", true,
       std::string("\x7F\x75\x76\x78\x01\x01\x01\x01\x80\x0B\x06\x80\x80\x0F\x06\x82\x00", 17)},
      {u"a\tb", true, std::string("\x7F\x4A\x08\x03\x4C\x01\x00", 7)},
  };
  for (const auto& c : cases) {
    std::string key;
    write::AppendKeyPiece(key, ColumnType::kText, Value::Text(c.text), c.ascending);
    EXPECT_EQ(key, c.key) << base::ToUtf8(c.text);
  }
  std::string key;
  EXPECT_THROW(write::AppendKeyPiece(key, ColumnType::kText, Value::Text(u"é"), true), jet::Error);
  EXPECT_THROW(write::AppendKeyPiece(key, ColumnType::kText, Value::Text(u"a-^"), true),
               jet::Error);
}

TEST(WriteIndexKeyTest, NumberKeysSortAsNumbers) {
  struct Case {
    ColumnType type;
    Value value;
    bool ascending;
    std::string key;
  };
  const Case cases[] = {
      {ColumnType::kLong, Value::Integer(1), true, std::string("\x7F\x80\x00\x00\x01", 5)},
      {ColumnType::kLong, Value::Integer(-1), true, std::string("\x7F\x7F\xFF\xFF\xFF", 5)},
      {ColumnType::kLong, Value::Integer(1), false, std::string("\x80\x7F\xFF\xFF\xFE", 5)},
      {ColumnType::kDouble, Value::Double(1.5), true,
       std::string("\x7F\xBF\xF8\x00\x00\x00\x00\x00\x00", 9)},
      {ColumnType::kDouble, Value::Double(-1.5), true,
       std::string("\x7F\x40\x07\xFF\xFF\xFF\xFF\xFF\xFF", 9)},
      {ColumnType::kDouble, Value::Double(1.5), false,
       std::string("\x80\x40\x07\xFF\xFF\xFF\xFF\xFF\xFF", 9)},
      {ColumnType::kBoolean, Value::Boolean(true), true, std::string("\x7F\x00", 2)},
      {ColumnType::kBoolean, Value::Boolean(false), true, std::string("\x7F\xFF", 2)},
      {ColumnType::kLong, Value(), true, std::string("\x00", 1)},
      {ColumnType::kLong, Value(), false, std::string("\xFF", 1)},
  };
  for (const auto& c : cases) {
    std::string key;
    write::AppendKeyPiece(key, c.type, c.value, c.ascending);
    EXPECT_EQ(key, c.key);
  }
}

}  // namespace
}  // namespace jet::write_test
