// Damaged and foreign files: every one raises a clear jet::Error; none crashes, hangs or
// reads outside a page (the sanitizer build checks the last part).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/database.h"
#include "jet/format/page_source.h"
#include "jet/jet.h"

namespace jet {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
constexpr size_t kPage = 4096;

std::vector<uint8_t> Load(const std::string& name) {
  std::ifstream in(kFixtures / name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  PutU16(b, at, static_cast<uint16_t>(v));
  PutU16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// Opens the bytes and reads every row of every user table.
void ReadEverything(std::vector<uint8_t> bytes) {
  auto db = Database::OpenBytes(std::move(bytes));
  for (const auto& name : db->TableNames()) db->ReadTable(name);
}

// The message of the jet::Error that `f` raises; fails the test when it raises none.
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return base::ToUtf8(e.message());
  }
  ADD_FAILURE() << "no error was raised";
  return "";
}

struct DamageCase {
  const char* name;
  const char* fixture;
  std::function<void(std::vector<uint8_t>&)> damage;
  const char* message_part;  // the message must contain this
};

class CorruptionTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(CorruptionTest, RaisesAClearError) {
  const DamageCase& c = GetParam();
  std::vector<uint8_t> bytes = Load(c.fixture);
  ASSERT_FALSE(bytes.empty());
  c.damage(bytes);
  const std::string message = ErrorOf([&] { ReadEverything(bytes); });
  EXPECT_NE(message.find(c.message_part), std::string::npos) << message;
}

const DamageCase kDamageCases[] = {
    {"ZeroLength", "jackcess-adox_jet4.mdb", [](auto& b) { b.clear(); }, "空です"},
    {"TruncatedHeader", "jackcess-adox_jet4.mdb", [](auto& b) { b.resize(200); },
     "途中で切れています"},
    {"NotJet", "jackcess-adox_jet4.mdb",
     [](auto& b) {
       const char text[] = "ID,TITLE\n1,hello\n";
       b.assign(text, text + sizeof text - 1);
     },
     "Jet データベース (.mdb) のファイルではありません"},
    {"Jet3", "jackcess-adox_jet4.mdb", [](auto& b) { b[0x14] = 0; }, "Jet 3.x"},
    {"Accdb", "jackcess-adox_jet4.mdb",
     [](auto& b) {
       std::memcpy(b.data() + 4, "Standard ACE DB", 15);
       b[0x14] = 2;
     },
     "ACCDB"},
    {"UnknownVersion", "jackcess-adox_jet4.mdb", [](auto& b) { b[0x14] = 9; }, "版 9"},
    // The catalogue's definition page is not a definition.
    {"CatalogPageType", "jackcess-adox_jet4.mdb", [](auto& b) { b[2 * kPage] = 0x01; },
     "表定義のページではありません"},
    // Cut off after the table definitions: the data pages are missing.
    {"TruncatedData", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) { b.resize(40 * kPage); }, "ファイルの外のページ"},
    // A partial last page.
    {"PartialPage", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) { b.resize(b.size() - 100); }, "途中で切れています"},
    // The 74-column table's definition continues from page 15 to 19; 19 points back to 15.
    {"DefinitionChainLoop", "jackcess-test2V2000.mdb",
     [](auto& b) { PutU32(b, 19 * kPage + 4, 15); }, "循環"},
    // The OLE chain runs over pages 53…58; the second piece points back to the first.
    {"LongValueChainLoop", "jackcess-test2V2000.mdb",
     [](auto& b) { PutU32(b, 54 * kPage + 0x14, 53u << 8); }, "循環"},
    // The chain ends before the stored length is reached.
    {"LongValueChainShort", "jackcess-test2V2000.mdb",
     [](auto& b) { PutU32(b, 55 * kPage + 0x14, 0); }, "途中で終わっています"},
    // Page 27 slot 4 moved to page 31 row 0; make that row point back at the slot.
    {"OverflowLoop", "jackcess-overflowTestV2000.mdb",
     [](auto& b) {
       PutU16(b, 31 * kPage + 14, 0x4000 | 0xFE9);
       PutU32(b, 31 * kPage + 0xFE9, (27u << 8) | 4);
     },
     "循環"},
    // A row offset beyond the page.
    {"RowOffsetOutside", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) { PutU16(b, 27 * kPage + 14 + 2, 0x0005); }, "壊れています"},
    // A row count whose offset table cannot fit the page.
    {"RowCountTooLarge", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) { PutU16(b, 27 * kPage + 12, 5000); }, "壊れています"},
    // The table's usage map row has an unknown map type.
    {"UsageMapType", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) {
       // Page 25 row 0 is the owned-pages map; its row starts where slot 0 says.
       const size_t start = (b[25 * kPage + 14] | (b[25 * kPage + 15] << 8)) & 0x1FFF;
       b[25 * kPage + start] = 7;
     },
     "使用状況マップの種類"},
    // A column count in the definition far beyond the definition's bytes.
    {"ColumnCount", "generated-jackcess-T_projectMain-1000.mdb",
     [](auto& b) { PutU16(b, 24 * kPage + 45, 60000); }, "壊れています"},
};

