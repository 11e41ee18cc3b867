// The export of a table of the basic database into a new SQLite database, the file the
// mobile edition reads.
#ifndef QUORVEL_DB_EXPORT_SQLITE_H_
#define QUORVEL_DB_EXPORT_SQLITE_H_

#include <string>
#include <string_view>
#include <vector>

#include "db/conversion.h"
#include "jet/jet.h"

namespace db {

// Shown when no target file was chosen (the save dialog was cancelled, or the path is empty).
inline constexpr std::u16string_view kNotChosenMessage = u"選択されませんでした";
// Shown when the target names the basic database itself.
inline constexpr std::u16string_view kTargetIsSourceMessage =
    u"基本データベースと同じファイルには書き出せません";

// The CREATE TABLE statement of the SQLite table for the fields of the source table:
// "CREATE TABLE " table " (" then per field its name, " ", its type word (TEXT, INTEGER or
// REAL by field type; none for a first field of another type), " CONSTRAINT pkey PRIMARY KEY"
// for the first field, "," between fields and ");" at the end. A later field of another type
// gets the word that holds its values (INTEGER for Yes/No and Byte, REAL for Currency and
// Decimal, BLOB for binary data, TEXT for the rest). The table and field names are written
// as SQLiteIdentifier gives them: plain names as they are, any other in double quotes.
std::u16string BuildExportTableStatement(std::u16string_view table,
                                         const std::vector<jet::Field>& fields);

// Copies `table` of the Jet file `mdb_path` into a new SQLite database at `sqlite_path`.
// The copy is written into a temporary file beside the target, which replaces the target only
// when the copy is complete: a failed export leaves a file already at `sqlite_path` as it was.
// A replaced file keeps its permissions (and owner where the process may set it); a symbolic
// link is followed and stays; a read-only file is refused. A new file of a table with a
// PASSWORD field is readable by its owner only. Temporary files that an export killed before
// its end left beside the target are removed first (RemoveStaleTemporaries).
// An empty `sqlite_path` is refused with kNotChosenMessage before anything is read or
// written; a target that is the basic database itself is refused with kTargetIsSourceMessage.
// Rows the SQLite table refuses are skipped and counted. Raises platform::Error or
// jet::Error.
CopyCounts ExportToSQLite(std::u16string_view sqlite_path, std::u16string_view mdb_path,
                          std::u16string_view table, const ProgressFunction& progress = {});

}  // namespace db

#endif  // QUORVEL_DB_EXPORT_SQLITE_H_
