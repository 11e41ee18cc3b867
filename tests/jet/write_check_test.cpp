// The consistency checker finds nothing in good files (ours and the fixtures) and finds each
// kind of damage put into a good file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/write/bytes.h"
#include "jet/write/database_file.h"
#include "tests/jet/write_support.h"

namespace jet::write_test {
namespace {

using format::GetU16;
using format::GetU32;
using format::kPageSize;
using format::PutU16;
using format::PutU32;

TEST(WriteCheckTest, FixturesHaveNoProblems) {
  for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
    if (entry.path().extension() != ".mdb") continue;
    auto result = check::CheckDatabase(entry.path());
    EXPECT_TRUE(result.ok()) << entry.path().filename() << ": " << result.problems.front();
    EXPECT_GT(result.tables, 3);
  }
}

struct Built {
  std::filesystem::path path;
  uint32_t tdef = 0;
  uint32_t first_data_page = 0;
  uint32_t index_root = 0;
};

Built Build(const TempDir& dir, int rows) {
  Built b;
  b.path = dir / "c.mdb";
  auto file = write::DatabaseFile::Create(b.path, 45000);
  file->CreateTable(
      write::TableSpecFromStatement(std::get<sql::CreateTableStatement>(sql::Parse(
          u"CREATE TABLE T (ID Integer CONSTRAINT pk PRIMARY KEY, NAME TEXT(50), M MEMO)"))),
      45000);
  for (int i = 0; i < rows; ++i) {
    file->InsertRow(u"T", {Value::Integer(i * 3 % rows), Value::Text(u"名前"),
                           Value::Text(std::u16string(i == 5 ? 9000 : 10, u'm'))});
  }
  file->Flush();
  const write::TableModel* t = file->FindTable(u"T");
  b.tdef = t->id;
  b.first_data_page = t->owned->Pages().front();
  b.index_root = t->indexes[0].root;
  return b;
}

struct Damage {
  const char* what;
  int rows;
  std::function<void(std::vector<uint8_t>&, const Built&)> apply;
};

uint8_t* Page(std::vector<uint8_t>& bytes, uint32_t page) {
  return &bytes[static_cast<size_t>(page) * kPageSize];
}

TEST(WriteCheckTest, EachDamageIsFound) {
  const Damage damages[] = {
      {"row count", 100, [](auto& f, const Built& b) { PutU32(Page(f, b.tdef) + 16, 101); }},
      {"data page marked free", 100,
       [](auto& f, const Built& b) {
         uint8_t* p1 = Page(f, 1);
         uint16_t start = GetU16(p1 + 14) & 0x1FFF;
         p1[start + 5 + b.first_data_page / 8] |=
             static_cast<uint8_t>(1 << (b.first_data_page % 8));
       }},
      {"index key", 100, [](auto& f, const Built& b) { Page(f, b.index_root)[0x1E0 + 4] ^= 0x01; }},
      {"free space word", 100,
       [](auto& f, const Built& b) {
         uint8_t* p = Page(f, b.first_data_page);
         PutU16(p + 2, static_cast<uint16_t>(GetU16(p + 2) + 1));
       }},
      {"row offset out of the page", 100,
       [](auto& f, const Built& b) { PutU16(Page(f, b.first_data_page) + 14, 5); }},
      {"leaf link", 1000,
       [](auto& f, const Built& b) {
         uint32_t tail = GetU32(Page(f, b.index_root) + 20);
         PutU32(Page(f, tail) + 12, 0);
       }},
      {"long value chain", 100,
       [](auto& f, const Built&) {
         // The first chain piece that has a successor: cut the chain there.
         for (size_t p = 2; p * kPageSize < f.size(); ++p) {
           uint8_t* page = Page(f, static_cast<uint32_t>(p));
           if (std::memcmp(page + 4, "LVAL", 4) != 0) continue;
           uint16_t start = GetU16(page + 14) & 0x1FFF;
           if (GetU32(page + start) != 0) {  // a piece with a successor: cut the chain
             PutU32(page + start, 0);
             return;
           }
         }
       }},
      {"truncated", 100, [](auto& f, const Built&) { f.resize(f.size() - kPageSize); }},
  };
  for (const auto& d : damages) {
    TempDir dir;
    Built b = Build(dir, d.rows);
    auto good = check::CheckDatabase(b.path);
    ASSERT_TRUE(good.ok()) << d.what << ": " << good.problems.front();
    std::vector<uint8_t> bytes = ReadBytes(b.path);
    d.apply(bytes, b);
    WriteBytes(b.path, bytes);
    auto bad = check::CheckDatabase(b.path);
    EXPECT_FALSE(bad.ok()) << d.what;
  }
}

// Large files, made sparse so that they cost no disk: the checker reads only the pages it
// looks at, so each ends with its outcome instead of reading the whole file into memory.
TEST(WriteCheckTest, LargeFilesAreCheckedPageByPage) {
  const std::filesystem::path projects = kFixtures / "generated-jackcess-T_projectMain-1000.mdb";
  const struct {
    const char* what;
    std::filesystem::path start;  // empty: a file of zeros
    uint64_t size;
    std::string only_problem;  // empty: the pages added to `start` are found unused
  } cases[] = {
      {"4 GB of zeros",
       {},
       uint64_t{4} << 30,
       "ファイルの大きさ 4294967296 バイトは Jet 4.0 のデータベースの上限 (2 GB) を超えています"},
      {"2 GB of zeros", {}, uint64_t{2} << 30, "Jet 4.0 のデータベースではありません"},
      // A good file grown with zeros up to the limit: its tables are checked as before, and
      // the added pages are found in use by no one.
      {"a database grown to 2 GB", projects, uint64_t{2} << 30, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::filesystem::path path = dir / "large.mdb";
    if (c.start.empty()) {
      std::ofstream(path, std::ios::binary).put('\0');
    } else {
      std::filesystem::copy_file(c.start, path);
    }
    const uint64_t start_size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, c.size);
    const check::CheckResult result = check::CheckDatabase(path);
    ASSERT_FALSE(result.ok());
    if (!c.only_problem.empty()) {
      EXPECT_EQ(result.problems, std::vector<std::string>{c.only_problem});
      EXPECT_EQ(result.tables, 0);
      continue;
    }
    const check::CheckResult before = check::CheckDatabase(c.start);
    EXPECT_EQ(result.tables, before.tables);
    EXPECT_EQ(result.rows, before.rows);
    EXPECT_EQ(result.index_entries, before.index_entries);
    const std::string unused = " はどこにも使われていないのに、使用中になっています";
    for (const std::string& problem : result.problems) {
      ASSERT_TRUE(problem.starts_with("ページ ") && problem.ends_with(unused)) << problem;
      EXPECT_GE(std::stoull(problem.substr(std::string("ページ ").size())), start_size / kPageSize)
          << problem;
    }
  }
}

// Where real index `i`'s flags byte is in a table definition that fits on its first page.
size_t IndexFlagsAt(const uint8_t* tdef, uint32_t i) {
  const uint16_t columns = GetU16(tdef + 45);
  const uint32_t real = GetU32(tdef + 51);
  size_t at = 63 + 12 * size_t{real} + 25 * size_t{columns};
  for (uint16_t c = 0; c < columns; ++c) at += 2u + GetU16(tdef + at);  // the column names
  return at + 52 * size_t{i} + 46;
}

// A table whose only index is the non-unique index gx on G, with G = the row's number except
// that row 7 repeats row 3's value.
Built BuildGrouped(const TempDir& dir, int rows) {
  Built b;
  b.path = dir / "g.mdb";
  auto file = write::DatabaseFile::Create(b.path, 45000);
  write::TableSpec spec;
  spec.name = u"T";
  spec.columns = {{.name = u"ID", .type = ColumnType::kLong},
                  {.name = u"G", .type = ColumnType::kLong}};
  spec.indexes = {{.name = u"gx", .columns = {{u"G", true}}}};
  file->CreateTable(spec, 45000);
  for (int i = 0; i < rows; ++i)
    file->InsertRow(u"T", {Value::Integer(i), Value::Integer(i == 7 ? 3 : i)});
  file->Flush();
  const write::TableModel* t = file->FindTable(u"T");
  b.tdef = t->id;
  b.first_data_page = t->owned->Pages().front();
  b.index_root = t->indexes[0].root;
  return b;
}

// The bytes of row `row` of a data page.
uint8_t* Row(std::vector<uint8_t>& f, uint32_t page, int row) {
  uint8_t* p = Page(f, page);
  return p + (GetU16(p + format::kDataPageSlotsOffset + 2 * row) & format::kRowOffsetMask);
}

std::string Missing(const Built& b, int row) {
  return "T の索引 pk にページ " + std::to_string(b.first_data_page) + " 行 " +
         std::to_string(row) + " の行の項目がありません";
}

std::string Extra(const Built& b, int row) {
  return "T の索引 pk の項目 (ページ " + std::to_string(b.first_data_page) + " 行 " +
         std::to_string(row) + ") に当たる行がないか、キーが行の値と違います";
}

// Each way an index can disagree with its rows is reported with the rows it concerns, and
// nothing else is.
TEST(WriteCheckTest, IndexEntriesAreMatchedWithTheirRows) {
  const struct {
    const char* what;
    Built (*build)(const TempDir&, int);
    int rows;
    std::function<void(std::vector<uint8_t>&, const Built&)> apply;
    std::function<std::vector<std::string>(const Built&)> problems;
  } cases[] = {
      {"an entry whose key differs from its row's", Build, 20,
       [](auto& f, const Built& b) { PutU32(Row(f, b.first_data_page, 4) + 2, 1000); },
       [](const Built& b) {
         return std::vector{Missing(b, 4), Extra(b, 4)};
       }},
      // The row of ID 19, the largest key: the last entry of the only leaf is cut off.
      {"a row without its entry", Build, 20,
       [](auto& f, const Built& b) {
         uint8_t* leaf = Page(f, b.index_root);
         ASSERT_EQ(leaf[0], 0x04);
         std::vector<size_t> ends;
         for (size_t bit = 1; bit <= format::kIndexEntryCapacity; ++bit) {
           if (format::kIndexPageBitmapOffset + bit / 8 >= format::kIndexEntriesStart) break;
           if (leaf[format::kIndexPageBitmapOffset + bit / 8] & (1u << (bit % 8)))
             ends.push_back(bit);
         }
         ASSERT_EQ(ends.size(), 20u);
         leaf[format::kIndexPageBitmapOffset + ends.back() / 8] &=
             static_cast<uint8_t>(~(1u << (ends.back() % 8)));
         PutU16(leaf + 2, static_cast<uint16_t>(format::kIndexEntryCapacity - ends[18]));
       },
       [](const Built& b) { return std::vector{Missing(b, 13)}; }},
      {"an entry without its row", Build, 20,
       [](auto& f, const Built& b) {
         uint8_t* slots = Page(f, b.first_data_page) + format::kDataPageSlotsOffset;
         PutU16(slots + 2 * 6, GetU16(slots + 2 * 6) | format::kRowDeleted);
         PutU32(Page(f, b.tdef) + 16, 19);
       },
       [](const Built& b) { return std::vector{Extra(b, 6)}; }},
      {"a repeated key in a unique index", BuildGrouped, 20,
       [](auto& f, const Built& b) {
         Page(f, b.tdef)[IndexFlagsAt(Page(f, b.tdef), 0)] |= format::kIndexUnique;
       },
       [](const Built& b) {
         return std::vector<std::string>{"T の索引 gx は一意ですが、ページ " +
                                         std::to_string(b.first_data_page) +
                                         " 行 7 のキーが重複しています"};
       }},
      // Twelve rows get keys no entry has: the first five of each side in key order are named
      // (new keys 1000.., old keys 0, 1, 3, 4, 6 of rows 0, 7, 1, 8, 2), then the totals.
      {"many entries", Build, 20,
       [](auto& f, const Built& b) {
         for (int row = 0; row < 12; ++row)
           PutU32(Row(f, b.first_data_page, row) + 2, 1000u + static_cast<uint32_t>(row));
       },
       [](const Built& b) {
         std::vector<std::string> out;
         for (int row = 0; row < 5; ++row) out.push_back(Missing(b, row));
         for (int row : {0, 7, 1, 8, 2}) out.push_back(Extra(b, row));
         out.push_back("T の索引 pk: 足りない項目 12 件、余分な項目 12 件");
         return out;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const Built b = c.build(dir, c.rows);
    ASSERT_TRUE(check::CheckDatabase(b.path).ok());
    std::vector<uint8_t> bytes = ReadBytes(b.path);
    c.apply(bytes, b);
    WriteBytes(b.path, bytes);
    EXPECT_EQ(check::CheckDatabase(b.path).problems, c.problems(b));
  }
}

// With more differing entries than the checker compares one by one, the totals it reports are
// lower bounds and say so; with room for all of them they are exact.
TEST(WriteCheckTest, ManyDifferingEntriesAreCountedAtLeast) {
  TempDir dir;
  const Built b = Build(dir, 1000);
  std::vector<uint8_t> bytes = ReadBytes(b.path);
  // Every row of the first data page gets a key no entry has.
  const int changed = GetU16(Page(bytes, b.first_data_page) + format::kDataPageRowCountOffset);
  ASSERT_GT(changed, 20);
  for (int row = 0; row < changed; ++row)
    PutU32(Row(bytes, b.first_data_page, row) + 2, 100000u + static_cast<uint32_t>(row));
  WriteBytes(b.path, bytes);

  const check::CheckResult exact = check::CheckDatabase(b.path);
  ASSERT_FALSE(exact.problems.empty());
  EXPECT_EQ(exact.problems.back(), "T の索引 pk: 足りない項目 " + std::to_string(changed) +
                                       " 件、余分な項目 " + std::to_string(changed) + " 件");

  struct Limit {
    Limit() { check::SetCompareLimitForTesting(8); }
    ~Limit() { check::SetCompareLimitForTesting(0); }
  } limit;
  const check::CheckResult cut = check::CheckDatabase(b.path);
  ASSERT_GE(cut.problems.size(), 2u);
  ASSERT_LE(cut.problems.size(), 11u);  // at most five of each side named, then the totals
  for (size_t i = 0; i + 1 < cut.problems.size(); ++i) {
    const std::string& named = cut.problems[i];
    EXPECT_TRUE(named.ends_with(" の行の項目がありません") ||
                named.ends_with(") に当たる行がないか、キーが行の値と違います"))
        << named;
  }
  const std::string& totals = cut.problems.back();
  const std::string head =
      "T の索引 pk: 食い違いが多いため一部だけを照らし合わせました。足りない項目は少なくとも ";
  ASSERT_TRUE(totals.starts_with(head)) << totals;
  // The two counts, read without scanf: the C runtime on Windows matches the Japanese words
  // of a format by its own code page.
  const std::string middle = " 件、余分な項目は少なくとも ";
  const size_t at = totals.find(middle, head.size());
  ASSERT_NE(at, std::string::npos) << totals;
  ASSERT_TRUE(totals.ends_with(" 件あります。")) << totals;
  const size_t extra_at = at + middle.size();
  const long long missing = std::stoll(totals.substr(head.size(), at - head.size()));
  const long long extra = std::stoll(totals.substr(extra_at));
  EXPECT_GT(missing, 0);
  EXPECT_GT(extra, 0);
  EXPECT_LE(missing, static_cast<long long>(changed));
  EXPECT_LE(extra, static_cast<long long>(changed));
}

TEST(WriteCheckTest, JetsqlCheckExitsOneOnProblems) {
  TempDir dir;
  Built b = Build(dir, 10);
  EXPECT_EQ(RunCommand(Quote(kJetsql) + " --check " + Quote(b.path)).status, 0);
  std::vector<uint8_t> bytes = ReadBytes(b.path);
  PutU32(Page(bytes, b.tdef) + 16, 11);
  WriteBytes(b.path, bytes);
  CommandResult r = RunCommand(Quote(kJetsql) + " --check " + Quote(b.path));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("行数"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace jet::write_test
