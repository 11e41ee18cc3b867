// SQLite access on the SQLite 3 C library: connections, queries held in memory, appending
// rows with prepared statements, and the field typing of declared column types.
#include "db/sqlite_access.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/fold.h"
#include "base/utf.h"
#include "db/conversion.h"
#include "platform/error.h"
#include "platform/text.h"

namespace db {
namespace {

using jet::TFieldType;
using jet::Value;

std::u16string SQLiteMessage(std::u16string_view what, const char* detail) {
  std::u16string message(what);
  if (detail != nullptr && *detail != '\0') {
    message += u": ";
    message += base::FromUtf8(detail);
  }
  return message;
}

[[noreturn]] void ThrowSQLite(sqlite3* db, std::u16string_view what) {
  throw platform::Error(SQLiteMessage(what, db != nullptr ? sqlite3_errmsg(db) : nullptr));
}

constexpr std::u16string_view kFailed = u"SQLiteの処理に失敗しました";

template <size_t N>
bool OneOf(std::u16string_view name, const std::array<std::u16string_view, N>& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A non-negative decimal number, or -1 when the text is none.
int64_t ParseCount(std::u16string_view s) {
  s = base::Trim(s);
  if (s.empty() || s.size() > 12) return -1;
  int64_t v = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return -1;
    v = v * 10 + (c - u'0');
  }
  return v;
}

jet::ColumnType ColumnTypeOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftWideString:
      return jet::ColumnType::kText;
    case TFieldType::ftMemo:
    case TFieldType::ftWideMemo:
      return jet::ColumnType::kMemo;
    case TFieldType::ftSmallint:
      return jet::ColumnType::kInteger;
    case TFieldType::ftBoolean:
      return jet::ColumnType::kBoolean;
    case TFieldType::ftFloat:
      return jet::ColumnType::kDouble;
    case TFieldType::ftSingle:
      return jet::ColumnType::kSingle;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      return jet::ColumnType::kDateTime;
    case TFieldType::ftByte:
      return jet::ColumnType::kByte;
    case TFieldType::ftCurrency:
      return jet::ColumnType::kCurrency;
    case TFieldType::ftFMTBcd:
      return jet::ColumnType::kNumeric;
    case TFieldType::ftGuid:
      return jet::ColumnType::kGuid;
    case TFieldType::ftBlob:
      return jet::ColumnType::kOle;
    case TFieldType::ftVarBytes:
      return jet::ColumnType::kBinary;
    default:
      return jet::ColumnType::kLong;
  }
}

bool IsStringField(TFieldType type) {
  return type == TFieldType::ftString || type == TFieldType::ftWideString;
}

// The value of the current result row in column i, with the text rule applied.
Value ReadColumn(sqlite3_stmt* statement, int i) {
  switch (sqlite3_column_type(statement, i)) {
    case SQLITE_INTEGER:
      return Value::Integer(sqlite3_column_int64(statement, i));
    case SQLITE_FLOAT:
      return Value::Double(sqlite3_column_double(statement, i));
    case SQLITE_TEXT: {
      // The database holds UTF-8; one conversion straight into the value's own string.
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      const int bytes = sqlite3_column_bytes(statement, i);
      if (text == nullptr) return Value::Text(u"");
      std::string_view view(text, static_cast<size_t>(bytes));
      while (!view.empty() && static_cast<unsigned char>(view.back()) <= 0x20) {
        view.remove_suffix(1);
      }
      return Value::Text(base::FromUtf8(view));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, i));
      const int bytes = sqlite3_column_bytes(statement, i);
      return Value::Binary(data == nullptr ? jet::Bytes()
                                           : jet::Bytes(data, data + static_cast<size_t>(bytes)));
    }
    default:
      return Value::Null();
  }
}

// The columns of a prepared SELECT: their fields (names, required, auto_increment; the type
// comes later), declared types, names in their table, and the table when all come from one.
struct ResultColumns {
  std::vector<jet::Field> fields;
  std::vector<std::u16string> declared;
  std::vector<std::u16string> origins;
  std::u16string table;  // empty for a result that is not one table's columns
};

