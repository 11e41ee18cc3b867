// Index trees whose leaves are let go once full: keys in any order still land where they
// belong, a repeated key is refused even when its leaf is only on its page, and a file opened
// again goes on from its pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "jet/check/check.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/write/database_file.h"
#include "tests/jet/write_support.h"

namespace jet::write_test {
namespace {

constexpr double kNow = 45000;

void CreateKeyedTable(write::DatabaseFile& db) {
  write::TableSpec spec;
  spec.name = u"T";
  spec.columns = {{.name = u"ID", .type = ColumnType::kLong},
                  {.name = u"NAME", .type = ColumnType::kText, .length = 40}};
  spec.indexes = {
      {.name = u"PrimaryKey", .columns = {{u"ID", true}}, .primary_key = true, .unique = true}};
  db.CreateTable(spec, kNow);
}

void InsertId(write::DatabaseFile& db, int id) {
  const std::string name = "row " + std::to_string(id);
  db.InsertRow(u"T", {Value::Integer(id), Value::Text(std::u16string(name.begin(), name.end()))});
}

const write::IndexTree& Tree(write::DatabaseFile& db) {
  return *db.FindTable(u"T")->indexes[0].tree;
}

std::vector<int64_t> StoredIds(const std::filesystem::path& path) {
  std::vector<int64_t> ids;
  for (const auto& row : Database::Open(path)->ReadTable(u"T").rows)
    ids.push_back(row[0].integer());
  std::sort(ids.begin(), ids.end());
  return ids;
}

void ExpectClean(const std::filesystem::path& path) {
  const check::CheckResult result = check::CheckDatabase(path);
  for (const auto& p : result.problems) ADD_FAILURE() << p;
  for (const auto& n : result.notes) ADD_FAILURE() << n;
}

TEST(IndexTreeTest, AscendingKeysKeepOnlyTheLeafBeingFilled) {
  TempDir dir;
  const auto path = dir / "ascending.mdb";
  auto db = write::DatabaseFile::Create(path, kNow);
  CreateKeyedTable(*db);
  for (int id = 1; id <= 20000; ++id) InsertId(*db, id);
  // About fifty leaves are full; only the last one (and the one just let go) stays.
  EXPECT_LE(Tree(*db).leaves_in_memory(), 2u);
  db->Flush();
  ExpectClean(path);
  std::vector<int64_t> expected(20000);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(StoredIds(path), expected);
}

TEST(IndexTreeTest, KeysInAnyOrderFindTheirLeafAndRepeatsAreRefused) {
  // First ascending keys (their leaves are let go), then keys of the given order.
  struct Order {
    const char* name;
    std::function<std::vector<int>()> then;
  };
  const Order orders[] = {
      {"gaps filled afterwards",
       [] {
         std::vector<int> ids;
         for (int id = 6001; id <= 9000; id += 2) ids.push_back(id);
         return ids;
       }},
      {"descending below the start",
       [] {
         std::vector<int> ids;
         for (int id = 3000; id >= 1; --id) ids.push_back(id);
         return ids;
       }},
      {"shuffled",
       [] {
         std::vector<int> ids;
         for (int id = 20001; id <= 24000; ++id) ids.push_back(id);
         std::mt19937 random(7);
         std::shuffle(ids.begin(), ids.end(), random);
         return ids;
       }},
  };
  for (const Order& order : orders) {
    SCOPED_TRACE(order.name);
    TempDir dir;
    const auto path = dir / "order.mdb";
    std::vector<int64_t> expected;
    {
      auto db = write::DatabaseFile::Create(path, kNow);
      CreateKeyedTable(*db);
      for (int id = 6000; id <= 16000; id += 2) {
        InsertId(*db, id);
        expected.push_back(id);
      }
      for (const int id : order.then()) {
        InsertId(*db, id);
        expected.push_back(id);
      }
      // A key of a leaf that was let go long ago is still found.
      EXPECT_THROW(InsertId(*db, 6000), Error);
      EXPECT_THROW(InsertId(*db, 10000), Error);
      db->Flush();
    }
    ExpectClean(path);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(StoredIds(path), expected);
  }
}

TEST(IndexTreeTest, AFileOpenedAgainGoesOnFromItsPages) {
  TempDir dir;
  const auto path = dir / "again.mdb";
  {
    auto db = write::DatabaseFile::Create(path, kNow);
    CreateKeyedTable(*db);
    for (int id = 1; id <= 12000; id += 3) InsertId(*db, id);
    db->Flush();
    db->ReleaseMemory();  // the tables are read again from the file for the next rows
    InsertId(*db, 12000);
    EXPECT_LE(Tree(*db).leaves_in_memory(), 2u);  // read back, the full leaves stay on their pages
    for (int id = 2; id <= 11999; id += 3) InsertId(*db, id);
    EXPECT_THROW(InsertId(*db, 4), Error);  // in a leaf read back from its page
    for (int id = 12001; id <= 15000; ++id) InsertId(*db, id);
    db->Flush();
  }
  ExpectClean(path);
  std::vector<int64_t> expected;
  for (int id = 1; id <= 12000; ++id) {
    if (id % 3 != 0 || id == 12000) expected.push_back(id);
  }
  for (int id = 12001; id <= 15000; ++id) expected.push_back(id);
  EXPECT_EQ(StoredIds(path), expected);
}

}  // namespace
}  // namespace jet::write_test
