// The copy routine over its real sources and sinks, in both directions: a Jet table into a
// new SQLite table (as the export copies) and a SQLite table into a new Jet table (as the
// import copies). The target's key refuses repeated values, so each case says which rows are
// refused; the rows after a refused one must still arrive, in order, and the progress function
// must hear every 4096 handled rows (refused ones included) and the total at the end.
#include "db/row_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "db/basic_database.h"
#include "db/export_sqlite.h"
#include "db/import_sqlite.h"
#include "db/jet_rows.h"
#include "db/sqlite_access.h"
#include "db/sqlite_rows.h"
#include "sqlite_test_support.h"

namespace {

using db_test::RawSQLite;
using db_test::ScratchDir;
using jet::Value;

using Progress = std::vector<std::pair<int64_t, int64_t>>;
// A stored row: its key and its position in the source.
using KeyAndPosition = std::pair<int64_t, int64_t>;

// What one copy did.
struct Outcome {
  db::CopyCounts counts;
  Progress progress;
  std::vector<KeyAndPosition> stored;  // ordered by position
};

db::ProgressFunction Recorder(Progress& calls) {
  return [&calls](int64_t done, int64_t total) { calls.emplace_back(done, total); };
}

// Jet table T (ID Integer, POS Integer, no key) with `keys` in order -> new SQLite table
// whose first column is the primary key.
Outcome JetToSQLite(const ScratchDir& dir, const std::vector<int64_t>& keys) {
  const std::filesystem::path mdb = dir / "source.mdb";
  jet::CreateDatabase(mdb);
  jet::Connection connection;
  EXPECT_EQ(db::ConnectJetDatabase(platform::FromPath(mdb), u"", u"", connection), 0);
  connection.Execute(u"CREATE TABLE T ([ID] Integer,[POS] Integer)");
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, u"T", u"", u"");
  connection.BeginTrans();
  for (size_t pos = 0; pos < keys.size(); ++pos) {
    dataset.Append();
    dataset.SetValue(0, Value::Integer(keys[pos]));
    dataset.SetValue(1, Value::Integer(static_cast<int64_t>(pos)));
    dataset.Post();
  }
  connection.CommitTrans();
  db::OpenTableQuery(dataset, u"T", u"", u"");

  Outcome outcome;
  {
    db::SQLiteConnection sqlite;
    EXPECT_EQ(db::ConnectSQLite(sqlite, db::kSQLiteDriverId, dir.U16("target.sqlite")), 0);
    db::JetRowSource source(dataset);
    db::SQLiteRowSink sink(sqlite, u"T", db::BuildExportTableStatement);
    outcome.counts = db::CopyRows(source, sink, Recorder(outcome.progress));
  }
  RawSQLite raw(dir / "target.sqlite");
  for (const auto& row : raw.Rows("SELECT ID, POS FROM T ORDER BY POS")) {
    outcome.stored.emplace_back(std::stoll(row[0].substr(2)), std::stoll(row[1].substr(2)));
  }
  return outcome;
}

