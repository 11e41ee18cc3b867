// Every user table of every Jet fixture reads exactly as the independent reader mdb-reader
// (npm, version pinned in tests/oracle/package.json) reads it: the same table names, fields,
// types, rows and values. The expected text comes from tests/oracle/dump.mjs, which runs
// mdb-reader and prints its findings in jetsql's value conventions; our side prints the same
// conventions through jet/json.h, and the lines are compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/database.h"
#include "jet/jet.h"
#include "jet/json.h"
#include "tests/jet/write_support.h"

namespace jet {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
const std::filesystem::path kOracle =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "oracle";

// Runs the oracle and returns its output split at "\n" (only there: texts may hold U+2028).
std::vector<std::string> RunOracle(const std::filesystem::path& file, const std::string& table) {
  std::string command = "node '" + (kOracle / "dump.mjs").string() + "' '" + file.string() + "'";
  if (!table.empty()) command += " '" + table + "'";
  const write_test::CommandResult result = write_test::RunCommand(command);
  EXPECT_EQ(result.status, 0) << command;
  const std::string& out = result.out;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(out.substr(start, nl - start));
  }
  return lines;
}

// mdb-reader 3.2 turns a Date/Time into milliseconds as one signed number,
// (value − 25569) × 86 400 000. Jet stores dates before 1899-12-30 as a negative day count
// with a positive fraction for the time of day, so for those values with a time of day
// mdb-reader is wrong (Jackcess agrees with our reading). For such cells the comparison uses
// what mdb-reader makes of the same stored double, which still proves we read the same bytes.
std::string MdbReaderDate(double ole) {
  const auto ms = static_cast<int64_t>(std::llround((ole - 25569) * 86400000.0));
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  const int64_t in_day = ms - days * 86400000;
  // Civil date from days since 1970-01-01.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "\"%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(in_day / 3600000),
                static_cast<long long>(in_day / 60000 % 60),
                static_cast<long long>(in_day / 1000 % 60));
  std::string out = buffer;
  if (in_day % 1000 != 0) {
    std::snprintf(buffer, sizeof buffer, ".%03lld", static_cast<long long>(in_day % 1000));
    out += buffer;
  }
  return out + "\"";
}

bool HasNegativeDateWithTime(const Value& v) {
  return v.kind() == Value::Kind::kDateTime && v.date_time().ole < 0 &&
         v.date_time().ole != std::trunc(v.date_time().ole);
}

std::string RowAsMdbReaderSees(const std::vector<Value>& row) {
  std::string out = "[";
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) out += ',';
    out += HasNegativeDateWithTime(row[i]) ? MdbReaderDate(row[i].date_time().ole)
                                           : json::FromValue(row[i]);
  }
  return out + "]";
}

// Rows moved by an update (overflow rows): mdb-reader returns a moved row where its body
// lies, we return it at its original slot (as Jackcess does). The set of rows is the same.
bool ComparedAsSet(const std::string& file) { return file == "jackcess-overflowTestV2000.mdb"; }

std::vector<std::string> Fixtures() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
    if (entry.path().extension() == ".mdb") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class OracleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(OracleTest, EveryUserTableReadsAsMdbReaderReadsIt) {
  if (!write_test::kLinuxReadersRun) GTEST_SKIP() << write_test::kNoLinuxReaders;
  ASSERT_TRUE(std::filesystem::exists(kOracle / "node_modules" / "mdb-reader"))
      << "mdb-reader is not installed: run scripts/setup";
  const std::filesystem::path file = kFixtures / GetParam();
  auto db = Database::Open(file);

  const std::vector<std::string> names_line = RunOracle(file, "");
  ASSERT_EQ(names_line.size(), 1u);
  std::string ours = "[";
  for (const auto& name : db->TableNames()) {
    if (ours.size() > 1) ours += ',';
    ours += json::Quote(name);
  }
  EXPECT_EQ(ours + "]", names_line[0]);

  for (const auto& name : db->TableNames()) {
    SCOPED_TRACE(base::ToUtf8(name));
    std::vector<std::string> expected = RunOracle(file, base::ToUtf8(name));
    ASSERT_FALSE(expected.empty());
    const TableData data = db->ReadTable(name);
    EXPECT_EQ(json::Fields(data.fields), expected[0]);
    expected.erase(expected.begin());
    std::vector<std::string> actual;
    for (const auto& row : data.rows) actual.push_back(RowAsMdbReaderSees(row));
    if (ComparedAsSet(GetParam())) {
      std::sort(expected.begin(), expected.end());
      std::sort(actual.begin(), actual.end());
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "row " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OracleTest, ::testing::ValuesIn(Fixtures()),
                         [](const auto& param_info) {
                           std::string name = param_info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// The reading that differs from mdb-reader above: a negative day count with a positive time
// of day (Jet's own form) is the day before 1899-12-30 at that time.
TEST(OracleTest, NegativeDatesCountTheTimeForwardFromMidnight) {
  EXPECT_EQ(DateTime{-1.25}.ToIsoString(), "1899-12-29T06:00:00");
  EXPECT_EQ(MdbReaderDate(-1.25), "\"1899-12-28T18:00:00\"");
}

}  // namespace
}  // namespace jet
