// Time of the keyword query, the statement the main window runs on every keystroke: three
// LIKE conditions OR-ed over the project table's text fields.
//
//   jet_keyword_bench [ROWS] [FOLDER]
//
// 1. The condition alone, bound once and tested on ROWS generated rows in memory (Japanese
//    and ASCII titles and file names, passwords, some NULLs), for several keywords.
//    ORDER BY over the same rows.
// 2. The whole query through a dataset (parse, read every row from the file, filter) on the
//    largest table at hand: a generated database of ROWS project rows written by the engine
//    in FOLDER, and the 1,000-row fixture.
//
// Every figure is the median of 5 runs of its work.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "base/utf.h"
#include "jet/jet.h"
#include "jet/sql.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

constexpr int kRuns = 5;

// The median of the runs' times (each work is timed kRuns times; the machine may be shared).
double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const size_t middle = times.size() / 2;
  return times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

std::u16string Number(int i) { return base::FromUtf8(std::to_string(i)); }

jet::Field TextField(std::u16string name) {
  jet::Field f;
  f.name = std::move(name);
  f.type = jet::TFieldType::ftWideString;
  f.column_type = jet::ColumnType::kText;
  f.size = 510;
  return f;
}

std::vector<jet::Field> ProjectFields() {
  jet::Field id;
  id.name = u"ID";
  id.type = jet::TFieldType::ftInteger;
  id.column_type = jet::ColumnType::kLong;
  id.size = 4;
  return {id, TextField(u"TITLE"), TextField(u"FILENAME"), TextField(u"PASSWORD")};
}

const char16_t* const kPlaces[] = {u"東京都",     u"大阪府", u"北海道", u"Sapporo",
                                   u"Nagoya-shi", u"ｶﾅｶﾞﾜ",  u"京都府", u"Fukuoka"};

std::u16string Title(int i) {
  return std::u16string(kPlaces[i % 8]) + u" 道路台帳 第" + Number(i % 97) + u"期 Survey #" +
         Number(i);
}
std::u16string FileName(int i) {
  return u"C:\\GIS\\projects\\" + std::u16string(kPlaces[(i / 8) % 8]) + u"\\project_" + Number(i) +
         u".qvp";
}

// The clause the keyword filter builds for the three searched fields.
std::u16string KeywordQuery(const std::u16string& keyword) {
  std::u16string clause = u"SELECT * FROM T_projectMain WHERE ( ";
  const char16_t* fields[] = {u"TITLE", u"FILENAME", u"PASSWORD"};
  for (int i = 0; i < 3; ++i) {
    if (i) clause += u" OR ";
    clause += u"([" + std::u16string(fields[i]) + u"] Like \"%" + keyword + u"%\")";
  }
  return clause + u" )  ";
}

const char16_t* const kKeywords[] = {u"a", u"survey", u"SURVEY #9999", u"東京", u"nothing-like-it",
                                     u"_", u"[0-9]5", u"p%q"};

void InMemory(int rows) {
  const std::vector<jet::Field> fields = ProjectFields();
  std::vector<std::vector<jet::Value>> table;
  table.reserve(static_cast<size_t>(rows));
  for (int i = 1; i <= rows; ++i) {
    table.push_back({jet::Value::Integer(i), jet::Value::Text(Title(i)),
                     i % 50 == 0 ? jet::Value() : jet::Value::Text(FileName(i)),
                     i % 3 == 0 ? jet::Value() : jet::Value::Text(u"pw" + Number(i))});
  }
  std::printf("condition only, %d rows in memory:\n", rows);
  for (const char16_t* keyword : kKeywords) {
    const auto statement = jet::sql::Parse(KeywordQuery(keyword));
    const auto& select = std::get<jet::sql::SelectStatement>(statement);
    const jet::sql::Predicate predicate(select.where.get(), fields);
    int matched = 0;
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
      matched = 0;
      const auto start = Clock::now();
      for (const auto& row : table) matched += predicate.Matches(row) ? 1 : 0;
      times.push_back(Seconds(start));
    }
    const double seconds = Median(times);
    std::printf("  %-20s %8d matches  %8.3f ms  %6.1f ns/row\n", base::ToUtf8(keyword).c_str(),
                matched, seconds * 1e3, seconds * 1e9 / rows);
  }
}

