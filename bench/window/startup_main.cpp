// Prints how long the program takes from the start of its process to its main window on
// screen, with a large basic database and splash time 0: the median and the range of several
// runs. Each run is a new process of this program doing what the program's entry does, with
// the benchmark's folder as the program directory. Run on an X server (xvfb-run).
// Arguments: [runs (default 9)] [rows (default 100000)].
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/environment.h"
#include "app/main_window.h"
#include "app/program.h"
#include "db/basic_database.h"
#include "gis/dde_channel.h"
#include "jet/jet.h"
#include "platform/text.h"
#include "project_table.h"

namespace {

constexpr char kChildFlag[] = "--child";

// One run of the program with `directory` as its program directory: prints "shown" once the
// main window is exposed, then ends.
int Child(int argc, char** argv, const char* directory) {
  QElapsedTimer steps;
  steps.start();
  QApplication application(argc, argv);
  const qint64 application_ms = steps.restart();
  app::AddFontSubstitutions();
  const qint64 fonts_ms = steps.restart();
  gis::InitializeDde();
  int result = 1;
  {
    app::AppEnvironment environment = app::ProductionEnvironment();
    environment.program_directory = platform::FromPath(directory) + u"/";
    // No network request and no GIS application in a measurement.
    environment.check_for_update = [] {};
    environment.send_close_and_quit = [] {};
    app::Program program(environment);
    const qint64 program_ms = steps.restart();
    QTimer::singleShot(0, &application, [&] {
      if (QTest::qWaitForWindowExposed(program.main_window())) {
        std::printf("shown\n");
        std::fprintf(stderr,
                     "  application %lld ms, fonts %lld ms, windows and start-up %lld ms, "
                     "show %lld ms\n",
                     application_ms, fonts_ms, program_ms, steps.elapsed());
        std::fflush(stdout);
        result = 0;
      }
      program.main_window()->close();
    });
    program.Run();
  }
  gis::UninitializeDde();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], kChildFlag) == 0) return Child(argc, argv, argv[2]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const int64_t rows = argc > 2 ? std::atoll(argv[2]) : 100000;
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / "quorvel_startup_bench";
  std::filesystem::create_directories(work);
  const std::filesystem::path database = work / "projects.mdb";
  bench::EnsureProjectTable(database, rows);

  QCoreApplication application(argc, argv);
  std::vector<double> times;
  for (int run = 0; run <= runs; ++run) {
    bench::WriteBenchSettings(work, database);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(kChildFlag), QString::fromStdString(work.string())});
    bool shown = false;
    while (!shown && child.waitForReadyRead(20000)) {
      shown = child.readAll().contains("shown");
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    child.waitForFinished(20000);
    if (!shown) {
      std::fprintf(stderr, "run %d: the main window was not shown\n", run);
      return 1;
    }
    // The first run warms the file cache and is not counted.
    if (run > 0) times.push_back(ms);
  }
  // The start-up listing's query on its own, for comparison.
  std::vector<double> query_times;
  for (int run = 0; run < 3; ++run) {
    jet::Connection connection;
    connection.SetConnectionString(u"Data Source=" + platform::FromPath(database));
    connection.Open();
    jet::Dataset dataset(&connection);
    QElapsedTimer timer;
    timer.start();
    db::OpenTableQuery(dataset, u"T_projectMain", u"", u"ORDER BY ID");
    query_times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  std::sort(query_times.begin(), query_times.end());
  std::sort(times.begin(), times.end());
  std::printf("the start-up listing's query alone (connection open, ORDER BY ID): median %.0f ms\n",
              query_times[1]);
  std::printf(
      "%lld rows, %d runs: process start to main window shown: median %.0f ms "
      "(min %.0f, max %.0f)\n",
      static_cast<long long>(rows), runs, times[times.size() / 2], times.front(), times.back());
  return 0;
}
