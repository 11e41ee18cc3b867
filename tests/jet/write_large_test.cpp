// Tables that outgrow one usage-map row, transactions whose pages reach the file before the
// commit, and the refusal of rows past the largest file the writer may make.
#include <gtest/gtest.h>

#include <string>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/database.h"
#include "jet/format/catalog.h"
#include "jet/format/constants.h"
#include "jet/format/page_source.h"
#include "jet/format/pager.h"
#include "jet/format/table_definition.h"
#include "jet/jet.h"
#include "jet/write/page_store.h"
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

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The type byte of the usage map a table definition names at `offset` (owned or free map).
uint8_t MapType(const std::vector<uint8_t>& file, uint32_t tdef_page, size_t offset) {
  const uint32_t rp = U32(file, size_t{tdef_page} * format::kPageSize + offset);
  const size_t page = size_t{rp >> 8} * format::kPageSize;
  const size_t slot = page + format::kDataPageSlotsOffset + 2 * (rp & 0xFF);
  const size_t start = (file[slot] | (file[slot + 1] << 8)) & format::kRowOffsetMask;
  return file[page + start];
}

// The project table with rows of about 560 bytes: seven to a page.
class WriteLargeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "large.mdb";
    jet::CreateDatabase(path_);
    connection_ = Open(path_);
    connection_->Execute(
        u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
        u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));");
  }
  void Insert(int id) {
    const std::u16string n = base::FromUtf8(std::to_string(id));
    connection_->Execute(u"INSERT INTO T_projectMain VALUES (" + n + u", \"" +
                         std::u16string(250, u'件') + n + u"\", \"file" + n + u".dat\", NULL)");
  }
  size_t CommittedRows() { return Database::Open(path_)->ReadTable(u"T_projectMain").rows.size(); }
  uint32_t TableDefinitionPage() {
    format::Pager pager(format::OpenFileSource(path_));
    for (const auto& entry : format::ReadCatalog(pager)) {
      if (entry.name == u"T_projectMain") return entry.definition_page();
    }
    ADD_FAILURE() << "no T_projectMain";
    return 0;
  }
  TempDir dir_;
  std::filesystem::path path_;
  std::unique_ptr<Connection> connection_;
};

TEST_F(WriteLargeTest, TableOfManyPagesTakesTheReferenceMapAndReadsBack) {
  connection_->BeginTrans();
  for (int id = 1; id <= 5000; ++id) Insert(id);
  // Full pages are in the file already, yet a reader of the file sees the committed state.
  EXPECT_GT(std::filesystem::file_size(path_), 512u * format::kPageSize);
  EXPECT_EQ(CommittedRows(), 0u);
  connection_->CommitTrans();
  EXPECT_EQ(CommittedRows(), 5000u);
  ExpectConsistent(path_);
  const auto file = ReadBytes(path_);
  const uint32_t tdef = TableDefinitionPage();
  EXPECT_EQ(MapType(file, tdef, format::kTdefOwnedMapOffset), format::kReferenceMap);
  // The free-space map lists the last page only: inline, from that page on.
  EXPECT_EQ(MapType(file, tdef, format::kTdefFreeMapOffset), format::kInlineMap);
  // Rows go on after the file is opened again for writing.
  connection_ = Open(path_);
  Insert(5001);
  EXPECT_EQ(CommittedRows(), 5001u);
  ExpectConsistent(path_);
}

TEST_F(WriteLargeTest, RollbackAfterPagesWereWrittenLeavesTheFileAsItWas) {
  for (int id = 1; id <= 20; ++id) Insert(id);
  const auto before = ReadBytes(path_);
  connection_->BeginTrans();
  for (int id = 21; id <= 3000; ++id) Insert(id);
  EXPECT_GT(std::filesystem::file_size(path_), before.size());
  connection_->RollbackTrans();
  EXPECT_EQ(ReadBytes(path_), before);
  Insert(21);
  EXPECT_EQ(CommittedRows(), 21u);
  ExpectConsistent(path_);
}

TEST(WriteWideTableTest, DefinitionOfSeveralPagesIsReadBackAfterARollback) {
  // A rollback reads every table back from the file: the wide table's definition, on a
  // chain of pages, must come back whole for the rows that follow.
  TempDir dir;
  const auto path = dir / "wide.mdb";
  jet::CreateDatabase(path);
  auto connection = Open(path);
  std::u16string columns = u"Id Integer CONSTRAINT pkey PRIMARY KEY";
  for (int i = 0; i < 150; ++i) {
    columns += u", ColumnWithALongishName" + base::FromUtf8(std::to_string(i)) +
               (i % 2 == 0 ? u" VARCHAR(40)" : u" MEMO");
  }
  connection->Execute(u"CREATE TABLE Wide (" + columns + u")");
  auto insert = [&](int id) {
    const std::u16string n = base::FromUtf8(std::to_string(id));
    connection->Execute(
        u"INSERT INTO Wide (Id, ColumnWithALongishName0, ColumnWithALongishName1) "
        u"VALUES (" +
        n + u", \"row " + n + u"\", \"" + std::u16string(300, u'm') + u"\")");
  };
  for (int id = 1; id <= 10; ++id) insert(id);
  connection->BeginTrans();
  for (int id = 11; id <= 20; ++id) insert(id);
  connection->RollbackTrans();
  for (int id = 21; id <= 30; ++id) insert(id);
  {
    format::Pager pager(format::OpenFileSource(path));
    for (const auto& entry : format::ReadCatalog(pager)) {
      if (entry.name != u"Wide") continue;
      EXPECT_GT(format::ReadTableDefinition(pager, entry.definition_page()).pages.size(), 1u);
    }
  }
  const auto table = Database::Open(path)->ReadTable(u"Wide");
  EXPECT_EQ(table.rows.size(), 20u);
  ExpectConsistent(path);
}

// A small page limit stands in for Jet's 2 GB: the same check refuses the row that would
// leave no room for what the commit writes.
TEST(WriteLimitTest, RowsPastThePageLimitAreRefusedAndTheFileStaysConsistent) {
  struct Limit {
    Limit() { write::PageStore::SetPageLimitForTesting(300); }
    ~Limit() { write::PageStore::SetPageLimitForTesting(0); }
  } limit;
  TempDir dir;
  const auto path = dir / "limit.mdb";
  jet::CreateDatabase(path);
  auto connection = Open(path);
  connection->Execute(u"CREATE TABLE T (ID Integer CONSTRAINT pkey PRIMARY KEY, S VARCHAR(255))");
  connection->BeginTrans();
  int accepted = 0;
  std::string message;
  for (int id = 1; id <= 5000 && message.empty(); ++id) {
    try {
      connection->Execute(u"INSERT INTO T VALUES (" + base::FromUtf8(std::to_string(id)) + u", \"" +
                          std::u16string(250, u'字') + u"\")");
      ++accepted;
    } catch (const FileFullError& e) {  // its own type, so that a bulk copy can stop
      message = base::ToUtf8(e.message());
    }
  }
  connection->CommitTrans();
  EXPECT_NE(message.find("これ以上行を追加できません"), std::string::npos) << message;
  EXPECT_GT(accepted, 1000);
  EXPECT_LE(std::filesystem::file_size(path), 300u * format::kPageSize);
  EXPECT_EQ(Database::Open(path)->ReadTable(u"T").rows.size(), static_cast<size_t>(accepted));
  ExpectConsistent(path);
}

}  // namespace
}  // namespace jet::write_test
