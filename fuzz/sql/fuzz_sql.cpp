// Parses arbitrary statement texts (UTF-8 input); a SELECT is bound to a field list of every
// kind, tested on a few rows and used to sort them. Only jet::Error may come out.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "base/utf.h"
#include "jet/jet.h"
#include "jet/sql.h"

namespace {

jet::Field MakeField(std::u16string name, jet::ColumnType type) {
  jet::Field f;
  f.name = std::move(name);
  f.column_type = type;
  return f;
}

const std::vector<jet::Field>& Fields() {
  static const std::vector<jet::Field> fields = {
      MakeField(u"ID", jet::ColumnType::kLong),   MakeField(u"TITLE", jet::ColumnType::kText),
      MakeField(u"a", jet::ColumnType::kText),    MakeField(u"b", jet::ColumnType::kDouble),
      MakeField(u"c", jet::ColumnType::kBoolean), MakeField(u"d", jet::ColumnType::kDateTime),
      MakeField(u"e", jet::ColumnType::kMemo),    MakeField(u"f", jet::ColumnType::kCurrency),
      MakeField(u"g", jet::ColumnType::kGuid),    MakeField(u"h", jet::ColumnType::kBinary),
      MakeField(u"i", jet::ColumnType::kNumeric),
  };
  return fields;
}

std::vector<std::vector<jet::Value>> Rows() {
  using jet::Value;
  jet::Decimal decimal;
  decimal.mantissa = 12345;
  decimal.scale = 2;
  return {
      {Value::Integer(1), Value::Text(u"Tokyo"), Value::Text(u"ＡＢＣ"), Value::Double(1.5),
       Value::Boolean(true), Value::FromDateTime({-1.25}), Value::Text(u"memo"),
       Value::FromCurrency({12345}), Value::FromGuid({1, 2, 3}), Value::Binary({0, 1}),
       Value::FromDecimal(decimal)},
      {Value::Integer(-7), Value::Text(u""), Value(), Value::Double(-0.0), Value::Boolean(false),
       Value::FromDateTime({45000.5}), Value(), Value(), Value(), Value(), Value()},
      {Value(), Value(), Value::Text(u"%_[a-z]"), Value(), Value(), Value(), Value(), Value(),
       Value(), Value(), Value()},
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string sql =
      base::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  // The text as a LIKE pattern against itself and a fixed text.
  (void)jet::sql::Like(sql, sql);
  (void)jet::sql::Like(u"Tokyo survey 東京", sql);
  try {
    jet::sql::Statement statement = jet::sql::Parse(sql);
    if (auto* select = std::get_if<jet::sql::SelectStatement>(&statement)) {
      jet::sql::Predicate predicate(select->where.get(), Fields());
      std::vector<std::vector<jet::Value>> kept;
      for (auto& row : Rows()) {
        if (predicate.Matches(row)) kept.push_back(std::move(row));
      }
      jet::sql::SortRows(kept, select->order_by, Fields());
    }
  } catch (const jet::Error&) {
  }
  return 0;
}
