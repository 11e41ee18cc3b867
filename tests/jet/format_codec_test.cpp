// Rows, texts, table definitions and long-value fields encoded by jet/format and read back by
// the same layer's decoders: what the writer stores is what the reader finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/format/catalog.h"
#include "jet/format/data_page.h"
#include "jet/format/index_key.h"
#include "jet/format/index_page.h"
#include "jet/format/long_value.h"
#include "jet/format/page_source.h"
#include "jet/format/pager.h"
#include "jet/format/record.h"
#include "jet/format/table_definition.h"
#include "jet/format/text.h"
#include "jet/jet.h"
#include "tests/jet/write_support.h"

namespace jet::format {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";

// A pager over a real file: inline long values never read it, but the decoders take one.
Pager FixturePager() {
  return Pager(OpenFileSource(kFixtures / "generated-jackcess-types-rich.mdb"));
}

struct ColumnSpec {
  const char16_t* name;
  ColumnType type;
  uint16_t length = 0;  // variable-length and Numeric columns
  bool compressible = false;
};

// A definition of `specs` laid out as a writer lays out a new table: fixed columns in the
// fixed area in column order, variable columns in slot order.
TableDefinition Define(const std::vector<ColumnSpec>& specs) {
  TableDefinition def;
  def.table_type = kUserTable;
  uint16_t fixed = 0;
  uint16_t variable = 0;
  for (const ColumnSpec& spec : specs) {
    ColumnDefinition c;
    c.type = static_cast<uint8_t>(spec.type);
    c.number = static_cast<uint16_t>(def.columns.size());
    c.descriptor_index = c.number;
    c.name = spec.name;
    if (IsFixedLengthType(spec.type)) {
      c.flags = kColumnFixed;
      c.length = FixedColumnLength(spec.type);
      c.variable_index = variable;
      if (spec.type != ColumnType::kBoolean) {
        c.fixed_offset = fixed;
        fixed = static_cast<uint16_t>(fixed + FixedAreaSize(spec.type));
      }
    } else {
      c.variable_index = variable++;
      c.length = spec.length;
    }
    if (spec.type == ColumnType::kNumeric) {
      c.precision = 18;
      c.scale = 4;
    }
    c.flags = static_cast<uint8_t>(c.flags | kColumnNullable);
    if (spec.compressible) c.extra_flags = kColumnCompressible;
    def.columns.push_back(c);
  }
  def.max_columns = static_cast<uint16_t>(def.columns.size());
  def.variable_columns = variable;
  return def;
}

// Every type a row can hold, fixed and variable ones mixed.
const std::vector<ColumnSpec> kAllTypes = {
    {u"Id", ColumnType::kLong},
    {u"Name", ColumnType::kText, 200, true},
    {u"Flag", ColumnType::kBoolean},
    {u"Small", ColumnType::kByte},
    {u"Plain", ColumnType::kText, 100, false},
    {u"Short", ColumnType::kInteger},
    {u"Price", ColumnType::kCurrency},
    {u"Ratio", ColumnType::kSingle},
    {u"Big", ColumnType::kDouble},
    {u"When", ColumnType::kDateTime},
    {u"Raw", ColumnType::kBinary, 50},
    {u"Key", ColumnType::kGuid},
    {u"Exact", ColumnType::kNumeric, 17},
    {u"Notes", ColumnType::kMemo, 0, true},
    {u"Blob", ColumnType::kOle},
    {u"Done", ColumnType::kBoolean},
};

// Memo and OLE data stored inside the row: the long-value field's inline form.
std::string InlineField(const ColumnDefinition&, std::string data) {
  return EncodeInlineLongValue(data);
}

Decimal MakeDecimal(bool negative, unsigned __int128 mantissa) {
  Decimal d;
  d.negative = negative;
  d.precision = 18;
  d.scale = 4;
  d.mantissa = mantissa;
  return d;
}

Guid MakeGuid(uint8_t seed) {
  Guid g;
  for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<uint8_t>(seed + 17 * i);
  return g;
}

TEST(FormatCodecTest, EncodedRowsDecodeToTheirValues) {
  const TableDefinition def = Define(kAllTypes);
  const Value null;
  struct Case {
    const char* what;
    std::vector<Value> values;  // one per column of kAllTypes
  };
  const std::vector<Case> cases = {
      {"every column set",
       {Value::Integer(42), Value::Text(u"compressible text"), Value::Boolean(true),
        Value::Integer(255), Value::Text(u"plain"), Value::Integer(-32768),
        Value::FromCurrency({-123456789}), Value::Double(0.5), Value::Double(-1.0e300),
        Value::FromDateTime({45000.75}), Value::Binary({0, 1, 2, 0xFF}),
        Value::FromGuid(MakeGuid(3)), Value::FromDecimal(MakeDecimal(true, 123456789012345)),
        Value::Text(u"a memo"), Value::Binary({9, 8, 7}), Value::Boolean(false)}},
      {"every column NULL",
       {null, null, null, null, null, null, null, null, null, null, null, null, null, null, null,
        null}},
      {"empty texts and binaries are not NULL",
       {Value::Integer(0), Value::Text(u""), Value::Boolean(true), Value::Integer(0),
        Value::Text(u""), Value::Integer(0), Value::FromCurrency({0}), Value::Double(0),
        Value::Double(0), Value::FromDateTime({0}), Value::Binary({}), null,
        Value::FromDecimal(MakeDecimal(false, 0)), Value::Text(u""), Value::Binary({}),
        Value::Boolean(true)}},
      {"texts that cannot be compressed",
       {Value::Integer(-1), Value::Text(u"東京都 道路台帳"), null, null, Value::Text(u"ab"), null,
        null, null, null, null, null, null, null, Value::Text(u"メモ: 全角だけ"), null, null}},
      {"texts at the edges of compression",
       {Value::Integer(7), Value::Text(std::u16string(1, u'\xFEFF') + u"marker"), null, null,
        Value::Text(std::u16string(1, u'\xFEFF') + u"starts with the marker"), null, null, null,
        null, null, null, null, null, Value::Text(u"ab\u00FFcd"), null, null}},
      {"a text that mixes one- and two-byte characters",
       {null, Value::Text(u"abc 日本 def"), null, null, Value::Text(u"\u00E9t\u00E9"), null, null,
        null, null, null, null, null, null, Value::Text(u"x"), null, null}},
      {"largest numbers",
       {Value::Integer(2147483647), null, null, Value::Integer(1), null, Value::Integer(32767),
        Value::FromCurrency({INT64_MAX}), Value::Double(static_cast<double>(3.0e38f)),
        Value::Double(1.0e-300), Value::FromDateTime({2958465.99999}),
        Value::Binary(Bytes(50, 0xAB)), Value::FromGuid(MakeGuid(250)),
        Value::FromDecimal(MakeDecimal(false, (static_cast<unsigned __int128>(1) << 96) - 1)), null,
        Value::Binary(Bytes(52, 0x5A)), null}},
  };
  Pager pager = FixturePager();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.values.size(), def.columns.size());
    const std::string row = EncodeRecord(def, c.values, InlineField);
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(row.data()), row.size());
    const std::vector<Value> back = DecodeRecord(pager, def, bytes, 1);
    ASSERT_EQ(back.size(), c.values.size());
    for (size_t i = 0; i < back.size(); ++i) {
      // Yes/No has no NULL: its bit is its value.
      const bool yes_no = def.columns[i].type == static_cast<uint8_t>(ColumnType::kBoolean);
      if (yes_no && c.values[i].is_null()) {
        EXPECT_EQ(back[i], Value::Boolean(false)) << "column " << i;
        continue;
      }
      EXPECT_EQ(back[i], c.values[i]) << "column " << i;
    }
  }
}

