// The basic database primitives and the start-up choice on real Jet files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/startup.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(QUORVEL_FIXTURES_DIR) / "jet4";
const fs::path kProjects = kFixtures / "generated-jackcess-T_projectMain-1000.mdb";

std::u16string U16(const fs::path& path) { return platform::FromPath(path); }

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name)
      : path_(fs::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  fs::path Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return path_ / name;
  }

 private:
  fs::path path_;
};

bool ContainsIgnoringAsciiCase(std::u16string_view text, std::u16string_view part) {
  auto fold = [](char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
  };
  if (part.size() > text.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < part.size() && fold(text[i + j]) == fold(part[j])) ++j;
    if (j == part.size()) return true;
  }
  return false;
}

// Counts the rows of the whole table that satisfy `keep`, reading every row ourselves.
int64_t CountRows(jet::Connection& connection,
                  const std::function<bool(const jet::Value& title, const jet::Value& filename,
                                           const jet::Value& password)>& keep) {
  jet::Dataset all(&connection);
  db::OpenTableQuery(all, db::kProjectTable, u"", u"");
  const int title = all.FieldIndex(u"TITLE");
  const int filename = all.FieldIndex(u"FILENAME");
  const int password = all.FieldIndex(u"PASSWORD");
  int64_t count = 0;
  for (int64_t row = 0; row < all.record_count(); ++row) {
    if (keep(all.ValueAt(row, title), all.ValueAt(row, filename), all.ValueAt(row, password))) {
      ++count;
    }
  }
  return count;
}

TEST(ConnectJetDatabase, OpensAnExistingJetFile) {
  jet::Connection connection;
  EXPECT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  EXPECT_TRUE(connection.connected());
  EXPECT_EQ(connection.connection_string(), db::JetConnectionString(U16(kProjects), u"", u""));
}

TEST(ConnectJetDatabase, MissingFileOrFolderLeavesTheConnectionAlone) {
  ScratchDir dir("connect-missing");
  fs::create_directories(dir.path() / "folder.mdb");
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  const std::u16string before = connection.connection_string();
  for (const fs::path& path : {dir.path() / "none.mdb", dir.path() / "folder.mdb", fs::path()}) {
    EXPECT_EQ(db::ConnectJetDatabase(U16(path), u"", u"", connection), db::kConnectNoFile);
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(connection.connection_string(), before);
  }
}

TEST(ConnectJetDatabase, UnreadableFilesGiveMinusTwoAndACloseConnection) {
  ScratchDir dir("connect-bad");
  std::string header;
  {
    std::ifstream in(kProjects, std::ios::binary);
    header.assign(4096, '\0');
    in.read(header.data(), 4096);
  }
  const fs::path bad[] = {
      dir.Write("empty.mdb", ""),
      dir.Write("text.mdb", "this is not a database\n"),
      dir.Write("truncated.mdb", header),
      dir.Write("sqlite.mdb", std::string("SQLite format 3\0", 16) + std::string(4080, '\0')),
  };
  for (const fs::path& path : bad) {
    SCOPED_TRACE(path.string());
    jet::Connection connection;
    ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
    EXPECT_EQ(db::ConnectJetDatabase(U16(path), u"", u"", connection), db::kConnectFailed);
    EXPECT_FALSE(connection.connected());
    EXPECT_EQ(connection.connection_string(), db::JetConnectionString(U16(path), u"", u""));
  }
}

TEST(OpenTableQuery, AlwaysWritesBothBlanks) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
  EXPECT_EQ(dataset.command_text(), u"SELECT * FROM T_projectMain  ");
  EXPECT_EQ(dataset.record_count(), 1000);
  db::OpenTableQuery(dataset, u"T_projectMain", u"", u"ORDER BY ID");
  EXPECT_EQ(dataset.command_text(), u"SELECT * FROM T_projectMain  ORDER BY ID");
  db::OpenTableQuery(dataset, u"T_projectMain", u"WHERE ID < 3", u"");
  EXPECT_EQ(dataset.command_text(), u"SELECT * FROM T_projectMain WHERE ID < 3 ");
  EXPECT_EQ(dataset.record_count(), 2);
}

TEST(OpenTableQuery, AFailedQueryLeavesTheDatasetClosedWithoutFields) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
  ASSERT_FALSE(dataset.fields().empty());
  EXPECT_THROW(db::OpenTableQuery(dataset, u"NoSuchTable", u"", u""), jet::Error);
  EXPECT_FALSE(dataset.active());
  EXPECT_TRUE(dataset.fields().empty());
}

