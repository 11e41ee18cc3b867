// New databases and tables from the writer, compared with what the Jet engine itself wrote
// (the ADOX-made fixture) and with a user table written by another trusted writer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/database.h"
#include "jet/format/header_page.h"
#include "jet/jet.h"
#include "jet/write/bytes.h"
#include "jet/write/database_file.h"
#include "jet/write/writer.h"
#include "tests/jet/write_support.h"

namespace jet::write_test {
namespace {

using format::GetU16;
using format::GetU32;
using format::kPageSize;

// Blanks the bytes that Jet leaves stale in fields nobody reads: the fixed offset of
// variable columns, the flag byte of unused index slots and the unknown word at offset 42
// of a real index. Everything else of a table definition is compared.
void BlankUnusedDefinitionFields(uint8_t* page) {
  uint32_t real = GetU32(page + 51);
  uint16_t columns = GetU16(page + 45);
  size_t at = 63 + 12 * real;
  for (uint16_t i = 0; i < columns; ++i) {
    uint8_t* d = page + at + 25 * i;
    if (!(d[15] & 0x01)) d[21] = d[22] = 0;
  }
  at += 25 * columns;
  for (uint16_t i = 0; i < columns; ++i) at += 2u + GetU16(page + at);
  for (uint32_t r = 0; r < real; ++r) {
    uint8_t* block = page + at + 52 * r;
    for (int s = 0; s < 10; ++s) {
      if (GetU16(block + 4 + 3 * s) == 0xFFFF) block[6 + 3 * s] = 0;
    }
    std::memset(block + 42, 0, 4);
  }
}

// Blanks DateCreate and DateUpdate (fixed offsets 10–25) of every catalogue row on a page.
void BlankCatalogueDates(uint8_t* page) {
  for (int row = 0; row < GetU16(page + 12); ++row) {
    uint16_t start = GetU16(page + 14 + 2 * row) & 0x1FFF;
    std::memset(page + start + 2 + 10, 0, 16);
  }
}

TEST(WriteDatabaseTest, EmptyDatabaseEqualsTheJetMadeOneExceptDatesAndStaleBytes) {
  TempDir dir;
  const auto path = dir / "new.mdb";
  jet::CreateDatabase(path);
  std::vector<uint8_t> ours = ReadBytes(path);
  std::vector<uint8_t> jet = ReadBytes(kFixtures / "jackcess-adox_jet4.mdb");
  ASSERT_EQ(ours.size(), jet.size());
  ASSERT_EQ(ours.size(), 16u * kPageSize);
  for (uint32_t page : {2u, 3u, 4u, 5u}) {
    BlankUnusedDefinitionFields(&ours[page * kPageSize]);
    BlankUnusedDefinitionFields(&jet[page * kPageSize]);
  }
  BlankCatalogueDates(&ours[14 * kPageSize]);
  BlankCatalogueDates(&jet[14 * kPageSize]);
  for (uint32_t page = 0; page < 16; ++page) {
    for (size_t at = 0; at < kPageSize; ++at) {
      size_t i = static_cast<size_t>(page) * kPageSize + at;
      ASSERT_EQ(ours[i], jet[i]) << "page " << page << " offset " << at;
    }
  }
  auto result = check::CheckDatabase(path);
  EXPECT_TRUE(result.ok()) << result.problems.front();
  EXPECT_TRUE(result.notes.empty());
}

TEST(WriteDatabaseTest, CatalogueDatesAreTheCreationTime) {
  TempDir dir;
  const auto path = dir / "new.mdb";
  time_t before = time(nullptr);
  jet::CreateDatabase(path);
  auto db = Database::Open(path);
  TableData objects = db->ReadTable(u"MSysObjects");
  ASSERT_EQ(objects.rows.size(), 8u);
  size_t date_create = 0;
  while (objects.fields[date_create].name != u"DateCreate") ++date_create;
  for (const auto& row : objects.rows) {
    double ole = row[date_create].date_time().ole;
    // Local time in days; allow for any time zone offset.
    double utc_days = static_cast<double>(before) / 86400.0 + 25569.0;
    EXPECT_NEAR(ole, utc_days, 1.0);
  }
}

TEST(WriteDatabaseTest, HeaderMaskIsTheKnownKeystream) {
  const auto& mask = format::HeaderMask();
  const uint8_t start[] = {0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55};
  EXPECT_EQ(0, std::memcmp(mask.data(), start, sizeof start));
}

// Creating where something exists fails and leaves it as it was.
TEST(WriteDatabaseTest, CreatingOverAnythingExistingFailsAndChangesNothing) {
  TempDir dir;
  const auto file = dir / "existing.mdb";
  std::vector<uint8_t> content = {'n', 'o', 't', ' ', 'a', ' ', 'd', 'b'};
  WriteBytes(file, content);
  EXPECT_THROW(jet::CreateDatabase(file), jet::Error);
  EXPECT_EQ(ReadBytes(file), content);

  // A Jet file we made ourselves is not overwritten either.
  const auto ours = dir / "ours.mdb";
  jet::CreateDatabase(ours);
  std::vector<uint8_t> before = ReadBytes(ours);
  EXPECT_THROW(jet::CreateDatabase(ours), jet::Error);
  EXPECT_EQ(ReadBytes(ours), before);

  const auto folder = dir / "folder.mdb";
  std::filesystem::create_directory(folder);
  EXPECT_THROW(jet::CreateDatabase(folder), jet::Error);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));

#ifndef _WIN32
  // A dangling link is something too: nothing is created at its target. (Wine makes no
  // symbolic links, so only on POSIX.)
  const auto link = dir / "link.mdb";
  std::filesystem::create_symlink(dir / "target.mdb", link);
  EXPECT_THROW(jet::CreateDatabase(link), jet::Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "target.mdb"));