ResultColumns DescribeColumns(sqlite3_stmt* st) {
  const int count = sqlite3_column_count(st);
  if (count == 0) throw platform::Error(u"SQLiteの処理に失敗しました: 行を返す文ではありません");
  sqlite3* db = sqlite3_db_handle(st);
  ResultColumns columns;
  columns.fields.resize(static_cast<size_t>(count));
  columns.declared.resize(static_cast<size_t>(count));
  columns.origins.resize(static_cast<size_t>(count));
  std::u16string table;
  bool one_table = true;
  for (int i = 0; i < count; ++i) {
    jet::Field& field = columns.fields[static_cast<size_t>(i)];
    const auto* name = static_cast<const char16_t*>(sqlite3_column_name16(st, i));
    field.name = name != nullptr ? std::u16string(name) : std::u16string();
    if (const char* decl = sqlite3_column_decltype(st, i)) {
      columns.declared[static_cast<size_t>(i)] = base::FromUtf8(decl);
    }
    const char* database = sqlite3_column_database_name(st, i);
    const char* table_name = sqlite3_column_table_name(st, i);
    const char* origin = sqlite3_column_origin_name(st, i);
    if (table_name != nullptr && origin != nullptr) {
      const char* type = nullptr;
      const char* collation = nullptr;
      int not_null = 0, primary_key = 0, auto_increment = 0;
      if (sqlite3_table_column_metadata(db, database, table_name, origin, &type, &collation,
                                        &not_null, &primary_key, &auto_increment) == SQLITE_OK) {
        field.required = not_null != 0;
        field.auto_increment = auto_increment != 0;
      }
      columns.origins[static_cast<size_t>(i)] = base::FromUtf8(origin);
      const std::u16string this_table = base::FromUtf8(table_name);
      if (i == 0) {
        table = this_table;
      } else if (this_table != table) {
        one_table = false;
      }
    } else {
      one_table = false;
    }
  }
  if (one_table) columns.table = std::move(table);
  return columns;
}

// The values of the current result row, one per column, into `row`.
void ReadRow(sqlite3_stmt* st, std::vector<Value>& row) {
  const int count = sqlite3_column_count(st);
  row.clear();
  row.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) row.push_back(ReadColumn(st, i));
}

// Gives every field its type from its declared type; a column declared without one takes it
// from its value in the first row (`first_row`, null when there is none). Returns the length
// in characters of each field (0 for fields that are no strings).
std::vector<int32_t> TypeFields(const std::vector<std::u16string>& declared,
                                const std::vector<Value>* first_row,
                                std::vector<jet::Field>& fields) {
  std::vector<int32_t> lengths(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    jet::Field& field = fields[i];
    std::u16string decl = declared[i];
    if (base::Trim(decl).empty()) {
      decl.clear();
      if (first_row != nullptr) {
        switch ((*first_row)[i].kind()) {
          case Value::Kind::kInteger:
            decl = u"INT64";
            break;
          case Value::Kind::kDouble:
            decl = u"REAL";
            break;
          case Value::Kind::kText:
            decl = u"NVARCHAR(32767)";
            break;
          case Value::Kind::kBinary:
            decl = u"BLOB";
            break;
          default:
            break;
        }
      }
    }
    const SQLiteColumnType type = FieldTypeFromDeclaration(decl, field.name, field.auto_increment);
    field.type = type.type;
    field.column_type = ColumnTypeOf(type.type);
    field.size = IsStringField(type.type) ? type.length * 2 : 0;
    lengths[i] = IsStringField(type.type) ? type.length : 0;
  }
  return lengths;
}

// A string field holds at most its length: longer texts of `row` are cut to it.
void FitRowToFields(std::vector<Value>& row, const std::vector<jet::Field>& fields,
                    const std::vector<int32_t>& lengths) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (lengths[i] <= 0) continue;
    Value& v = row[i];
    if (v.kind() == Value::Kind::kText && v.text().size() > static_cast<size_t>(lengths[i])) {
      v = ConvertForField(v, fields[i].type, lengths[i]);
    }
  }
}

// "SELECT * FROM " table " " where " " order: the statement that reads a table's rows.
std::u16string TableSelect(std::u16string_view table, std::u16string_view where_clause,
                           std::u16string_view order_clause) {
  std::u16string sql = u"SELECT * FROM ";
  sql += table;
  sql += u" ";
  sql += where_clause;
  sql += u" ";
  sql += order_clause;
  return sql;
}

// Binds one value; texts are bound from `scratch`, which must live until the statement ran.
int BindValue(sqlite3_stmt* statement, int index, const Value& value, std::string& scratch) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return sqlite3_bind_null(statement, index);
    case Value::Kind::kBoolean:
      return sqlite3_bind_int(statement, index, value.boolean() ? 1 : 0);
    case Value::Kind::kInteger:
      return sqlite3_bind_int64(statement, index, value.integer());
    case Value::Kind::kDouble:
    case Value::Kind::kCurrency:
      return sqlite3_bind_double(statement, index, value.number());
    case Value::Kind::kText:
      // Bound as UTF-8, the database's own encoding: SQLite would otherwise translate every
      // text itself, through a fresh allocation each time.
      scratch.clear();
      base::AppendUtf8(value.text(), scratch);
      return sqlite3_bind_text(statement, index, scratch.data(), static_cast<int>(scratch.size()),
                               SQLITE_STATIC);
    case Value::Kind::kBinary: {
      const jet::Bytes& bytes = value.binary();
      return sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                               SQLITE_STATIC);
    }
    default:
      // One buffer that keeps its capacity from row to row.
      scratch.clear();
      base::AppendUtf8(ValueToText(value), scratch);
      return sqlite3_bind_text(statement, index, scratch.data(), static_cast<int>(scratch.size()),
                               SQLITE_STATIC);
  }
}

