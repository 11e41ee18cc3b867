// Times the two conversions on a project table of 100,000 rows and prints the figures side
// by side with what other tools take for the same work, in the same run:
//
//   export  ExportToSQLite (basic database -> new SQLite file)
//           (a) mdb-export -I sqlite piped into sqlite3 inside one transaction
//           (b) the sqlite3 shell's .import of the same rows (CSV) into the same table
//   import  ImportSQLiteToJet (SQLite file -> new basic database)
//
//   convert_bench [ROWS] [RUNS]     defaults: 100000 rows, 5 runs (never fewer)
//
// The source is the project table as the program keeps it (ID long integer primary key, three
// Text(255) fields). (a) and (b) fill the table our export creates: its CREATE TABLE statement
// is read back from the file a first, untimed export wrote. Each run does every work once, in
// turn, so that a change in the machine's load falls on all of them; the figures are the
// medians over the runs.
//
// Goals: the export within 1.25 times (b) and at least 1.5 times faster than (a); the import
// under half a second.
#include <sys/resource.h>
#include <sys/wait.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/export_sqlite.h"
#include "db/import_sqlite.h"
#include "db/sqlite_access.h"
#include "jet/jet.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMinimumRuns = 5;

std::u16string U16(const std::string& s) { return base::FromUtf8(s); }

// The i-th project row: Japanese titles, Windows paths, a password on every third row.
struct ProjectRow {
  int64_t id;
  std::string title, filename, password;
};

ProjectRow MakeRow(int64_t i) {
  static const char* kPlaces[] = {"東京都", "大阪府", "北海道", "福岡県", "愛知県"};
  static const char* kKinds[] = {"道路台帳", "河川調査", "下水道管路", "都市計画図", "地籍調査"};
  ProjectRow row;
  row.id = i;
  row.title = std::string(kPlaces[i % 5]) + " " + kKinds[(i / 5) % 5] + " 第" +
              std::to_string(i % 12 + 1) + "期 No." + std::to_string(i);
  row.filename = "C:\\Data\\案件" + std::to_string(i) + "\\project_" + std::to_string(i) + ".qpj";
  row.password = i % 3 == 0 ? "pw" + std::to_string(i * 7919 % 100000) : "";
  return row;
}

// Wall-clock time and processor time (this process and the children it waited for): the
// machine may be shared, and processor time is what a busy machine does not distort.
struct Timing {
  double wall = 0;
  double cpu = 0;
};

double CpuSeconds() {
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
         seconds(children.ru_stime);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One timed work: `prepare` (not timed) then `work`, once per run.
struct Case {
  std::function<void()> prepare;
  std::function<void()> work;
  std::vector<double> walls;
  std::vector<double> cpus;

  void RunOnce() {
    prepare();
    const double cpu_start = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    walls.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpus.push_back(CpuSeconds() - cpu_start);
  }
  Timing Medians() const { return Timing{Median(walls), Median(cpus)}; }
};

void Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status != 0) {
    std::fprintf(stderr, "convert_bench: failed (%d): %s\n", status, command.c_str());
    std::exit(1);
  }
}

// A shell word: the text in single quotes (a quote inside ends the word, adds \' and starts
// another).
std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string Quote(const fs::path& p) { return Quote(p.string()); }

// The CREATE TABLE statement of T_projectMain as SQLite keeps it in the file, with the ";"
// that ends a statement on the shell's command line.
std::string CreateStatementOf(const fs::path& sqlite_file) {
  db::SQLiteConnection connection;
  db::ConnectSQLite(connection, db::kSQLiteDriverId, platform::FromPath(sqlite_file));
  db::SQLiteQuery query(&connection);
  query.SetSQL(u"SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'T_projectMain'");
  query.Open();
  if (query.eof()) {
    std::fprintf(stderr, "convert_bench: the export wrote no table T_projectMain\n");
    std::exit(1);
  }
  return base::ToUtf8(query.value(0).text()) + ";";
}

