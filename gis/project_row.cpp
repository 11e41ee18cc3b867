#include "gis/project_row.h"

#include "jet/jet.h"

namespace gis {

std::u16string CurrentRowText(const jet::Dataset& dataset, std::u16string_view field) {
  if (!dataset.active()) return std::u16string();
  const int index = dataset.FieldIndex(field);
  if (index < 0) {
    dataset.FieldByName(field);  // raises the data layer's error for the missing field
    return std::u16string();
  }
  if (dataset.record_count() == 0 || dataset.eof()) return std::u16string();
  const jet::Value& value = dataset.value(index);
  if (value.is_null()) return std::u16string();
  if (value.kind() == jet::Value::Kind::kText) return value.text();
  return value.ToDisplayText();
}

}  // namespace gis
