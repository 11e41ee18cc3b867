// The basic database primitives that need no engine: the connection string, the keyword
// filter's clause over a field list, the status text and the start-up path rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/startup.h"
#include "platform/text.h"

namespace {

using jet::TFieldType;

jet::Field MakeField(std::u16string name, TFieldType type) {
  jet::Field field;
  field.name = std::move(name);
  field.type = type;
  return field;
}

// The project table's own layout: an integer key and three texts.
std::vector<jet::Field> ProjectFields() {
  return {MakeField(u"ID", TFieldType::ftInteger), MakeField(u"TITLE", TFieldType::ftWideString),
          MakeField(u"FILENAME", TFieldType::ftWideString),
          MakeField(u"PASSWORD", TFieldType::ftWideString)};
}

TEST(JetConnectionString, JoinsTheFixedPiecesInOrder) {
  EXPECT_EQ(db::JetConnectionString(u"C:\\data\\basic.mdb", u"", u""),
            u"Provider=Microsoft.Jet.OLEDB.4.0;User ID=;Data Source=C:\\data\\basic.mdb;"
            u"Mode=Share Deny None;Extended Properties=\"\";Persist Security Info=False;"
            u"Jet OLEDB:System database=\"\";Jet OLEDB:Registry Path=\"\";"
            u"Jet OLEDB:Database Password=\"\";Jet OLEDB:Engine Type=5;"
            u"Jet OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;"
            u"Jet OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";"
            u"Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;"
            u"Jet OLEDB:Don't Copy Locale on Compact=False;"
            u"Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False");
}

TEST(JetConnectionString, InsertsUserAndPasswordUnquoted) {
  const std::u16string text = db::JetConnectionString(u"/p/b.mdb", u"admin", u"pa\"ss");
  EXPECT_NE(text.find(u";User ID=admin;Data Source=/p/b.mdb;"), std::u16string::npos);
  EXPECT_NE(text.find(u"Jet OLEDB:Database Password=\"pa\"ss\";"), std::u16string::npos);
  EXPECT_EQ(text.substr(text.size() - 19), u"Jet OLEDB:SFP=False");
}

struct FilterCase {
  const char* name;
  std::vector<jet::Field> fields;
  std::u16string keyword;
  std::u16string clause;
};

class KeywordFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(KeywordFilterTest, BuildsTheClause) {
  const FilterCase& c = GetParam();
  EXPECT_EQ(db::BuildKeywordFilter(c.fields, c.keyword), c.clause);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeywordFilterTest,
    ::testing::Values(
        FilterCase{"EmptyKeyword", ProjectFields(), u"", u""},
        FilterCase{"ProjectTableSkipsPassword", ProjectFields(), u"abc",
                   u"WHERE ( ([TITLE] Like \"%abc%\") OR ([FILENAME] Like \"%abc%\") )"},
        FilterCase{"PasswordInAnyLetterCase",
                   {MakeField(u"Title", TFieldType::ftWideString),
                    MakeField(u"password", TFieldType::ftWideString),
                    MakeField(u"PassWord", TFieldType::ftString)},
                   u"x",
                   u"WHERE ( ([Title] Like \"%x%\") )"},
        FilterCase{"BlanksAreKept", ProjectFields(), u"  ",
                   u"WHERE ( ([TITLE] Like \"%  %\") OR ([FILENAME] Like \"%  %\") )"},
        FilterCase{"DoubleQuoteIsDoubled", ProjectFields(), u"a\"b",
                   u"WHERE ( ([TITLE] Like \"%a\"\"b%\") OR ([FILENAME] Like \"%a\"\"b%\") )"},
        FilterCase{"TwoQuotesBecomeFour",
                   {MakeField(u"T", TFieldType::ftWideString)},
                   u"\"\"",
                   u"WHERE ( ([T] Like \"%\"\"\"\"%\") )"},
        FilterCase{"PatternCharactersKeepTheirMeaning",
                   {MakeField(u"T", TFieldType::ftWideString)},
                   u"%_[a]'",
                   u"WHERE ( ([T] Like \"%%_[a]'%\") )"},
        FilterCase{"JapaneseKeyword",
                   {MakeField(u"件名", TFieldType::ftWideString)},
                   u"東京",
                   u"WHERE ( ([件名] Like \"%東京%\") )"},
        FilterCase{"OnlyTheThreeTextTypes",
                   {MakeField(u"a", TFieldType::ftString), MakeField(u"b", TFieldType::ftWideMemo),
                    MakeField(u"c", TFieldType::ftMemo), MakeField(u"d", TFieldType::ftInteger),
                    MakeField(u"e", TFieldType::ftAutoInc), MakeField(u"f", TFieldType::ftDateTime),
                    MakeField(u"g", TFieldType::ftBlob), MakeField(u"h", TFieldType::ftWideString)},
                   u"k",
                   u"WHERE ( ([a] Like \"%k%\") OR ([c] Like \"%k%\") OR ([h] Like \"%k%\") )"},
        FilterCase{
            "NoTextField",
            {MakeField(u"ID", TFieldType::ftAutoInc), MakeField(u"M", TFieldType::ftWideMemo)},
            u"k",
            u""},
        FilterCase{"NoFieldsAtAll", {}, u"k", u""}),
    [](const ::testing::TestParamInfo<FilterCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(RecordCountText, DigitsAndSuffix) {
  EXPECT_EQ(db::RecordCountText(0), u"0 件のレコードが見つかりました");
  EXPECT_EQ(db::RecordCountText(1000), u"1000 件のレコードが見つかりました");
}

TEST(FileExists, OnlyRegularFilesFollowingLinks) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("fileexists-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "folder.mdb");
  std::ofstream(dir / "file.mdb") << "x";
  std::filesystem::create_symlink(dir / "file.mdb", dir / "link.mdb");
  std::filesystem::create_symlink(dir / "missing.mdb", dir / "dangling.mdb");
  auto exists = [&](const char* name) { return db::FileExists(platform::FromPath(dir / name)); };
  EXPECT_TRUE(exists("file.mdb"));
  EXPECT_TRUE(exists("link.mdb"));
  EXPECT_FALSE(exists("folder.mdb"));
  EXPECT_FALSE(exists("dangling.mdb"));
  EXPECT_FALSE(exists("missing.mdb"));
  EXPECT_FALSE(db::FileExists(u""));
  std::filesystem::remove_all(dir);
}

struct PathCase {
  std::u16string path;
  std::u16string extension;
  bool sqlite;
  std::u16string new_path;
};

TEST(StartupPaths, ExtensionSQLiteTestAndNewPath) {
  const PathCase cases[] = {
      {u"C:\\data\\p.sqlite", u".sqlite", true, u"C:\\data\\p.mdb"},
      {u"/data/PROJECTS.SQLite", u".SQLite", true, u"/data/PROJECTS.mdb"},
      {u"/data/projects.sqlite3", u".sqlite3", false, u"/data/projects.mdb"},
      {u"/data/projects.db", u".db", false, u"/data/projects.mdb"},
      {u"/data/projects", u"", false, u"/data/projects.mdb"},
      {u"/da.ta/projects", u"", false, u"/da.ta/projects.mdb"},
      {u"C:projects", u"", false, u"C:projects.mdb"},
      {u"/data/a.b.SQLITE", u".SQLITE", true, u"/data/a.b.mdb"},
      {u"/data/.sqlite", u".sqlite", true, u"/data/.mdb"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(base::ToUtf8(c.path));
    EXPECT_EQ(db::PathExtension(c.path), c.extension);
    EXPECT_EQ(db::IsSQLitePath(c.path), c.sqlite);
    EXPECT_EQ(db::NewBasicDatabasePath(c.path), c.new_path);
  }
}

TEST(StartupMessages, ExistingNewDatabase) {
  EXPECT_EQ(
      db::ExistingNewDatabaseMessage(u"C:\\data\\p.mdb"),
      u"新規MDBとして指定されているC:\\data\\p.mdbは\r既に存在しています\r"
      u"設定タブで適切な名前に変更するか、削除または適切な場所に移動して再度実行してください");
}

}  // namespace
