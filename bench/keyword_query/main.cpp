// Prints how long the keyword query of the main window takes, per row:
//   SELECT * FROM t WHERE ( ([A] Like "%kw%") OR ([B] Like "%kw%") OR ([C] Like "%kw%") )
// on the largest table among the Jet fixtures, and on a project table generated with the
// engine's writer (default 100 000 rows; the first argument changes the number).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/jet.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
  std::filesystem::path file;
  std::u16string table;
  std::vector<std::u16string> text_fields;  // the first three text fields
  int64_t rows = 0;
};

std::u16string KeywordQuery(const Target& t, std::u16string_view keyword) {
  std::u16string where;
  for (const auto& field : t.text_fields) {
    where += (where.empty() ? u"WHERE ( " : u" OR ");
    where += u"([" + field + u"] Like \"%" + std::u16string(keyword) + u"%\")";
  }
  return u"SELECT * FROM [" + t.table + u"] " + where + u" )";
}

// Opens every user table of the file and keeps the one with the most rows that has at least
// one text field.
void ConsiderFile(const std::filesystem::path& file, Target& best) {
  try {
    jet::Connection connection;
    connection.SetConnectionString(u"Data Source=" + base::FromUtf8(file.string()));
    connection.Open();
    for (const auto& table : connection.TableNames()) {
      jet::Dataset ds(&connection);
      ds.SetCommandText(u"SELECT * FROM [" + table + u"]");
      ds.Open();
      std::vector<std::u16string> texts;
      for (const auto& f : ds.fields()) {
        if (f.type == jet::TFieldType::ftWideString && texts.size() < 3) texts.push_back(f.name);
      }
      if (!texts.empty() && ds.record_count() > best.rows) {
        best = Target{file, table, texts, ds.record_count()};
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skipping %s: %s\n", file.c_str(), e.what());
  }
}

// Builds a T_projectMain of `rows` rows with the engine's writer.
bool Generate(const std::filesystem::path& file, int64_t rows) {
  try {
    std::filesystem::remove(file);
    jet::CreateDatabase(file);
    jet::Connection connection;
    connection.SetConnectionString(u"Data Source=" + base::FromUtf8(file.string()));
    connection.Open();
    connection.Execute(
        u"CREATE TABLE T_projectMain (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
        u"TITLE TEXT(255), FILENAME TEXT(255), PASSWORD TEXT(255))");
    connection.BeginTrans();
    static const char16_t* const kWords[] = {
        u"東京都 道路台帳", u"大阪府 河川調査",   u"Sample",
        u"ｶﾀｶﾅ ﾃｽﾄ",        u"下水道 管路 第3期", u"Bridge survey"};
    for (int64_t id = 1; id <= rows; ++id) {
      const std::u16string n = base::FromUtf8(std::to_string(id));
      connection.Execute(u"INSERT INTO T_projectMain VALUES (" + n + u", \"" + kWords[id % 6] +
                         u" " + n + u"\", \"C:\\Data\\案件" + n + u"\\project.dat\", \"" +
                         (id % 3 ? u"" : u"pw" + n) + u"\")");
    }
    connection.CommitTrans();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "could not generate the table: %s\n", e.what());
    return false;
  }
}

void Measure(const Target& t) {
  jet::Connection connection;
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(t.file.string()));
  connection.Open();
  std::printf("%s, table %s: %lld rows, fields searched:", t.file.filename().c_str(),
              base::ToUtf8(t.table).c_str(), static_cast<long long>(t.rows));
  for (const auto& f : t.text_fields) std::printf(" %s", base::ToUtf8(f).c_str());
  std::printf("\n");
  for (const std::u16string keyword : {u"東京", u"a", u"zzzz_no_match", u""}) {
    const std::u16string sql =
        keyword.empty() ? u"SELECT * FROM [" + t.table + u"]  " : KeywordQuery(t, keyword);
    std::vector<double> times;
    int64_t found = 0;
    for (int run = 0; run < 5; ++run) {
      jet::Dataset ds(&connection);
      ds.SetCommandText(sql);
      const auto start = Clock::now();
      ds.Open();
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      found = ds.record_count();
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("  %-32s %8lld found  median %9.3f ms  %7.3f us/row\n",
                keyword.empty() ? "(no filter: whole table)"
                                : ("keyword \"" + base::ToUtf8(keyword) + "\"").c_str(),
                static_cast<long long>(found), median,
                median * 1000.0 / static_cast<double>(std::max<int64_t>(1, t.rows)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  Target best;
  const std::filesystem::path fixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
  if (std::filesystem::is_directory(fixtures)) {
    for (const auto& entry : std::filesystem::directory_iterator(fixtures)) {
      if (entry.path().extension() == ".mdb") ConsiderFile(entry.path(), best);
    }
  }
  if (best.rows > 0) Measure(best);

  const auto generated = std::filesystem::temp_directory_path() / "keyword_query_bench.mdb";
  const auto start = Clock::now();
  if (rows > 0 && Generate(generated, rows)) {
    std::printf("generated %lld rows in %.1f s\n", static_cast<long long>(rows),
                std::chrono::duration<double>(Clock::now() - start).count());
    Target t{generated, u"T_projectMain", {u"TITLE", u"FILENAME", u"PASSWORD"}, rows};
    Measure(t);
    std::filesystem::remove(generated);
  }
  return 0;
}
