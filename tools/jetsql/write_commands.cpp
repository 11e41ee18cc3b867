// jetsql --create and --check.
//
//   jetsql --create FILE SQL…   creates FILE (refused when anything exists there), then runs
//                               the statements in order; an argument "@LIST" reads statements
//                               from the file LIST, one per line (for statements longer than
//                               a command-line argument may be). SELECT results are printed as
//                               by the normal path. A refused statement is reported on
//                               standard error and the rest still run; the exit status is 1
//                               if any statement failed.
//   jetsql --check FILE         prints every consistency problem; exit status 1 if any.
#include "tools/jetsql/write_commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf.h"
#include "jet/check/check.h"
#include "jet/jet.h"
#include "jet/json.h"
#include "jet/sql.h"

namespace {

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

void ReportError(const std::string& message) {
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "jetsql: %s\n", line.c_str());
}

std::u16string QuotedValue(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    out.push_back(c);
    if (c == u'"') out.push_back(u'"');
  }
  return out + u"\"";
}

void PrintSelect(jet::Connection& connection, const std::u16string& sql) {
  jet::Dataset dataset(&connection);
  dataset.SetCommandText(sql);
  dataset.Open();
  PrintLine(jet::json::Result(dataset));
}

// The statements of the arguments, "@LIST" expanded to the lines of LIST.
bool CollectStatements(int argc, char** argv, std::vector<std::string>& out) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.size() > 1 && arg[0] == '@') {
      // A pipe is fine here ("@<(command)"); a folder opens but fails on the first read,
      // which leaves the stream bad rather than at its end.
      const std::string list(arg.substr(1));
      std::ifstream in(base::PathFromUtf8(list), std::ios::binary);
      std::string line;
      while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) out.push_back(line);
      }
      if (!in.is_open() || in.bad()) {
        ReportError("文の一覧ファイル " + list + " を読めません。");
        return false;
      }
    } else {
      out.emplace_back(arg);
    }
  }
  return true;
}

}  // namespace

std::string ErrorMessage(const std::exception& error) {
  if (dynamic_cast<const jet::Error*>(&error) != nullptr) return error.what();
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "メモリが足りないため、処理を続けられません。";
  }
  return "予期しないエラーのため、処理を続けられません。";
}

int RunCreate(int argc, char** argv) {
  std::vector<std::string> statements;
  if (argc < 1 || !CollectStatements(argc, argv, statements)) return 1;
  const std::string path = argv[0];
  try {
    jet::CreateDatabase(base::PathFromUtf8(path));
  } catch (const std::exception& e) {
    ReportError(ErrorMessage(e));
    return 1;
  }
  int failures = 0;
  try {
    jet::Connection connection;
    connection.SetConnectionString(u"Data Source=" + QuotedValue(base::FromUtf8(path)) + u";");
    connection.Open();
    // Statements that change the file run in one transaction until a SELECT needs to see
    // them, so that the pages are written in one pass.
    bool open_transaction = false;
    for (const std::string& statement : statements) {
      const std::u16string sql = base::FromUtf8(statement);
      try {
        if (std::holds_alternative<jet::sql::SelectStatement>(jet::sql::Parse(sql))) {
          if (open_transaction) {
            connection.CommitTrans();
            open_transaction = false;
          }
          PrintSelect(connection, sql);
        } else {
          if (!open_transaction) {
            connection.BeginTrans();
            open_transaction = true;
          }
          connection.Execute(sql);
        }
      } catch (const std::exception& e) {
        ++failures;
        ReportError(ErrorMessage(e));
      }
    }
    if (open_transaction) connection.CommitTrans();
  } catch (const std::exception& e) {
    ReportError(ErrorMessage(e));
    return 1;
  }
  if (std::fflush(stdout) != 0) return 1;
  return failures == 0 ? 0 : 1;
}

int RunCheck(const std::string& path) {
  jet::check::CheckResult result = jet::check::CheckDatabase(base::PathFromUtf8(path));
  for (const std::string& problem : result.problems) PrintLine(problem);
  for (const std::string& note : result.notes) PrintLine("注意: " + note);
  PrintLine((result.ok() ? std::string("問題はありません")
                         : "問題が " + std::to_string(result.problems.size()) + " 件あります") +
            " (テーブル " + std::to_string(result.tables) + "、行 " + std::to_string(result.rows) +
            "、索引の項目 " + std::to_string(result.index_entries) + ")");
  if (std::fflush(stdout) != 0) return 1;
  return result.ok() ? 0 : 1;
}