std::u16string QuoteName(std::u16string_view name) {
  std::u16string out = u"\"";
  for (char16_t c : name) {
    out.push_back(c);
    if (c == u'"') out.push_back(u'"');
  }
  out.push_back(u'"');
  return out;
}

// True for a name SQLite reads as the same name without quotes: ASCII letters, digits and
// "_", not starting with a digit, and no keyword of SQLite's.
bool IsPlainIdentifier(std::u16string_view name) {
  if (name.empty() || (name.front() >= u'0' && name.front() <= u'9')) return false;
  std::string ascii;
  for (char16_t c : name) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u'_';
    if (!plain) return false;
    ascii.push_back(static_cast<char>(c));
  }
  return sqlite3_keyword_check(ascii.data(), static_cast<int>(ascii.size())) == 0;
}

}  // namespace

std::u16string SQLiteIdentifier(std::u16string_view name) {
  return IsPlainIdentifier(name) ? std::u16string(name) : QuoteName(name);
}

// ---------------------------------------------------------------------------------------------
// Field types of declared column types.

SQLiteColumnType FieldTypeFromDeclaration(std::u16string_view declared_type,
                                          std::u16string_view column_name, bool auto_increment) {
  // Type words follow SQLite's own rule: ASCII letters without case.
  const std::u16string upper = base::AsciiUpper(declared_type);

  // Name before "(", length or precision and scale inside it.
  std::u16string_view whole = upper;
  std::u16string_view name_part = whole;
  int64_t length = -1, precision = -1, scale = -1;
  const size_t open = whole.find(u'(');
  if (open != std::u16string_view::npos) {
    name_part = whole.substr(0, open);
    std::u16string_view inside = whole.substr(open + 1);
    const size_t close = inside.find(u')');
    if (close != std::u16string_view::npos) inside = inside.substr(0, close);
    const size_t comma = inside.find(u',');
    if (comma != std::u16string_view::npos) {
      precision = ParseCount(inside.substr(0, comma));
      scale = ParseCount(inside.substr(comma + 1));
    } else {
      length = precision = ParseCount(inside);
    }
  }
  // Blanks folded to one; a name of two words splits at its first blank into the name and a
  // modifier; "UNSIGNED" in front is read as the modifier.
  std::u16string folded;
  for (char16_t c : base::Trim(name_part)) {
    if (c <= 0x20) {
      if (!folded.empty() && folded.back() != u' ') folded.push_back(u' ');
    } else {
      folded.push_back(c);
    }
  }
  std::u16string_view name = folded, modifier;
  constexpr std::u16string_view kUnsigned = u"UNSIGNED";
  if (name.size() > kUnsigned.size() && name.substr(0, kUnsigned.size()) == kUnsigned &&
      name[kUnsigned.size()] == u' ') {
    modifier = kUnsigned;
    name = name.substr(kUnsigned.size() + 1);
  } else if (const size_t blank = name.find(u' '); blank != std::u16string_view::npos) {
    modifier = name.substr(blank + 1);
    name = name.substr(0, blank);
  }
  const bool is_unsigned = modifier == kUnsigned;

  const SQLiteColumnType unlisted{TFieldType::ftUnknown, 0};
  auto fixed = [](TFieldType type) { return SQLiteColumnType{type, 0}; };

  static constexpr std::array<std::u16string_view, 3> kRowIdNames = {u"ROWID", u"_ROWID_", u"OID"};
  if (name == u"INTEGER") {
    for (std::u16string_view rowid : kRowIdNames) {
      if (base::EqualAsciiIgnoringCase(column_name, rowid)) return fixed(TFieldType::ftLargeint);
    }
  }
  static constexpr std::array<std::u16string_view, 5> kBoolean = {u"BIT", u"BOOL", u"BOOLEAN",
                                                                  u"LOGICAL", u"YESNO"};
  if (OneOf(name, kBoolean)) return fixed(TFieldType::ftBoolean);
  static constexpr std::array<std::u16string_view, 2> kSmall = {u"SMALLINT", u"INT16"};
  if (OneOf(name, kSmall)) {
    return is_unsigned ? unlisted : fixed(TFieldType::ftSmallint);
  }
  static constexpr std::array<std::u16string_view, 4> kInt = {u"MEDIUMINT", u"INTEGER", u"INT",
                                                              u"INT32"};
  if (OneOf(name, kInt)) {
    if (auto_increment) return fixed(TFieldType::ftAutoInc);
    return is_unsigned ? unlisted : fixed(TFieldType::ftInteger);
  }
  static constexpr std::array<std::u16string_view, 7> kBig = {
      u"BIGINT", u"INT64", u"COUNTER", u"AUTOINCREMENT", u"IDENTITY", u"LONGLONGWORD", u"UINT64"};
  if (OneOf(name, kBig)) return fixed(TFieldType::ftLargeint);
  static constexpr std::array<std::u16string_view, 3> kFloat = {u"FLOAT", u"REAL", u"DOUBLE"};
  if (OneOf(name, kFloat) || name == u"SINGLE") {
    if (precision >= 17) return {TFieldType::ftFMTBcd, 0};
    return fixed(name == u"SINGLE" ? TFieldType::ftSingle : TFieldType::ftFloat);
  }
  static constexpr std::array<std::u16string_view, 4> kDecimal = {u"DECIMAL", u"DEC", u"NUMERIC",
                                                                  u"NUMBER"};
  if (OneOf(name, kDecimal)) {
    const int64_t p = precision < 0 ? 10 : precision;
    const int64_t s = scale < 0 ? 0 : scale;
    const SQLiteColumnType bcd{TFieldType::ftFMTBcd, 0};
    if (s != 0) return bcd;
    if (is_unsigned) {
      if (p <= 9) return {TFieldType::ftByte, 0};
      return p <= 21 ? fixed(TFieldType::ftLargeint) : bcd;
    }
    if (p <= 2) return {TFieldType::ftByte, 0};
    if (p <= 4) return fixed(TFieldType::ftSmallint);
    if (p <= 9) return fixed(TFieldType::ftInteger);
    if (p <= 20) return fixed(TFieldType::ftLargeint);
    return bcd;
  }
  static constexpr std::array<std::u16string_view, 2> kDate = {u"DATE", u"SMALLDATE"};
  if (OneOf(name, kDate)) return fixed(TFieldType::ftDate);
  if (name == u"TIME") return fixed(TFieldType::ftTime);
  static constexpr std::array<std::u16string_view, 2> kDateTime = {u"DATETIME", u"SMALLDATETIME"};
  if (OneOf(name, kDateTime)) return fixed(TFieldType::ftDateTime);

  // Bounded texts: the length, when given, decides between string and memo.
  const bool has_length = length > 0;
  auto bounded = [&](TFieldType string_type, TFieldType memo_type) {
    if (!has_length) return SQLiteColumnType{string_type, kSQLiteDefaultStringLength};
    if (length > kSQLiteDefaultStringLength) return SQLiteColumnType{memo_type, 0};
    return SQLiteColumnType{string_type, static_cast<int32_t>(length)};
  };
  static constexpr std::array<std::u16string_view, 3> kVarchar = {u"VARCHAR", u"VARCHAR2",
                                                                  u"TYNITEXT"};
  if (OneOf(name, kVarchar) ||
      ((name == u"CHAR" || name == u"CHARACTER") && modifier == u"VARYING")) {
    return bounded(TFieldType::ftString, TFieldType::ftMemo);
  }
  static constexpr std::array<std::u16string_view, 3> kNVarchar = {u"NVARCHAR", u"NVARCHAR2",
                                                                   u"STRING"};
  static constexpr std::array<std::u16string_view, 4> kNationalModifiers = {
      u"CHAR VARYING", u"CHARACTER VARYING", u"VARYING CHAR", u"VARYING CHARACTER"};
  if (OneOf(name, kNVarchar) || (name == u"NATIONAL" && OneOf(modifier, kNationalModifiers))) {
    return bounded(TFieldType::ftWideString, TFieldType::ftWideMemo);
  }
  static constexpr std::array<std::u16string_view, 9> kMemo = {
      u"MEDIUMTEXT", u"LONGTEXT", u"CLOB",        u"MEMO",    u"NOTE",
      u"LONG",       u"LONGCHAR", u"LONGVARCHAR", u"TINYTEXT"};
  if (OneOf(name, kMemo)) {
    if (has_length && length < kSQLiteDefaultStringLength) {
      return {TFieldType::ftString, static_cast<int32_t>(length)};
    }
    return fixed(TFieldType::ftMemo);
  }
  static constexpr std::array<std::u16string_view, 8> kText = {
      u"TEXT", u"NTEXT", u"WTEXT", u"NCLOB", u"NMEMO", u"LONGWCHAR", u"LONGWVARCHAR", u"HTML"};
  if (OneOf(name, kText)) {
    if (has_length && length <= kSQLiteDefaultStringLength) {
      return {TFieldType::ftWideString, static_cast<int32_t>(length)};
    }
    return fixed(TFieldType::ftWideMemo);
  }

  // Unlisted types, each given the engine's nearest member.
  static constexpr std::array<std::u16string_view, 5> kTiny = {u"TINYINT", u"SHORTINT", u"INT8",
                                                               u"BYTE", u"UINT8"};
  if (OneOf(name, kTiny)) return {TFieldType::ftByte, 0};
  static constexpr std::array<std::u16string_view, 5> kWord = {u"WORD", u"UINT16", u"YEAR",
                                                               u"LONGWORD", u"UINT32"};
  if (OneOf(name, kWord)) return unlisted;
  static constexpr std::array<std::u16string_view, 4> kMoney = {u"MONEY", u"SMALLMONEY",
                                                                u"CURRENCY", u"FINANCIAL"};
  if (OneOf(name, kMoney)) return {TFieldType::ftCurrency, 0};
  static constexpr std::array<std::u16string_view, 6> kOther = {u"TIMESTAMP", u"INTERVAL", u"CHAR",
                                                                u"CHARACTER", u"NCHAR",    u"XML"};
  if (OneOf(name, kOther)) return unlisted;
  static constexpr std::array<std::u16string_view, 3> kBinary = {u"BINARY", u"VARBINARY", u"RAW"};
  if (OneOf(name, kBinary)) return {TFieldType::ftVarBytes, 0};
  static constexpr std::array<std::u16string_view, 11> kBlob = {
      u"BLOB",  u"MEDIUMBLOB", u"LONGBLOB", u"TINYBLOB", u"LONGVARBINARY", u"OLEOBJECT",
      u"IMAGE", u"GRAPHIC",    u"PICTURE",  u"PHOTO",    u"GENERAL"};
  if (OneOf(name, kBlob)) return {TFieldType::ftBlob, 0};
  static constexpr std::array<std::u16string_view, 2> kGuid = {u"GUID", u"UNIQUEIDENTIFIER"};
  if (OneOf(name, kGuid)) return {TFieldType::ftGuid, 0};

  return SQLiteColumnType{};  // any other name, or none: a wide string of the default length
}