// SQLite view T (ID from an AUTOINCREMENT key, POS) with `keys` in order -> new Jet table
// whose ID column is the primary key.
Outcome SQLiteToJet(const ScratchDir& dir, const std::vector<int64_t>& keys) {
  {
    RawSQLite raw(dir / "source.sqlite");
    std::string sql =
        "CREATE TABLE base (ID INTEGER PRIMARY KEY AUTOINCREMENT);"
        "CREATE TABLE seq (POS INTEGER PRIMARY KEY, REF INTEGER);"
        "CREATE VIEW T AS SELECT base.ID, seq.POS FROM seq JOIN base ON base.ID = seq.REF "
        "ORDER BY seq.POS;"
        "BEGIN;";
    for (size_t pos = 0; pos < keys.size(); ++pos) {
      const std::string key = std::to_string(keys[pos]);
      sql += "INSERT OR IGNORE INTO base VALUES (" + key + ");INSERT INTO seq VALUES (" +
             std::to_string(pos) + "," + key + ");";
    }
    sql += "COMMIT;";
    EXPECT_EQ(raw.Exec(sql), "");
  }
  const std::filesystem::path mdb = dir / "target.mdb";
  Outcome outcome;
  {
    jet::CreateDatabase(mdb);
    jet::Connection connection;
    EXPECT_EQ(db::ConnectJetDatabase(platform::FromPath(mdb), u"", u"", connection), 0);
    db::SQLiteConnection sqlite;
    EXPECT_EQ(db::ConnectSQLite(sqlite, db::kSQLiteDriverId, dir.U16("source.sqlite")), 0);
    db::SQLiteQuery query(&sqlite);
    db::OpenSQLiteTableQuery(query, u"T", u"", u"");
    db::SQLiteRowSource source(query);
    db::JetRowSink sink(connection, u"T", db::BuildImportTableStatement);
    outcome.counts = db::CopyRows(source, sink, Recorder(outcome.progress));
  }
  const db_test::JetTable table = db_test::ReadJetTable(mdb, u"T", u"ORDER BY POS");
  for (const auto& row : table.rows) {
    outcome.stored.emplace_back(row[0].integer(), row[1].integer());
  }
  return outcome;
}

// 8192 rows: the keys 1 .. 8191, with the key 1 repeated as row 4097 (position 4096). Only
// when the refused row counts as handled do the rows reach the second step of 4096.
std::vector<int64_t> LongRunWithARepeat() {
  std::vector<int64_t> keys;
  for (int64_t key = 1; key <= 8191; ++key) {
    keys.push_back(key);
    if (key == 4096) keys.push_back(1);
  }
  return keys;
}

struct Case {
  const char* name;
  std::vector<int64_t> keys;
  std::vector<int64_t> refused_positions;
  Progress progress;
};

struct Direction {
  const char* name;
  Outcome (*copy)(const ScratchDir&, const std::vector<int64_t>&);
};

TEST(CopyRowsTest, RefusedRowsAreCountedAndTheRowsAfterThemStillCopy) {
  const Case cases[] = {
      {"no rows", {}, {}, {{0, 0}}},
      {"nothing refused", {3, 1, 2}, {}, {{3, 3}}},
      {"one refused in the middle", {1, 2, 1, 3, 4}, {2}, {{5, 5}}},
      {"a run of refused rows, then more", {5, 5, 5, 6, 5, 7}, {1, 2, 4}, {{6, 6}}},
      {"the last row refused", {1, 2, 2}, {2}, {{3, 3}}},
      {"progress every 4096 rows counts the refused one",
       LongRunWithARepeat(),
       {4096},
       {{4096, 8192}, {8192, 8192}, {8192, 8192}}},
  };
  const Direction directions[] = {{"Jet to SQLite", JetToSQLite}, {"SQLite to Jet", SQLiteToJet}};
  for (const Direction& direction : directions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(direction.name) + ": " + c.name);
      ScratchDir dir;
      const Outcome outcome = direction.copy(dir, c.keys);

      std::vector<KeyAndPosition> expected;
      size_t next_refused = 0;
      for (size_t pos = 0; pos < c.keys.size(); ++pos) {
        if (next_refused < c.refused_positions.size() &&
            c.refused_positions[next_refused] == static_cast<int64_t>(pos)) {
          ++next_refused;
          continue;
        }
        expected.emplace_back(c.keys[pos], static_cast<int64_t>(pos));
      }
      EXPECT_EQ(outcome.counts.copied, static_cast<int64_t>(expected.size()));
      EXPECT_EQ(outcome.counts.refused, static_cast<int64_t>(c.refused_positions.size()));
      EXPECT_EQ(outcome.stored, expected);
      EXPECT_EQ(outcome.progress, c.progress);
    }
  }
}

}  // namespace
