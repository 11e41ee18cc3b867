// Files written by jetsql --create read back identically through our reader, through the
// independent reader mdb-reader (npm) and through mdbtools' mdb-export, and pass the
// consistency check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/json.h"
#include "jet/write/database_file.h"
#include "tests/jet/write_support.h"

namespace jet::write_test {
namespace {

const char16_t kCreate[] =
    u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] VARCHAR(255),"
    u"[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255),[SCORE] Float,[COUNT] Integer,"
    u"[UPDATED] Datetime,[DONE] Boolean,[NOTE] MEMO);";

// Days since 1899-12-30, Jet's way: the time of day counts forward even for negative days.
double OleDate(int y, int m, int d, int hh, int mm, int ss) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const double days = era * 146097.0 + doe - 719468 + 25569;
  const double t = (hh * 3600 + mm * 60 + ss) / 86400.0;
  return days >= 0 ? days + t : days - t;
}

struct Cell {
  std::u16string sql;  // the literal in the INSERT statement
  Value value;         // what must be read back
};

Cell Text(std::u16string s) {
  std::u16string lit = u"\"";
  for (char16_t c : s) {
    lit.push_back(c);
    if (c == u'"') lit.push_back(u'"');
  }
  return {lit + u"\"", Value::Text(std::move(s))};
}
Cell Null() { return {u"NULL", Value()}; }
Cell Long(int64_t v) { return {base::FromUtf8(std::to_string(v)), Value::Integer(v)}; }
Cell Double(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return {base::FromUtf8(buf), Value::Double(v)};
}
Cell Date(int y, int m, int d, int hh, int mm, int ss) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02d %02d:%02d:%02d\"", y, m, d, hh, mm, ss);
  return {base::FromUtf8(buf), Value::FromDateTime({OleDate(y, m, d, hh, mm, ss)})};
}
Cell Bool(int v) {  // 1 yes, 0 no, -1 not given (Yes/No has no NULL: No)
  if (v < 0) return {u"NULL", Value::Boolean(false)};
  return {v ? u"TRUE" : u"FALSE", Value::Boolean(v != 0)};
}

std::u16string Repeat(std::u16string_view unit, size_t length) {
  std::u16string s;
  while (s.size() < length) s += unit;
  s.resize(length);
  return s;
}

