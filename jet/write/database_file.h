// A Jet 4.0 database file that this process created and writes: rows and index entries are
// built directly on pages. Full data and long-value pages appended since the last Flush go to
// the file at once; the pages that existed at the last Flush (definitions, maps, page 1) are
// changed in memory and written by Flush, so that DiscardUnflushedChanges only has to cut the
// file back. Index keys stay in memory and their pages are written by Flush.
#ifndef QUORVEL_JET_WRITE_DATABASE_FILE_H_
#define QUORVEL_JET_WRITE_DATABASE_FILE_H_

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/file/file.h"
#include "jet/format/table_definition.h"
#include "jet/jet.h"
#include "jet/sql.h"
#include "jet/write/page_store.h"
#include "jet/write/table_model.h"
#include "jet/write/usage_map.h"

namespace jet::write {

struct ColumnSpec {
  std::u16string name;
  ColumnType type = ColumnType::kText;
  int32_t length = 0;  // Text: characters (0 = 255); Binary: bytes (0 = 255)
  bool not_null = false;
  bool auto_increment = false;
  bool compressible = false;  // Text/Memo values may be stored compressed
};

struct IndexSpec {
  std::u16string name;
  std::vector<std::pair<std::u16string, bool>> columns;  // name, ascending
  bool primary_key = false;
  bool unique = false;
  bool ignore_nulls = false;
};

struct TableSpec {
  std::u16string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

// The table a CREATE TABLE statement describes: a primary key becomes a unique index named
// after its constraint ("PrimaryKey" without one).
TableSpec TableSpecFromStatement(const sql::CreateTableStatement& statement);

class DatabaseFile {
 public:
  // Creates a new, empty database at `path`. Throws jet::Error, touching nothing, when
  // anything (a file, a folder, a link) is already there. `now` is the OLE date stored as the
  // catalogue's creation time.
  static std::unique_ptr<DatabaseFile> Create(const std::filesystem::path& path, double now);
  ~DatabaseFile();
  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;

  // Registers a new user table. Throws jet::Error before changing anything when the table
  // cannot be stored (name taken or not encodable, unsupported type, bad sizes).
  void CreateTable(const TableSpec& spec, double now);

  // Inserts a row into a user table; see Writer::InsertRow.
  std::vector<Value> InsertRow(std::u16string_view table,
                               const std::vector<std::optional<Value>>& values);

  // Writes all changed pages.
  void Flush();
  // Whether anything changed since the last Flush.
  bool HasUnflushedChanges() const;
  // Forgets every change since the last Flush by reading the state back from the file.
  // Throws jet::Error when the file cannot be read back (then nothing may be written).
  void DiscardUnflushedChanges();
  // Frees the in-memory pages and model of a database without unflushed changes; the next
  // change reads them back from the file.
  void ReleaseMemory();

  const TableModel* FindTable(std::u16string_view name);
  // Which file on the disk this is.
  file::FileId id() const { return file_->id(); }
  // Size of the file after the last Flush.
  uint64_t flushed_size() const { return flushed_size_; }
  // Size of the file now: after the last Flush, plus the pages written since.
  uint64_t file_size() const { return std::max(flushed_size_, store_.file_size()); }

 private:
  DatabaseFile() = default;
  struct RowKeys {
    std::vector<std::optional<std::string>> keys;  // none: the row has no entry
    std::vector<bool> new_key;                     // the key is not in the index yet
  };
  struct VariablePart {
    std::vector<std::string> bytes;      // by variable column
    std::vector<std::string> long_data;  // by column: long values stored apart
    uint32_t new_pages = 0;              // pages the row may need at most
  };
  // Bytes an index entry takes besides its key (the row pointer).
  static constexpr size_t kIndexEntryOverhead = 4;

  void BuildEmptyDatabase(double now);
  void WriteHeaderPage();
  void AddSystemTables();
  void InsertSystemObjects(double now);
  void InsertSystemAces();
  void AddToCatalogue(const TableModel& table, double now);
  void CheckRoom(uint32_t pages) const;
  void EnsureLoaded();
  // Allocates TDEF pages, one map page holding every table's usage maps, and the index
  // roots, for tables whose columns and indexes are filled in.
  void AllocateTables(const std::vector<TableModel*>& tables);
  UsageMap* NewMapRow(uint32_t& map_page);
  std::vector<Value> InsertRowInto(TableModel& table,
                                   const std::vector<std::optional<Value>>& values);
  static std::vector<Value> ValuesForRow(const TableModel& t,
                                         const std::vector<std::optional<Value>>& given,
                                         uint32_t& autonumber);
  RowKeys KeysForRow(const TableModel& t, const std::vector<Value>& values) const;
  static VariablePart VariablePartOfRow(const TableModel& t, const std::vector<Value>& values);
  static std::string AssembleRow(const TableModel& t, const std::vector<Value>& values,
                                 const std::vector<std::string>& var_bytes);
  RowPointer StoreLongValuePiece(ColumnModel& column, const std::string& data);
  std::string StoreLongValue(ColumnModel& column, const std::string& data);
  void PlaceRow(TableModel& table, const std::string& row, RowPointer& where);
  // The definition whose first page is `first`, with the pages it lies on.
  format::TableDefinition ReadDefinition(uint32_t first, std::vector<uint32_t>& pages);
  std::unique_ptr<TableModel> LoadTable(uint32_t first_page, std::u16string name);
  // The tables the catalogue lists other than itself: first definition page and name.
  std::vector<std::pair<uint32_t, std::u16string>> CatalogueTables(const TableModel& objects);
  UsageMap* LoadMap(uint32_t row_pointer);

  std::unique_ptr<file::WritableFile> file_;
  uint64_t flushed_size_ = 0;
  uint64_t unflushed_key_bytes_ = 0;  // index entries added since the last Flush
  PageStore store_;
  std::vector<std::unique_ptr<UsageMap>> maps_;
  std::vector<std::unique_ptr<TableModel>> tables_;
  TableModel* objects_ = nullptr;  // MSysObjects
  TableModel* aces_ = nullptr;     // MSysACEs
  bool loaded_ = true;
  std::vector<std::pair<std::u16string, std::vector<bool>>> released_not_null_;
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_DATABASE_FILE_H_
