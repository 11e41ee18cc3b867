// Reading the storage layer directly: catalogue, table definitions, rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "jet/database.h"
#include "jet/format/header_page.h"
#include "jet/format/rc4.h"
#include "jet/jet.h"

namespace jet {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";

TEST(StorageTest, ReadsTheProjectTable) {
  auto db = Database::Open(kFixtures / "generated-jackcess-T_projectMain-1000.mdb");
  EXPECT_EQ(db->TableNames(), std::vector<std::u16string>{u"T_projectMain"});
  const TableData data = db->ReadTable(u"t_projectmain");
  EXPECT_EQ(data.name, u"T_projectMain");
  ASSERT_EQ(data.fields.size(), 4u);
  EXPECT_EQ(data.fields[0].name, u"ID");
  EXPECT_EQ(data.fields[0].type, TFieldType::ftInteger);
  EXPECT_EQ(data.fields[0].size, 4);
  EXPECT_TRUE(data.fields[0].required);  // the primary key refuses NULLs
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(data.fields[i].type, TFieldType::ftWideString);
    EXPECT_EQ(data.fields[i].size, 510);
  }
  EXPECT_EQ(data.fields[3].name, u"PASSWORD");
  ASSERT_EQ(data.rows.size(), 1000u);
  EXPECT_EQ(data.rows[0][0], Value::Integer(1));
  EXPECT_EQ(data.rows[0][1], Value::Text(u"Sample project"));
  EXPECT_EQ(data.rows[0][2], Value::Text(u"C:\\Data\\案件1\\project_1.dat"));
  EXPECT_TRUE(data.rows[0][3].is_null());
  EXPECT_EQ(data.rows[1][1], Value::Text(u"東京都 道路台帳"));
  EXPECT_EQ(data.rows[2][3], Value::Text(u""));  // empty text is not NULL
  EXPECT_EQ(data.rows[6][1], Value::Text(u""));
  EXPECT_TRUE(data.rows[6][2].is_null());
}

TEST(StorageTest, UnknownTableIsAClearError) {
  auto db = Database::Open(kFixtures / "generated-jackcess-T_projectMain-1000.mdb");
  try {
    db->ReadTable(u"T_nothing");
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.message().find(u"T_nothing"), std::u16string::npos);
  }
}

// A file with a database key has every page but the header RC4-encoded with the key
// (database key XOR page number, little-endian). Reading it gives the same rows.
TEST(StorageTest, ReadsPagesEncodedWithTheDatabaseKey) {
  std::ifstream in(kFixtures / "generated-jackcess-T_projectMain-1000.mdb", std::ios::binary);
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  const uint32_t key = 0x5A17C3E9;
  for (size_t i = 0; i < 4; ++i) bytes[0x3E + i] ^= static_cast<uint8_t>(key >> (8 * i));
  for (uint32_t page = 1; page < bytes.size() / 4096; ++page) {
    const auto page_key = format::PageKey(key, page);
    format::Rc4Apply(page_key, std::span<uint8_t>(bytes.data() + page * 4096, 4096));
  }
  auto db = Database::OpenBytes(std::move(bytes));
  EXPECT_EQ(db->pager().header().database_key, key);
  const TableData data = db->ReadTable(u"T_projectMain");
  ASSERT_EQ(data.rows.size(), 1000u);
  EXPECT_EQ(data.rows[1][1], Value::Text(u"東京都 道路台帳"));
}

}  // namespace
}  // namespace jet