bool IsListedFieldType(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftWideString:
    case TFieldType::ftMemo:
    case TFieldType::ftWideMemo:
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftBoolean:
    case TFieldType::ftFloat:
    case TFieldType::ftSingle:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      return true;
    default:
      return false;
  }
}

std::u16string TrimTrailingControls(std::u16string_view text) {
  while (!text.empty() && text.back() <= 0x20) text.remove_suffix(1);
  return std::u16string(text);
}

// ---------------------------------------------------------------------------------------------
// Statements and connections.

bool SQLiteError::IsRowRefusal() const {
  const int primary = code_ & 0xFF;
  return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG;
}

SQLiteStatement::SQLiteStatement(sqlite3* db, std::u16string_view sql) {
  const int rc =
      sqlite3_prepare16_v2(db, sql.data(), static_cast<int>(sql.size() * 2), &statement_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
    ThrowSQLite(db, kFailed);
  }
  if (statement_ == nullptr) throw platform::Error(u"SQLiteの処理に失敗しました: 空の文です");
}

SQLiteStatement::~SQLiteStatement() { sqlite3_finalize(statement_); }

SQLiteConnection::SQLiteConnection() = default;

SQLiteConnection::~SQLiteConnection() { Close(); }

std::u16string SQLiteConnection::Param(std::u16string_view name) const {
  std::u16string value;
  for (const std::u16string& line : params_) {
    const size_t eq = line.find(u'=');
    if (eq == std::u16string::npos) continue;
    if (base::EqualIgnoringCase(base::Trim(std::u16string_view(line).substr(0, eq)), name)) {
      value = line.substr(eq + 1);
    }
  }
  return value;
}

