// Names without case: FieldByName, the column names of SQL (WHERE, ORDER BY, INSERT) and
// table names follow one rule, the same one LIKE uses, on a real file made by the engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/utf.h"
#include "jet/jet.h"

namespace jet {
namespace {

class NameCaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("jet-name-case-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    const std::filesystem::path path = dir_ / "names.mdb";
    CreateDatabase(path);
    connection_.SetConnectionString(u"Data Source=" + base::FromUtf8(path.string()) + u";");
    connection_.Open();
    connection_.Execute(
        u"CREATE TABLE [Namen] (ID LONG, [Äx] LONG, [Ωmega] LONG, [Жук] LONG, [Ｆｕｌｌ] LONG, "
        u"[Łódź] LONG, [Plain] LONG, [漢字] LONG)");
    connection_.Execute(u"INSERT INTO [Namen] VALUES (1, 11, 12, 13, 14, 15, 16, 17)");
  }
  void TearDown() override {
    connection_.Close();
    // This process keeps the databases it created open until it ends, and Windows removes no
    // folder that still holds an open file, so there the folder stays behind.
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
  Connection connection_;
};

TEST_F(NameCaseTest, FieldByNameAndSqlAgree) {
  struct Case {
    std::u16string lookup;
    std::u16string column;  // the column it names; empty: none
    int64_t value;
  };
  const Case cases[] = {
      {u"äx", u"Äx", 11},       {u"ÄX", u"Äx", 11},
      {u"Äx", u"Äx", 11},       {u"ax", u"", 0},
      {u"ΩMEGA", u"Ωmega", 12}, {u"ωmega", u"Ωmega", 12},
      {u"жУК", u"Жук", 13},     {u"ｆＵＬＬ", u"Ｆｕｌｌ", 14},
      {u"full", u"", 0},        {u"łÓDŹ", u"Łódź", 15},
      {u"PLAIN", u"Plain", 16}, {u"plain ", u"", 0},
      {u"漢字", u"漢字", 17},
  };
  Dataset all(&connection_);
  all.SetCommandText(u"SELECT * FROM [Namen]");
  all.Open();
  ASSERT_EQ(all.record_count(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(base::ToUtf8(c.lookup));
    const int index = all.FieldIndex(c.lookup);
    Dataset where(&connection_);
    where.SetCommandText(u"SELECT * FROM [Namen] WHERE [" + c.lookup + u"] = " +
                         base::FromUtf8(std::to_string(c.value)));
    if (c.column.empty()) {
      EXPECT_EQ(index, -1);
      EXPECT_THROW(all.FieldByName(c.lookup), Error);
      EXPECT_THROW(where.Open(), Error);
      continue;
    }
    ASSERT_GE(index, 0);
    EXPECT_EQ(all.fields()[static_cast<size_t>(index)].name, c.column);
    EXPECT_EQ(all.FieldByName(c.lookup).integer(), c.value);
    where.Open();
    EXPECT_EQ(where.record_count(), 1);
  }
}

TEST_F(NameCaseTest, TableNamesAndInsertColumnsFoldTheSameWay) {
  EXPECT_EQ(connection_.Execute(u"INSERT INTO [nAMEN] ([id], [äX], [жук]) VALUES (2, 21, 23)"), 1);
  Dataset ds(&connection_);
  ds.SetCommandText(u"SELECT * FROM namen ORDER BY [ÄX] DESC");
  ds.Open();
  ASSERT_EQ(ds.record_count(), 2);
  EXPECT_EQ(ds.FieldByName(u"äx").integer(), 21);
  EXPECT_EQ(ds.FieldByName(u"ЖУК").integer(), 23);
}

}  // namespace
}  // namespace jet