std::string CsvField(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// The rows of T_projectMain in an SQLite file: (a) and (b) must have copied them all.
int64_t RowCount(const fs::path& sqlite_file) {
  db::SQLiteConnection connection;
  db::ConnectSQLite(connection, db::kSQLiteDriverId, platform::FromPath(sqlite_file));
  db::SQLiteQuery query(&connection);
  query.SetSQL(u"SELECT count(*) FROM T_projectMain");
  query.Open();
  return query.value(0).integer();
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int runs = std::max(kMinimumRuns, argc > 2 ? std::atoi(argv[2]) : kMinimumRuns);
  const fs::path dir =
      fs::temp_directory_path() / ("quorvel-convert-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path source = dir / "source.mdb";
  const fs::path csv = dir / "rows.csv";

  // The source basic database and the same rows as CSV (not timed).
  {
    jet::CreateDatabase(source);
    jet::Connection connection;
    db::ConnectJetDatabase(platform::FromPath(source), u"", u"", connection);
    connection.Execute(
        u"CREATE TABLE T_projectMain (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
        u"TITLE TEXT(255), FILENAME TEXT(255), PASSWORD TEXT(255))");
    jet::Dataset dataset(&connection);
    db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
    std::ofstream out(csv, std::ios::binary);
    connection.BeginTrans();
    for (int64_t i = 1; i <= rows; ++i) {
      const ProjectRow row = MakeRow(i);
      dataset.Append();
      dataset.SetValue(0, jet::Value::Integer(row.id));
      dataset.SetValue(1, jet::Value::Text(U16(row.title)));
      dataset.SetValue(2, jet::Value::Text(U16(row.filename)));
      dataset.SetValue(3, jet::Value::Text(U16(row.password)));
      dataset.Post();
      out << row.id << ',' << CsvField(row.title) << ',' << CsvField(row.filename) << ','
          << CsvField(row.password) << '\n';
    }
    connection.CommitTrans();
  }
  std::printf("rows: %lld (medians of %d runs)  source: %.1f MB\n", static_cast<long long>(rows),
              runs, static_cast<double>(fs::file_size(source)) / 1e6);

  const fs::path ours = dir / "ours.sqlite";
  const fs::path theirs = dir / "mdbtools.sqlite";
  const fs::path floor = dir / "import.sqlite";
  const fs::path back = dir / "back.mdb";
  int64_t copied = 0;
  int64_t imported = 0;
  auto export_ours = [&] {
    copied =
        db::ExportToSQLite(platform::FromPath(ours), platform::FromPath(source), u"T_projectMain")
            .copied;
  };

  // A first export, not timed: the table it creates is the one (a) and (b) fill.
  fs::remove(ours);
  export_ours();
  const std::string create = CreateStatementOf(ours);
  std::printf("the export's table: %s\n", create.c_str());

  Case c_export{[&] { fs::remove(ours); }, export_ours, {}, {}};
  Case c_mdbtools{[&] { fs::remove(theirs); },
                  [&] {
                    Shell("{ echo 'BEGIN;'; echo " + Quote(create) + "; mdb-export -I sqlite " +
                          Quote(source) + " T_projectMain; echo 'COMMIT;'; } | sqlite3 " +
                          Quote(theirs));
                  },
                  {},
                  {}};
  Case c_floor{[&] { fs::remove(floor); },
               [&] {
                 Shell("sqlite3 " + Quote(floor) + " " + Quote(create) + " '.mode csv' '.import " +
                       csv.string() + " T_projectMain'");
               },
               {},
               {}};
  // The part of the export that reads the basic database.
  Case c_read{[] {},
              [&] {
                jet::Connection connection;
                db::ConnectJetDatabase(platform::FromPath(source), u"", u"", connection);
                jet::Dataset dataset(&connection);
                db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
              },
              {},
              {}};
  // The part of the import that reads the SQLite file.
  Case c_read_sqlite{[] {},
                     [&] {
                       db::SQLiteConnection connection;
                       db::ConnectSQLite(connection, db::kSQLiteDriverId, platform::FromPath(ours));
                       db::SQLiteQuery query(&connection);
                       db::OpenSQLiteTableQuery(query, u"T_projectMain", u"", u"");
                     },
                     {},
                     {}};
  Case c_import{[&] { fs::remove(back); },
                [&] {
                  imported = db::ImportSQLiteToJet(platform::FromPath(back),
                                                   platform::FromPath(ours), u"T_projectMain")
                                 .copied;
                },
                {},
                {}};
  for (int r = 0; r < runs; ++r) {
    for (Case* c : {&c_export, &c_mdbtools, &c_floor, &c_read, &c_read_sqlite, &c_import}) {
      c->RunOnce();
    }
  }
  const Timing t_export = c_export.Medians();
  const Timing t_mdbtools = c_mdbtools.Medians();
  const Timing t_floor = c_floor.Medians();
  const Timing t_read = c_read.Medians();
  const Timing t_read_sqlite = c_read_sqlite.Medians();
  const Timing t_import = c_import.Medians();

  auto line = [](const char* what, const Timing& t) {
    std::printf("  %-40s %7.3f s wall %7.3f s cpu\n", what, t.wall, t.cpu);
  };
  std::printf("\nexport, basic database -> SQLite (rows copied: ours %lld, (a) %lld, (b) %lld)\n",
              static_cast<long long>(copied), static_cast<long long>(RowCount(theirs)),
              static_cast<long long>(RowCount(floor)));
  line("ExportToSQLite", t_export);
  line("  of which reading the basic database", t_read);
  line("(a) mdb-export -I sqlite | sqlite3", t_mdbtools);
  line("(b) sqlite3 .import (SQLite's floor)", t_floor);
  std::printf("  ours vs (a): %.2fx faster by wall, %.2fx by cpu (goal >= 1.5)\n",
              t_mdbtools.wall / t_export.wall, t_mdbtools.cpu / t_export.cpu);
  std::printf("  ours vs (b): %.2fx the floor by wall, %.2fx by cpu (goal <= 1.25)\n",
              t_export.wall / t_floor.wall, t_export.cpu / t_floor.cpu);
  std::printf("\nimport, SQLite -> new basic database (%lld rows copied)\n",
              static_cast<long long>(imported));
  line("ImportSQLiteToJet (goal < 0.5 s)", t_import);
  line("  of which reading the SQLite file", t_read_sqlite);
  fs::remove_all(dir);
  return 0;
}
