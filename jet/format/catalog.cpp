#include "jet/format/catalog.h"

#include "jet/format/record.h"
#include "jet/format/table_definition.h"

namespace jet::format {
namespace {

// Index of the column `name` in the definition (compared as stored: the catalogue's own
// column names are fixed).
size_t ColumnIndex(const TableDefinition& def, std::u16string_view name, ColumnType type) {
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (def.columns[i].name == name) {
      if (def.columns[i].type != static_cast<uint8_t>(type)) break;
      return i;
    }
  }
  ThrowCorrupt(u"カタログ (MSysObjects) に列 " + std::u16string(name) + u" がありません",
               kCatalogPage);
}

}  // namespace

std::vector<CatalogEntry> ReadCatalog(Pager& pager) {
  const TableDefinition def = ReadTableDefinition(pager, kCatalogPage);
  const std::vector<size_t> which = {
      ColumnIndex(def, u"Id", ColumnType::kLong),
      ColumnIndex(def, u"ParentId", ColumnType::kLong),
      ColumnIndex(def, u"Name", ColumnType::kText),
      ColumnIndex(def, u"Type", ColumnType::kInteger),
      ColumnIndex(def, u"Flags", ColumnType::kLong),
  };
  std::vector<CatalogEntry> entries;
  ScanRecords(pager, def, [&](std::span<const uint8_t> row, uint32_t page) {
    const std::vector<Value> v = DecodeRecord(pager, def, row, page, which);
    CatalogEntry e;
    if (!v[0].is_null()) e.id = static_cast<int32_t>(v[0].integer());
    if (!v[1].is_null()) e.parent_id = static_cast<int32_t>(v[1].integer());
    if (!v[2].is_null()) e.name = v[2].text();
    if (!v[3].is_null()) e.type = static_cast<int16_t>(v[3].integer());
    if (!v[4].is_null()) e.flags = static_cast<uint32_t>(v[4].integer());
    entries.push_back(std::move(e));
  });
  return entries;
}

}  // namespace jet::format
