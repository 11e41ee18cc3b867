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
#include "platform/error.h"
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

// Copies directly, or through a source that reads ahead on a thread of its own (as the export
// and the import do); both must give the same outcome.
db::CopyCounts Copy(db::RowSource& source, db::RowSink& sink, const db::ProgressFunction& progress,
                    bool ahead) {
  if (!ahead) return db::CopyRows(source, sink, progress);
  db::ReadAheadRowSource read_ahead(source);
  return db::CopyRows(read_ahead, sink, progress);
}

// Jet table T (ID Integer, POS Integer, no key) with `keys` in order -> new SQLite table
// whose first column is the primary key.
Outcome JetToSQLite(const ScratchDir& dir, const std::vector<int64_t>& keys, bool ahead) {
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
    outcome.counts = Copy(source, sink, Recorder(outcome.progress), ahead);
  }
  RawSQLite raw(dir / "target.sqlite");
  for (const auto& row : raw.Rows("SELECT ID, POS FROM T ORDER BY POS")) {
    outcome.stored.emplace_back(std::stoll(row[0].substr(2)), std::stoll(row[1].substr(2)));
  }
  return outcome;
}

// SQLite view T (ID from an AUTOINCREMENT key, POS) with `keys` in order -> new Jet table
// whose ID column is the primary key.
Outcome SQLiteToJet(const ScratchDir& dir, const std::vector<int64_t>& keys, bool ahead) {
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
    outcome.counts = Copy(source, sink, Recorder(outcome.progress), ahead);
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
  Outcome (*copy)(const ScratchDir&, const std::vector<int64_t>&, bool);
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
      for (const bool ahead : {false, true}) {
        SCOPED_TRACE(std::string(direction.name) + (ahead ? ", read ahead: " : ": ") + c.name);
        ScratchDir dir;
        const Outcome outcome = direction.copy(dir, c.keys, ahead);

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
}

// Rows made up in memory: row k holds k and a text whose length varies, and reading row
// `fail_at` raises.
class MadeUpSource final : public db::RowSource {
 public:
  MadeUpSource(int64_t rows, int64_t fail_at) : rows_(rows), fail_at_(fail_at) {}
  const std::vector<jet::Field>& fields() const override { return fields_; }
  int64_t row_count() const override { return rows_; }
  bool Next() override {
    if (read_ >= rows_) return false;
    if (read_ == fail_at_) throw platform::Error(u"行 " + ToU16(read_) + u" を読めません");
    values_[0] = Value::Integer(read_);
    values_[1] = read_ % 7 == 3
                     ? Value()
                     : Value::Text(std::u16string(static_cast<size_t>(read_ % 300), u'あ'));
    ++read_;
    return true;
  }
  const Value& value(int field_index) const override {
    return values_[static_cast<size_t>(field_index)];
  }
  int64_t read() const { return read_; }

 private:
  static std::u16string ToU16(int64_t n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
  std::vector<jet::Field> fields_{{u"N", jet::TFieldType::ftInteger},
                                  {u"T", jet::TFieldType::ftWideString}};
  int64_t rows_;
  int64_t fail_at_;
  int64_t read_ = 0;
  std::vector<Value> values_{Value(), Value()};
};

TEST(ReadAheadRowSourceTest, RowsAndFailuresArriveAsFromTheSourceItself) {
  struct Length {
    int64_t rows;
    int64_t fail_at;  // -1: no failure
  };
  const Length cases[] = {{0, -1},    {1, -1}, {255, -1},  {256, -1},  {257, -1},
                          {5000, -1}, {10, 0}, {600, 256}, {600, 599}, {5000, 1234}};
  for (const Length& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, failing at " + std::to_string(c.fail_at));
    MadeUpSource direct(c.rows, c.fail_at);
    std::vector<std::vector<Value>> expected;
    std::string expected_error;
    try {
      while (direct.Next()) expected.push_back({direct.value(0), direct.value(1)});
    } catch (const platform::Error& e) {
      expected_error = e.what();
    }

    MadeUpSource source(c.rows, c.fail_at);
    db::ReadAheadRowSource ahead(source);
    EXPECT_EQ(ahead.row_count(), c.rows);
    EXPECT_EQ(ahead.fields().size(), 2u);
    std::vector<std::vector<Value>> got;
    std::string error;
    try {
      while (ahead.Next()) got.push_back({ahead.value(0), ahead.value(1)});
    } catch (const platform::Error& e) {
      error = e.what();
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(error, expected_error);
    EXPECT_EQ(c.fail_at >= 0, !error.empty());
  }
}

TEST(ReadAheadRowSourceTest, AReaderLeftEarlyStopsWithoutReadingOn) {
  MadeUpSource source(1'000'000, -1);
  {
    db::ReadAheadRowSource ahead(source);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(ahead.Next());
    EXPECT_EQ(ahead.value(0).integer(), 9);
  }  // must return: the reading thread is told to stop and is joined
  // Only the batches that may wait were read, not the million rows.
  EXPECT_LT(source.read(), 10'000);
}

}  // namespace
