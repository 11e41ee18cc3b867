// Types a keyword into the main window's keyword box over a large basic database and prints,
// per keystroke, the time from the key event to the repainted project list: median and worst,
// and how much of it the engine's query takes on its own. Run on an X server (xvfb-run).
// Arguments: [rows (default 100000)] [database file (default: one in the temporary folder)].
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/program.h"
#include "base/utf.h"
#include "db/basic_database.h"
#include "jet/jet.h"
#include "platform/text.h"
#include "project_table.h"
#include "ui/dialogs.h"
#include "ui/qt_text.h"

namespace {

// Counts the paints of the list's viewport.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

struct Figures {
  double median = 0;
  double worst = 0;
};

Figures Summary(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return Figures{times[times.size() / 2], times.back()};
}

// The keystrokes: a keyword typed letter by letter, then taken back, then another one.
std::vector<std::pair<int, QString>> Keystrokes() {
  std::vector<std::pair<int, QString>> keys;
  auto type = [&](const QString& text) {
    for (QChar c : text) keys.emplace_back(0, QString(c));
  };
  auto erase = [&](int count) {
    for (int i = 0; i < count; ++i) keys.emplace_back(Qt::Key_Backspace, QString());
  };
  type(QStringLiteral("大阪市 地番"));
  erase(6);
  type(QStringLiteral("survey 12"));
  erase(9);
  type(QStringLiteral("p4/"));
  erase(3);
  return keys;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / "quorvel_typing_bench";
  std::filesystem::create_directories(work);
  const std::filesystem::path database =
      argc > 2 ? std::filesystem::path(argv[2]) : work / "projects.mdb";
  bench::EnsureProjectTable(database, rows);
  bench::WriteBenchSettings(work, database);

  QApplication application(argc, argv);
  app::AddFontSubstitutions();
  app::AppEnvironment environment;
  environment.program_directory = platform::FromPath(work) + u"/";
  environment.work_area = [] { return QRect(0, 0, 1024, 768); };
  environment.pause = [](int) {};
  environment.check_for_update = [] {};
  environment.send_close_and_quit = [] {};
  ui::DialogAnswers no_dialogs;
  app::Program program(environment);
  app::TfrmMain* window = program.main_window();
  window->PageControl1->setCurrentWidget(window->TabSheet1);
  window->show();
  if (!QTest::qWaitForWindowExposed(window)) {
    std::fprintf(stderr, "the main window was not shown\n");
    return 1;
  }
  QTest::qWait(300);
  PaintCounter counter;
  window->DBGrid1->viewport()->installEventFilter(&counter);
  window->editKeyword->setFocus();

  // The engine's query on its own, on a connection of its own, for each keyword reached.
  jet::Connection connection;
  connection.SetConnectionString(u"Data Source=" + platform::FromPath(database));
  connection.Open();
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");

  std::vector<double> whole, query;
  for (const auto& [key, text] : Keystrokes()) {
    const int paints_before = counter.paints;
    QElapsedTimer timer;
    timer.start();
    if (key != 0) {
      QTest::keyClick(window->editKeyword, static_cast<Qt::Key>(key));
    } else {
      // A typed letter as the keyboard delivers it (also one that has no key of its own).
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
      QApplication::sendEvent(window->editKeyword, &press);
      QApplication::sendEvent(window->editKeyword, &release);
    }
    // Until the list has been painted with the new rows.
    while (counter.paints == paints_before && timer.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    whole.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);

    const std::u16string keyword = ui::ToU16(window->editKeyword->text());
    QElapsedTimer query_timer;
    query_timer.start();
    db::ApplyKeywordFilter(dataset, keyword, nullptr);
    query.push_back(static_cast<double>(query_timer.nsecsElapsed()) / 1e6);
    std::printf("  %-12s %7lld rows  %8.1f ms (query %6.1f ms)\n",
                ("\"" + window->editKeyword->text().toStdString() + "\"").c_str(),
                static_cast<long long>(window->ADODataSetT_projectMain().record_count()),
                whole.back(), query.back());
  }
  const Figures w = Summary(whole);
  const Figures q = Summary(query);
  std::printf("%lld rows, %zu keystrokes: key to repainted list median %.1f ms, worst %.1f ms\n",
              static_cast<long long>(rows), whole.size(), w.median, w.worst);
  std::printf(
      "  of which the engine's query: median %.1f ms, worst %.1f ms; "
      "model and view: median %.1f ms\n",
      q.median, q.worst, w.median - q.median);
  window->close();
  return 0;
}
