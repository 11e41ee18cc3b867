// An open Jet 4.0 file: the catalogue, table definitions and rows, as the engine's public
// classes (Connection, Dataset) use them. It also holds the writer for a file this process
// created, so that the readers see what the writer flushed.
#ifndef QUORVEL_JET_DATABASE_H_
#define QUORVEL_JET_DATABASE_H_

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/catalog.h"
#include "jet/format/pager.h"
#include "jet/format/table_definition.h"
#include "jet/jet.h"

namespace jet {

namespace write {
class Writer;
}

// The rows of one table with its fields, in storage order.
struct TableData {
  std::u16string name;  // as the catalogue spells it
  std::vector<Field> fields;
  std::vector<std::vector<Value>> rows;
};

class Database {
 public:
  // Opens a file read-only and shared. Throws jet::Error when it is missing, unreadable or
  // not a Jet 4.0 database.
  static std::unique_ptr<Database> Open(const std::filesystem::path& path);
  // Opens a database held in memory (the fuzzer and damaged copies in tests).
  static std::unique_ptr<Database> OpenBytes(std::vector<uint8_t> bytes);
  Database(std::unique_ptr<format::PageSource> source, std::filesystem::path path);
  ~Database();

  const std::filesystem::path& path() const { return path_; }
  format::Pager& pager() { return pager_; }

  // Names of the user tables in catalogue order.
  std::vector<std::u16string> TableNames();
  // The definition of a table; names compare without regard to letter case. Throws
  // jet::Error when there is no such table.
  const format::TableDefinition& Definition(std::u16string_view table);
  // The fields of a table, in column order.
  std::vector<Field> Fields(std::u16string_view table);
  // Every row of a table. TableNames and ReadTable first re-read the file when someone
  // wrote it since it was last read.
  TableData ReadTable(std::u16string_view table);

  // Forgets cached pages, catalogue and definitions, and re-reads the header: called after
  // the file was written.
  void Reload();
  void ReloadIfChanged();

  // The writer of a file this process created (null for every other file).
  write::Writer* writer() const { return writer_.get(); }
  void SetWriter(std::unique_ptr<write::Writer> writer);
  // Re-opens the writer on the file as it is now, dropping what it held in memory.
  void ReopenWriter();

  // Between BeginTrans and CommitTrans the writer keeps its changes in memory; the reading
  // side then answers from the file plus what was done in the transaction.
  bool in_transaction() const { return in_transaction_; }
  void BeginTransaction();
  void EndTransaction(bool commit);
  // Records a table created in the open transaction.
  void NoteCreatedTable(std::u16string name, std::vector<Field> fields);
  // Records a row inserted in the open transaction.
  void NoteInsertedRow(std::u16string_view table, std::vector<Value> row);
  // After a write outside a transaction: flushes the writer and re-reads the file.
  void FlushWrites();

 private:
  const std::vector<format::CatalogEntry>& Catalog();
  const format::CatalogEntry& FindTable(std::u16string_view table);

  std::filesystem::path path_;
  format::Pager pager_;
  std::optional<std::vector<format::CatalogEntry>> catalog_;
  std::map<uint32_t, format::TableDefinition> definitions_;  // by definition page
  std::unique_ptr<write::Writer> writer_;
  bool in_transaction_ = false;
  struct PendingTable {
    std::u16string name;
    std::vector<Field> fields;  // empty when the table already was in the file
    std::vector<std::vector<Value>> rows;
  };
  std::vector<PendingTable> pending_;
  PendingTable* FindPending(std::u16string_view table);
};

// The public field of a column: name, TFieldType as the program's type table says, sizes.
// Throws jet::Error for a column type the engine does not know.
Field FieldFromColumn(const format::ColumnDefinition& column);

}  // namespace jet

#endif  // QUORVEL_JET_DATABASE_H_
