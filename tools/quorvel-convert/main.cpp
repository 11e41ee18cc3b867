// quorvel-convert: the conversions between a basic database (Jet .mdb) and SQLite, for
// administrators and scripts.
//
//   quorvel-convert export SQLITE MDB [--table NAME]   MDB's table into a new SQLite file
//   quorvel-convert import MDB SQLITE [--table NAME]   a new basic database MDB from SQLITE
//
// The target comes first, as in the program's own calls. The table is T_projectMain unless
// --table names another. Large tables show a progress line on standard error. On success the
// counts are printed on standard output as "copied=N refused=M" (rows the target refused
// are skipped), followed by " truncated=K" when K rows had a text cut to the Text field's 255
// characters; refused and cut rows are also told on standard error in Japanese. The exit
// status is 0. Any error prints one line on standard error, always the program's Japanese
// message, and exits with status 1.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/utf.h"
#include "db/basic_database.h"
#include "db/conversion.h"
#include "db/export_sqlite.h"
#include "db/import_sqlite.h"
#include "jet/jet.h"
#include "platform/arguments.h"
#include "platform/error.h"

namespace {

constexpr char kUsage[] =
    "使い方: quorvel-convert export SQLITE MDB [--table NAME]\n"
    "        quorvel-convert import MDB SQLITE [--table NAME]\n";

// Tables at least this large show a progress line.
constexpr int64_t kProgressThreshold = 10000;

int Fail(std::u16string_view message) {
  std::string line = base::ToUtf8(message);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "quorvel-convert: %s\n", line.c_str());
  return 1;
}

// Rewrites one line on standard error with the rows handled so far.
class ProgressLine {
 public:
  explicit ProgressLine(const char* verb) : verb_(verb) {}
  ~ProgressLine() {
    if (shown_) std::fputc('\n', stderr);
  }
  void operator()(int64_t done, int64_t total) {
    if (total < kProgressThreshold) return;
    std::fprintf(stderr, "\r%s: %lld / %lld", verb_, static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(stderr);
    shown_ = true;
  }

 private:
  const char* verb_;
  bool shown_ = false;
};

int Run(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::u16string table(db::kProjectTable);
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--table") {
      if (i + 1 >= args.size()) return Fail(u"--table にはテーブル名が必要です");
      table = base::FromUtf8(args[++i]);
    } else if (args[i] == "-h" || args[i] == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 3 || (positional[0] != "export" && positional[0] != "import")) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::u16string target = base::FromUtf8(positional[1]);
  const std::u16string source = base::FromUtf8(positional[2]);
  db::CopyCounts counts;
  {
    ProgressLine progress(positional[0] == "export" ? "export" : "import");
    auto report = [&progress](int64_t done, int64_t total) { progress(done, total); };
    if (positional[0] == "export") {
      counts = db::ExportToSQLite(target, source, table, report);
    } else {
      counts = db::ImportSQLiteToJet(target, source, table, report);
    }
  }
  std::printf("copied=%lld refused=%lld", static_cast<long long>(counts.copied),
              static_cast<long long>(counts.refused));
  if (counts.truncated > 0)
    std::printf(" truncated=%lld", static_cast<long long>(counts.truncated));
  std::printf("\n");
  if (counts.refused > 0) {
    std::fprintf(stderr, "quorvel-convert: %lld 件のレコードを書き込めませんでした\n",
                 static_cast<long long>(counts.refused));
  }
  if (counts.truncated > 0) {
    std::fprintf(stderr, "quorvel-convert: %s\n",
                 base::ToUtf8(db::TruncatedRowsMessage(counts.truncated)).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments = platform::Utf8Arguments(argc, argv);
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return Run(arguments);
  } catch (const base::Error& error) {
    return Fail(error.message());
  } catch (const std::bad_alloc&) {
    return Fail(u"メモリが足りないため変換できませんでした。");
  } catch (const std::exception& error) {
    // A library's own text is only the reason behind our sentence.
    return Fail(u"変換できませんでした: " + base::FromUtf8(error.what()));
  }
}
