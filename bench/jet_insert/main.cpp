// Speed of the Jet writer: the time to create an empty database, rows per second inserting
// 100,000 project rows (through the writer itself, through INSERT statements and through a
// dataset, the last two inside a transaction as the import does), and the file size per
// row. Goal: 100,000 rows in under one second.
//
//   jet_insert_bench [ROWS] [FOLDER]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/jet.h"
#include "jet/sql.h"
#include "jet/write/database_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process (user + system): on a shared machine the wall time also
// counts the time other processes had the processor.
double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

const char16_t kCreate[] =
    u"CREATE TABLE T_projectMain ([ID] Integer CONSTRAINT pkey PRIMARY KEY,[TITLE] VARCHAR(255),"
    u"[FILENAME] VARCHAR(255),[PASSWORD] VARCHAR(255));";

std::u16string Title(int i) {
  return u"測量プロジェクト " + base::FromUtf8(std::to_string(i)) + u" 号線";
}
std::u16string FileName(int i) {
  return u"C:\\GIS\\projects\\project_" + base::FromUtf8(std::to_string(i)) + u".qvp";
}

void Report(const char* what, int rows, double seconds, double cpu,
            const std::filesystem::path& file) {
  auto size = std::filesystem::file_size(file);
  std::printf(
      "%-34s %7d rows  wall %6.3f s (%8.0f rows/s)  cpu %6.3f s (%8.0f rows/s)  %6.1f bytes/row\n",
      what, rows, seconds, rows / seconds, cpu, rows / cpu, static_cast<double>(size) / rows);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::temp_directory_path() / "jet_insert_bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  try {
    // Empty databases.
    constexpr int kCreates = 50;
    auto start = Clock::now();
    double create_cpu = CpuSeconds();
    for (int i = 0; i < kCreates; ++i)
      jet::CreateDatabase(folder / ("empty" + std::to_string(i) + ".mdb"));
    std::printf("create an empty database: wall %.3f ms, cpu %.3f ms each (%d created)\n",
                Seconds(start) * 1000 / kCreates, (CpuSeconds() - create_cpu) * 1000 / kCreates,
                kCreates);

    // The writer itself.
    {
      const auto path = folder / "writer.mdb";
      start = Clock::now();
      double cpu = CpuSeconds();
      auto file = jet::write::DatabaseFile::Create(path, 45000);
      file->CreateTable(jet::write::TableSpecFromStatement(
                            std::get<jet::sql::CreateTableStatement>(jet::sql::Parse(kCreate))),
                        45000);
      for (int i = 1; i <= rows; ++i) {
        file->InsertRow(
            u"T_projectMain",
            {jet::Value::Integer(i), jet::Value::Text(Title(i)), jet::Value::Text(FileName(i)),
             jet::Value::Text(u"pass" + base::FromUtf8(std::to_string(i)))});
      }
      file->Flush();
      Report("writer (create + insert + flush)", rows, Seconds(start), CpuSeconds() - cpu, path);
    }

    // INSERT statements through a connection, in one transaction.
    {
      const auto path = folder / "sql.mdb";
      start = Clock::now();
      double cpu = CpuSeconds();
      jet::CreateDatabase(path);
      jet::Connection connection;
      connection.SetConnectionString(u"Data Source=" + path.u16string() + u";");
      connection.Open();
      connection.Execute(kCreate);
      connection.BeginTrans();
      for (int i = 1; i <= rows; ++i) {
        connection.Execute(u"INSERT INTO T_projectMain VALUES (" +
                           base::FromUtf8(std::to_string(i)) + u", \"" + Title(i) + u"\", \"" +
                           FileName(i) + u"\", \"pass" + base::FromUtf8(std::to_string(i)) +
                           u"\")");
      }
      connection.CommitTrans();
      Report("INSERT statements (transaction)", rows, Seconds(start), CpuSeconds() - cpu, path);
    }

    // A dataset: append, set fields, post — the import's way.
    {
      const auto path = folder / "dataset.mdb";
      start = Clock::now();
      double cpu = CpuSeconds();
      jet::CreateDatabase(path);
      jet::Connection connection;
      connection.SetConnectionString(u"Data Source=" + path.u16string() + u";");
      connection.Open();
      connection.Execute(kCreate);
      connection.BeginTrans();
      jet::Dataset dataset(&connection);
      dataset.SetCommandText(u"SELECT * FROM T_projectMain");
      dataset.Open();
      for (int i = 1; i <= rows; ++i) {
        dataset.Append();
        dataset.SetValue(0, jet::Value::Integer(i));
        dataset.SetValue(1, jet::Value::Text(Title(i)));
        dataset.SetValue(2, jet::Value::Text(FileName(i)));
        dataset.SetValue(3, jet::Value::Text(u"pass" + base::FromUtf8(std::to_string(i))));
        dataset.Post();
      }
      connection.CommitTrans();
      Report("dataset append/post (transaction)", rows, Seconds(start), CpuSeconds() - cpu, path);
    }

    start = Clock::now();
    auto check = jet::check::CheckDatabase(folder / "writer.mdb");
    std::printf("consistency check of the writer's file: %s (%.3f s)\n",
                check.ok() ? "no problems" : check.problems.front().c_str(), Seconds(start));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "jet_insert_bench: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove_all(folder);
  return 0;
}