const std::vector<std::u16string>& SQLiteConnection::PragmaStatements() {
  static const std::vector<std::u16string> kPragmas = {
      u"PRAGMA cache_size = 10000", u"PRAGMA locking_mode = Exclusive",
      u"PRAGMA synchronous = Off",  u"PRAGMA journal_mode = Delete",
      u"PRAGMA foreign_keys = On",
  };
  return kPragmas;
}

int SQLiteConnection::TraceCallback(unsigned kind, void* context, void*, void* text) {
  auto* self = static_cast<SQLiteConnection*>(context);
  if (kind == SQLITE_TRACE_STMT && self->trace_ && text != nullptr) {
    const char* sql = static_cast<const char*>(text);
    // Triggers report "-- …" comments; only statements are passed on.
    if (sql[0] != '-' || sql[1] != '-') self->trace_(base::FromUtf8(sql));
  }
  return 0;
}

void SQLiteConnection::Open() {
  Close();
  const std::u16string path = Param(u"Database");
  const std::string file = path.empty() ? std::string(":memory:") : base::ToUtf8(path);
  sqlite3* db = nullptr;
  // A connection is only ever used by one thread at a time, so SQLite's lock around every
  // call is left out.
  const int rc = sqlite3_open_v2(
      file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::u16string message = SQLiteMessage(u"SQLiteデータベース「" + path + u"」を開けませんでした",
                                           db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    throw platform::Error(std::move(message));
  }
  sqlite3_extended_result_codes(db, 1);
  if (trace_) {
    sqlite3_trace_v2(
        db, SQLITE_TRACE_STMT,
        [](unsigned kind, void* context, void* p, void* x) {
          return TraceCallback(kind, context, p, x);
        },
        this);
  }
  db_ = db;
  try {
    for (const std::u16string& pragma : PragmaStatements()) Execute(pragma);
  } catch (const platform::Error&) {
    // The first statement is where a file that is no database, or a damaged one, shows.
    std::u16string message = SQLiteMessage(u"SQLiteデータベース「" + path + u"」を開けませんでした",
                                           sqlite3_errmsg(db_));
    Close();
    throw platform::Error(std::move(message));
  }
}

void SQLiteConnection::Close() noexcept {
  if (db_ == nullptr) return;
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  // close_v2 defers the release until statements still held by queries are finalized.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

sqlite3* SQLiteConnection::handle() const {
  if (db_ == nullptr) throw platform::Error(u"SQLiteデータベースに接続されていません");
  return db_;
}

void SQLiteConnection::Execute(std::u16string_view sql) {
  sqlite3* db = handle();
  const std::string text = base::ToUtf8(sql);
  char* error = nullptr;
  if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::u16string message = SQLiteMessage(kFailed, error != nullptr ? error : sqlite3_errmsg(db));
    sqlite3_free(error);
    throw platform::Error(std::move(message));
  }
}

void SQLiteConnection::ExecuteOne(std::u16string_view sql) {
  sqlite3* db = handle();
  const std::string text = base::ToUtf8(sql);
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()), &raw, &tail) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    ThrowSQLite(db, kFailed);
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (statement == nullptr) throw platform::Error(u"SQLiteの処理に失敗しました: 空の文です");
  const std::string_view rest(tail, static_cast<size_t>(text.c_str() + text.size() - tail));
  if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) {
    throw platform::Error(u"SQLiteの処理に失敗しました: 一つの文のあとに別の文が続いています。");
  }
  int rc;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) ThrowSQLite(db, kFailed);
}