INSTANTIATE_TEST_SUITE_P(Damage, CorruptionTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

// Flips bytes all over every page of small files; each read either succeeds or raises
// jet::Error. Anything else (a crash, another exception, a read outside a buffer under the
// sanitizers) fails.
TEST(CorruptionSweepTest, DamageAnywhereNeverCrashes) {
  for (const char* fixture : {"jackcess-adox_jet4.mdb", "jackcess-overflowTestV2000.mdb",
                              "jackcess-fixedNumericTestV2000.mdb", "jackcess-test2V2000.mdb"}) {
    const std::vector<uint8_t> original = Load(fixture);
    const size_t pages = original.size() / kPage;
    int errors = 0;
    for (size_t page = 0; page < pages; ++page) {
      for (size_t offset = 0; offset < kPage; offset += 97) {
        for (const uint8_t pattern : {uint8_t{0xFF}, uint8_t{0x80}, uint8_t{0x01}}) {
          std::vector<uint8_t> bytes = original;
          bytes[page * kPage + offset] ^= pattern;
          bytes[page * kPage + (offset * 7 + 12) % kPage] ^= pattern;
          try {
            ReadEverything(std::move(bytes));
          } catch (const Error&) {
            ++errors;
          }
        }
      }
    }
    SCOPED_TRACE(fixture);
    EXPECT_GT(errors, 0);
  }
}

// A file layer that fails whenever a read covers a chosen page (alone, or among the pages a
// walk reads ahead): the failure reaches the caller as the error.
class FailingSource : public format::PageSource {
 public:
  FailingSource(std::vector<uint8_t> bytes, uint64_t fail_at)
      : inner_(format::MemorySource(std::move(bytes))), fail_at_(fail_at) {}
  uint64_t size() const override { return inner_->size(); }
  size_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    if (offset <= fail_at_ * kPage && fail_at_ * kPage < offset + out.size()) {
      throw Error(u"読み込みに失敗しました (試験)");
    }
    return inner_->ReadAt(offset, out);
  }

 private:
  std::unique_ptr<format::PageSource> inner_;
  uint64_t fail_at_;
};

TEST(CorruptionSweepTest, AFailingReadIsReported) {
  Database db(
      std::make_unique<FailingSource>(Load("generated-jackcess-T_projectMain-1000.mdb"), 30), "");
  EXPECT_EQ(ErrorOf([&] { db.ReadTable(u"T_projectMain"); }), "読み込みに失敗しました (試験)");
}

TEST(CorruptionSweepTest, ConnectionReportsMissingAndForeignFiles) {
  const auto dir = std::filesystem::temp_directory_path() / "jet-corruption-test";
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / "empty.mdb", std::ios::binary);
    std::ofstream(dir / "text.mdb") << "not a database\n";
  }
  struct {
    std::string file;
    std::string message_part;
  } cases[] = {{"missing.mdb", "見つかりません"},
               {"empty.mdb", "空です"},
               {"text.mdb", "ファイルではありません"},
               {"", "フォルダー"}};
  for (const auto& c : cases) {
    Connection connection;
    connection.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                   base::FromUtf8((dir / c.file).string()) +
                                   u";Mode=Share Deny None");
    const std::string message = ErrorOf([&] { connection.Open(); });
    EXPECT_NE(message.find(c.message_part), std::string::npos) << c.file << ": " << message;
    EXPECT_FALSE(connection.connected());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace jet
