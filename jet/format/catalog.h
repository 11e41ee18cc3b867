// The catalogue: the rows of MSysObjects, whose definition is always on page 2. The
// columns used here:
//   Id        Long     object id; for a table, its definition page (low 24 bits)
//   ParentId  Long     the container ("Tables" = 0x0F000001)
//   Name      Text
//   Type      Integer  1 table, 4 and 6 linked tables, 5 query, 3 container … (low 7 bits)
//   Flags     Long     0x80000000 and 0x00000002 mark system objects
#ifndef QUORVEL_JET_FORMAT_CATALOG_H_
#define QUORVEL_JET_FORMAT_CATALOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/pager.h"

namespace jet::format {

struct CatalogEntry {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::u16string name;
  int16_t type = 0;
  uint32_t flags = 0;

  bool is_table() const { return (type & 0x7F) == kObjectTypeTable; }
  bool is_system() const { return (flags & kSystemObjectFlags) != 0; }
  bool is_user_table() const { return is_table() && !is_system(); }
  uint32_t definition_page() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
};

// Every row of MSysObjects in storage order.
std::vector<CatalogEntry> ReadCatalog(Pager& pager);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_CATALOG_H_
