#include "db/startup.h"

#include "base/fold.h"
#include "db/basic_database.h"
#include "platform/error.h"

namespace db {

namespace {

void ListProjects(const StartupIo& io, std::u16string_view order_clause) {
  OpenTableQuery(*io.dataset, kProjectTable, u"", order_clause);
  io.set_status(RecordCountText(io.dataset->record_count()));
}

// A SQLite file was chosen: it becomes a new basic database beside it, which is then listed
// and remembered as the configured path.
StartupResult OpenFromSQLite(const StartupIo& io, const std::u16string& sqlite_path) {
  const std::u16string new_path = NewBasicDatabasePath(sqlite_path);
  if (FileExists(new_path)) {
    io.show_error(ExistingNewDatabaseMessage(new_path));
    return StartupResult::kEndProgram;
  }
  if (!io.import_sqlite_to_jet) {
    throw platform::Error(u"SQLite ファイルから基本データベースを作る機能がありません");
  }
  io.import_sqlite_to_jet(new_path, sqlite_path, kProjectTable);
  ConnectJetDatabase(new_path, u"", u"", *io.connection);
  ListProjects(io, u"");
  io.set_configured_path(new_path);
  return StartupResult::kListed;
}

}  // namespace

std::u16string OpenFailedMessage(std::u16string_view path) {
  std::u16string text(kOpenFailedMessage);
  text += u"\r";
  text += path;
  return text;
}

std::u16string ConfiguredFileMissingMessage(std::u16string_view path) {
  std::u16string text = u"設定されている基本データベース\r";
  text += path;
  text += u"\rが見つかりませんでした。次の画面で基本データベースを選択してください。";
  return text;
}

std::u16string ExistingNewDatabaseMessage(std::u16string_view new_path) {
  std::u16string text = u"新規MDBとして指定されている";
  text += new_path;
  text += u"は";
  text += u"\r";
  text += u"既に存在しています";
  text += u"\r";
  text += u"設定タブで適切な名前に変更するか、削除または適切な場所に移動して再度実行してください";
  return text;
}

std::u16string_view PathExtension(std::u16string_view path) {
  const size_t dot = path.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return {};
  const size_t separator = path.find_last_of(u"\\/:");
  if (separator != std::u16string_view::npos && separator > dot) return {};
  return path.substr(dot);
}

bool IsSQLitePath(std::u16string_view path) {
  return base::AsciiUpper(PathExtension(path)) == u".SQLITE";
}

std::u16string NewBasicDatabasePath(std::u16string_view sqlite_path) {
  const std::u16string_view extension = PathExtension(sqlite_path);
  std::u16string result(sqlite_path.substr(0, sqlite_path.size() - extension.size()));
  result += u".mdb";
  return result;
}

StartupResult OpenBasicDatabaseAtStartup(const StartupIo& io) {
  const std::u16string configured = io.get_configured_path();
  if (FileExists(configured)) {
    if (ConnectJetDatabase(configured, u"", u"", *io.connection) != kConnectOk) {
      io.show_error(OpenFailedMessage(configured));
      return StartupResult::kNotListed;
    }
    ListProjects(io, kStartupOrderClause);
    return StartupResult::kListed;
  }
  // A path that was set once but names no file any more: say so before asking again (a
  // first start, with no path, goes straight to the dialog).
  if (!configured.empty() && io.show_warning) {
    io.show_warning(ConfiguredFileMissingMessage(configured));
  }

  const std::optional<std::u16string> chosen = io.choose_file();
  if (!chosen) {
    io.show_error(kNoDatabaseMessage);
    return StartupResult::kEndProgram;
  }
  if (IsSQLitePath(*chosen)) return OpenFromSQLite(io, *chosen);

  io.set_configured_path(*chosen);
  ConnectJetDatabase(io.get_configured_path(), u"", u"", *io.connection);
  ListProjects(io, u"");
  return StartupResult::kListed;
}

}  // namespace db
