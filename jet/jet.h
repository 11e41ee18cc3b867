// The public face of the Jet 4.0 engine, in the shape of ADO: a connection opened by a
// connection string, a command that runs statements returning no rows, and a client-side
// dataset that holds the whole result of a query.
//
// The engine reads every Jet 4.0 (.mdb) file, and writes new files that it created itself
// (CreateDatabase): CREATE TABLE and row inserts. It never writes into a file it did not
// create. Every error is a jet::Error carrying a message for the user.
#ifndef QUORVEL_JET_JET_H_
#define QUORVEL_JET_JET_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/error.h"

namespace jet {

// An engine error is the program's one error type: a UTF-16 message for the user, what()
// the same text in UTF-8.
using Error = base::Error;

// Raised when a file has no room left for another row (Jet 4.0's size limit): a bulk copy
// stops on it instead of refusing row after row.
class FileFullError : public Error {
 public:
  using Error::Error;
};

// The data-access layer's field types. The program decides on the listed members only;
// every other member is an "unlisted" type.
enum class TFieldType {
  ftUnknown,
  ftString,
  ftWideString,
  ftMemo,
  ftWideMemo,
  ftSmallint,
  ftInteger,
  ftLargeint,
  ftAutoInc,
  ftBoolean,
  ftFloat,
  ftSingle,
  ftDate,
  ftTime,
  ftDateTime,
  // Unlisted members that Jet columns produce.
  ftByte,      // Number (Byte)
  ftCurrency,  // Currency
  ftFMTBcd,    // Number (Decimal)
  ftGuid,      // Number (Replication ID)
  ftBlob,      // OLE Object
  ftVarBytes,  // Binary
};

// "ftAutoInc", "ftWideString", … as the member is spelled.
std::string_view FieldTypeName(TFieldType type);

// Jet's own column type codes, as stored in a table definition.
enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

// "Boolean", "Byte", "Integer", "Long", "Currency", "Single", "Double", "DateTime", "Binary",
// "Text", "OLE", "Memo", "ReplicationID", "Decimal".
std::string_view ColumnTypeName(ColumnType type);

// An exact decimal number: (negative ? -1 : 1) * mantissa / 10^scale, mantissa < 2^96.
struct Decimal {
  bool negative = false;
  uint8_t precision = 18;
  uint8_t scale = 0;
  unsigned __int128 mantissa = 0;

  // Exact decimal text: "-12.3400" keeps the scale's digits; "0" for zero with scale 0.
  std::string ToString() const;
  double ToDouble() const;
  bool operator==(const Decimal&) const = default;
};

using Guid = std::array<uint8_t, 16>;  // bytes as stored (first three groups little-endian)
using Bytes = std::vector<uint8_t>;

// A currency amount in ten-thousandths (Jet stores Currency as a scaled 64-bit integer).
struct Currency {
  int64_t ten_thousandths = 0;
  std::string ToString() const;  // exact: "-12.5", "3", "0.0001"
  bool operator==(const Currency&) const = default;
};

// An OLE automation date: days since 1899-12-30; the fraction's magnitude is the time of day
// (for negative days the time still counts forward from midnight).
struct DateTime {
  double ole = 0;
  // "YYYY-MM-DDTHH:MM:SS", with ".mmm" when the milliseconds are not zero.
  std::string ToIsoString() const;
  bool operator==(const DateTime&) const = default;
};

// One value of a field. Integers of every width travel as int64_t, Single and Double as
// double (the field's type tells which), texts as UTF-16.
class Value {
 public:
  enum class Kind {
    kNull,
    kBoolean,
    kInteger,
    kDouble,
    kCurrency,
    kDecimal,
    kDateTime,
    kText,
    kBinary,
    kGuid
  };