TEST(FormatCodecTest, ColumnsAddedAfterARowWasWrittenReadAsNull) {
  // The row is written under the first definition; the second one adds a fixed, a variable
  // and a Yes/No column behind the old ones.
  std::vector<ColumnSpec> later = kAllTypes;
  later.push_back({u"AddedLong", ColumnType::kLong});
  later.push_back({u"AddedText", ColumnType::kText, 20, true});
  later.push_back({u"AddedFlag", ColumnType::kBoolean});
  const TableDefinition before = Define(kAllTypes);
  const TableDefinition after = Define(later);
  std::vector<Value> values = {Value::Integer(1),
                               Value::Text(u"name"),
                               Value::Boolean(true),
                               Value::Integer(2),
                               Value::Text(u"plain"),
                               Value::Integer(3),
                               Value::FromCurrency({4}),
                               Value::Double(5),
                               Value::Double(6),
                               Value::FromDateTime({7}),
                               Value::Binary({8}),
                               Value::FromGuid(MakeGuid(9)),
                               Value(),
                               Value::Text(u"notes"),
                               Value::Binary({10}),
                               Value::Boolean(true)};
  const std::string row = EncodeRecord(before, values, InlineField);
  Pager pager = FixturePager();
  const std::vector<Value> back = DecodeRecord(
      pager, after, std::span(reinterpret_cast<const uint8_t*>(row.data()), row.size()), 1);
  ASSERT_EQ(back.size(), after.columns.size());
  for (size_t i = 0; i < back.size(); ++i) {
    if (i < values.size()) {
      EXPECT_EQ(back[i], values[i]) << "column " << i;
    } else if (after.columns[i].type == static_cast<uint8_t>(ColumnType::kBoolean)) {
      EXPECT_EQ(back[i], Value::Boolean(false)) << "column " << i;
    } else {
      EXPECT_TRUE(back[i].is_null()) << "column " << i;
    }
  }
}

TEST(FormatCodecTest, RowLayoutMatchesItsSize) {
  // A table without variable columns has no offset table; one with them ends its data where
  // the offset table says.
  for (const bool with_variable : {false, true}) {
    SCOPED_TRACE(with_variable);
    std::vector<ColumnSpec> specs = {{u"A", ColumnType::kLong}, {u"B", ColumnType::kBoolean}};
    if (with_variable) specs.push_back({u"C", ColumnType::kText, 20, true});
    const TableDefinition def = Define(specs);
    std::vector<Value> values = {Value::Integer(0x01020304), Value::Boolean(true)};
    if (with_variable) values.push_back(Value::Text(u"hello"));
    const std::string row = EncodeRecord(def, values, InlineField);
    const size_t data = with_variable ? EncodeText(u"hello", true).size() : 0;
    EXPECT_EQ(row.size(), EncodedRecordSize(def.max_columns, 4, def.variable_columns, data));
    const char start[] = {static_cast<char>(specs.size()), 0, 4, 3, 2, 1};
    EXPECT_EQ(row.substr(0, 6), std::string(start, 6));
    EXPECT_EQ(static_cast<uint8_t>(row.back()), with_variable ? 0x07 : 0x03);
  }
}