void SQLiteConnection::BeginTransaction() { Execute(u"BEGIN"); }
void SQLiteConnection::Commit() { Execute(u"COMMIT"); }
void SQLiteConnection::Rollback() noexcept {
  if (db_ != nullptr && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}
bool SQLiteConnection::in_transaction() const {
  return db_ != nullptr && !sqlite3_get_autocommit(db_);
}

// ---------------------------------------------------------------------------------------------
// Queries.

struct SQLiteQuery::InsertCache {
  std::vector<bool> mask;  // which fields the statement names
  std::unique_ptr<SQLiteStatement> statement;
  std::vector<std::string> buffers;  // UTF-8 texts of the bound parameters, reused
};

SQLiteQuery::SQLiteQuery(SQLiteConnection* connection) : connection_(connection) {}

SQLiteQuery::~SQLiteQuery() { Close(); }

void SQLiteQuery::Close() noexcept {
  active_ = false;
  fields_.clear();
  lengths_.clear();
  origin_names_.clear();
  table_name_.clear();
  rows_.clear();
  current_ = 0;
  appending_ = false;
  pending_.clear();
  pending_set_.clear();
  insert_.reset();
}

void SQLiteQuery::Open() {
  Close();
  if (connection_ == nullptr) throw platform::Error(u"SQLiteデータベースに接続されていません");
  sqlite3* db = connection_->handle();
  SQLiteStatement statement(db, sql_);
  sqlite3_stmt* st = statement.get();
  ResultColumns columns = DescribeColumns(st);

  std::vector<std::vector<Value>> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::vector<Value> row;
    ReadRow(st, row);
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) ThrowSQLite(db, kFailed);

  std::vector<int32_t> lengths =
      TypeFields(columns.declared, rows.empty() ? nullptr : &rows.front(), columns.fields);
  for (std::vector<Value>& row : rows) FitRowToFields(row, columns.fields, lengths);

  fields_ = std::move(columns.fields);
  lengths_ = std::move(lengths);
  origin_names_ = std::move(columns.origins);
  table_name_ = std::move(columns.table);
  rows_ = std::move(rows);
  current_ = 0;
  active_ = true;
}