TEST(BuildKeywordFilter, ProjectTableClauseFromTheOpenDataset) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  EXPECT_EQ(db::BuildKeywordFilter(dataset, u"abc"), u"");  // closed: no fields
  db::OpenTableQuery(dataset, u"T_projectMain", u"", u"");
  EXPECT_EQ(db::BuildKeywordFilter(dataset, u"abc"),
            u"WHERE ( ([TITLE] Like \"%abc%\") OR ([FILENAME] Like \"%abc%\") )");
}

using RowTest = std::function<bool(const jet::Value&, const jet::Value&, const jet::Value&)>;

struct KeywordCase {
  const char* name;
  std::u16string keyword;
  RowTest expected;
};

RowTest TitleOrFilenameContains(std::u16string part) {
  return [part](const jet::Value& title, const jet::Value& filename, const jet::Value&) {
    return (!title.is_null() && ContainsIgnoringAsciiCase(title.text(), part)) ||
           (!filename.is_null() && ContainsIgnoringAsciiCase(filename.text(), part));
  };
}

class KeywordOnFixture : public ::testing::TestWithParam<KeywordCase> {};

TEST_P(KeywordOnFixture, CountsTheRowsThatHoldTheKeyword) {
  const KeywordCase& c = GetParam();
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, db::kProjectTable, u"", u"ORDER BY ID");
  std::u16string status = u"unchanged";
  db::ApplyKeywordFilter(dataset, c.keyword, [&](const std::u16string& text) { status = text; });
  const int64_t expected = CountRows(connection, c.expected);
  EXPECT_EQ(dataset.record_count(), expected);
  EXPECT_EQ(status, db::RecordCountText(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Fixture, KeywordOnFixture,
    ::testing::Values(
        KeywordCase{"Empty", u"", [](auto&, auto&, auto&) { return true; }},
        KeywordCase{"Japanese", u"東京", TitleOrFilenameContains(u"東京")},
        KeywordCase{"HalfWidthKatakana", u"ｶﾀｶﾅ", TitleOrFilenameContains(u"ｶﾀｶﾅ")},
        KeywordCase{"LetterCaseIgnored", u"SAMPLE", TitleOrFilenameContains(u"sample")},
        KeywordCase{"Blanks", u"  ", TitleOrFilenameContains(u"  ")},
        KeywordCase{"DoubleQuote", u"\"", TitleOrFilenameContains(u"\"")},
        KeywordCase{"QuoteInside", u"B\"C", TitleOrFilenameContains(u"B\"C")},
        KeywordCase{"SingleQuote", u"A'B", TitleOrFilenameContains(u"A'B")},
        KeywordCase{"PasswordNeverSearched", u"pw2", TitleOrFilenameContains(u"pw2")},
        KeywordCase{"PercentMatchesAnyText", u"%",
                    [](const jet::Value& title, const jet::Value& file, const jet::Value&) {
                      return !title.is_null() || !file.is_null();
                    }},
        KeywordCase{"UnderscoreMatchesAnyNonEmptyText", u"_",
                    [](const jet::Value& title, const jet::Value& file, const jet::Value&) {
                      return (!title.is_null() && !title.text().empty()) ||
                             (!file.is_null() && !file.text().empty());
                    }}),
    [](const ::testing::TestParamInfo<KeywordCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(ApplyKeywordFilter, PasswordsCannotBeFoundThroughTheCount) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, db::kProjectTable, u"", u"");
  db::ApplyKeywordFilter(dataset, u"pw", nullptr);
  EXPECT_EQ(dataset.record_count(), 0);
}

TEST(ApplyKeywordFilter, AfterAFailedQueryTheKeywordStillFilters) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  EXPECT_THROW(db::OpenTableQuery(dataset, u"NoSuchTable", u"", u""), jet::Error);
  ASSERT_TRUE(dataset.fields().empty());
  std::u16string status;
  db::ApplyKeywordFilter(dataset, u"東京", [&](const std::u16string& text) { status = text; });
  const int64_t expected = CountRows(connection, TitleOrFilenameContains(u"東京"));
  EXPECT_GT(expected, 0);
  EXPECT_LT(expected, 1000);
  EXPECT_EQ(dataset.record_count(), expected);
  EXPECT_EQ(status, db::RecordCountText(expected));
}