TEST(FormatCodecTest, TextsTakeTheShortestSafeForm) {
  enum class Form { kUcs2, kCompressed, kMarked };
  struct Case {
    std::u16string text;
    bool compressible;
    Form form;
  };
  const std::vector<Case> cases = {
      {u"", true, Form::kUcs2},
      {u"ab", true, Form::kUcs2},  // two characters gain nothing
      {u"abc", true, Form::kCompressed},
      {u"abc", false, Form::kUcs2},
      {u"caf\u00E9 \u00FF", true, Form::kCompressed},
      {u"日本語", true, Form::kUcs2},
      {u"abc\u0100", true, Form::kUcs2},
      {std::u16string(u"a\0b", 3), true, Form::kUcs2},  // a 00 byte would switch modes
      {std::u16string(1, u'\xFEFF') + u"abc", true, Form::kMarked},
      {std::u16string(1, u'\xFEFF') + u"abc", false, Form::kMarked},
      {std::u16string(kPageSize - 2, u'x'), true, Form::kCompressed},
      {std::u16string(kPageSize - 1, u'x'), true, Form::kUcs2},  // would not fit a page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.text.size() << " characters, compressible " << c.compressible);
    const std::string stored = EncodeText(c.text, c.compressible);
    const bool marked = stored.size() >= 2 && static_cast<uint8_t>(stored[0]) == 0xFF &&
                        static_cast<uint8_t>(stored[1]) == 0xFE;
    switch (c.form) {
      case Form::kUcs2:
        EXPECT_EQ(stored.size(), 2 * c.text.size());
        EXPECT_FALSE(marked && stored.size() > 2);
        break;
      case Form::kCompressed:
        EXPECT_EQ(stored.size(), 2 + c.text.size());
        EXPECT_TRUE(marked);
        break;
      case Form::kMarked:
        EXPECT_EQ(stored.size(), 3 + 2 * c.text.size());
        EXPECT_TRUE(marked);
        break;
    }
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
    EXPECT_EQ(DecodeText(bytes), c.text);
  }
}

// The definition pages of `def` joined as ReadTableDefinition joins them.
std::vector<uint8_t> JoinedDefinition(Pager& pager, const TableDefinition& def) {
  std::vector<uint8_t> buffer;
  for (uint32_t number : def.pages) {
    const PagePtr page = pager.Get(number);
    const size_t skip = buffer.empty() ? 0 : kTdefContinuationHeader;
    buffer.insert(buffer.end(), page->bytes.begin() + skip, page->bytes.end());
  }
  return buffer;
}

TEST(FormatCodecTest, EncodedDefinitionParsesToItself) {
  TableDefinition def = Define(kAllTypes);
  def.page = 7;
  def.row_count = 123456;
  def.auto_number = 4242;
  def.owned_map = RowPointer{9, 3}.ToU32();
  def.free_map = RowPointer{9, 4}.ToU32();
  for (ColumnDefinition& c : def.columns) c.number_again = c.number;
  RealIndex primary;
  primary.columns = {{0, true}};
  primary.map_pointer = RowPointer{9, 5}.ToU32();
  primary.root_page = 12;
  primary.flags = kIndexJet4 | kIndexUnique | kIndexRequired;
  primary.distinct_keys = 123456;
  RealIndex composite;
  composite.columns = {{1, true}, {5, false}, {9, true}};
  composite.map_pointer = RowPointer{9, 6}.ToU32();
  composite.root_page = 13;
  composite.flags = kIndexJet4 | kIndexIgnoreNulls;
  composite.distinct_keys = 77;
  RealIndex widest;  // every column slot used
  for (uint16_t n = 0; n < kIndexColumnSlots; ++n) widest.columns.emplace_back(n, n % 2 == 0);
  widest.flags = kIndexJet4;
  def.real_indexes = {primary, composite, widest};
  def.logical_indexes = {{0, 0, kLogicalIndexPrimaryKey, u"PrimaryKey"},
                         {1, 1, 0, u"名前と日付"},
                         {2, 1, 0, u"SameRealIndex"},
                         {3, 2, 0, u"Wide"}};
  def.long_value_columns = {{13, RowPointer{10, 0}.ToU32(), RowPointer{10, 1}.ToU32()},
                            {14, RowPointer{10, 2}.ToU32(), RowPointer{10, 3}.ToU32()}};
  // Descriptors stored in another order than the column numbers, as in Jet's system tables.
  for (size_t i = 0; i < def.columns.size(); ++i) {
    def.columns[i].descriptor_index = static_cast<uint16_t>((i + 5) % def.columns.size());
  }

  const std::vector<uint8_t> bytes = EncodeTableDefinition(def);
  EXPECT_EQ(ByteReader(bytes).U32(kTdefLengthOffset), bytes.size());
  EXPECT_EQ(bytes[bytes.size() - 1], 0xFF);
  const TableDefinition parsed = ParseTableDefinition(bytes, def.page);
  EXPECT_EQ(parsed, def);
  EXPECT_EQ(EncodeTableDefinition(parsed), bytes);
}