std::vector<Cell> MakeRow(int i) {
  std::vector<Cell> row;
  const std::u16string n = base::FromUtf8(std::to_string(i));
  row.push_back(i == 0   ? Long(-2147483648LL)
                : i == 1 ? Long(2147483647)
                : i == 2 ? Long(0)
                         : Long(10 + (i * 7919LL) % 5000));
  switch (i % 6) {
    case 0:
      row.push_back(Text(u"漢字かなカナｶﾀｶﾅ第" + n + u"号"));
      break;
    case 1:
      row.push_back(Text(u""));
      break;
    case 2:
      row.push_back(Null());
      break;
    case 3:
      row.push_back(Text(Repeat(u"あいうえおABC", 255)));
      break;
    case 4:
      row.push_back(Text(u"Title \"quoted\", comma; 100% _x_ [y] " + n));
      break;
    default:
      row.push_back(Text(u"Ä Ö ü £ ¥ " + n));
      break;
  }
  row.push_back(i % 4 == 0 ? Null() : Text(u"C:\\projects\\ファイル_" + n + u".dat"));
  row.push_back(i % 3 == 0 ? Null() : i % 3 == 1 ? Text(u"") : Text(u"pw" + n));
  switch (i % 7) {
    case 0:
      row.push_back(Double(0));
      break;
    case 1:
      row.push_back(Double(-1.5));
      break;
    case 2:
      row.push_back(Double(1.7976931348623157e308));
      break;
    case 3:
      row.push_back(Double(-2.2250738585072014e-308));
      break;
    case 4:
      row.push_back(Double(3.141592653589793));
      break;
    case 5:
      row.push_back(Null());
      break;
    default:
      row.push_back(Double(i / 3.0));
      break;
  }
  switch (i % 5) {
    case 0:
      row.push_back(Long(-2147483648LL));
      break;
    case 1:
      row.push_back(Long(2147483647));
      break;
    case 2:
      row.push_back(Long(0));
      break;
    case 3:
      row.push_back(Null());
      break;
    default:
      row.push_back(Long(i));
      break;
  }
  switch (i % 8) {
    case 0:
      row.push_back(Date(1850, 3, 4, 5, 6, 7));
      break;
    case 1:
      row.push_back(Date(2150, 12, 31, 23, 59, 59));
      break;
    case 2:
      row.push_back(Date(1899, 12, 30, 0, 0, 0));
      break;
    case 3:
      row.push_back(Date(1600, 1, 1, 0, 0, 0));
      break;
    case 4:
      row.push_back(Date(2024, 2, 29, 8, 30, 0));
      break;
    case 5:
      row.push_back(Null());
      break;
    case 6:
      row.push_back(Date(1899, 12, 29, 18, 0, 0));
      break;
    default:
      row.push_back(Date(9999, 12, 31, 23, 59, 59));
      break;
  }
  row.push_back(Bool(i % 3 == 0 ? 1 : i % 3 == 1 ? 0 : -1));
  if (i == 100) {
    row.push_back(Text(Repeat(u"The quick brown fox 0123456789. ", 200000)));
  } else if (i == 4000) {
    row.push_back(Text(Repeat(u"長い文章のメモです。", 200000)));
  } else if (i % 50 == 1) {
    row.push_back(Text(Repeat(i % 100 == 1 ? u"メモ" : u"memo ", 5000)));
  } else if (i % 50 == 7) {
    row.push_back(Text(Repeat(u"中くらいのメモ ", 1000)));  // one LVAL row
  } else if (i % 10 == 2) {
    row.push_back(Text(i % 20 == 2 ? u"メモ01234567" : u"0123456789"));
  } else if (i % 10 == 3) {
    row.push_back(Text(u""));
  } else {
    row.push_back(Null());
  }
  return row;
}

// mdb-reader turns a Date/Time into one signed millisecond count, which is wrong for Jet's
// negative dates with a time of day; for those cells we compute what it makes of the same
// stored double (as the reader's own oracle test does).
std::string MdbReaderView(const Value& v) {
  if (v.kind() != Value::Kind::kDateTime || v.date_time().ole >= 0 ||
      v.date_time().ole == std::trunc(v.date_time().ole)) {
    return json::FromValue(v);
  }
  const auto ms = static_cast<int64_t>(std::llround((v.date_time().ole - 25569) * 86400000.0));
  const int64_t day = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  const int64_t in_day = ms - day * 86400000;
  // Civil date of a day count since 1970-01-01.
  const int64_t z = day + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "\"%04lld-%02lld-%02lldT%02lld:%02lld:%02lld\"",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(in_day / 3600000),
                static_cast<long long>(in_day / 60000 % 60),
                static_cast<long long>(in_day / 1000 % 60));
  return buf;
}

// Where two long texts part, to keep failure messages short.
std::string Difference(const Value& a, const Value& b) {
  if (a.kind() != Value::Kind::kText || b.kind() != Value::Kind::kText) return "";
  const std::u16string& x = a.text();
  const std::u16string& y = b.text();
  size_t i = 0;
  while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
  return "lengths " + std::to_string(x.size()) + " and " + std::to_string(y.size()) +
         ", first difference at " + std::to_string(i);
}

std::vector<std::string> ParseCsvLine(const std::string& line) {
  std::vector<std::string> out;
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cell.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell.push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.push_back(cell);
      cell.clear();
    } else {
      cell.push_back(c);
    }
  }
  out.push_back(cell);
  return out;
}

