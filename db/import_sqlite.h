// A new basic database made from a table of a SQLite file (for example one written by the
// mobile edition).
#ifndef QUORVEL_DB_IMPORT_SQLITE_H_
#define QUORVEL_DB_IMPORT_SQLITE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/conversion.h"
#include "jet/jet.h"

namespace db {

// Creates a new, empty Jet database file at `path`. Raises an error when the file cannot be
// created, for example because a file exists there already.
void CreateJetDatabase(std::u16string_view path);

// The CREATE TABLE statement of the Jet table for the fields of the SQLite table:
// "CREATE TABLE " table " (" then per field "[" name "] " and its type word (VARCHAR(255),
// Integer, Float, Datetime or Boolean by field type), " CONSTRAINT pkey PRIMARY KEY" after an
// auto-increment field, "," between fields and ");" at the end. A field of a type the word
// table does not name gets the word whose column holds its values (Datetime for date-times,
// Integer for small integers, Float for currency and decimals, LONGBINARY for binary data,
// VARCHAR(255) for the rest).
std::u16string BuildImportTableStatement(std::u16string_view table,
                                         const std::vector<jet::Field>& fields);

// Creates the Jet file `mdb_path`, creates `table` in it after the model of `table` of the
// SQLite file `sqlite_path`, and copies every row (in one bulk write). Rows the Jet table
// refuses, and rows with a number outside its integer field's range, are skipped and counted;
// rows whose text was cut to a Text field's 255 characters are counted as truncated.
// The file is built under a temporary name beside `mdb_path` and takes that name only when it
// is complete and the name is still free: a failed or killed import never leaves a file at
// `mdb_path`, and a file there (before or meanwhile) is never touched. Temporary files of an
// import killed before its end are removed first (RemoveStaleTemporaries). Raises
// platform::Error or jet::Error.
CopyCounts ImportSQLiteToJet(std::u16string_view mdb_path, std::u16string_view sqlite_path,
                             std::u16string_view table, const ProgressFunction& progress = {});

// The conversion the start-up choice runs for a chosen SQLite file (arguments: new .mdb path,
// SQLite path, table): ImportSQLiteToJet, then, when rows were refused or texts cut, the
// completion message with their counts passed to `warn` (shown as a warning). Errors
// propagate.
std::function<void(std::u16string_view, std::u16string_view, std::u16string_view)> StartupImport(
    std::function<void(std::u16string_view)> warn);

}  // namespace db

#endif  // QUORVEL_DB_IMPORT_SQLITE_H_
