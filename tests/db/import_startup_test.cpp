// A SQLite file chosen at start-up, with the real conversion: the new basic database is
// made beside it, listed and remembered; a failed conversion leaves nothing that blocks the
// next attempt.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "db/basic_database.h"
#include "db/import_sqlite.h"
#include "db/startup.h"
#include "sqlite_test_support.h"

namespace {

using db_test::RawSQLite;
using db_test::ScratchDir;
using db_test::U8;

// The start-up choice with the window's parts replaced by recorders and the real conversion.
struct Rig {
  jet::Connection connection;
  jet::Dataset dataset{&connection};
  std::u16string configured = u"old.mdb";
  std::optional<std::u16string> chosen;
  std::vector<std::u16string> errors;
  std::vector<std::u16string> warnings;
  std::u16string status = u"before";

  db::StartupIo Io() {
    db::StartupIo io;
    io.connection = &connection;
    io.dataset = &dataset;
    io.get_configured_path = [this] { return configured; };
    io.set_configured_path = [this](const std::u16string& path) { configured = path; };
    io.choose_file = [this] { return chosen; };
    io.show_error = [this](std::u16string_view text) { errors.emplace_back(text); };
    io.set_status = [this](const std::u16string& text) { status = text; };
    io.import_sqlite_to_jet =
        db::StartupImport([this](std::u16string_view text) { warnings.emplace_back(text); });
    return io;
  }
};

void MakeMobileFile(const std::filesystem::path& path, int rows) {
  RawSQLite raw(path);
  ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                     "TITLE TEXT, FILENAME TEXT, PASSWORD TEXT);"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_string(rows) +
                     ") INSERT INTO T_projectMain (TITLE, FILENAME) "
                     "SELECT '案件 ' || i, 'C:\\data\\p' || i || '.qpj' FROM n;"),
            "");
}

TEST(StartupWithSQLite, ChosenFileBecomesTheListedAndRememberedBasicDatabase) {
  ScratchDir dir;
  MakeMobileFile(dir / "PROJECTS.SQLite", 25);
  Rig rig;
  rig.chosen = dir.U16("PROJECTS.SQLite");
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kListed);
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_TRUE(rig.warnings.empty());
  EXPECT_EQ(rig.configured, dir.U16("PROJECTS.mdb"));
  EXPECT_EQ(rig.status, u"25 件のレコードが見つかりました");
  ASSERT_EQ(rig.dataset.record_count(), 25);
  EXPECT_EQ(rig.dataset.FieldByName(u"TITLE"), jet::Value::Text(u"案件 1"));

  // The next start takes the remembered file directly.
  Rig next;
  next.configured = rig.configured;
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(next.Io()), db::StartupResult::kListed);
  EXPECT_EQ(next.status, u"25 件のレコードが見つかりました");
}

TEST(StartupWithSQLite, RefusedRowsAreReportedAsAWarning) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "dup.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE base (ID INTEGER PRIMARY KEY AUTOINCREMENT, TITLE TEXT);"
                       "INSERT INTO base (TITLE) VALUES ('a'), ('b');"
                       "CREATE VIEW T_projectMain AS SELECT base.* FROM base, "
                       "(SELECT 1 UNION ALL SELECT 2) ORDER BY base.ID;"),
              "");
  }
  Rig rig;
  rig.chosen = dir.U16("dup.sqlite");
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kListed);
  ASSERT_EQ(rig.warnings.size(), 1u);
  EXPECT_EQ(U8(rig.warnings[0]), "処理完了\r2 件のレコードを書き込めませんでした");
  EXPECT_EQ(rig.status, u"2 件のレコードが見つかりました");
}

TEST(StartupWithSQLite, FailedConversionLeavesNothingThatBlocksTheNextAttempt) {
  ScratchDir dir;
  {
    RawSQLite raw(dir / "p.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE Other (A TEXT)"), "");
  }
  Rig rig;
  rig.chosen = dir.U16("p.sqlite");
  EXPECT_THROW(db::OpenBasicDatabaseAtStartup(rig.Io()), std::exception);
  EXPECT_FALSE(std::filesystem::exists(dir / "p.mdb"));
  EXPECT_EQ(rig.configured, u"old.mdb");
  EXPECT_EQ(rig.status, u"before");

  // The user mends the file and chooses it again: no message about an existing new file.
  {
    RawSQLite raw(dir / "p.sqlite");
    ASSERT_EQ(raw.Exec("CREATE TABLE T_projectMain (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "TITLE TEXT); INSERT INTO T_projectMain (TITLE) VALUES ('x')"),
              "");
  }
  Rig again;
  again.chosen = dir.U16("p.sqlite");
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(again.Io()), db::StartupResult::kListed);
  EXPECT_TRUE(again.errors.empty());
  EXPECT_EQ(again.configured, dir.U16("p.mdb"));
}

TEST(StartupWithSQLite, TypedNameOfNoFileFailsOnTheMissingTable) {
  ScratchDir dir;
  Rig rig;
  rig.chosen = dir.U16("typed.sqlite");
  EXPECT_THROW(db::OpenBasicDatabaseAtStartup(rig.Io()), std::exception);
  EXPECT_FALSE(std::filesystem::exists(dir / "typed.mdb"));
  EXPECT_TRUE(std::filesystem::exists(dir / "typed.sqlite"));  // created empty by SQLite
}

}  // namespace