#endif

  // A missing folder: a clear error, nothing created.
  EXPECT_THROW(jet::CreateDatabase(dir / "missing" / "x.mdb"), jet::Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(WriteDatabaseTest, OnlyFilesCreatedHereAreWritable) {
  TempDir dir;
  std::filesystem::copy_file(kFixtures / "jackcess-adox_jet4.mdb", dir / "copy.mdb");
  EXPECT_EQ(write::Writer::OpenIfOwned(dir / "copy.mdb"), nullptr);
  jet::CreateDatabase(dir / "ours.mdb");
  EXPECT_NE(write::Writer::OpenIfOwned(dir / "ours.mdb"), nullptr);
  // Replaced by another file under the same name: no longer ours. Ours is moved away first:
  // Windows replaces no file that is open, and this process keeps the files it created open.
  std::filesystem::rename(dir / "ours.mdb", dir / "moved.mdb");
  std::filesystem::rename(dir / "copy.mdb", dir / "ours.mdb");
  EXPECT_EQ(write::Writer::OpenIfOwned(dir / "ours.mdb"), nullptr);
}

std::u16string ProjectTableStatement() {
  return u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
         u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));";
}

std::unique_ptr<Connection> OpenConnection(const std::filesystem::path& path) {
  auto c = std::make_unique<Connection>();
  c->SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                         std::u16string(path.u16string()) + u";Jet OLEDB:Database Password=");
  c->Open();
  return c;
}

const std::vector<Value>* FindByName(const TableData& data, std::u16string_view name) {
  size_t col = 0;
  while (data.fields[col].name != u"Name") ++col;
  for (const auto& row : data.rows) {
    if (row[col].kind() == Value::Kind::kText && row[col].text() == name) return &row;
  }
  return nullptr;
}

Value Column(const TableData& data, const std::vector<Value>& row, std::u16string_view name) {
  for (size_t i = 0; i < data.fields.size(); ++i) {
    if (data.fields[i].name == name) return row[i];
  }
  ADD_FAILURE() << "no column";
  return Value();
}

