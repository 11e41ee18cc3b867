// The consistency checker finds nothing in good files (ours and the fixtures) and finds each
// kind of damage put into a good file.
#include <gtest/gtest.h>

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
