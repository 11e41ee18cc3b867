// Runs the consistency checker on arbitrary bytes. Every outcome is a list of problems.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/check/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jet::check::CheckDatabaseBytes(std::vector<uint8_t>(data, data + size));
  return 0;
}
