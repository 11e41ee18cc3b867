// WHERE, LIKE and ORDER BY on the fixture files through the dataset, each result checked
// against an independent evaluation: tests/jet/sql_oracle.mjs reads the same rows with
// mdb-reader and applies the same condition, written as a JSON tree, with JavaScript
// regular expressions and comparisons.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/jet.h"
#include "tests/jet/write_support.h"

namespace jet {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
const std::filesystem::path kMdbReader = std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" /
                                         "oracle" / "node_modules" / "mdb-reader" / "lib" / "node" /
                                         "index.js";
const std::filesystem::path kScript =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "jet" / "sql_oracle.mjs";

struct Query {
  std::string clauses;  // after "SELECT * FROM table "
  std::string json;     // the same query for the oracle
};

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

// The keyword filter's clause over the given fields, with double quotes doubled.
Query Keyword(const std::string& keyword, const std::vector<std::string>& fields) {
  std::string quoted;
  for (char c : keyword) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  Query q;
  q.clauses = "WHERE ( ";
  q.json = R"({"where":{"or":[)";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      q.clauses += " OR ";
      q.json += ",";
    }
    q.clauses += "([" + fields[i] + "] Like \"%" + quoted + "%\")";
    q.json += R"({"like":[)" + JsonString(fields[i]) + "," + JsonString("%" + keyword + "%") + "]}";
  }
  q.clauses += " ) ";
  q.json += "]},\"order\":[]}";
  return q;
}

std::vector<std::string> RunOracle(const std::filesystem::path& file, const std::string& table,
                                   const std::vector<Query>& queries) {
  const std::filesystem::path queries_file =
      std::filesystem::temp_directory_path() /
      ("quorvel-sql-oracle-" + std::to_string(::getpid()) + ".json");
  {
    std::ofstream out(queries_file, std::ios::binary);
    out << "[";
    for (size_t i = 0; i < queries.size(); ++i) out << (i ? "," : "") << queries[i].json;
    out << "]";
  }
  const std::string command = "node '" + kScript.string() + "' '" + kMdbReader.string() + "' '" +
                              file.string() + "' '" + table + "' '" + queries_file.string() + "'";
  const write_test::CommandResult result = write_test::RunCommand(command);
  EXPECT_EQ(result.status, 0) << command;
  const std::string& out = result.out;
  std::filesystem::remove(queries_file);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(out.substr(start, nl - start));
  }
  return lines;
}

std::string OurIds(Connection& connection, const std::string& table, const Query& q,
                   int64_t* count) {
  Dataset dataset(&connection);
  dataset.SetCommandText(base::FromUtf8("SELECT * FROM " + table + " " + q.clauses));
  dataset.Open();
  *count = dataset.record_count();
  std::string ids;
  for (dataset.First(); !dataset.eof(); dataset.Next()) {
    if (!ids.empty()) ids += ",";
    ids += std::to_string(dataset.FieldByName(u"ID").integer());
  }
  return ids;
}

void CheckAgainstOracle(const std::string& file_name, const std::string& table,
                        const std::vector<Query>& queries) {
  if (!write_test::kLinuxReadersRun) GTEST_SKIP() << write_test::kNoLinuxReaders;
  if (!std::filesystem::exists(kMdbReader) || std::system("node --version >/dev/null 2>&1")) {
    GTEST_SKIP() << "node and mdb-reader (tests/oracle) are needed";
  }
  const std::filesystem::path file = kFixtures / file_name;
  const std::vector<std::string> expected = RunOracle(file, table, queries);
  ASSERT_EQ(expected.size(), queries.size());
  Connection connection;
  connection.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                 base::FromUtf8(file.string()) + u";Mode=Share Deny None;");
  connection.Open();
  for (size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(queries[i].clauses);
    int64_t count = 0;
    EXPECT_EQ(OurIds(connection, table, queries[i], &count), expected[i]);
    const std::string& line = expected[i];
    const int64_t expected_count =
        line.empty() ? 0 : 1 + static_cast<int64_t>(std::count(line.begin(), line.end(), ','));
    EXPECT_EQ(count, expected_count);
  }
}

