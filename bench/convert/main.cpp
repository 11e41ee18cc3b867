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
#include <sys/wait.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "db/basic_database.h"
#include "db/export_sqlite.h"
#include "db/import_sqlite.h"
#include "jet/jet.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCreateSQLite[] =
    "CREATE TABLE T_projectMain (ID INTEGER CONSTRAINT pkey PRIMARY KEY,TITLE TEXT,"
    "FILENAME TEXT,PASSWORD TEXT);";

std::u16string U16(const std::string& s) { return platform::FromUtf8(s); }

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

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    prepare();
    best = std::min(best, Seconds(work));
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
  const double t_export = Best(
      runs, [&] { fs::remove(ours); },
      [&] {
        copied = db::ExportToSQLite(platform::FromPath(ours), platform::FromPath(source),
                                    u"T_projectMain")
                     .copied;
      });
  const double t_mdbtools = Best(
      runs, [&] { fs::remove(theirs); },
      [&] {
        Shell("{ echo 'BEGIN;'; echo '" + std::string(kCreateSQLite) + "'; mdb-export -I sqlite " +
              Quote(source) + " T_projectMain; echo 'COMMIT;'; } | sqlite3 " + Quote(theirs));
      });
  const double t_floor = Best(
      runs, [&] { fs::remove(floor); },
      [&] {
        Shell("sqlite3 " + Quote(floor) + " \"" + kCreateSQLite + "\" '.mode csv' '.import " +
              csv.string() + " T_projectMain'");
      });

  const fs::path back = dir / "back.mdb";
  int64_t imported = 0;
  const double t_import = Best(
      runs, [&] { fs::remove(back); },
      [&] {
        imported = db::ImportSQLiteToJet(platform::FromPath(back), platform::FromPath(ours),
                                         u"T_projectMain")
                       .copied;
      });

  std::printf("\nexport, basic database -> SQLite (%lld rows copied)\n",
              static_cast<long long>(copied));
  std::printf("  ExportToSQLite                         %8.3f s\n", t_export);
  std::printf(
      "  (a) mdb-export -I sqlite | sqlite3     %8.3f s   ours is %.2fx faster (goal >= 1.5)\n",
      t_mdbtools, t_mdbtools / t_export);
  std::printf(
      "  (b) sqlite3 .import (SQLite's floor)   %8.3f s   ours takes %.2fx the floor (goal <= "
      "1.25)\n",
      t_floor, t_export / t_floor);
  std::printf("\nimport, SQLite -> new basic database (%lld rows copied)\n",
              static_cast<long long>(imported));
  std::printf("  ImportSQLiteToJet                      %8.3f s   (goal < 0.5 s)\n", t_import);
  fs::remove_all(dir);
  return 0;
}
