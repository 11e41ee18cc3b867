// Helpers for the SQLite and conversion tests: a scratch folder per test, raw SQLite access
// that bypasses our layer (to see what is really stored), and text conversion for messages.
#ifndef QUORVEL_TESTS_DB_SQLITE_TEST_SUPPORT_H_
#define QUORVEL_TESTS_DB_SQLITE_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf.h"
#include "db/basic_database.h"
#include "jet/jet.h"
#include "jet/json.h"
#include "platform/text.h"

namespace jet {
// Values print as JSON in test failures.
inline void PrintTo(const Value& value, std::ostream* out) { *out << json::FromValue(value); }
}  // namespace jet

namespace db_test {

// A fresh folder under the system's temporary folder, removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "quorvel-db-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter++) + "-" + (info ? info->name() : "x");
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The path of a file in the folder as the program's UTF-16 text.
  std::u16string U16(const std::string& name) const { return platform::FromPath(path_ / name); }

 private:
  std::filesystem::path path_;
};

inline std::u16string U16(std::string_view utf8) { return base::FromUtf8(utf8); }
inline std::string U8(std::u16string_view text) { return base::ToUtf8(text); }

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Direct access to a SQLite file through the C library, for checking what was stored.
class RawSQLite {
 public:
  explicit RawSQLite(const std::filesystem::path& path) {
    EXPECT_EQ(
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
  }
  ~RawSQLite() { sqlite3_close_v2(db_); }
  sqlite3* get() const { return db_; }

  // Runs statements; returns SQLite's error text, or "" on success.
  std::string Exec(const std::string& sql) {
    char* error = nullptr;
    std::string message;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      message = error ? error : "error";
    }
    sqlite3_free(error);
    return message;
  }

  // Every row of a query, each column as "typeof:value" (values as SQLite's text form).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "prepare failed: " << sqlite3_errmsg(db_) << " in " << sql;
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const int type = sqlite3_column_type(st, i);
        std::string prefix = type == SQLITE_INTEGER ? "i:"
                             : type == SQLITE_FLOAT ? "r:"
                             : type == SQLITE_TEXT  ? "t:"
                             : type == SQLITE_BLOB  ? "b:"
                                                    : "n:";
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        row.push_back(prefix + (text && type != SQLITE_NULL ? text : ""));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return rows;
  }

  std::string Scalar(const std::string& sql) {
    auto rows = Rows(sql);
    if (rows.empty() || rows[0].empty()) return "<none>";
    return rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

using Rows = std::vector<std::vector<jet::Value>>;

inline std::filesystem::path Fixture(const std::string& name) {
  return std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4" / name;
}

// A new Jet file made by our engine with one table from `create_sql` and `rows` appended.
inline void MakeJetTable(const std::filesystem::path& path, const std::u16string& create_sql,
                         const std::u16string& table, const Rows& rows) {
  jet::CreateDatabase(path);
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(platform::FromPath(path), u"", u"", connection), 0);
  connection.Execute(create_sql);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, table, u"", u"");
  for (const auto& row : rows) {
    dataset.Append();
    for (size_t i = 0; i < row.size(); ++i) {
      if (!row[i].is_null()) dataset.SetValue(static_cast<int>(i), row[i]);
    }
    dataset.Post();
  }
}

struct JetTable {
  std::vector<jet::Field> fields;
  Rows rows;
};

// Every row of a Jet table, read by our engine.
inline JetTable ReadJetTable(const std::filesystem::path& path, const std::u16string& table,
                             const std::u16string& order = u"") {
  jet::Connection connection;
  EXPECT_EQ(db::ConnectJetDatabase(platform::FromPath(path), u"", u"", connection), 0);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, table, u"", order);
  JetTable out;
  out.fields = dataset.fields();
  for (int64_t r = 0; r < dataset.record_count(); ++r) {
    std::vector<jet::Value> row;
    for (size_t i = 0; i < out.fields.size(); ++i) {
      row.push_back(dataset.ValueAt(r, static_cast<int>(i)));
    }
    out.rows.push_back(std::move(row));
  }
  return out;
}

// Runs a shell command; returns its exit status and standard output.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string out;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = std::move(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace db_test

#endif  // QUORVEL_TESTS_DB_SQLITE_TEST_SUPPORT_H_