TEST(SqlFixtureTest, ProjectTableKeywordFilter) {
  const std::vector<std::string> searched = {"TITLE", "FILENAME", "PASSWORD"};
  std::vector<Query> queries;
  for (const char* keyword : {"sample",
                              "SAMPLE",
                              "Project",
                              "東京",
                              "道路台帳 #1",
                              "ｶﾀｶﾅ",
                              "ﾃｽﾄ #2",
                              "カタカナ",
                              "かな",
                              "é",
                              "É",
                              "ÜNÏCÖDÉ",
                              "“quotes”",
                              "€",
                              "%",
                              "_",
                              "[%]",
                              "[_]",
                              "C[%]",
                              "[[]H]",
                              "*",
                              "?",
                              "*F?",
                              "'",
                              "A'B",
                              "\"",
                              "B\"C",
                              "#1_",
                              "#[0-9][0-9]0",
                              "#[!0-9]",
                              "pw1",
                              "PW99",
                              "data\\案件1",
                              "案件10\\",
                              " ",
                              "  ",
                              "x",
                              "データデータデータ",
                              "no such thing",
                              "%%",
                              "[]",
                              "[",
                              "]",
                              "_#_",
                              "#1__ "}) {
    queries.push_back(Keyword(keyword, searched));
  }
  // The filter without the password field, as the program builds it.
  queries.push_back(Keyword("pw", {"TITLE", "FILENAME"}));
  CheckAgainstOracle("generated-jackcess-T_projectMain-1000.mdb", "T_projectMain", queries);
}

