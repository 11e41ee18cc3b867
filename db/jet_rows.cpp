// Reading rows from a Jet dataset and appending them to a new Jet table.
#include "db/jet_rows.h"

#include <string>
#include <utility>

#include "base/utf.h"
#include "db/basic_database.h"
#include "db/conversion.h"

namespace db {
namespace {

using jet::TFieldType;
using jet::Value;

// True when converting `original` for a text field kept less than its whole text.
bool WasCut(const Value& original, const Value& converted) {
  if (original.is_null() || converted.kind() != Value::Kind::kText) return false;
  const size_t whole =
      original.kind() == Value::Kind::kText ? original.text().size() : ValueToText(original).size();
  return converted.text().size() < whole;
}

// A value for a Jet field; binary fields take bytes (texts and numbers as their UTF-8 text).
// `cut` is set when a text had to be shortened to the field's length.
Value ForJetField(const Value& value, const jet::Field& field, bool& cut) {
  if (field.type == TFieldType::ftBlob || field.type == TFieldType::ftVarBytes) {
    if (value.is_null() || value.kind() == Value::Kind::kBinary) return value;
    const std::string text = base::ToUtf8(ValueToText(value));
    return Value::Binary(jet::Bytes(text.begin(), text.end()));
  }
  const int32_t max_chars =
      field.type == TFieldType::ftWideString || field.type == TFieldType::ftString ? field.size / 2
                                                                                   : 0;
  Value converted = ConvertForField(value, field.type, max_chars);
  if (max_chars > 0 && WasCut(value, converted)) cut = true;
  return converted;
}

}  // namespace

bool JetRowSource::Next() {
  if (row_ + 1 >= dataset_.record_count()) {
    row_ = dataset_.record_count();
    return false;
  }
  ++row_;
  return true;
}

const Value& JetRowSource::value(int field_index) const {
  if (loaded_ != row_) {
    values_.clear();
    for (size_t i = 0; i < dataset_.fields().size(); ++i) {
      values_.push_back(dataset_.ValueAt(row_, static_cast<int>(i)));
    }
    loaded_ = row_;
  }
  return values_.at(static_cast<size_t>(field_index));
}

JetRowSink::JetRowSink(jet::Connection& connection, std::u16string table,
                       TableStatementBuilder build_statement)
    : connection_(connection), table_(std::move(table)), build_statement_(build_statement) {}

void JetRowSink::Prepare(const std::vector<jet::Field>& source_fields) {
  jet::Command command(&connection_);
  command.SetCommandText(build_statement_(table_, source_fields));
  command.Execute();
  appender_.emplace(connection_, table_);
  target_ = MatchFieldsByName(
      source_fields, [this](std::u16string_view name) { return appender_->FieldIndex(name); },
      u"新しいテーブル");
  connection_.BeginTrans();
}

bool JetRowSink::Append(const RowSource& row) {
  const std::vector<jet::Field>& fields = appender_->fields();
  values_.assign(fields.size(), Value());
  bool cut = false;
  try {
    for (size_t i = 0; i < target_.size(); ++i) {
      const auto target = static_cast<size_t>(target_[i]);
      values_[target] = ForJetField(row.value(static_cast<int>(i)), fields[target], cut);
    }
  } catch (const OutOfRangeError&) {
    // Only this field cannot hold the number: the row is refused, the copy goes on. Any
    // other value that cannot be converted stops the copy.
    return false;
  }
  try {
    appender_->Append(values_);
  } catch (const jet::FileFullError&) {
    throw;  // no later row fits either: the copy stops
  } catch (const jet::Error&) {
    return false;
  }
  if (cut) ++truncated_rows_;
  return true;
}

void JetRowSink::Finish() { connection_.CommitTrans(); }

}  // namespace db
