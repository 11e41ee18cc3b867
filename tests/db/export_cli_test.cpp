// The quorvel-convert command, run as a child process: both conversions, the counts on
// standard output, the progress line on standard error and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"

#include "sqlite_test_support.h"

namespace {

using db_test::FileNames;
using db_test::Fixture;
using db_test::RawSQLite;
using db_test::ReadAll;
using db_test::ScratchDir;
using db_test::ShellQuote;

const std::filesystem::path kJetSql =
    std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" / "jetsql" / "jetsql";
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
      {"", "使い方:"},
      {"export onlyone", "使い方:"},
      {"copy a b", "使い方:"},
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

TEST(ConvertCommand, CutTextsAreCountedAndReported) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "long.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY, TITLE TEXT);"
                       "INSERT INTO T_projectMain VALUES (1, printf('%.300c', 'x')),"
                       "(2, 'short'), (3, printf('%.256c', 'y'))"),
              "");
  }
  Outcome imported = RunConvert(dir, "import " + ShellQuote((dir / "long.mdb").string()) + " " +
                                         ShellQuote((dir / "long.sqlite").string()));
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "copied=3 refused=0 truncated=2\n");
  EXPECT_EQ(imported.err, "quorvel-convert: 2 件のレコードの文字列を 255 文字に切り詰めました\n");
}

// Every failure is told in the program's Japanese words, a library's reason at most behind
// them.
TEST(ConvertCommand, FailuresAreToldInJapanese) {
  ScratchDir dir;
  const std::string mdb = Fixture("generated-jackcess-T_projectMain-1000.mdb").string();
  std::ofstream(dir / "random.sqlite", std::ios::binary) << std::string(4096, '\x9c');
  std::ofstream(dir / "read-only.sqlite") << "old";
  std::filesystem::permissions(dir / "read-only.sqlite", std::filesystem::perms::owner_read);
  std::ofstream(dir / "taken.mdb") << "someone else's";
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"import " + ShellQuote((dir / "n.mdb").string()) + " " +
           ShellQuote((dir / "random.sqlite").string()),
       "SQLiteデータベース「" + (dir / "random.sqlite").string() +
           "」を開けませんでした: file is not a database"},
      {"export " + ShellQuote((dir / "read-only.sqlite").string()) + " " + ShellQuote(mdb),
       "SQLiteデータベース「" + (dir / "read-only.sqlite").string() +
           "」を作成できませんでした: アクセスが拒否されました"},
      {"import " + ShellQuote((dir / "taken.mdb").string()) + " " +
           ShellQuote((dir / "random.sqlite").string()),
       "基本データベース「" + (dir / "taken.mdb").string() + "」は既に存在します。"},
      {"export " + ShellQuote((dir / "x.sqlite").string()) + " " +
           ShellQuote((dir / "missing.mdb").string()),
       "基本データベース「" + (dir / "missing.mdb").string() + "」が見つかりません"},
      {"import " + ShellQuote((dir / "n.mdb").string()) + " " +
           ShellQuote((dir / "none.sqlite").string()),
       "SQLiteの処理に失敗しました: no such table: T_projectMain"},
      {"export " + ShellQuote((dir / "no" / "x.sqlite").string()) + " " + ShellQuote(mdb),
       "SQLiteデータベース「" + (dir / "no" / "x.sqlite").string() + "」を作成できませんでした: "},
  };
  for (const auto& c : cases) {
    Outcome outcome = RunConvert(dir, c.arguments);
    EXPECT_EQ(outcome.status, 1) << c.arguments;
    EXPECT_EQ(outcome.out, "") << c.arguments;
    const std::string prefix = "quorvel-convert: ";
    EXPECT_EQ(outcome.err.rfind(prefix + c.message, 0), 0u) << c.arguments << "\n" << outcome.err;
    // One line, and it opens with our words, not the library's.
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    const size_t reason = std::min(outcome.err.find(": ", prefix.size()), outcome.err.size());
    const std::string own = outcome.err.substr(prefix.size(), reason - prefix.size());
    EXPECT_TRUE(std::any_of(own.begin(), own.end(), [](char byte) {
      return static_cast<unsigned char>(byte) >= 0x80;
    })) << outcome.err;
  }
  EXPECT_EQ(ReadAll(dir / "taken.mdb"), "someone else's");
  EXPECT_EQ(ReadAll(dir / "read-only.sqlite"), "old");
}