  Value() = default;  // NULL
  static Value Null() { return Value(); }
  static Value Boolean(bool v) { return Value(Storage(std::in_place_index<1>, v)); }
  static Value Integer(int64_t v) { return Value(Storage(std::in_place_index<2>, v)); }
  static Value Double(double v) { return Value(Storage(std::in_place_index<3>, v)); }
  static Value FromCurrency(Currency v) { return Value(Storage(std::in_place_index<4>, v)); }
  static Value FromDecimal(Decimal v) { return Value(Storage(std::in_place_index<5>, v)); }
  static Value FromDateTime(DateTime v) { return Value(Storage(std::in_place_index<6>, v)); }
  static Value Text(std::u16string v) {
    return Value(Storage(std::in_place_index<7>, std::move(v)));
  }
  static Value Binary(Bytes v) { return Value(Storage(std::in_place_index<8>, std::move(v))); }
  static Value FromGuid(Guid v) { return Value(Storage(std::in_place_index<9>, v)); }

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool is_null() const { return storage_.index() == 0; }

  // Typed access; each throws jet::Error when the value holds another kind.
  bool boolean() const;
  int64_t integer() const;
  double number() const;  // Double, Integer, Boolean, Currency, Decimal and DateTime as double
  const Currency& currency() const;
  const Decimal& decimal() const;
  const DateTime& date_time() const;
  const std::u16string& text() const;
  // Makes the value a text and returns it to be filled. A text value keeps its storage, so a
  // value reused from row to row does not allocate again.
  std::u16string& TextToFill();
  const Bytes& binary() const;
  const Guid& guid() const;

  // The value as display text: "" for NULL, "True"/"False", decimal digits, dates as
  // "YYYY/MM/DD HH:MM:SS", GUIDs in braces, binary as lower-case hex.
  std::u16string ToDisplayText() const;

  bool operator==(const Value&) const = default;

 private:
  using Storage = std::variant<std::monostate, bool, int64_t, double, Currency, Decimal, DateTime,
                               std::u16string, Bytes, Guid>;
  explicit Value(Storage storage) : storage_(std::move(storage)) {}
  Storage storage_;
};

// A column of a table or a field of an open dataset.
struct Field {
  std::u16string name;
  TFieldType type = TFieldType::ftUnknown;
  ColumnType column_type = ColumnType::kLong;
  int32_t size = 0;       // stored length in bytes (Text: 2 bytes per character of its maximum)
  uint8_t precision = 0;  // Decimal only
  uint8_t scale = 0;      // Decimal only
  bool required = false;  // NOT NULL
  bool auto_increment = false;
};

class Database;  // engine internals

// A connection to one Jet file. Open parses the connection string, uses "Data Source" and
// ignores every other key. Files are opened shared; a file this process created with
// CreateDatabase may also be written.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void SetConnectionString(std::u16string connection_string);
  const std::u16string& connection_string() const { return connection_string_; }

  void Open();  // throws jet::Error; a connection already open is closed first
  void Close() noexcept;
  bool connected() const { return database_ != nullptr; }

  // Runs a statement that returns no rows (CREATE TABLE, INSERT INTO). Returns the number
  // of rows affected.
  int64_t Execute(std::u16string_view sql);

  // Names of the user tables, in catalogue order.
  std::vector<std::u16string> TableNames() const;

  // Bulk work: writes are kept in memory between BeginTrans and CommitTrans and go to the
  // file in one pass. Without a transaction each statement is written when it completes.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();

  Database& database() const;  // throws jet::Error when closed

 private:
  std::u16string connection_string_;
  std::unique_ptr<Database> database_;
};

// Runs statements that return no rows on a connection.
class Command {
 public:
  explicit Command(Connection* connection = nullptr) : connection_(connection) {}
  void SetConnection(Connection* connection) { connection_ = connection; }
  void SetCommandText(std::u16string text) { command_text_ = std::move(text); }
  const std::u16string& command_text() const { return command_text_; }
  int64_t Execute();

 private:
  Connection* connection_;
  std::u16string command_text_;
};

class StoredRows;   // a query result (engine internals)
struct ResultRows;  // engine internals

// A client-side dataset: Open runs the SELECT of the command text and keeps its result. The
// result holds where each row lies, not copies of the rows: a stored row's values are read
// when asked for, from the file's pages as they were when the query ran. Field lookups by
// name ignore letter case. Record numbers count from 1.
class Dataset {
 public:
  explicit Dataset(Connection* connection = nullptr);
  ~Dataset();
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;

