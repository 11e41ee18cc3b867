// Rows, texts, table definitions and long-value fields encoded by jet/format and read back by
// the same layer's decoders: what the writer stores is what the reader finds.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/long_value.h"
#include "jet/format/page_source.h"
#include "jet/format/pager.h"
#include "jet/format/record.h"
#include "jet/format/table_definition.h"
#include "jet/format/text.h"
#include "jet/jet.h"

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

}  // namespace
}  // namespace jet::format