TEST(FormatCodecTest, RealDefinitionsSurviveEncoding) {
  // Every table of the fixtures (Jet-made, Jackcess-made and ours): what the parser reads of
  // a definition, encoded and parsed again, reads the same.
  size_t tables = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
    if (entry.path().extension() != ".mdb") continue;
    SCOPED_TRACE(entry.path().filename().string());
    Pager pager(OpenFileSource(entry.path()));
    for (const CatalogEntry& object : ReadCatalog(pager)) {
      if (!object.is_table() || (object.type & 0x7F) != kObjectTypeTable) continue;
      SCOPED_TRACE(testing::Message() << "definition page " << object.definition_page());
      TableDefinition def = ReadTableDefinition(pager, object.definition_page());
      def.pages.clear();
      const std::vector<uint8_t> bytes = EncodeTableDefinition(def);
      TableDefinition parsed = ParseTableDefinition(bytes, def.page);
      EXPECT_EQ(parsed, def);
      ++tables;
    }
  }
  EXPECT_GT(tables, 20u);
}

TEST(FormatCodecTest, DefinitionsWeWriteAreEncodedByteForByte) {
  // A file our writer made: each definition, read and encoded again, gives the stored bytes
  // (all but the page-chain words), system tables included.
  write_test::TempDir dir;
  const std::filesystem::path path = dir / "defs.mdb";
  CreateDatabase(path);
  {
    Connection connection;
    connection.SetConnectionString(u"Data Source=" + path.u16string() + u";");
    connection.Open();
    connection.Execute(
        u"CREATE TABLE Everything (Id COUNTER CONSTRAINT pk PRIMARY KEY, B BYTE, I SMALLINT, "
        u"L LONG, S SINGLE, D DOUBLE, C CURRENCY, T DATETIME, Y YESNO, G GUID, "
        u"Name TEXT(80) WITH COMPRESSION, Raw VARBINARY(20), Notes MEMO, Blob LONGBINARY)");
    connection.Execute(
        u"CREATE TABLE Pairs (A TEXT(10) CONSTRAINT pairs_key PRIMARY KEY, B LONG, N MEMO)");
    connection.Execute(u"INSERT INTO Everything (L, Name, Notes) VALUES (1, 'one', '" +
                       std::u16string(300, u'm') + u"')");
    connection.Execute(u"INSERT INTO Pairs (A, B) VALUES ('x', 2)");
  }
  Pager pager(OpenFileSource(path));
  size_t tables = 0;
  for (const CatalogEntry& object : ReadCatalog(pager)) {
    if (!object.is_table()) continue;
    SCOPED_TRACE(base::ToUtf8(object.name));
    const TableDefinition def = ReadTableDefinition(pager, object.definition_page());
    const std::vector<uint8_t> stored = JoinedDefinition(pager, def);
    const std::vector<uint8_t> encoded = EncodeTableDefinition(def);
    ASSERT_LE(encoded.size(), stored.size());
    std::vector<uint8_t> expected(stored.begin(),
                                  stored.begin() + static_cast<std::ptrdiff_t>(encoded.size()));
    std::fill(expected.begin() + kTdefFreeSpaceOffset, expected.begin() + kTdefLengthOffset, 0);
    EXPECT_EQ(encoded, expected);
    ++tables;
  }
  EXPECT_GE(tables, 3u);
}

TEST(FormatCodecTest, DefinitionPagesJoinAndCutAsStored) {
  // A file of ours whose widest definition spans several pages: each stored chain joins to
  // the buffer the parser reads, and the parsed definition, encoded and cut into pages again,
  // gives the stored pages byte for byte.
  write_test::TempDir dir;
  const std::filesystem::path path = dir / "wide.mdb";
  CreateDatabase(path);
  {
    Connection connection;
    connection.SetConnectionString(u"Data Source=" + path.u16string() + u";");
    connection.Open();
    std::u16string columns = u"Id COUNTER CONSTRAINT pk PRIMARY KEY";
    for (int i = 0; i < 150; ++i) {
      columns += u", ColumnWithALongishName" + base::FromUtf8(std::to_string(i)) +
                 (i % 3 == 0 ? u" TEXT(40)" : u" LONG");
    }
    connection.Execute(u"CREATE TABLE Wide (" + columns + u")");
  }
  Pager pager(OpenFileSource(path));
  size_t chained = 0;
  for (const CatalogEntry& object : ReadCatalog(pager)) {
    if (!object.is_table()) continue;
    SCOPED_TRACE(base::ToUtf8(object.name));
    const TableDefinition def = ReadTableDefinition(pager, object.definition_page());
    std::vector<uint32_t> chain;
    const std::vector<uint8_t> joined = JoinTableDefinitionPages(
        def.page, [&](uint32_t n) -> std::span<const uint8_t> { return pager.Get(n)->bytes; },
        chain);
    EXPECT_EQ(chain, def.pages);
    TableDefinition parsed = ParseTableDefinition(joined, def.page);
    parsed.pages = chain;
    EXPECT_EQ(parsed, def);
    const std::vector<uint8_t> encoded = EncodeTableDefinition(def);
    ASSERT_EQ(TableDefinitionPageCount(encoded.size()), def.pages.size());
    for (size_t i = 0; i < def.pages.size(); ++i) {
      std::vector<uint8_t> page(kPageSize);
      EncodeTableDefinitionPage(encoded, i, i + 1 < def.pages.size() ? def.pages[i + 1] : 0, page);
      const auto& stored = pager.Get(def.pages[i])->bytes;
      EXPECT_TRUE(std::equal(page.begin(), page.end(), stored.begin())) << "page " << i;
    }
    if (def.pages.size() > 1) ++chained;
  }
  EXPECT_GE(chained, 1u);
}