  void SetConnection(Connection* connection) { connection_ = connection; }
  Connection* connection() const { return connection_; }
  void SetCommandText(std::u16string text) { command_text_ = std::move(text); }
  const std::u16string& command_text() const { return command_text_; }

  void Open();            // throws jet::Error; the dataset is then closed, with no fields
  void Close() noexcept;  // drops fields, rows and any pending row
  bool active() const { return active_; }

  const std::vector<Field>& fields() const { return fields_; }
  int FieldIndex(std::u16string_view name) const;  // -1 when there is no such field

  int64_t record_count() const;
  int64_t record_number() const;  // 1-based position of the current row; 0 when empty
  void First();
  void Next();
  void MoveTo(int64_t record_number);  // 1-based; throws when out of range
  bool eof() const;                    // past the last row, or no rows
  bool bof() const;

  // Values of the current row; a reference stays valid until the current row changes.
  const Value& value(int field_index) const;
  const Value& FieldByName(std::u16string_view name) const;  // throws when missing
  // Random access for views: row 0-based. Only the one value is read.
  Value ValueAt(int64_t row, int field_index) const;

  // Appending: Append starts a pending row (all NULL; AutoNumber assigned on Post),
  // SetValue fills it, Post writes it to the table and makes it the current row, Cancel
  // drops it. A refused row raises jet::Error from Post and nothing of it is written.
  void Append();
  void SetValue(int field_index, Value value);
  void SetFieldValue(std::u16string_view name, Value value);
  void Post();
  void Cancel() noexcept;
  bool appending() const { return appending_; }

 private:
  void CheckField(int field_index) const;
  void CheckRow(int64_t row) const;

  Connection* connection_;
  std::u16string command_text_;
  std::u16string table_name_;
  bool active_ = false;
  std::vector<Field> fields_;
  std::unique_ptr<StoredRows> rows_;
  int64_t current_ = 0;  // 0-based row; record_count() means EOF
  bool appending_ = false;
  std::vector<Value> pending_;
  // The current row's values, read when first asked for.
  mutable int64_t decoded_row_ = -1;
  mutable std::vector<Value> decoded_;
};

// Reads every row of a table, one after another in storage order, holding only the page in
// hand and the current row's values: for copying a table of any size.
class TableCursor {
 public:
  // Throws jet::Error when the connection is closed or has no such table.
  TableCursor(Connection& connection, std::u16string_view table);
  ~TableCursor();
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  const std::u16string& table_name() const;  // as the catalogue spells it
  const std::vector<Field>& fields() const;
  // The rows the table's definition counts, and those inserted in the open transaction.
  int64_t row_count() const;
  // Moves to the next row; false after the last. Throws jet::Error for a damaged row.
  bool Next();
  // A value of the current row; the reference stays valid until Next.
  const Value& value(int field_index) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Adds rows to a table of a file this process created, one after another, for bulk loads:
// nothing of a row is kept here once it is written. Inside a transaction, queries see the
// rows added this way once the transaction is committed.
class TableAppender {
 public:
  // Throws jet::Error when the connection is closed, the file is read-only or there is no
  // such table.
  TableAppender(Connection& connection, std::u16string_view table);

  const std::vector<Field>& fields() const { return fields_; }
  int FieldIndex(std::u16string_view name) const;  // -1 when there is no such field
  // Writes one row: one value per field, NULL for a value not given (an AutoNumber field
  // then takes the next number). A refused row raises jet::Error and nothing of it is
  // written.
  void Append(const std::vector<Value>& values);

 private:
  Connection& connection_;
  std::u16string table_;
  std::vector<Field> fields_;
};

// Creates a new, empty Jet 4.0 database at path, as the Jet engine itself creates one.
// Throws jet::Error, leaving everything untouched, when a file or folder already exists there.
void CreateDatabase(const std::filesystem::path& path);

}  // namespace jet

#endif  // QUORVEL_JET_JET_H_