TEST(WriteRoundTripTest, FiveThousandRowsReadBackIdenticallyEverywhere) {
  ASSERT_TRUE(std::filesystem::exists(kJetsql)) << kJetsql;
  TempDir dir;
  const auto db_path = dir / "roundtrip.mdb";
  const auto list = dir / "statements.sql";
  constexpr int kRows = 5000;
  std::vector<std::vector<Cell>> rows;
  {
    std::ofstream out(list, std::ios::binary);
    out << base::ToUtf8(kCreate) << "\n";
    for (int i = 0; i < kRows; ++i) {
      rows.push_back(MakeRow(i));
      std::u16string sql = u"INSERT INTO T_projectMain VALUES (";
      for (size_t c = 0; c < rows.back().size(); ++c) sql += (c ? u"," : u"") + rows.back()[c].sql;
      out << base::ToUtf8(sql + u")") << "\n";
    }
    // A duplicate key is refused; the statements after it still run.
    out << "INSERT INTO T_projectMain (ID, TITLE) VALUES (0, \"duplicate\")\n";
    out << "INSERT INTO T_projectMain (ID, TITLE) VALUES (999999, \"after the duplicate\")\n";
  }
  std::vector<Cell> last = {
      Long(999999), Text(u"after the duplicate"), Null(), Null(), Null(), Null(), Null(), Bool(-1),
      Null()};
  rows.push_back(last);

  CommandResult create = RunCommand(Quote(kJetsql) + " --create " + Quote(db_path) + " @" +
                                    Quote(list) + " 2>" + Quote(dir / "stderr.txt"));
  EXPECT_EQ(create.status, 1) << "the duplicate makes the run fail";
  std::string errors;
  {
    std::ifstream in(dir / "stderr.txt");
    errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_EQ(Lines(errors).size(), 1u) << errors;

  CommandResult check = RunCommand(Quote(kJetsql) + " --check " + Quote(db_path));
  EXPECT_EQ(check.status, 0) << check.out;

  // Our reader.
  auto db = Database::Open(db_path);
  TableData data = db->ReadTable(u"T_projectMain");
  ASSERT_EQ(data.rows.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      ASSERT_EQ(data.rows[r][c], rows[r][c].value) << "row " << r << " column " << c << ": "
                                                   << Difference(data.rows[r][c], rows[r][c].value);
    }
  }

  if (!kLinuxReadersRun) GTEST_SKIP() << "our reader agrees; " << kNoLinuxReaders;
  // mdb-reader.
  ASSERT_TRUE(std::filesystem::exists(kOracle / "node_modules" / "mdb-reader"));
  CommandResult oracle =
      RunCommand("node " + Quote(kOracle / "dump.mjs") + " " + Quote(db_path) + " T_projectMain");
  ASSERT_EQ(oracle.status, 0);
  std::vector<std::string> lines = Lines(oracle.out);
  ASSERT_EQ(lines.size(), rows.size() + 1);
  EXPECT_EQ(lines[0], json::Fields(data.fields));
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string expected = "[";
    for (size_t c = 0; c < rows[r].size(); ++c) {
      expected += (c ? "," : "") + MdbReaderView(rows[r][c].value);
    }
    ASSERT_EQ(lines[r + 1], expected + "]") << "row " << r;
  }

  // mdbtools (which prints a zero-length text like NULL, cuts memos at 199,999 bytes of
  // UTF-8, and prints no full-precision numbers or dates outside 1900–9998): keys, texts,
  // integers, Yes/No and memos.
  constexpr size_t kMdbtoolsMemoLimit = 199999;
  CommandResult csv = RunCommand("mdb-export " + Quote(db_path) + " T_projectMain");
  ASSERT_EQ(csv.status, 0);
  std::vector<std::string> csv_lines = Lines(csv.out);
  ASSERT_EQ(csv_lines.size(), rows.size() + 1);
  for (size_t r = 0; r < rows.size(); ++r) {
    std::vector<std::string> cells = ParseCsvLine(csv_lines[r + 1]);
    ASSERT_EQ(cells.size(), 9u) << "row " << r;
    for (size_t c : {0u, 1u, 2u, 3u, 5u, 8u}) {
      const Value& v = rows[r][c].value;
      std::string expected = v.is_null()                      ? ""
                             : v.kind() == Value::Kind::kText ? base::ToUtf8(v.text())
                                                              : std::to_string(v.integer());
      if (c == 8 && expected.size() >= kMdbtoolsMemoLimit) {
        // mdbtools hands out at most 199,999 bytes of a memo: the start must match.
        ASSERT_GE(cells[c].size(), kMdbtoolsMemoLimit - 4) << "row " << r;
        ASSERT_EQ(cells[c], expected.substr(0, cells[c].size())) << "row " << r;
        continue;
      }
      ASSERT_EQ(cells[c], expected) << "row " << r << " column " << c;
    }
    EXPECT_EQ(cells[7], rows[r][7].value.boolean() ? "1" : "0") << "row " << r;
  }
}