void SQLiteQuery::ExecSQL() {
  if (connection_ == nullptr) throw platform::Error(u"SQLiteデータベースに接続されていません");
  connection_->Execute(sql_);
}

int SQLiteQuery::FieldIndex(std::u16string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (base::EqualIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int32_t SQLiteQuery::FieldLength(int field_index) const {
  if (field_index < 0 || static_cast<size_t>(field_index) >= lengths_.size()) return 0;
  return lengths_[static_cast<size_t>(field_index)];
}

int64_t SQLiteQuery::record_number() const {
  return current_ < rows_.size() ? static_cast<int64_t>(current_) + 1 : 0;
}

void SQLiteQuery::Next() {
  if (current_ < rows_.size()) ++current_;
}

const Value& SQLiteQuery::value(int field_index) const {
  if (eof()) throw platform::Error(u"現在のレコードがありません");
  return ValueAt(static_cast<int64_t>(current_), field_index);
}

const Value& SQLiteQuery::FieldByName(std::u16string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) {
    throw platform::Error(u"フィールド「" + std::u16string(name) + u"」が見つかりません");
  }
  return value(index);
}

const Value& SQLiteQuery::ValueAt(int64_t row, int field_index) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || field_index < 0 ||
      static_cast<size_t>(field_index) >= fields_.size()) {
    throw platform::Error(u"レコードまたはフィールドの位置が範囲外です");
  }
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(field_index)];
}

void SQLiteQuery::Append() {
  if (!active_) throw platform::Error(u"クエリが開かれていません");
  // Values left from the previous row keep their storage for reuse; only the fields set
  // for this row are written.
  pending_.resize(fields_.size());
  pending_set_.assign(fields_.size(), false);
  appending_ = true;
}

void SQLiteQuery::SetValue(int field_index, const Value& value) {
  if (!appending_) throw platform::Error(u"追加中のレコードがありません");
  if (field_index < 0 || static_cast<size_t>(field_index) >= fields_.size()) {
    throw platform::Error(u"フィールドの位置が範囲外です");
  }
  const size_t i = static_cast<size_t>(field_index);
  const int32_t length = lengths_[i];
  if (value.kind() == Value::Kind::kText && IsTextFieldType(fields_[i].type) &&
      (length <= 0 || value.text().size() <= static_cast<size_t>(length)) &&
      (value.text().empty() || value.text().back() > 0x20)) {
    pending_[i] = value;  // text that needs no change (the usual case)
  } else {
    Value converted = ConvertForField(value, fields_[i].type, length);
    if (converted.kind() == Value::Kind::kText) {
      const std::u16string& text = converted.text();
      if (!text.empty() && text.back() <= 0x20) {
        converted = Value::Text(TrimTrailingControls(text));
      }
    }
    pending_[i] = std::move(converted);
  }
  pending_set_[i] = true;
}

void SQLiteQuery::SetFieldValue(std::u16string_view name, const Value& value) {
  const int index = FieldIndex(name);
  if (index < 0) {
    throw platform::Error(u"フィールド「" + std::u16string(name) + u"」が見つかりません");
  }
  SetValue(index, value);
}

void SQLiteQuery::Post() {
  if (!appending_) throw platform::Error(u"追加中のレコードがありません");
  if (table_name_.empty()) {
    throw platform::Error(u"SQLiteの処理に失敗しました: このクエリの結果には行を追加できません");
  }
  sqlite3* db = connection_->handle();
  if (!insert_ || insert_->mask != pending_set_) {
    // One prepared statement, reused for every row that sets the same fields.
    std::u16string sql = u"INSERT INTO " + QuoteName(table_name_);
    std::u16string names, marks;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (!pending_set_[i]) continue;
      if (!names.empty()) {
        names += u",";
        marks += u",";
      }
      names += QuoteName(origin_names_[i]);
      marks += u"?";
    }
    sql += names.empty() ? u" DEFAULT VALUES" : u" (" + names + u") VALUES (" + marks + u")";
    auto cache = std::make_unique<InsertCache>();
    cache->mask = pending_set_;
    cache->buffers.resize(fields_.size());
    cache->statement = std::make_unique<SQLiteStatement>(db, sql);
    insert_ = std::move(cache);
  }
  sqlite3_stmt* st = insert_->statement->get();
  int parameter = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!pending_set_[i]) continue;
    if (BindValue(st, ++parameter, pending_[i], insert_->buffers[i]) != SQLITE_OK) {
      sqlite3_reset(st);
      ThrowSQLite(db, kFailed);
    }
  }
  const int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) {
    std::u16string message = SQLiteMessage(kFailed, sqlite3_errmsg(db));
    const int code = sqlite3_extended_errcode(db);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    throw SQLiteError(std::move(message), code);
  }
  // Every row binds each of the statement's parameters again, so the bindings need no clearing.
  sqlite3_reset(st);
  appending_ = false;
  if (!retain_posted_rows_) return;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!pending_set_[i]) pending_[i] = Value::Null();
    if (fields_[i].type == TFieldType::ftAutoInc && pending_[i].is_null()) {
      pending_[i] = Value::Integer(sqlite3_last_insert_rowid(db));
    }
  }
  rows_.push_back(std::move(pending_));
  current_ = rows_.size() - 1;
  pending_.clear();
  pending_set_.clear();
}

