// Access to the basic database, the Jet file that lists the GIS projects in its table
// T_projectMain: the connection with its fixed connection string, the table query, and the
// keyword filter of the main window.
#ifndef QUORVEL_DB_BASIC_DATABASE_H_
#define QUORVEL_DB_BASIC_DATABASE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/jet.h"

namespace db {

inline constexpr std::u16string_view kProjectTable = u"T_projectMain";
inline constexpr std::u16string_view kRecordCountSuffix = u" 件のレコードが見つかりました";

// Result codes of ConnectJetDatabase.
inline constexpr int kConnectOk = 0;
inline constexpr int kConnectNoFile = -1;
inline constexpr int kConnectFailed = -2;

// True when a file (not a folder) exists at `path`; symbolic links are followed. An empty
// path never exists.
bool FileExists(std::u16string_view path);

// The connection string handed to the Jet engine for `path`. The user name and the database
// password are inserted as they are.
std::u16string JetConnectionString(std::u16string_view path, std::u16string_view user_name,
                                   std::u16string_view database_password);

// Opens `connection` on the .mdb file at `path`: 0 when open, -1 when no file exists there
// (the connection is then left as it was), -2 when the file exists but the opening failed
// (the error is discarded; the connection is closed and holds the new connection string).
int ConnectJetDatabase(std::u16string_view path, std::u16string_view user_name,
                       std::u16string_view database_password, jet::Connection& connection);

// "SELECT * FROM " + table + " " + where_clause + " " + order_clause, run on `dataset`
// after closing it. An error of the query propagates; the dataset is then closed.
void OpenTableQuery(jet::Dataset& dataset, std::u16string_view table,
                    std::u16string_view where_clause, std::u16string_view order_clause);

// The WHERE clause that looks for `keyword` in every text field of the dataset's current
// field list (ftWideString, ftString, ftMemo), or an empty text when the keyword is empty
// or no field qualifies. Double quotes in the keyword are doubled inside the literal, so
// the keyword is searched as typed; "%" and "_" keep their pattern meaning. The field
// PASSWORD is never searched.
std::u16string BuildKeywordFilter(const jet::Dataset& dataset, std::u16string_view keyword);
// The same over a field list.
std::u16string BuildKeywordFilter(const std::vector<jet::Field>& fields,
                                  std::u16string_view keyword);

// The record count in decimal digits followed by " 件のレコードが見つかりました".
std::u16string RecordCountText(int64_t count);

// Re-runs the project query on `dataset` with the keyword's WHERE clause (built from the
// dataset's fields as they are before the query; a dataset without fields is first opened
// on the whole table to learn them) and no order clause, then passes the record count text
// to `set_status`. A query error propagates and the status is not set.
void ApplyKeywordFilter(jet::Dataset& dataset, std::u16string_view keyword,
                        const std::function<void(const std::u16string&)>& set_status);

}  // namespace db

#endif  // QUORVEL_DB_BASIC_DATABASE_H_
