#include "db/basic_database.h"

#include <filesystem>
#include <system_error>

#include "base/fold.h"
#include "platform/text.h"

namespace db {

namespace {

bool IsSearchedType(jet::TFieldType type) {
  return type == jet::TFieldType::ftWideString || type == jet::TFieldType::ftString ||
         type == jet::TFieldType::ftMemo;
}

// The keyword inside a double-quoted literal: each double quote is written twice.
std::u16string QuoteLiteralBody(std::u16string_view keyword) {
  std::u16string body;
  body.reserve(keyword.size() + 2);
  for (char16_t c : keyword) {
    body += c;
    if (c == u'"') body += u'"';
  }
  return body;
}

}  // namespace

bool FileExists(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(platform::ToPath(path), error);
}

std::u16string JetConnectionString(std::u16string_view path, std::u16string_view user_name,
                                   std::u16string_view database_password) {
  std::u16string text;
  text += u"Provider=Microsoft.Jet.OLEDB.4.0;User ID=";
  text += user_name;
  text += u";";
  text += u"Data Source=";
  text += path;
  text += u";";
  text += u"Mode=Share Deny None;Extended Properties=\"\";";
  text += u"Persist Security Info=False;";
  text += u"Jet OLEDB:System database=\"\";";
  text += u"Jet OLEDB:Registry Path=\"\";";
  text += u"Jet OLEDB:Database Password=\"";
  text += database_password;
  text += u"\";";
  text += u"Jet OLEDB:Engine Type=5;";
  text += u"Jet OLEDB:Database Locking Mode=1;";
  text += u"Jet OLEDB:Global Partial Bulk Ops=2;";
  text += u"Jet OLEDB:Global Bulk Transactions=1;";
  text += u"Jet OLEDB:New Database Password=\"\";";
  text += u"Jet OLEDB:Create System Database=False;";
  text += u"Jet OLEDB:Encrypt Database=False;";
  text += u"Jet OLEDB:Don't Copy Locale on Compact=False;";
  text += u"Jet OLEDB:Compact Without Replica Repair=False;";
  text += u"Jet OLEDB:SFP=False";
  return text;
}

int ConnectJetDatabase(std::u16string_view path, std::u16string_view user_name,
                       std::u16string_view database_password, jet::Connection& connection) {
  if (!FileExists(path)) return kConnectNoFile;
  const std::u16string connection_string = JetConnectionString(path, user_name, database_password);
  connection.Close();
  connection.SetConnectionString(connection_string);
  try {
    connection.Open();
  } catch (...) {
    // The caller only learns that the file could not be opened; the reason is not shown.
    connection.Close();
    return kConnectFailed;
  }
  return kConnectOk;
}

void OpenTableQuery(jet::Dataset& dataset, std::u16string_view table,
                    std::u16string_view where_clause, std::u16string_view order_clause) {
  std::u16string sql = u"SELECT * FROM ";
  sql += table;
  sql += u" ";
  sql += where_clause;
  sql += u" ";
  sql += order_clause;
  dataset.Close();
  dataset.SetCommandText(std::move(sql));
  dataset.Open();
}

std::u16string BuildKeywordFilter(const jet::Dataset& dataset, std::u16string_view keyword) {
  return BuildKeywordFilter(dataset.fields(), keyword);
}

std::u16string BuildKeywordFilter(const std::vector<jet::Field>& fields,
                                  std::u16string_view keyword) {
  if (keyword.empty()) return std::u16string();
  const std::u16string literal_body = QuoteLiteralBody(keyword);
  std::u16string clause;
  for (const jet::Field& field : fields) {
    if (!IsSearchedType(field.type)) continue;
    // Searching the password would let anyone find it one character at a time through the
    // record count.
    if (base::EqualIgnoringCase(field.name, u"PASSWORD")) continue;
    clause += clause.empty() ? u"WHERE ( " : u" OR ";
    clause += u"([";
    clause += field.name;
    clause += u"]";
    clause += u" Like ";
    clause += u"\"%";
    clause += literal_body;
    clause += u"%\"";
    clause += u")";
  }
  if (!clause.empty()) clause += u" )";
  return clause;
}

std::u16string RecordCountText(int64_t count) {
  const std::string digits = std::to_string(count);
  std::u16string text(digits.begin(), digits.end());
  text += kRecordCountSuffix;
  return text;
}

void ApplyKeywordFilter(jet::Dataset& dataset, std::u16string_view keyword,
                        const std::function<void(const std::u16string&)>& set_status) {
  // A dataset left closed by a failed query has no fields to search; learn them first, so
  // that the keyword in the box always filters instead of listing the whole table.
  if (!keyword.empty() && dataset.fields().empty()) {
    OpenTableQuery(dataset, kProjectTable, u"", u"");
  }
  const std::u16string where_clause = BuildKeywordFilter(dataset, keyword);
  OpenTableQuery(dataset, kProjectTable, where_clause, u"");
  if (set_status) set_status(RecordCountText(dataset.record_count()));
}

}  // namespace db