// ORDER BY over the same rows: numbers, texts without case, and two terms.
void Sorting(int rows) {
  const std::vector<jet::Field> fields = ProjectFields();
  std::vector<std::vector<jet::Value>> table;
  table.reserve(static_cast<size_t>(rows));
  for (int i = 1; i <= rows; ++i) {
    const int scrambled = static_cast<int>((static_cast<int64_t>(i) * 7919) % rows);
    table.push_back({jet::Value::Integer(scrambled), jet::Value::Text(Title(scrambled)),
                     i % 50 == 0 ? jet::Value() : jet::Value::Text(FileName(i)),
                     i % 3 == 0 ? jet::Value() : jet::Value::Text(u"pw" + Number(i))});
  }
  std::printf("ORDER BY, %d rows in memory:\n", rows);
  const std::vector<std::vector<jet::sql::OrderTerm>> orders = {
      {{u"ID", false}}, {{u"TITLE", false}}, {{u"PASSWORD", true}, {u"ID", false}}};
  const char* labels[] = {"ID", "TITLE", "PASSWORD DESC, ID"};
  for (size_t i = 0; i < orders.size(); ++i) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
      auto copy = table;
      const auto start = Clock::now();
      jet::sql::SortRows(copy, orders[i], fields);
      times.push_back(Seconds(start));
    }
    const double seconds = Median(times);
    std::printf("  %-20s %8.3f ms  %6.1f ns/row\n", labels[i], seconds * 1e3, seconds * 1e9 / rows);
  }
}

void ThroughDataset(const std::filesystem::path& file, const char* label) {
  jet::Connection connection;
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(file.string()) + u";");
  connection.Open();
  jet::Dataset dataset(&connection);
  dataset.SetCommandText(u"SELECT * FROM T_projectMain  ");
  dataset.Open();
  const int64_t total = dataset.record_count();
  std::printf("whole query through a dataset, %s (%lld rows):\n", label,
              static_cast<long long>(total));
  for (const char16_t* keyword : kKeywords) {
    dataset.SetCommandText(KeywordQuery(keyword));
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
      const auto start = Clock::now();
      dataset.Open();
      times.push_back(Seconds(start));
    }
    const double seconds = Median(times);
    std::printf("  %-20s %8lld matches  %8.3f ms  %6.1f ns/row\n", base::ToUtf8(keyword).c_str(),
                static_cast<long long>(dataset.record_count()), seconds * 1e3,
                seconds * 1e9 / static_cast<double>(total));
  }
}

void Generate(const std::filesystem::path& file, int rows) {
  jet::CreateDatabase(file);
  jet::Connection connection;
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(file.string()) + u";");
  connection.Open();
  connection.Execute(
      u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] "
      u"VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));");
  connection.BeginTrans();
  jet::Dataset dataset(&connection);
  dataset.SetCommandText(u"SELECT * FROM T_projectMain  ");
  dataset.Open();
  for (int i = 1; i <= rows; ++i) {
    dataset.Append();
    dataset.SetFieldValue(u"ID", jet::Value::Integer(i));
    dataset.SetFieldValue(u"TITLE", jet::Value::Text(Title(i)));
    if (i % 50 != 0) dataset.SetFieldValue(u"FILENAME", jet::Value::Text(FileName(i)));
    if (i % 3 != 0) dataset.SetFieldValue(u"PASSWORD", jet::Value::Text(u"pw" + Number(i)));
    dataset.Post();
  }
  connection.CommitTrans();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::temp_directory_path() / "jet_keyword_bench";
  try {
    InMemory(rows);
    Sorting(rows);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "in memory: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::filesystem::path generated = folder / "projects.mdb";
  try {
    const auto start = Clock::now();
    Generate(generated, rows);
    std::printf("generated %d rows in %.3f s\n", rows, Seconds(start));
    ThroughDataset(generated, "generated file");
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "generated file: %s\n", e.what());
  }
  const std::filesystem::path fixture = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4" /
                                        "generated-jackcess-T_projectMain-1000.mdb";
  try {
    if (std::filesystem::exists(fixture)) ThroughDataset(fixture, "fixture");
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "fixture: %s\n", e.what());
  }
  std::filesystem::remove_all(folder);
  return 0;
}