void SQLiteQuery::Cancel() noexcept {
  appending_ = false;
  pending_set_.clear();
}

// ---------------------------------------------------------------------------------------------
// Reading a table row by row.

SQLiteTableReader::SQLiteTableReader(SQLiteConnection& connection, std::u16string_view table) {
  sqlite3* db = connection.handle();
  statement_ = std::make_unique<SQLiteStatement>(db, TableSelect(table, u"", u""));
  sqlite3_stmt* st = statement_->get();
  ResultColumns columns = DescribeColumns(st);
  // The first row is read now: a column declared without a type takes it from this row.
  // While the statement stands on it, the connection keeps one read transaction, so the
  // count below sees the same rows the statement goes on to return.
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    ReadRow(st, row_);
    first_row_held_ = true;
  } else if (rc == SQLITE_DONE) {
    done_ = true;
  } else {
    ThrowSQLite(db, kFailed);
  }
  lengths_ = TypeFields(columns.declared, first_row_held_ ? &row_ : nullptr, columns.fields);
  fields_ = std::move(columns.fields);
  if (first_row_held_) {
    FitRowToFields(row_, fields_, lengths_);
    SQLiteStatement count(db, u"SELECT COUNT(*) FROM " + std::u16string(table));
    if (sqlite3_step(count.get()) != SQLITE_ROW) ThrowSQLite(db, kFailed);
    row_count_ = sqlite3_column_int64(count.get(), 0);
  }
}

SQLiteTableReader::~SQLiteTableReader() = default;

int32_t SQLiteTableReader::FieldLength(int field_index) const {
  if (field_index < 0 || static_cast<size_t>(field_index) >= lengths_.size()) return 0;
  return lengths_[static_cast<size_t>(field_index)];
}

bool SQLiteTableReader::Next() {
  on_row_ = false;
  if (first_row_held_) {
    first_row_held_ = false;
    on_row_ = true;
    return true;
  }
  if (done_) return false;
  sqlite3_stmt* st = statement_->get();
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) {
    done_ = true;
    row_.clear();
    return false;
  }
  if (rc != SQLITE_ROW) ThrowSQLite(sqlite3_db_handle(st), kFailed);
  ReadRow(st, row_);
  FitRowToFields(row_, fields_, lengths_);
  on_row_ = true;
  return true;
}

const Value& SQLiteTableReader::value(int field_index) const {
  if (!on_row_) throw platform::Error(u"現在のレコードがありません");
  if (field_index < 0 || static_cast<size_t>(field_index) >= row_.size()) {
    throw platform::Error(u"フィールドの位置が範囲外です");
  }
  return row_[static_cast<size_t>(field_index)];
}

// ---------------------------------------------------------------------------------------------
// The three primitives.

void CreateSQLiteDatabase(std::u16string_view path) {
  if (!path.empty()) {
    std::error_code error;
    const std::filesystem::path file = platform::ToPath(path);
    if (std::filesystem::exists(file, error) && !std::filesystem::is_directory(file, error)) {
      std::filesystem::remove(file, error);  // a failed deletion is ignored
    }
  }
  SQLiteConnection connection;
  connection.params().push_back(u"DriverID=" + std::u16string(kSQLiteDriverId));
  connection.params().push_back(u"Database=" + std::u16string(path));
  connection.Open();
  connection.Close();
}

int ConnectSQLite(SQLiteConnection& connection, std::u16string_view driver_id,
                  std::u16string_view path) {
  connection.params().push_back(u"DriverID=" + std::u16string(driver_id));
  connection.params().push_back(u"DataBase=" + std::u16string(path));
  try {
    connection.Open();
  } catch (...) {
    return -1;
  }
  return 0;
}

void ConnectSQLiteOrThrow(SQLiteConnection& connection, std::u16string_view path) {
  connection.params().push_back(u"DriverID=" + std::u16string(kSQLiteDriverId));
  connection.params().push_back(u"DataBase=" + std::u16string(path));
  connection.Open();
}

void OpenSQLiteTableQuery(SQLiteQuery& query, std::u16string_view table,
                          std::u16string_view where_clause, std::u16string_view order_clause) {
  query.Close();
  query.SetSQL(TableSelect(table, where_clause, order_clause));
  query.Open();
}

}  // namespace db