TEST(WriteRoundTripTest, TwoHundredThousandRows) {
  TempDir dir;
  const auto path = dir / "big.mdb";
  constexpr int kRows = 200000;
  {
    auto file = write::DatabaseFile::Create(path, 45000.5);
    write::TableSpec spec = write::TableSpecFromStatement(std::get<sql::CreateTableStatement>(
        sql::Parse(u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
                   u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));")));
    file->CreateTable(spec, 45000.5);
    for (int i = 0; i < kRows; ++i) {
      // Keys arrive out of order in blocks, so that leaves split in the middle too.
      int id = (i % 2 == 0) ? i : kRows * 2 - i;
      file->InsertRow(
          u"T_projectMain",
          {Value::Integer(id), Value::Text(u"題名 " + base::FromUtf8(std::to_string(i))),
           i % 3 ? std::optional<Value>(Value::Text(u"C:\\data\\f.dat")) : std::nullopt,
           std::nullopt});
      if (i % 50000 == 0) file->Flush();  // flushes in between keep the file consistent too
    }
    file->Flush();
  }
  auto result = check::CheckDatabase(path);
  for (size_t i = 0; i < result.problems.size() && i < 10; ++i) ADD_FAILURE() << result.problems[i];
  EXPECT_EQ(result.rows, kRows + 9 + 18);  // plus the catalogue's rows

  auto db = Database::Open(path);
  TableData data = db->ReadTable(u"T_projectMain");
  ASSERT_EQ(data.rows.size(), static_cast<size_t>(kRows));
  EXPECT_EQ(data.rows[kRows - 1][1],
            Value::Text(u"題名 " + base::FromUtf8(std::to_string(kRows - 1))));

  if (!kLinuxReadersRun) GTEST_SKIP() << "our reader agrees; " << kNoLinuxReaders;
  CommandResult csv = RunCommand("mdb-export " + Quote(path) + " T_projectMain | wc -l");
  EXPECT_EQ(csv.out, std::to_string(kRows + 1) + "\n");
  CommandResult oracle = RunCommand("node " + Quote(kOracle / "dump.mjs") + " " + Quote(path) +
                                    " T_projectMain | tail -n 1");
  EXPECT_EQ(oracle.out, json::Row(data.rows.back()) + "\n");
}

// Every column type the writer creates, with values at their limits, long values in all
// three forms and compressed text, reads back the same through our reader and mdb-reader.
TEST(WriteRoundTripTest, EveryTypeReadsBack) {
  TempDir dir;
  const auto path = dir / "types.mdb";
  const char16_t create[] =
      u"CREATE TABLE T_types (K COUNTER CONSTRAINT pk PRIMARY KEY, B BYTE, S SMALLINT, L LONG, "
      u"F SINGLE, D DOUBLE, C CURRENCY, T DATETIME, Y BIT, G GUID, X TEXT(20) WITH COMPRESSION, "
      u"N CHAR(10), M MEMO WITH COMP, O LONGBINARY, V VARBINARY(16))";
  std::vector<std::vector<Value>> expected;
  {
    auto file = write::DatabaseFile::Create(path, 45000);
    file->CreateTable(
        write::TableSpecFromStatement(std::get<sql::CreateTableStatement>(sql::Parse(create))),
        45000);
    auto bytes = [](size_t n) {
      Bytes b(n);
      for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
      return b;
    };
    std::vector<std::vector<std::optional<Value>>> rows = {
        {std::nullopt, Value::Integer(0), Value::Integer(-32768), Value::Integer(-2147483648LL),
         Value::Double(-3.5), Value::Double(-1e-300), Value::FromCurrency({-9223372036854775807LL}),
         Value::FromDateTime({-657434.0}), Value::Boolean(true),
         Value::FromGuid(Guid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
         Value::Text(u"abc compressed"), Value::Text(u"固定"),
         Value::Text(std::u16string(3000, u'a')), Value::Binary(bytes(30)),
         Value::Binary(bytes(16))},
        {std::nullopt, Value::Integer(255), Value::Integer(32767), Value::Integer(2147483647),
         Value::Double(3.4028234663852886e38), Value::Double(1.7976931348623157e308),
         Value::FromCurrency({9223372036854775807LL}), Value::FromDateTime({2958465.99998843}),
         Value::Boolean(false), std::nullopt, Value::Text(u"ab"), Value::Text(u""),
         Value::Text(std::u16string(1500, u'メ')), Value::Binary(bytes(3000)), Value::Binary({})},
        {Value::Integer(100), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt, std::nullopt, Value::Text(u"\uFEFFmarker"),
         std::nullopt, Value::Text(std::u16string(9000, u'x')), Value::Binary(bytes(20000)),
         std::nullopt},
        {std::nullopt, Value::Integer(1), Value::Integer(2), Value::Integer(3), Value::Double(4),
         Value::Double(5), Value::FromCurrency({60000}), Value::FromDateTime({45000.25}),
         Value::Boolean(true), std::nullopt, Value::Text(u"Ärger über Öl"), Value::Text(u"x"),
         Value::Text(u""), Value::Binary({}), std::nullopt},
    };
    for (auto& r : rows) expected.push_back(file->InsertRow(u"T_types", r));
    file->Flush();
  }
  EXPECT_EQ(expected[0][0], Value::Integer(1));
  EXPECT_EQ(expected[1][0], Value::Integer(2));
  EXPECT_EQ(expected[3][0], Value::Integer(101)) << "the counter continues after a given value";

  auto result = check::CheckDatabase(path);
  for (const auto& p : result.problems) ADD_FAILURE() << p;
  auto db = Database::Open(path);
  TableData data = db->ReadTable(u"T_types");
  ASSERT_EQ(data.rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) {
    for (size_t c = 0; c < expected[r].size(); ++c) {
      EXPECT_EQ(data.rows[r][c], expected[r][c]) << "row " << r << " column " << c;
    }
  }
  if (!kLinuxReadersRun) GTEST_SKIP() << "our reader agrees; " << kNoLinuxReaders;
  CommandResult oracle =
      RunCommand("node " + Quote(kOracle / "dump.mjs") + " " + Quote(path) + " T_types");
  ASSERT_EQ(oracle.status, 0);
  std::vector<std::string> lines = Lines(oracle.out);
  ASSERT_EQ(lines.size(), expected.size() + 1);
  EXPECT_EQ(lines[0], json::Fields(data.fields));
  for (size_t r = 0; r < expected.size(); ++r) {
    std::string want = "[";
    for (size_t c = 0; c < expected[r].size(); ++c)
      want += (c ? "," : "") + MdbReaderView(expected[r][c]);
    EXPECT_EQ(lines[r + 1], want + "]") << "row " << r;
  }
}

}  // namespace
}  // namespace jet::write_test