TEST(FormatCodecTest, DamagedDefinitionChainsAreCorrupt) {
  auto definition_page = [](uint32_t next) {
    std::vector<uint8_t> page(kPageSize);
    page[0] = PageTypeByte(PageType::kTableDefinition);
    page[1] = kPageMarker;
    PutU32(page, kTdefNextPageOffset, next);
    return page;
  };
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;  // the chain starts at 5
  };
  std::vector<uint8_t> data_page(kPageSize);
  data_page[0] = PageTypeByte(PageType::kData);
  const std::vector<Case> cases = {
      {"a page that names itself", {{5, definition_page(5)}}},
      {"a loop over three pages",
       {{5, definition_page(6)}, {6, definition_page(7)}, {7, definition_page(5)}}},
      {"a data page in the chain", {{5, definition_page(6)}, {6, data_page}}},
      {"a short page", {{5, std::vector<uint8_t>(100, 2)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> chain;
    auto read = [&](uint32_t n) -> std::span<const uint8_t> {
      for (const auto& [number, bytes] : c.pages) {
        if (number == n) return bytes;
      }
      ADD_FAILURE() << "page " << n << " read";
      return c.pages.front().second;
    };
    EXPECT_THROW(JoinTableDefinitionPages(5, read, chain), Error);
  }
}

TEST(FormatCodecTest, LongValueFieldsLeadBackToTheirData) {
  // A real file with long-value pages added behind it: the data of each case goes into the
  // row field inline, into one LVAL row, or into a chain of rows, each on a page of its own,
  // and ReadLongValue follows the field back to it.
  enum class Form { kInline, kSingle, kChain };
  struct Case {
    size_t length;
    Form form;
    size_t piece = 0;  // chain pieces' data length
  };
  const std::vector<Case> cases = {
      {0, Form::kInline},
      {1, Form::kInline},
      {64, Form::kInline},
      {1, Form::kSingle},
      {4076, Form::kSingle},
      {4077, Form::kChain, 4072},
      {3 * 4072, Form::kChain, 4072},
      {10, Form::kChain, 3},  // pieces of 3, 3, 3 and 1
  };
  const std::vector<uint8_t> base = write_test::ReadBytes(kFixtures / "jackcess-empty-V2000.mdb");
  ASSERT_EQ(base.size() % kPageSize, 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes, form " << static_cast<int>(c.form));
    std::string data(c.length, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + 7);
    std::vector<uint8_t> file = base;
    // Adds a long-value page holding `row`; returns where the row lies.
    auto add_page = [&file](const std::string& row) {
      const auto number = static_cast<uint32_t>(file.size() / kPageSize);
      file.resize(file.size() + kPageSize);
      uint8_t* page = file.data() + size_t{number} * kPageSize;
      data_page::Init(page, kLongValueOwner);
      EXPECT_TRUE(data_page::Fits(page, row.size()));
      const uint8_t slot =
          data_page::AddRow(page, reinterpret_cast<const uint8_t*>(row.data()), row.size());
      return RowPointer{number, slot};
    };
    std::string field;
    const auto length = static_cast<uint32_t>(c.length);
    switch (c.form) {
      case Form::kInline:
        field = EncodeInlineLongValue(data);
        EXPECT_EQ(field.size(), kLongValueHeaderSize + c.length);
        break;
      case Form::kSingle:
        field = EncodeLongValueHeader(length, kLongValueSingle, add_page(data));
        break;
      case Form::kChain: {
        RowPointer next;
        for (size_t end = c.length; end > 0;) {
          const size_t start = (end - 1) / c.piece * c.piece;
          next = add_page(
              EncodeLongValueChainPiece(next, std::string_view(data).substr(start, end - start)));
          end = start;
        }
        field = EncodeLongValueHeader(length, kLongValueChain, next);
        break;
      }
    }
    Pager pager(MemorySource(file));
    const std::vector<uint8_t> back = ReadLongValue(
        pager, std::span(reinterpret_cast<const uint8_t*>(field.data()), field.size()));
    EXPECT_EQ(std::string(back.begin(), back.end()), data);
  }
}

// One column value of an index key and what its piece decodes to (NULL: the value itself).
struct KeyCase {
  ColumnType type;
  Value value;
  std::optional<Value> decoded = std::nullopt;
};

// Every indexable type at its edges, NULL included. Within a type the cases are in ascending
// order of their values.
std::vector<KeyCase> KeyCases() {
  const double kInf = std::numeric_limits<double>::infinity();
  return {
      {ColumnType::kBoolean, Value::Boolean(true)},
      {ColumnType::kBoolean, Value::Boolean(false)},
      {ColumnType::kBoolean, Value::Null(), Value::Boolean(false)},  // keyed as No
      {ColumnType::kByte, Value::Null()},
      {ColumnType::kByte, Value::Integer(0)},
      {ColumnType::kByte, Value::Integer(127)},
      {ColumnType::kByte, Value::Integer(255)},
      {ColumnType::kInteger, Value::Null()},
      {ColumnType::kInteger, Value::Integer(-32768)},
      {ColumnType::kInteger, Value::Integer(-1)},
      {ColumnType::kInteger, Value::Integer(0)},
      {ColumnType::kInteger, Value::Integer(32767)},
      {ColumnType::kLong, Value::Null()},
      {ColumnType::kLong, Value::Integer(std::numeric_limits<int32_t>::min())},
      {ColumnType::kLong, Value::Integer(-65536)},
      {ColumnType::kLong, Value::Integer(0)},
      {ColumnType::kLong, Value::Integer(1)},
      {ColumnType::kLong, Value::Integer(std::numeric_limits<int32_t>::max())},
      {ColumnType::kCurrency, Value::Null()},
      {ColumnType::kCurrency, Value::FromCurrency({std::numeric_limits<int64_t>::min()})},
      {ColumnType::kCurrency, Value::FromCurrency({-1})},
      {ColumnType::kCurrency, Value::FromCurrency({0})},
      {ColumnType::kCurrency, Value::FromCurrency({123456789012345})},
      {ColumnType::kCurrency, Value::FromCurrency({std::numeric_limits<int64_t>::max()})},
      {ColumnType::kSingle, Value::Null()},
      {ColumnType::kSingle, Value::Double(-kInf)},
      {ColumnType::kSingle, Value::Double(-3.5)},
      {ColumnType::kSingle, Value::Double(0.0)},
      {ColumnType::kSingle, Value::Double(std::numeric_limits<float>::denorm_min())},
      {ColumnType::kSingle, Value::Double(0.25)},
      {ColumnType::kSingle, Value::Double(std::numeric_limits<float>::max())},
      {ColumnType::kDouble, Value::Null()},
      {ColumnType::kDouble, Value::Double(-kInf)},
      {ColumnType::kDouble, Value::Double(-1.5)},
      {ColumnType::kDouble, Value::Double(-4.9e-324)},
      {ColumnType::kDouble, Value::Double(0.0)},
      {ColumnType::kDouble, Value::Double(1.5)},
      {ColumnType::kDouble, Value::Double(kInf)},
      {ColumnType::kDateTime, Value::Null()},
      {ColumnType::kDateTime, Value::FromDateTime({-657434.0})},  // year 100
      {ColumnType::kDateTime, Value::FromDateTime({-1.25})},
      {ColumnType::kDateTime, Value::FromDateTime({0.0})},
      {ColumnType::kDateTime, Value::FromDateTime({45000.75})},
      {ColumnType::kText, Value::Null()},
      {ColumnType::kText, Value::Text(u""), Value::Text(u"")},
      {ColumnType::kText, Value::Text(u"   "), Value::Text(u"")},
      {ColumnType::kText, Value::Text(u"!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>"), std::nullopt},
      {ColumnType::kText, Value::Text(u"0123456789"), std::nullopt},
      {ColumnType::kText, Value::Text(u"a\tb\r\n"), Value::Text(u"A\tB\r\n")},
      {ColumnType::kText, Value::Text(u"Ab1  "), Value::Text(u"AB1")},
      {ColumnType::kText, Value::Text(u"x'y-z"), Value::Text(u"X'Y-Z")},
      {ColumnType::kText, Value::Text(u"-'a--b'"), Value::Text(u"-'A--B'")},
      {ColumnType::kText, Value::Text(u"abcdefghijklmnopqrstuvwxyz"),
       Value::Text(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ")},
      {ColumnType::kText, Value::Text(std::u16string(300, u'q')),
       Value::Text(std::u16string(255, u'Q'))},
  };
}

TEST(FormatCodecTest, IndexKeyPiecesDecodeToTheirValues) {
  // Each piece alone, in both directions, and all of them as one key one after the other.
  for (const bool ascending : {true, false}) {
    std::string all;
    for (const KeyCase& c : KeyCases()) {
      SCOPED_TRACE(testing::Message()
                   << ColumnTypeName(c.type) << " " << base::ToUtf8(c.value.ToDisplayText())
                   << (ascending ? " ascending" : " descending"));
      std::string key;
      AppendKeyPiece(key, c.type, c.value, ascending);
      all += key;
      size_t pos = 0;
      EXPECT_EQ(DecodeKeyPiece(key, pos, c.type, ascending), c.decoded.value_or(c.value));
      EXPECT_EQ(pos, key.size());
    }
    size_t pos = 0;
    for (const KeyCase& c : KeyCases()) {
      EXPECT_EQ(DecodeKeyPiece(all, pos, c.type, ascending), c.decoded.value_or(c.value));
    }
    EXPECT_EQ(pos, all.size());
  }
}

TEST(FormatCodecTest, IndexKeysSortInValueOrder) {
  // Keys compare as unsigned bytes: ascending pieces in the order of the values (NULL
  // first), descending ones in the opposite order.
  const std::vector<KeyCase> cases = KeyCases();
  for (size_t i = 1; i < cases.size(); ++i) {
    const KeyCase& a = cases[i - 1];
    const KeyCase& b = cases[i];
    if (a.type != b.type || a.type == ColumnType::kText) continue;
    if (a.type == ColumnType::kBoolean && b.value.is_null()) continue;  // NULL is No
    SCOPED_TRACE(testing::Message() << ColumnTypeName(a.type) << " " << i);
    for (const bool ascending : {true, false}) {
      std::string key_a, key_b;
      AppendKeyPiece(key_a, a.type, a.value, ascending);
      AppendKeyPiece(key_b, b.type, b.value, ascending);
      EXPECT_EQ(key_a < key_b, ascending);
    }
  }
}

TEST(FormatCodecTest, DamagedIndexKeysAreCorrupt) {
  struct Case {
    ColumnType type;
    bool ascending;
    std::string key;
  };
  const std::vector<Case> cases = {
      {ColumnType::kLong, true, ""},
      {ColumnType::kLong, true, std::string("\x7F\x80\x00", 3)},          // cut short
      {ColumnType::kLong, true, std::string("\x80\x80\x00\x00\x01", 5)},  // descending flag
      {ColumnType::kLong, false, std::string("\x00", 1)},                 // ascending NULL
      {ColumnType::kBoolean, true, std::string("\x7F\x01", 2)},
      {ColumnType::kBoolean, true, std::string("\x00", 1)},               // Yes/No has no NULL
      {ColumnType::kText, true, std::string("\x7F\x4A\x4C", 3)},          // no end
      {ColumnType::kText, true, std::string("\x7F\x4B\x01\x00", 4)},      // unknown code
      {ColumnType::kText, true, std::string("\x7F\x2B\x01\x01\x00", 5)},  // bad second byte
      {ColumnType::kText, true, std::string("\x7F\x4A\x01\x02\x00", 5)},  // bad trailer start
      {ColumnType::kText, true,  // an apostrophe after the last character but one too far
       std::string("\x7F\x4A\x01\x01\x01\x01\x80\x0F\x06\x80\x00", 11)},
      {ColumnType::kText, true,  // position code not on the grid
       std::string("\x7F\x4A\x01\x01\x01\x01\x80\x08\x06\x80\x00", 11)},
      {ColumnType::kText, false, std::string("\x80\xB5\xFE\xFF", 4)},  // descending end missing
      {ColumnType::kMemo, true, std::string("\x7F\x00", 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << ColumnTypeName(c.type) << " " << testing::PrintToString(c.key));
    size_t pos = 0;
    EXPECT_THROW(DecodeKeyPiece(c.key, pos, c.type, c.ascending), Error);
  }
}

std::string LeafEntry(ColumnType type, const Value& value, uint32_t page, uint8_t row) {
  std::string key;
  AppendKeyPiece(key, type, value, true);
  return MakeLeafEntry(key, RowPointer{page, row});
}

TEST(FormatCodecTest, IndexPagesDecodeToWhatWasEncoded) {
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back(LeafEntry(ColumnType::kText,
                              Value::Text(u"customer " + base::FromUtf8(std::to_string(1000 + i))),
                              40, static_cast<uint8_t>(i)));
  }
  std::vector<std::string> numbers;
  for (int i = 0; i < 5; ++i)
    numbers.push_back(LeafEntry(ColumnType::kLong, Value::Integer(i), 9, 0));
  std::vector<std::string> children;
  for (uint32_t i = 0; i < 4; ++i) children.push_back(MakeNodeEntry(numbers[i], 100 + i));
  // Fills the page to the last byte.
  std::vector<std::string> full(kIndexEntryCapacity / 8, std::string(8, 'x'));
  for (size_t i = 0; i < full.size(); ++i) full[i][0] = static_cast<char>(i);
  struct Case {
    const char* name;
    IndexPageHeader header;
    std::vector<std::string> entries;
  };
  const std::vector<Case> cases = {
      {"empty leaf", {PageType::kIndexLeaf, 7, 0, 0, 0, 0}, {}},
      {"leaf, whole entries", {PageType::kIndexLeaf, 7, 21, 23, 0, 0}, numbers},
      {"leaf, shared prefix",
       {PageType::kIndexLeaf, 7, 0, 30, 0, 11},
       {names.begin(), names.begin() + 200}},
      {"leaf, one entry and a prefix", {PageType::kIndexLeaf, 7, 0, 0, 0, 3}, {numbers[2]}},
      {"leaf, full", {PageType::kIndexLeaf, 8, 1, 2, 0, 0}, full},
      {"node with tail", {PageType::kIndexNode, 7, 0, 0, 104, 0}, children},
      {"node, shared prefix", {PageType::kIndexNode, 7, 5, 6, 0, 3}, children},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes(kPageSize);
    EncodeIndexPage(c.header, c.entries, bytes);
    const IndexPage decoded = DecodeIndexPage(bytes, 50);
    EXPECT_EQ(decoded.header, c.header);
    EXPECT_EQ(decoded.entries, c.entries);
    const size_t used = IndexEntriesSize(c.entries, c.header.shared_prefix);
    EXPECT_EQ(ByteReader(bytes).U16(kIndexPageFreeSpaceOffset), kIndexEntryCapacity - used);
    if (c.header.type == PageType::kIndexNode) {
      for (size_t i = 0; i < decoded.entries.size(); ++i) {
        EXPECT_EQ(NodeEntryChild(decoded.entries[i], 50), 100 + i);
      }
    }
  }
  // Entries that cannot be laid out.
  std::vector<uint8_t> bytes(kPageSize);
  full.push_back("y");
  EXPECT_THROW(EncodeIndexPage({PageType::kIndexLeaf}, full, bytes), Error);
  EXPECT_THROW(EncodeIndexPage({PageType::kIndexLeaf, 0, 0, 0, 0, 9}, numbers, bytes), Error);
  EXPECT_THROW(EncodeIndexPage({PageType::kIndexLeaf}, {"a", ""}, bytes), Error);
  EXPECT_THROW(EncodeIndexPage({PageType::kData}, numbers, bytes), Error);
}

TEST(FormatCodecTest, DamagedIndexPagesAreCorrupt) {
  std::vector<uint8_t> good(kPageSize);
  EncodeIndexPage({PageType::kIndexLeaf, 7, 0, 0, 0, 2}, {std::string("abcd"), std::string("abef")},
                  good);
  struct Case {
    const char* name;
    size_t offset;
    uint8_t value;
  };
  const std::vector<Case> cases = {
      {"data page", 0, PageTypeByte(PageType::kData)},
      {"prefix longer than the first entry", kIndexPagePrefixOffset, 5},
      {"entry ending past the page", kIndexEntriesStart - 1, 0x80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = good;
    bytes[c.offset] = c.value;
    EXPECT_THROW(DecodeIndexPage(bytes, 3), Error);
  }
  EXPECT_THROW(NodeEntryChild("abc", 3), Error);
  EXPECT_THROW(DecodeIndexPage(std::span(good).first(100), 3), Error);
}

// The index pages of a real index: its tree from the root down, leaves and nodes.
void CollectIndexPages(Pager& pager, uint32_t page, std::set<uint32_t>& seen,
                       std::vector<std::pair<uint32_t, IndexPage>>& out) {
  if (page == 0 || page >= pager.page_count() || !seen.insert(page).second) return;
  IndexPage decoded = DecodeIndexPage(pager.Get(page)->bytes, page);
  std::vector<uint32_t> below;
  if (decoded.header.type == PageType::kIndexNode) {
    for (const std::string& e : decoded.entries) below.push_back(NodeEntryChild(e, page));
    below.push_back(decoded.header.tail_page);
  }
  out.emplace_back(page, std::move(decoded));
  for (uint32_t child : below) CollectIndexPages(pager, child, seen, out);
}

TEST(FormatCodecTest, RealIndexPagesSurviveEncoding) {
  // Every index page of the fixtures, most of them written by other programs with shared
  // prefixes: decoded, the entries are in key order; encoded again with the same fields, the
  // page's header, bitmap and entries come back byte for byte. The keys of the indexes over
  // numbers, dates and Yes/No decode piece by piece to the end of each entry.
  size_t pages = 0, prefixed = 0, nodes = 0, keys = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
    if (entry.path().extension() != ".mdb") continue;
    SCOPED_TRACE(entry.path().filename().string());
    Pager pager(OpenFileSource(entry.path()));
    std::set<uint32_t> seen;
    for (const CatalogEntry& object : ReadCatalog(pager)) {
      if (!object.is_table()) continue;
      const TableDefinition def = ReadTableDefinition(pager, object.definition_page());
      for (const RealIndex& index : def.real_indexes) {
        std::vector<std::pair<uint32_t, IndexPage>> tree;
        CollectIndexPages(pager, index.root_page, seen, tree);
        bool decodable = true;
        for (const auto& [column, ascending] : index.columns) {
          auto c = std::find_if(def.columns.begin(), def.columns.end(),
                                [&](const ColumnDefinition& d) { return d.number == column; });
          decodable = decodable && c != def.columns.end() &&
                      IsIndexableType(static_cast<ColumnType>(c->type)) &&
                      static_cast<ColumnType>(c->type) != ColumnType::kText;
        }
        for (const auto& [number, page] : tree) {
          SCOPED_TRACE(testing::Message() << "index page " << number);
          ++pages;
          if (page.header.shared_prefix > 0) ++prefixed;
          if (page.header.type == PageType::kIndexNode) ++nodes;
          EXPECT_TRUE(std::is_sorted(page.entries.begin(), page.entries.end()));
          const auto& stored = pager.Get(number)->bytes;
          std::vector<uint8_t> encoded(kPageSize);
          EncodeIndexPage(page, encoded);
          const size_t end =
              kIndexEntriesStart + IndexEntriesSize(page.entries, page.header.shared_prefix);
          // Bytes 8-11 and 26 carry nothing this layer knows; past the entries lies free space.
          EXPECT_TRUE(std::equal(encoded.begin(), encoded.begin() + 8, stored.begin()));
          EXPECT_TRUE(std::equal(encoded.begin() + 12, encoded.begin() + 26, stored.begin() + 12));
          EXPECT_TRUE(std::equal(encoded.begin() + kIndexPageBitmapOffset,
                                 encoded.begin() + static_cast<std::ptrdiff_t>(end),
                                 stored.begin() + kIndexPageBitmapOffset));
          if (!decodable || page.header.type != PageType::kIndexLeaf) continue;
          for (const std::string& e : page.entries) {
            const std::string_view key =
                std::string_view(e).substr(0, e.size() - kLeafEntryRowSize);
            size_t pos = 0;
            for (const auto& [column, ascending] : index.columns) {
              auto c = std::find_if(def.columns.begin(), def.columns.end(),
                                    [&](const ColumnDefinition& d) { return d.number == column; });
              DecodeKeyPiece(key, pos, static_cast<ColumnType>(c->type), ascending);
            }
            EXPECT_EQ(pos, key.size());
            ++keys;
          }
        }
      }
    }
  }
  EXPECT_GT(pages, 100u);
  EXPECT_GT(prefixed, 0u);
  EXPECT_GT(nodes, 0u);
  EXPECT_GT(keys, 1000u);
}

}  // namespace
}  // namespace jet::format