TEST(SqlFixtureTest, ProjectTableConditionsAndOrder) {
  const std::vector<Query> queries = {
      {"", R"({"where":null})"},
      {" ORDER BY ID", R"({"where":null,"order":[["ID",false]]})"},
      {" ORDER BY ID DESC", R"({"where":null,"order":[["ID",true]]})"},
      {" ORDER BY TITLE", R"({"where":null,"order":[["TITLE",false]]})"},
      {" ORDER BY [TITLE] DESC", R"({"where":null,"order":[["TITLE",true]]})"},
      {" ORDER BY PASSWORD, FILENAME DESC",
       R"({"where":null,"order":[["PASSWORD",false],["FILENAME",true]]})"},
      {"WHERE ID > 500 AND ID <= 510",
       R"({"where":{"and":[{"cmp":["ID",">",500]},{"cmp":["ID","<=",510]}]}})"},
      {"WHERE PASSWORD = ''", R"({"where":{"cmp":["PASSWORD","=",""]}})"},
      {"WHERE PASSWORD IS NULL", R"({"where":{"isnull":"PASSWORD"}})"},
      {"WHERE NOT PASSWORD IS NULL ORDER BY PASSWORD DESC",
       R"({"where":{"not":{"isnull":"PASSWORD"}},"order":[["PASSWORD",true]]})"},
      {"WHERE PASSWORD <> 'pw2' AND ID < 40",
       R"({"where":{"and":[{"cmp":["PASSWORD","<>","pw2"]},{"cmp":["ID","<",40]}]}})"},
      {"WHERE TITLE >= 'x' ORDER BY TITLE",
       R"({"where":{"cmp":["TITLE",">=","x"]},"order":[["TITLE",false]]})"},
      {"WHERE TITLE = 'SAMPLE PROJECT'", R"({"where":{"cmp":["TITLE","=","sample project"]}})"},
      {"WHERE NOT (TITLE LIKE '%#%') ORDER BY FILENAME",
       R"({"where":{"not":{"like":["TITLE","%#%"]}},"order":[["FILENAME",false]]})"},
      {"WHERE FILENAME NOT LIKE '%project_1%' AND TITLE LIKE 'Sample%'",
       R"({"where":{"and":[{"not":{"like":["FILENAME","%project_1%"]}},{"like":["TITLE","Sample%"]}]}})"},
      {"WHERE (TITLE LIKE '%#9_' OR PASSWORD LIKE 'pw_') AND NOT FILENAME IS NULL ORDER BY ID DESC",
       R"({"where":{"and":[{"or":[{"like":["TITLE","%#9_"]},{"like":["PASSWORD","pw_"]}]},{"not":{"isnull":"FILENAME"}}]},"order":[["ID",true]]})"},
  };
  CheckAgainstOracle("generated-jackcess-T_projectMain-1000.mdb", "T_projectMain", queries);
}

TEST(SqlFixtureTest, TypesTableNumbersTextsAndMemos) {
  const std::vector<Query> queries = {
      {" ORDER BY F_DOUBLE", R"({"where":null,"order":[["F_DOUBLE",false]]})"},
      {" ORDER BY F_SINGLE DESC", R"({"where":null,"order":[["F_SINGLE",true]]})"},
      {" ORDER BY F_INT, F_BYTE DESC",
       R"({"where":null,"order":[["F_INT",false],["F_BYTE",true]]})"},
      {" ORDER BY F_LONG", R"({"where":null,"order":[["F_LONG",false]]})"},
      {" ORDER BY F_CURRENCY DESC", R"({"where":null,"order":[["F_CURRENCY",true]]})"},
      {" ORDER BY F_DECIMAL", R"({"where":null,"order":[["F_DECIMAL",false]]})"},
      {" ORDER BY F_BOOL, ID DESC", R"({"where":null,"order":[["F_BOOL",false],["ID",true]]})"},
      {" ORDER BY F_TEXT", R"({"where":null,"order":[["F_TEXT",false]]})"},
      {"WHERE F_DOUBLE > 0.5", R"({"where":{"cmp":["F_DOUBLE",">",0.5]}})"},
      {"WHERE F_INT >= -100 AND F_INT <= 100",
       R"({"where":{"and":[{"cmp":["F_INT",">=",-100]},{"cmp":["F_INT","<=",100]}]}})"},
      {"WHERE F_BOOL = True", R"({"where":{"cmp":["F_BOOL","=",-1]}})"},
      {"WHERE F_CURRENCY < -1000", R"({"where":{"cmp":["F_CURRENCY","<",-1000]}})"},
      {"WHERE F_TEXT LIKE '%ä%'", R"({"where":{"like":["F_TEXT","%ä%"]}})"},
      {"WHERE F_TEXT LIKE '%ｶﾅ%' OR F_MEMO LIKE '%メモ 1_'",
       R"({"where":{"or":[{"like":["F_TEXT","%ｶﾅ%"]},{"like":["F_MEMO","%メモ 1_"]}]}})"},
      {"WHERE F_MEMO IS NULL", R"({"where":{"isnull":"F_MEMO"}})"},
      {"WHERE F_TEXT = ''", R"({"where":{"cmp":["F_TEXT","=",""]}})"},
  };
  CheckAgainstOracle("generated-jackcess-types-rich.mdb", "T_types", queries);
}

// A keyword with one double quote, put into the clause as typed, ends the literal early: the
// opening fails with a syntax error naming the place, and the dataset is closed with no
// fields. The same keyword with the quote doubled searches for the quote.
TEST(SqlFixtureTest, UnbalancedQuoteIsASyntaxErrorThroughTheDataset) {
  Connection connection;
  connection.SetConnectionString(
      u"Data Source=" +
      base::FromUtf8((kFixtures / "generated-jackcess-T_projectMain-1000.mdb").string()) + u";");
  connection.Open();
  Dataset dataset(&connection);
  dataset.SetCommandText(u"SELECT * FROM T_projectMain  ");
  dataset.Open();
  ASSERT_EQ(dataset.record_count(), 1000);
  dataset.SetCommandText(
      u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%B\"C%\") OR ([FILENAME] Like "
      u"\"%B\"C%\") )  ");
  try {
    dataset.Open();
    ADD_FAILURE() << "opened";
  } catch (const Error& e) {
    EXPECT_EQ(base::ToUtf8(e.message()), "SQL の構文エラー: 55 文字目付近「C」: ) が必要です");
  }
  EXPECT_FALSE(dataset.active());
  EXPECT_TRUE(dataset.fields().empty());
  dataset.SetCommandText(
      u"SELECT * FROM T_projectMain WHERE ( ([TITLE] Like \"%B\"\"C%\") OR ([FILENAME] Like "
      u"\"%B\"\"C%\") )  ");
  dataset.Open();
  EXPECT_EQ(dataset.record_count(), 100);
  EXPECT_EQ(dataset.FieldByName(u"TITLE"), Value::Text(u"A'B\"C%D_E*F?G[H]"));
}

}  // namespace
}  // namespace jet
