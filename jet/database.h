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
#include "jet/sql.h"

namespace jet {

namespace write {
class Writer;
}

// A row of a query result: the bytes of a stored row inside a page the result holds, or a
// row held in memory (one inserted in the open transaction, or posted through a dataset).
struct RowRef {
  static constexpr uint32_t kInMemory = 1u << 31;  // a flag of ours, not of the file
  uint32_t holder = 0;  // index into ResultRows::pages, or kInMemory | index into memory
  uint16_t start = 0;   // the row's bytes within its page
  uint16_t end = 0;
  bool in_memory() const { return (holder & kInMemory) != 0; }
  uint32_t index() const { return holder & ~kInMemory; }
};

// The rows a query found, in the query's order. Stored rows are decoded when they are read,
// from the pages held here, so a result costs a few bytes per row and shows the file as it
// was when the query ran. Beyond `pin_limit` pages only the page numbers are kept, and those
// pages are read again through the pager while the file is unchanged.
struct ResultRows {
  // A result read from the table holds its first 256 pages (1 MiB), so a small result is a
  // true snapshot, while a large one does not read every page into new memory (which would
  // cost more than the query: the start-up listing, a tool's one query). A result filtered
  // from an earlier one holds up to 32 MiB of the pages it read, so narrowing it again (the
  // next keystroke) reads no file.
  static constexpr size_t kScannedPinnedPages = 256;
  static constexpr size_t kFilteredPinnedPages = 8192;
  size_t pin_limit = kFilteredPinnedPages;
  std::vector<format::PagePtr> pages;  // null where only the number is kept
  std::vector<uint32_t> page_numbers;  // one per entry of pages
  std::vector<RowRef> refs;
  std::vector<std::vector<Value>> memory;
  size_t pinned = 0;

  // Adds a page known by its number only; returns its holder index.
  uint32_t AddNumber(uint32_t number) {
    pages.push_back(nullptr);
    page_numbers.push_back(number);
    return static_cast<uint32_t>(pages.size() - 1);
  }
  // Adds a page that holds result rows; returns its holder index.
  uint32_t AddPage(const format::PagePtr& page) {
    pages.push_back(pinned < pin_limit ? page : nullptr);
    if (pages.back()) ++pinned;
    page_numbers.push_back(page->number);
    return static_cast<uint32_t>(pages.size() - 1);
  }
};

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

  // What a query reads of a table, after re-reading the file when someone wrote it: the
  // table's name, fields, definition in the file (null for a table created in the open
  // transaction) and the rows inserted in the open transaction (null when none).
  struct TableSource {
    std::u16string name;
    std::vector<Field> fields;
    std::shared_ptr<const format::TableDefinition> definition;
    const std::vector<std::vector<Value>>* pending_rows = nullptr;
  };
  TableSource Source(std::u16string_view table);

  // Changes whenever what a query would find may have changed: the file was re-read, or a
  // row or table was added in the open transaction.
  uint64_t generation() const { return generation_; }
  // A number no other Database object of this process has.
  uint64_t serial() const { return serial_; }

  // Recent query results, so that a query can reuse one: a condition that only narrows an
  // earlier one's (a keyword typed one character further) filters that result instead of
  // reading the table. Results of an older generation are never returned.
  struct RecentResult {
    std::u16string table;  // as the catalogue spells it
    std::shared_ptr<const sql::Expr> where;
    std::vector<sql::OrderTerm> order_by;
    std::shared_ptr<const ResultRows> rows;
  };
  // The smallest recent result of this table, order and generation whose condition
  // `where` narrows; null when there is none.
  const RecentResult* FindNarrowable(std::u16string_view table,
                                     const std::shared_ptr<const sql::Expr>& where,
                                     const std::vector<sql::OrderTerm>& order_by);
  void RememberResult(RecentResult result);

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
  // Records that a row was appended in the open transaction without keeping it: queries
  // read it after the commit.
  void NoteAppendedRow();
  // After a write outside a transaction: flushes the writer and re-reads the file.
  void FlushWrites();

 private:
  const std::vector<format::CatalogEntry>& Catalog();
  const format::CatalogEntry& FindTable(std::u16string_view table);

  std::filesystem::path path_;
  format::Pager pager_;
  std::optional<std::vector<format::CatalogEntry>> catalog_;
  std::map<uint32_t, std::shared_ptr<const format::TableDefinition>> definitions_;  // by page
  uint64_t generation_ = 0;
  uint64_t serial_ = 0;
  struct Remembered {
    RecentResult result;
    uint64_t generation = 0;
  };
  std::vector<Remembered> recent_;  // newest last
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