// Starts quorvel-convert with `arguments`, its output thrown away; returns its process id.
pid_t StartConvert(const std::vector<std::string>& arguments) {
  std::vector<std::string> owned = {kConvert.string()};
  owned.insert(owned.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

int WaitFor(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// Conversions killed at random moments: the target is always either what was there before or
// the complete result, and the leftover cleanup leaves no temporary file behind.
TEST(ConvertCommand, KilledConversionsLeaveTheOldFileOrTheWholeNewOne) {
  constexpr int kRows = 8000;
  ScratchDir dir;
  {
    RawSQLite raw(dir / "big.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "TITLE TEXT, FILENAME TEXT, PASSWORD TEXT);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                       "WHERE i < " +
                       std::to_string(kRows) +
                       ") INSERT INTO T_projectMain (TITLE, FILENAME, PASSWORD) "
                       "SELECT 'project ' || i, 'C:/data/' || i || '.dat', 'pw' || i FROM n;"),
              "");
  }
  // An uninterrupted run of each, to learn how long one takes.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point import_start = Clock::now();
  ASSERT_EQ(
      WaitFor(StartConvert({"import", (dir / "big.mdb").string(), (dir / "big.sqlite").string()})),
      0);
  const auto import_time = Clock::now() - import_start;
  const Clock::time_point export_start = Clock::now();
  ASSERT_EQ(
      WaitFor(StartConvert({"export", (dir / "out.sqlite").string(), (dir / "big.mdb").string()})),
      0);
  const auto export_time = Clock::now() - export_start;
  // The file an earlier export left: a smaller table.
  ASSERT_EQ(WaitFor(StartConvert({"export", (dir / "out.sqlite").string(),
                                  Fixture("generated-jackcess-T_projectMain-1000.mdb").string()})),
            0);

  std::mt19937 random(20261210);
  int old_kept = 0, new_complete = 0;
  for (int round = 0; round < 30; ++round) {
    const bool exporting = round % 2 == 0;
    const auto whole = exporting ? export_time : import_time;
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() * 11 / 10);
    const std::string before = ReadAll(dir / "out.sqlite");
    const pid_t child =
        exporting
            ? StartConvert({"export", (dir / "out.sqlite").string(), (dir / "big.mdb").string()})
            : StartConvert({"import", (dir / "new.mdb").string(), (dir / "big.sqlite").string()});
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(child, SIGKILL);
    WaitFor(child);

    if (exporting) {
      const std::string after = ReadAll(dir / "out.sqlite");
      if (after == before) {
        ++old_kept;
      } else {
        ++new_complete;
        RawSQLite raw(dir / "out.sqlite");
        EXPECT_EQ(raw.Scalar("PRAGMA integrity_check"), "t:ok") << "round " << round;
        EXPECT_EQ(raw.Scalar("SELECT count(*) FROM T_projectMain"), "i:" + std::to_string(kRows))
            << "round " << round;
      }
    } else if (std::filesystem::exists(dir / "new.mdb")) {
      ++new_complete;
      std::string check;
      EXPECT_EQ(db_test::RunCommand(ShellQuote(kJetSql.string()) + " --check " +
                                        ShellQuote((dir / "new.mdb").string()) + " 2>&1",
                                    &check),
                0)
          << "round " << round << ": " << check;
      EXPECT_EQ(db_test::ReadJetTable(dir / "new.mdb", u"T_projectMain").rows.size(),
                static_cast<size_t>(kRows))
          << "round " << round;
      std::filesystem::remove(dir / "new.mdb");
    } else {
      ++old_kept;
    }
    platform::RemoveStaleTemporaries(dir / "out.sqlite");
    platform::RemoveStaleTemporaries(dir / "new.mdb");
    EXPECT_EQ(FileNames(dir.path()),
              (std::vector<std::string>{"big.mdb", "big.sqlite", "out.sqlite"}))
        << "round " << round;
  }
  RecordProperty("old_kept", old_kept);
  RecordProperty("new_complete", new_complete);
}

}  // namespace
