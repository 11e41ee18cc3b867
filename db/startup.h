// Choosing and opening the basic database once per run, while the program starts.
//
// The procedure works on what the main window hands it (the connection, the project
// dataset, the path box, the open dialog, the message box and the status bar), so that it
// runs without windows in tests.
#ifndef QUORVEL_DB_STARTUP_H_
#define QUORVEL_DB_STARTUP_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "jet/jet.h"

namespace db {

inline constexpr std::u16string_view kStartupOrderClause = u"ORDER BY ID";
inline constexpr std::u16string_view kOpenFailedMessage = u"基本情報データベースが開けませんでした";
inline constexpr std::u16string_view kNoDatabaseMessage =
    u"このシステムではデータベースを選択しないと動作しません";

// "基本情報データベースが開けませんでした" with the file's path on a line of its own.
std::u16string OpenFailedMessage(std::u16string_view path);

// Shown before the open dialog when the configured basic database is gone: names the file
// and says that it was not found.
std::u16string ConfiguredFileMissingMessage(std::u16string_view path);

// The message shown when the basic database to be made from a SQLite file already exists.
std::u16string ExistingNewDatabaseMessage(std::u16string_view new_path);

// The extension of `path` with its dot: the text from the last "." after the last
// separator ("\", "/" or ":"); empty when there is none.
std::u16string_view PathExtension(std::u16string_view path);

// True when the extension, upper-cased (ASCII letters only), is ".SQLITE".
bool IsSQLitePath(std::u16string_view path);

// `sqlite_path` with its extension replaced by ".mdb".
std::u16string NewBasicDatabasePath(std::u16string_view sqlite_path);

// What the start-up choice works on.
struct StartupIo {
  jet::Connection* connection = nullptr;                           // the main window's connection
  jet::Dataset* dataset = nullptr;                                 // the project dataset
  std::function<std::u16string()> get_configured_path;             // the path box
  std::function<void(const std::u16string&)> set_configured_path;  // the path box
  std::function<std::optional<std::u16string>()> choose_file;      // the open dialog
  std::function<void(std::u16string_view)> show_error;             // modal error box
  std::function<void(std::u16string_view)> show_warning;           // modal warning box
  std::function<void(const std::u16string&)> set_status;           // the status bar
  // Makes a new basic database at new_path from the table of the SQLite file (arguments:
  // new path, SQLite path, table name); raises an error on failure. When it is not given,
  // choosing a SQLite file raises an error saying that the conversion is not available.
  std::function<void(std::u16string_view, std::u16string_view, std::u16string_view)>
      import_sqlite_to_jet;
};

enum class StartupResult {
  kListed,      // the project table is listed
  kNotListed,   // the configured file could not be opened; the program goes on
  kEndProgram,  // the user refused to choose, or the new basic database exists: end
};

// Opens the configured basic database, or asks for one. Errors of the conversion and of the
// query propagate to the caller.
StartupResult OpenBasicDatabaseAtStartup(const StartupIo& io);

}  // namespace db

#endif  // QUORVEL_DB_STARTUP_H_
