// Times the two conversions on a project table of 100,000 rows and prints the figures side
// by side with what other tools take for the same work, in the same run:
//
//   export  ExportToSQLite (basic database -> new SQLite file)
//           (a) mdb-export -I sqlite piped into sqlite3 inside one transaction
//           (b) the sqlite3 shell's .import of the same rows (CSV) into the same table
//   import  ImportSQLiteToJet (SQLite file -> new basic database)
//
//   convert_bench [ROWS] [RUNS]     defaults: 100000 rows, best of 3 runs
//
// Goals: the export within 1.25 times (b) and at least 1.5 times faster than (a); the import
// under half a second.
#include <sys/resource.h>
#include <sys/wait.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/export_sqlite.h"
#include "db/import_sqlite.h"
#include "db/sqlite_access.h"
#include "jet/jet.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCreateSQLite[] =
    "CREATE TABLE T_projectMain (ID INTEGER CONSTRAINT pkey PRIMARY KEY,TITLE TEXT,"
    "FILENAME TEXT,PASSWORD TEXT);";

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
  double wall = 1e30;
  double cpu = 1e30;
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

Timing Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  Timing best;
  for (int r = 0; r < runs; ++r) {
    prepare();
    const double cpu_start = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, CpuSeconds() - cpu_start);
  }
  return best;
}

void Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status != 0) {
    std::fprintf(stderr, "convert_bench: failed (%d): %s\n", status, command.c_str());
    std::exit(1);
  }
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

std::string CsvField(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
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
        u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,"
        u"[TITLE] VARCHAR(255),[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255))");
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
  std::printf("rows: %lld (best of %d runs)  source: %.1f MB\n", static_cast<long long>(rows), runs,
              static_cast<double>(fs::file_size(source)) / 1e6);

  const fs::path ours = dir / "ours.sqlite";
  const fs::path theirs = dir / "mdbtools.sqlite";
  const fs::path floor = dir / "import.sqlite";
  int64_t copied = 0;
  const Timing t_export = Best(
      runs, [&] { fs::remove(ours); },
      [&] {
        copied = db::ExportToSQLite(platform::FromPath(ours), platform::FromPath(source),
                                    u"T_projectMain")
                     .copied;
      });
  const Timing t_mdbtools = Best(
      runs, [&] { fs::remove(theirs); },
      [&] {
        Shell("{ echo 'BEGIN;'; echo '" + std::string(kCreateSQLite) + "'; mdb-export -I sqlite " +
              Quote(source) + " T_projectMain; echo 'COMMIT;'; } | sqlite3 " + Quote(theirs));
      });
  const Timing t_floor = Best(
      runs, [&] { fs::remove(floor); },
      [&] {
        Shell("sqlite3 " + Quote(floor) + " \"" + kCreateSQLite + "\" '.mode csv' '.import " +
              csv.string() + " T_projectMain'");
      });

  // The part of the export that reads the basic database.
  const Timing t_read = Best(
      runs, [] {},
      [&] {
        jet::Connection connection;
        db::ConnectJetDatabase(platform::FromPath(source), u"", u"", connection);
        jet::Dataset dataset(&connection);
        db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
      });
  // The part of the import that reads the SQLite file.
  const Timing t_read_sqlite = Best(
      runs, [] {},
      [&] {
        db::SQLiteConnection connection;
        db::ConnectSQLite(connection, db::kSQLiteDriverId, platform::FromPath(ours));
        db::SQLiteQuery query(&connection);
        db::OpenSQLiteTableQuery(query, u"T_projectMain", u"", u"");
      });

  const fs::path back = dir / "back.mdb";
  int64_t imported = 0;
  const Timing t_import = Best(
      runs, [&] { fs::remove(back); },
      [&] {
        imported = db::ImportSQLiteToJet(platform::FromPath(back), platform::FromPath(ours),
                                         u"T_projectMain")
                       .copied;
      });

  auto line = [](const char* what, const Timing& t) {
    std::printf("  %-40s %7.3f s wall %7.3f s cpu\n", what, t.wall, t.cpu);
  };
  std::printf("\nexport, basic database -> SQLite (%lld rows copied)\n",
              static_cast<long long>(copied));
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
