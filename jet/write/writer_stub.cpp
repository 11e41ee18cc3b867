// Placeholder until the writer lands: no file is writable.
#include "jet/write/writer.h"

namespace jet::write {

std::unique_ptr<Writer> Writer::OpenIfOwned(const std::filesystem::path&) { return nullptr; }

}  // namespace jet
