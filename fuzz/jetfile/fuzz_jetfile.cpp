// Opens arbitrary bytes as a Jet file and reads every row of every table, including the
// catalogue itself. A damaged file may only raise jet::Error.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/database.h"
#include "jet/jet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto db = jet::Database::OpenBytes(std::vector<uint8_t>(data, data + size));
    for (const auto& name : db->TableNames()) {
      try {
        db->ReadTable(name);
      } catch (const jet::Error&) {
        // One damaged table does not stop the others from being read.
      }
    }
    db->ReadTable(u"MSysObjects");
  } catch (const jet::Error&) {
  }
  return 0;
}