TEST(ApplyKeywordFilter, BracketsAndPatternsNeverCrash) {
  jet::Connection connection;
  ASSERT_EQ(db::ConnectJetDatabase(U16(kProjects), u"", u"", connection), db::kConnectOk);
  jet::Dataset dataset(&connection);
  db::OpenTableQuery(dataset, db::kProjectTable, u"", u"");
  for (std::u16string keyword : {u"[", u"]", u"[H]", u"[!a]", u"G[H", u"%\"%", u"\"\"\"", u"*",
                                 u"?", u"'", u")", u"--", u"\\"}) {
    SCOPED_TRACE(base::ToUtf8(keyword));
    std::u16string status = u"before";
    try {
      db::ApplyKeywordFilter(dataset, keyword, [&](const std::u16string& t) { status = t; });
      EXPECT_EQ(status, db::RecordCountText(dataset.record_count()));
    } catch (const jet::Error& error) {
      // A pattern the engine refuses is reported with its message; the status stays.
      EXPECT_FALSE(error.message().empty());
      EXPECT_EQ(status, u"before");
    }
  }
}

// The start-up choice, with the window's parts replaced by recorders.
struct StartupRig {
  jet::Connection connection;
  jet::Dataset dataset{&connection};
  std::u16string configured;
  std::optional<std::u16string> dialog_answer;
  int dialogs = 0;
  std::vector<std::u16string> errors;
  std::u16string status = u"status before";
  std::vector<std::u16string> imports;
  std::vector<std::pair<std::u16string, int>> warnings;

  db::StartupIo Io(bool with_import = false) {
    db::StartupIo io;
    io.connection = &connection;
    io.dataset = &dataset;
    io.get_configured_path = [this] { return configured; };
    io.set_configured_path = [this](const std::u16string& path) { configured = path; };
    io.choose_file = [this] {
      ++dialogs;
      return dialog_answer;
    };
    io.show_error = [this](std::u16string_view text) { errors.emplace_back(text); };
    // Each warning with the number of dialogs shown before it.
    io.show_warning = [this](std::u16string_view text) {
      warnings.emplace_back(std::u16string(text), dialogs);
    };
    io.set_status = [this](const std::u16string& text) { status = text; };
    if (with_import) {
      io.import_sqlite_to_jet = [this](std::u16string_view new_path, std::u16string_view,
                                       std::u16string_view) {
        imports.emplace_back(new_path);
        fs::copy_file(kProjects, platform::ToPath(new_path));
      };
    }
    return io;
  }
};

TEST(OpenBasicDatabaseAtStartup, ConfiguredFileIsListedByID) {
  StartupRig rig;
  rig.configured = U16(kProjects);
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kListed);
  EXPECT_EQ(rig.dialogs, 0);
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_EQ(rig.dataset.command_text(), u"SELECT * FROM T_projectMain  ORDER BY ID");
  EXPECT_EQ(rig.status, u"1000 件のレコードが見つかりました");
  int64_t previous = -1;
  for (int64_t row = 0; row < rig.dataset.record_count(); ++row) {
    const int64_t id = rig.dataset.ValueAt(row, rig.dataset.FieldIndex(u"ID")).integer();
    EXPECT_GT(id, previous);
    previous = id;
  }
}

TEST(OpenBasicDatabaseAtStartup, DamagedConfiguredFileShowsTheMessageAndGoesOn) {
  ScratchDir dir("startup-damaged");
  StartupRig rig;
  rig.configured = U16(dir.Write("damaged.mdb", std::string(8192, '\x5a')));
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kNotListed);
  EXPECT_EQ(rig.dialogs, 0);
  ASSERT_EQ(rig.errors.size(), 1u);
  // The fixed text, then the file on a line of its own.
  EXPECT_EQ(rig.errors[0], u"基本情報データベースが開けませんでした\r" + rig.configured);
  EXPECT_TRUE(rig.warnings.empty());
  EXPECT_EQ(rig.status, u"status before");
  EXPECT_FALSE(rig.dataset.active());
}

