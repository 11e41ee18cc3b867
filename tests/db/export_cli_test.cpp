// The quorvel-convert command, run as a child process: both conversions, the counts on
// standard output, the progress line on standard error and the exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sqlite_test_support.h"

namespace {

using db_test::Fixture;
using db_test::RawSQLite;
using db_test::ScratchDir;
using db_test::ShellQuote;

const std::filesystem::path kConvert =
    std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" / "quorvel-convert" / "quorvel-convert";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunConvert(const ScratchDir& dir, const std::string& arguments) {
  Outcome outcome;
  const std::filesystem::path err_file = dir / "stderr.txt";
  outcome.status = db_test::RunCommand(
      ShellQuote(kConvert.string()) + " " + arguments + " 2>" + ShellQuote(err_file.string()),
      &outcome.out);
  outcome.err = db_test::ReadAll(err_file);
  std::filesystem::remove(err_file);
  return outcome;
}

TEST(ConvertCommand, ExportThenImportPrintTheCounts) {
  ScratchDir dir;
  const std::string mdb = Fixture("generated-jackcess-T_projectMain-1000.mdb").string();
  const std::string sqlite = (dir / "p.sqlite").string();
  Outcome exported = RunConvert(dir, "export " + ShellQuote(sqlite) + " " + ShellQuote(mdb));
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, "copied=1000 refused=0\n");
  EXPECT_EQ(exported.err, "");  // 1000 rows are too few for a progress line
  RawSQLite raw(dir / "p.sqlite");
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain"), "i:1000");

  const std::string new_mdb = (dir / "p.mdb").string();
  Outcome imported = RunConvert(dir, "import " + ShellQuote(new_mdb) + " " + ShellQuote(sqlite));
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "copied=1000 refused=0\n");
  EXPECT_EQ(db_test::ReadJetTable(dir / "p.mdb", u"T_projectMain").rows.size(), 1000u);
}

TEST(ConvertCommand, LargeTablesShowAProgressLine) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "big.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "TITLE TEXT);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                       "WHERE i < 20000) INSERT INTO T_projectMain (TITLE) "
                       "SELECT 'project ' || i FROM n;"),
              "");
  }
  Outcome imported = RunConvert(dir, "import " + ShellQuote((dir / "big.mdb").string()) + " " +
                                         ShellQuote((dir / "big.sqlite").string()));
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "copied=20000 refused=0\n");
  EXPECT_NE(imported.err.find("\rimport: 4096 / 20000"), std::string::npos) << imported.err;
  EXPECT_NE(imported.err.find("\rimport: 20000 / 20000\n"), std::string::npos) << imported.err;
}

TEST(ConvertCommand, RefusedRowsAreCountedAndReported) {
  ScratchDir dir;
  db_test::MakeJetTable(
      dir / "dup.mdb", u"CREATE TABLE T_projectMain ([TITLE] VARCHAR(255),[FILENAME] VARCHAR(255))",
      u"T_projectMain",
      {{jet::Value::Text(u"a"), jet::Value::Text(u"1")},
       {jet::Value::Text(u"a"), jet::Value::Text(u"2")}});
  Outcome exported = RunConvert(dir, "export " + ShellQuote((dir / "d.sqlite").string()) + " " +
                                         ShellQuote((dir / "dup.mdb").string()));
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out, "copied=1 refused=1\n");
  EXPECT_NE(exported.err.find("1 件のレコードを書き込めませんでした"), std::string::npos);
}

TEST(ConvertCommand, FailuresExitWithOneAndAMessage) {
  ScratchDir dir;
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"", "usage:"},
      {"export onlyone", "usage:"},
      {"copy a b", "usage:"},
      {"export " + ShellQuote((dir / "x.sqlite").string()) + " " +
           ShellQuote((dir / "missing.mdb").string()),
       "missing.mdb"},
      {"export '' " + ShellQuote(Fixture("jackcess-empty-V2000.mdb").string()),
       "選択されませんでした"},
      {"import " + ShellQuote((dir / "n.mdb").string()) + " " +
           ShellQuote((dir / "none.sqlite").string()),
       "no such table: T_projectMain"},
      {"export " + ShellQuote((dir / "y.sqlite").string()) + " " +
           ShellQuote(Fixture("generated-jackcess-T_projectMain-1000.mdb").string()) +
           " --table T_none",
       "T_none"},
  };
  for (const auto& c : cases) {
    Outcome outcome = RunConvert(dir, c.arguments);
    EXPECT_EQ(outcome.status, 1) << c.arguments;
    EXPECT_EQ(outcome.out, "") << c.arguments;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.arguments << "\n" << outcome.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "n.mdb"));
  EXPECT_FALSE(std::filesystem::exists(dir / "x.sqlite"));
  EXPECT_FALSE(std::filesystem::exists(dir / "y.sqlite"));
}

}  // namespace
