// jetsql as its users run it: a child process, its standard output, standard error and exit
// status.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jet/jet.h"
#include "jet/write/database_file.h"

namespace {

const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
const std::filesystem::path kJetsql =
    std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" / "jetsql" / "jetsql";
const std::filesystem::path kOracle =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "oracle" / "dump.mjs";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (const char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Result RunProgram(const std::string& program, const std::vector<std::string>& args) {
  const auto err_path = std::filesystem::temp_directory_path() /
                        ("jetsql-test-" + std::to_string(::getpid()) + ".err");
  std::string command = ShellQuote(program);
  for (const auto& a : args) command += " " + ShellQuote(a);
  command += " 2>" + ShellQuote(err_path.string());
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadAll(err_path);
  std::filesystem::remove(err_path);
  return r;
}

Result Jetsql(const std::vector<std::string>& args) { return RunProgram(kJetsql.string(), args); }

const std::string kProjects = (kFixtures / "generated-jackcess-T_projectMain-1000.mdb").string();

TEST(JetsqlTest, ListsTheUserTables) {
  const Result r = Jetsql({kProjects, "--tables"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[\"T_projectMain\"]\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Jetsql({(kFixtures / "jackcess-adox_jet4.mdb").string(), "--tables"}).out, "[]\n");
}

TEST(JetsqlTest, PrintsEachSelectAsOneLine) {
  const Result r = Jetsql({kProjects, "SELECT * FROM T_projectMain WHERE ID = 2",
                           "SELECT * FROM [T_projectMain] WHERE ID IN_NOTHING"});
  EXPECT_EQ(r.status, 1);
  const Result ok = Jetsql({kProjects, "SELECT * FROM T_projectMain WHERE ID = 2",
                            "select * from t_projectmain where TITLE = \"A'B\"\"C%D_E*F?G[H]\""});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(
      ok.out,
      "{\"fields\":[{\"name\":\"ID\",\"type\":\"ftInteger\",\"jetType\":\"Long\",\"size\":4},"
      "{\"name\":\"TITLE\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510},"
      "{\"name\":\"FILENAME\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510},"
      "{\"name\":\"PASSWORD\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510}],"
      "\"rows\":[[2,\"東京都 道路台帳\",\"C:\\\\Data\\\\案件2\\\\project_2.dat\",\"pw2\"]]}\n"
      "{\"fields\":[{\"name\":\"ID\",\"type\":\"ftInteger\",\"jetType\":\"Long\",\"size\":4},"
      "{\"name\":\"TITLE\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510},"
      "{\"name\":\"FILENAME\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510},"
      "{\"name\":\"PASSWORD\",\"type\":\"ftWideString\",\"jetType\":\"Text\",\"size\":510}],"
      "\"rows\":[[9,\"A'B\\\"C%D_E*F?G[H]\",\"C:\\\\Data\\\\案件9\\\\project_9.dat\",\"\"]]}\n");
}

// Whole tables printed by jetsql equal what mdb-reader finds, in the same conventions
// (tables without dates before 1899 and without moved rows, where mdb-reader is known to
// differ: see the engine's oracle test).
TEST(JetsqlTest, WholeTablesMatchTheIndependentReader) {
  const struct {
    const char* file;
    const char* table;
  } cases[] = {
      {"jackcess-fixedNumericTestV2000.mdb", "test"},  // Decimal, inline memo
      {"tika-testAccess2_2000.mdb", "Table1"},         // Currency, Yes/No, OLE chain, CJK
      {"ucanaccess-pivot.mdb", "t_pivot"},             // Currency, dates
      {"jackcess-testUnicodeCompV2003.mdb", "Table"},  // compressed text, control characters
      {"jackcess-test2V2000.mdb", "MSP_PROJECTS"},     // 74 columns, Double, long values
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string file = (kFixtures / c.file).string();
    const Result oracle = RunProgram("node", {kOracle.string(), file, c.table});
    ASSERT_EQ(oracle.status, 0) << oracle.err;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = oracle.out.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines.push_back(oracle.out.substr(start, nl - start));
    }
    ASSERT_FALSE(lines.empty());
    std::string expected = "{\"fields\":" + lines[0] + ",\"rows\":[";
    for (size_t i = 1; i < lines.size(); ++i) expected += (i > 1 ? "," : "") + lines[i];
    expected += "]}\n";
    const Result r = Jetsql({file, std::string("SELECT * FROM [") + c.table + "]"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
  }
}

TEST(JetsqlTest, ErrorsGiveStatusOneAndOneLine) {
  const auto dir = std::filesystem::temp_directory_path() / "jetsql-errors";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "text.mdb") << "hello\n";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {(dir / "missing.mdb").string(), "--tables"},
      {(dir / "text.mdb").string(), "--tables"},
      {kProjects, "SELECT * FROM T_projectMain WHERE"},
      {kProjects, "SELECT * FROM T_nothing"},
      {kProjects, "INSERT INTO T_projectMain (ID) VALUES (5000)"},
      {"--check"},
  };
  for (const auto& args : cases) {
    const Result r = Jetsql(args);
    SCOPED_TRACE(args.empty() ? "(no arguments)" : args.back());
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_EQ(r.err.rfind("jetsql: ", 0), 0u) << r.err;
  }
  std::filesystem::remove_all(dir);
}

// Every error jetsql prints is the program's own Japanese sentence naming what went wrong,
// never the English text of a library, and nothing that is not a regular file is ever waited
// on. Each run is bounded by `timeout` so that a run that blocks fails instead of hanging.
TEST(JetsqlTest, EachErrorIsOurJapaneseMessage) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("jetsql-japanese-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "folder.mdb");
  const std::string folder = (dir / "folder.mdb").string();
  const std::string fifo = (dir / "pipe.mdb").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = (dir / "missing.mdb").string();
  const struct {
    std::vector<std::string> args;
    std::string expected;  // the whole line after "jetsql: "
  } cases[] = {
      {{"--check", folder},
       "データベース ファイルを開けません: " + folder +
           " は通常のファイルではなく、フォルダーです。"},
      {{folder, "--tables"},
       "データベース ファイルを開けません: " + folder +
           " は通常のファイルではなく、フォルダーです。"},
      {{"--check", fifo},
       "データベース ファイルを開けません: " + fifo +
           " は通常のファイルではなく、名前付きパイプです。"},
      {{fifo, "--tables"},
       "データベース ファイルを開けません: " + fifo +
           " は通常のファイルではなく、名前付きパイプです。"},
      {{fifo, "SELECT * FROM T"},
       "データベース ファイルを開けません: " + fifo +
           " は通常のファイルではなく、名前付きパイプです。"},
      {{"--check", "/dev/zero"},
       "データベース ファイルを開けません: /dev/zero は通常のファイルではなく、デバイスです。"},
      {{"--check", missing},
       "データベース ファイルを開けません: " + missing +
           " (ファイルまたはフォルダーが見つかりません)"},
      {{"--create", (dir / "new.mdb").string(), "@" + folder},
       "文の一覧ファイル " + folder + " を読めません。"},
      {{"--create", (dir / "new.mdb").string(), "@" + missing},
       "文の一覧ファイル " + missing + " を読めません。"},
      {{"--bogus"},
       "使い方: jetsql FILE [--tables] [SQL...] | jetsql --create FILE SQL... | jetsql --check "
       "FILE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> args = {"60", kJetsql.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = RunProgram("timeout", args);
    EXPECT_EQ(r.status, 1);  // timeout's 124 would mean jetsql waited
    EXPECT_EQ(r.err, "jetsql: " + c.expected + "\n");
  }
  std::filesystem::remove_all(dir);
}

// A file far beyond what Jet 4.0 can address (a sparse 4 GB file) is refused at once, not read
// whole into memory: the check ends with its one problem while jetsql stays small.
TEST(JetsqlTest, CheckOfAHugeFileEndsInBoundedMemory) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("jetsql-huge-" + std::to_string(::getpid()) + ".mdb");
  std::ofstream(file, std::ios::binary).put('\0');
  std::filesystem::resize_file(file, uint64_t{4} << 30);
  const Result r = RunProgram("timeout", {"120", kJetsql.string(), "--check", file.string()});
  std::filesystem::remove(file);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "ファイルの大きさ 4294967296 バイトは Jet 4.0 のデータベースの上限 (2 GB) "
            "を超えています\n"
            "問題が 1 件あります (テーブル 0、行 0、索引の項目 0)\n");
  // The largest of the children this test waited for (the shell, timeout and jetsql).
  struct rusage usage {};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 128L * 1024) << "kilobytes";
}

// The check of a table with many rows and two indexes holds neither the rows nor the index
// entries: it ends within 64 MB of address space. Keeping a key per row and entry, as a check
// that compares sorted lists would, takes well over 100 MB for these 300,000 rows. (The limit
// is on jetsql alone; the peak resident size of a child would also count this process's
// pages, which hold the writer's.)
TEST(JetsqlTest, CheckOfManyRowsEndsInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves far more address space than the limit";
#endif
  const auto file = std::filesystem::temp_directory_path() /
                    ("jetsql-rows-" + std::to_string(::getpid()) + ".mdb");
  constexpr int kRows = 300000;
  {
    // Written in this process: the limit is set for the check alone.
    auto db = jet::write::DatabaseFile::Create(file, 45000);
    jet::write::TableSpec spec;
    spec.name = u"T";
    spec.columns = {{.name = u"ID", .type = jet::ColumnType::kLong},
                    {.name = u"CODE", .type = jet::ColumnType::kText, .length = 20}};
    spec.indexes = {
        {.name = u"PrimaryKey", .columns = {{u"ID", true}}, .primary_key = true, .unique = true},
        {.name = u"code", .columns = {{u"CODE", false}}, .unique = true}};
    db->CreateTable(spec, 45000);
    for (int i = 0; i < kRows; ++i) {
      const std::string code = "code-" + std::to_string(i * 7 % kRows);
      db->InsertRow(u"T", {jet::Value::Integer(i),
                           jet::Value::Text(std::u16string(code.begin(), code.end()))});
    }
    db->Flush();
  }
  const Result r =
      RunProgram("timeout", {"300", "sh", "-c", "ulimit -v 65536 && exec \"$0\" --check \"$1\"",
                             kJetsql.string(), file.string()});
  std::filesystem::remove(file);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("問題はありません"), std::string::npos) << r.out;
}

}  // namespace
