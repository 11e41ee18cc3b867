// jetsql: runs SQL statements on a Jet 4.0 file and prints results as JSON.
//
//   jetsql FILE --tables            the user tables: ["T_projectMain",…]
//   jetsql FILE SQL…                each SELECT's result as one line:
//                                   {"fields":[{"name":…,"type":…,"jetType":…,"size":…},…],
//                                    "rows":[[…],…]}
//   jetsql --create FILE SQL…       creates a new database and runs the statements on it
//   jetsql --check FILE             checks a file's structure
//
// Exit status 0 on success; 1 with a one-line Japanese message on standard error on any error.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf.h"
#include "jet/jet.h"
#include "jet/json.h"
#include "jet/sql.h"
#include "platform/arguments.h"
#include "tools/jetsql/write_commands.h"

namespace {

constexpr char kUsage[] =
    "使い方: jetsql FILE [--tables] [SQL...] | jetsql --create FILE SQL... | jetsql --check FILE";

int Fail(const std::string& message) {
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "jetsql: %s\n", line.c_str());
  return 1;
}

// A connection-string value in double quotes, with quotes inside doubled.
std::u16string Quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (const char16_t c : text) {
    out.push_back(c);
    if (c == u'"') out.push_back(u'"');
  }
  return out + u"\"";
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int Run(int argc, char** argv) {
  jet::Connection connection;
  connection.SetConnectionString(u"Data Source=" + Quoted(base::FromUtf8(argv[1])) + u";");
  connection.Open();
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--tables") {
      std::string out = "[";
      for (const auto& name : connection.TableNames()) {
        if (out.size() > 1) out += ',';
        out += jet::json::Quote(name);
      }
      Print(out + "]");
      continue;
    }
    const std::u16string sql = base::FromUtf8(arg);
    if (std::holds_alternative<jet::sql::SelectStatement>(jet::sql::Parse(sql))) {
      jet::Dataset dataset(&connection);
      dataset.SetCommandText(sql);
      dataset.Open();
      jet::json::WriteResult(dataset, [](std::string_view piece) {
        std::fwrite(piece.data(), 1, piece.size(), stdout);
      });
      std::fputc('\n', stdout);
    } else {
      connection.Execute(sql);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : Fail("結果を標準出力に書き込めません。");
}

}  // namespace

int main(int argc, char** argv) {
  // The arguments in UTF-8 on every system (the SQL text and the file names in Japanese).
  std::vector<std::string> arguments = platform::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  argc = static_cast<int>(arguments.size());
  argv = pointers.data();
  try {
    if (argc >= 2 && std::string_view(argv[1]) == "--create") {
      if (argc < 3) return Fail(kUsage);
      return RunCreate(argc - 2, argv + 2);
    }
    if (argc >= 2 && std::string_view(argv[1]) == "--check") {
      if (argc != 3) return Fail(kUsage);
      return RunCheck(argv[2]);
    }
    if (argc < 2 || std::string_view(argv[1]).starts_with("--")) return Fail(kUsage);
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(ErrorMessage(e));
  }
}
