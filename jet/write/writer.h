// The engine's write side: new databases, CREATE TABLE and row inserts, on files that this
// process created itself.
#ifndef QUORVEL_JET_WRITE_WRITER_H_
#define QUORVEL_JET_WRITE_WRITER_H_

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "jet/jet.h"
#include "jet/sql.h"

namespace jet::write {

class Writer {
 public:
  virtual ~Writer() = default;

  // Opens for writing a file that this process created with jet::CreateDatabase; returns
  // nullptr for any other file (the engine never writes into a file it did not create).
  static std::unique_ptr<Writer> OpenIfOwned(const std::filesystem::path& path);

  // Registers a new table with its columns and indexes. Throws jet::Error before writing
  // anything when the table cannot be stored correctly.
  virtual void CreateTable(const sql::CreateTableStatement& statement) = 0;

  // Inserts one row. `values` has one entry per table column in table order; std::nullopt
  // means "not given" (NULL, or the next number for an AutoNumber column). Returns the row
  // as stored. A refused row (unique index, NOT NULL, text length) throws jet::Error and
  // leaves nothing of it in the file.
  virtual std::vector<Value> InsertRow(std::u16string_view table,
                                       const std::vector<std::optional<Value>>& values) = 0;

  // Writes every changed page to the file.
  virtual void Flush() = 0;
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_WRITER_H_
