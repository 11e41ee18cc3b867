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

jet::Connection* OpenConnection(jet::Connection& connection, const Target& t) {
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(t.file.string()));
  connection.Open();
  return &connection;
}

double MedianOf(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Measure(const Target& t) {
  std::printf("%s, table %s: %lld rows, fields searched:", t.file.filename().c_str(),
              base::ToUtf8(t.table).c_str(), static_cast<long long>(t.rows));
  for (const auto& f : t.text_fields) std::printf(" %s", base::ToUtf8(f).c_str());
  std::printf("\n");
  // Each query on a connection of its own, so no earlier result can be reused; the file's
  // pages are in the system's cache after the first run.
  for (const std::u16string keyword : {u"東京", u"a", u"zzzz_no_match", u""}) {
    const std::u16string sql =
        keyword.empty() ? u"SELECT * FROM [" + t.table + u"]  " : KeywordQuery(t, keyword);
    std::vector<double> times;
    int64_t found = 0;
    for (int run = 0; run < 7; ++run) {
      jet::Connection connection;
      jet::Dataset ds(OpenConnection(connection, t));
      ds.SetCommandText(sql);
      const auto start = Clock::now();
      ds.Open();
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      found = ds.record_count();
    }
    const double median = MedianOf(times);
    std::printf("  %-32s %8lld found  median %9.3f ms  %7.3f us/row\n",
                keyword.empty() ? "(no filter: whole table)"
                                : ("keyword \"" + base::ToUtf8(keyword) + "\"").c_str(),
                static_cast<long long>(found), median,
                median * 1000.0 / static_cast<double>(std::max<int64_t>(1, t.rows)));
  }
  // Typing: the keyword grows one character at a time on one connection, as in the main
  // window, after the whole table was listed; then it is taken back.
  const std::u16string word = u"survey";
  std::vector<double> typing;
  for (int run = 0; run < 7; ++run) {
    jet::Connection connection;
    jet::Dataset ds(OpenConnection(connection, t));
    ds.SetCommandText(u"SELECT * FROM [" + t.table + u"]  ");
    ds.Open();
    std::vector<std::u16string> steps;
    for (size_t n = 1; n <= word.size(); ++n) steps.push_back(word.substr(0, n));
    for (size_t n = word.size(); n-- > 1;) steps.push_back(word.substr(0, n));
    for (const auto& keyword : steps) {
      ds.SetCommandText(KeywordQuery(t, keyword));
      const auto start = Clock::now();
      ds.Open();
      typing.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  // Each keyword above as the first keystroke after the whole table was listed.
  {
    jet::Connection connection;
    jet::Dataset all(OpenConnection(connection, t));
    all.SetCommandText(u"SELECT * FROM [" + t.table + u"]  ");
    all.Open();
    std::vector<double> warm;
    // Twenty keywords in turn: more than the engine keeps recent results for, so each query
    // reads the rows again.
    std::vector<std::u16string> keywords = {u"東京",   u"a",      u"zzzz_no_match", u"大阪",
                                            u"Sample", u"下水道", u"survey"};
    for (char16_t d = u'0'; keywords.size() < 20; ++d) {
      keywords.push_back(std::u16string(u"第") + d);
      keywords.push_back(std::u16string(u"p") + d);
    }
    for (int run = 0; run < 3; ++run) {
      for (const std::u16string& keyword : keywords) {
        jet::Dataset ds(&connection);
        ds.SetCommandText(KeywordQuery(t, keyword));
        const auto start = Clock::now();
        ds.Open();
        warm.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        // A condition that narrows nothing asked so far, so the next keyword is not
        // filtered from this one's result.
        all.Close();
        all.SetCommandText(u"SELECT * FROM [" + t.table + u"] WHERE ID > -" +
                           base::FromUtf8(std::to_string(run + 1)));
        all.Open();
      }
    }
    std::printf("  first keystroke after the listing: median %.3f ms\n", MedianOf(warm));
  }
  if (const char* repeat = std::getenv("KEYWORD_QUERY_REPEAT")) {
    // For profiles: the same query over and over, each on a connection of its own.
    for (int i = 0; i < std::atoi(repeat); ++i) {
      jet::Connection connection;
      jet::Dataset ds(OpenConnection(connection, t));
      ds.SetCommandText(KeywordQuery(t, u"東京"));
      ds.Open();
    }
  }
  std::printf(
      "  typing \"survey\" and taking it back: median %.3f ms, worst %.3f ms per keystroke\n",
      MedianOf(typing), *std::max_element(typing.begin(), typing.end()));
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