// The new table's catalogue row and definition match those of the project table written by
// another writer (apart from ids, dates and the sort-order bytes that writer leaves empty).
TEST(WriteDatabaseTest, ProjectTableIsRegisteredLikeTheFixturesUserTable) {
  TempDir dir;
  const auto path = dir / "p.mdb";
  jet::CreateDatabase(path);
  OpenConnection(path)->Execute(ProjectTableStatement());

  const auto fixture = kFixtures / "generated-jackcess-T_projectMain-1000.mdb";
  auto ours_db = Database::Open(path);
  auto theirs_db = Database::Open(fixture);
  TableData ours = ours_db->ReadTable(u"MSysObjects");
  TableData theirs = theirs_db->ReadTable(u"MSysObjects");
  const auto* our_row = FindByName(ours, u"T_projectMain");
  const auto* their_row = FindByName(theirs, u"T_projectMain");
  ASSERT_TRUE(our_row && their_row);
  for (std::u16string column :
       {u"ParentId", u"Type", u"Flags", u"Database", u"Connect", u"ForeignName", u"RmtInfoShort",
        u"RmtInfoLong", u"Lv", u"LvModule", u"LvExtra"}) {
    EXPECT_EQ(Column(ours, *our_row, column), Column(theirs, *their_row, column))
        << base::ToUtf8(column);
  }
  // The owner is the database object's owner in both.
  EXPECT_EQ(Column(ours, *our_row, u"Owner"), Column(ours, *FindByName(ours, u"MSysDb"), u"Owner"));
  EXPECT_EQ(Column(theirs, *their_row, u"Owner"),
            Column(theirs, *FindByName(theirs, u"MSysDb"), u"Owner"));

  std::vector<uint8_t> our_bytes = ReadBytes(path);
  std::vector<uint8_t> their_bytes = ReadBytes(fixture);
  const uint8_t* a =
      &our_bytes[static_cast<size_t>(Column(ours, *our_row, u"Id").integer()) * kPageSize];
  const uint8_t* b =
      &their_bytes[static_cast<size_t>(Column(theirs, *their_row, u"Id").integer()) * kPageSize];
  // Table type, column counts, index counts.
  EXPECT_EQ(0, std::memcmp(a + 40, b + 40, 15));
  uint32_t real = GetU32(a + 51);
  ASSERT_EQ(real, 1u);
  // Column descriptors: all but the sort-order bytes (11–14), which that writer leaves 0
  // for non-text columns while Jet writes 1033 on every column.
  const uint8_t* da = a + 63 + 12 * real;
  const uint8_t* db = b + 63 + 12 * real;
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(0, std::memcmp(da + 25 * c, db + 25 * c, 11)) << "column " << c;
    EXPECT_EQ(0, std::memcmp(da + 25 * c + 15, db + 25 * c + 15, 10)) << "column " << c;
  }
  // Column names, then the real index: columns and flags (0x89: unique, required).
  size_t names = 0;
  for (int c = 0; c < 4; ++c) names += 2u + GetU16(da + 100 + names);
  EXPECT_EQ(0, std::memcmp(da + 100, db + 100, names));
  const uint8_t* ra = da + 100 + names;
  const uint8_t* rb = db + 100 + names;
  EXPECT_EQ(0, std::memcmp(ra, rb, 34));
  EXPECT_EQ(ra[46], 0x89);
  EXPECT_EQ(ra[46], rb[46]);
  // Logical index: number, real index, type 1 (primary key).
  EXPECT_EQ(0, std::memcmp(ra + 52, rb + 52, 21));
  EXPECT_EQ(ra[52 + 23], 1);
  EXPECT_EQ(ra[52 + 23], rb[52 + 23]);
}

}  // namespace
}  // namespace jet::write_test