TEST(OpenBasicDatabaseAtStartup, MissingEmptyOrFolderPathAsksAndCancelEnds) {
  ScratchDir dir("startup-cancel");
  fs::create_directories(dir.path() / "folder.mdb");
  const struct {
    std::u16string configured;
    bool warned;  // a path that names no file is named before the dialog opens
  } cases[] = {
      {std::u16string(), false},
      {U16(dir.path() / "none.mdb"), true},
      {U16(dir.path() / "folder.mdb"), true},
  };
  for (const auto& c : cases) {
    StartupRig rig;
    rig.configured = c.configured;
    EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kEndProgram);
    EXPECT_EQ(rig.dialogs, 1);
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0], u"このシステムではデータベースを選択しないと動作しません");
    EXPECT_EQ(rig.configured, c.configured);
    if (c.warned) {
      ASSERT_EQ(rig.warnings.size(), 1u);
      EXPECT_EQ(rig.warnings[0].first,
                u"設定されている基本データベース\r" + c.configured +
                    u"\rが見つかりませんでした。次の画面で基本データベースを選択してください。");
      EXPECT_EQ(rig.warnings[0].second, 0);  // before the dialog
    } else {
      EXPECT_TRUE(rig.warnings.empty());
    }
  }
}

TEST(OpenBasicDatabaseAtStartup, ChosenJetFileIsRememberedAndListedUnordered) {
  StartupRig rig;
  rig.dialog_answer = U16(kProjects);
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io()), db::StartupResult::kListed);
  EXPECT_EQ(rig.configured, U16(kProjects));
  EXPECT_EQ(rig.dataset.command_text(), u"SELECT * FROM T_projectMain  ");
  EXPECT_EQ(rig.status, u"1000 件のレコードが見つかりました");
}

TEST(OpenBasicDatabaseAtStartup, ChosenFileThatIsNoJetDatabaseFailsAfterRememberingIt) {
  ScratchDir dir("startup-nojet");
  for (const fs::path& path : {dir.Write("projects.db", "no database"), dir.path() / "typed.mdb"}) {
    StartupRig rig;
    rig.dialog_answer = U16(path);
    EXPECT_THROW(db::OpenBasicDatabaseAtStartup(rig.Io()), std::exception);
    EXPECT_EQ(rig.configured, U16(path));
    EXPECT_EQ(rig.status, u"status before");
  }
}

TEST(OpenBasicDatabaseAtStartup, SQLiteChoiceWithExistingTargetEndsWithoutTouchingFiles) {
  ScratchDir dir("startup-exists");
  const fs::path sqlite = dir.Write("p.SQLite", "sqlite bytes");
  const fs::path target = dir.Write("p.mdb", "existing bytes");
  StartupRig rig;
  rig.configured = u"old";
  rig.dialog_answer = U16(sqlite);
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io(true)), db::StartupResult::kEndProgram);
  ASSERT_EQ(rig.errors.size(), 1u);
  EXPECT_EQ(rig.errors[0], db::ExistingNewDatabaseMessage(U16(target)));
  EXPECT_TRUE(rig.imports.empty());
  EXPECT_EQ(rig.configured, u"old");
  EXPECT_EQ(fs::file_size(target), 14u);
}

TEST(OpenBasicDatabaseAtStartup, SQLiteChoiceConvertsListsAndRemembersTheNewFile) {
  ScratchDir dir("startup-sqlite");
  const fs::path sqlite = dir.Write("p.sqlite", "sqlite bytes");
  StartupRig rig;
  rig.dialog_answer = U16(sqlite);
  EXPECT_EQ(db::OpenBasicDatabaseAtStartup(rig.Io(true)), db::StartupResult::kListed);
  ASSERT_EQ(rig.imports.size(), 1u);
  EXPECT_EQ(rig.imports[0], U16(dir.path() / "p.mdb"));
  EXPECT_EQ(rig.configured, U16(dir.path() / "p.mdb"));
  EXPECT_EQ(rig.dataset.command_text(), u"SELECT * FROM T_projectMain  ");
  EXPECT_EQ(rig.status, u"1000 件のレコードが見つかりました");
}

TEST(OpenBasicDatabaseAtStartup, SQLiteChoiceWithoutConversionIsAnError) {
  ScratchDir dir("startup-noconv");
  StartupRig rig;
  rig.dialog_answer = U16(dir.Write("p.sqlite", "x"));
  EXPECT_THROW(db::OpenBasicDatabaseAtStartup(rig.Io(false)), std::exception);
  EXPECT_FALSE(fs::exists(dir.path() / "p.mdb"));
}

}  // namespace
