// A usage map: a row on a data page, reached by a row pointer, that lists pages.
//   Type 0 (inline):     0 u8 0, 1 u32 first page, 5.. bitmap: bit k (LSB first) = page
//                        first + k
//   Type 1 (reference):  0 u8 1, 1.. u32 page numbers of map pages (0 = none); map page j
//                        covers pages j × 32736 … and is laid out as
//                          0 u8 5, 1 u8 1, 2 u16 0, 4.. 4092-byte bitmap
#ifndef QUORVEL_JET_FORMAT_USAGE_MAP_H_
#define QUORVEL_JET_FORMAT_USAGE_MAP_H_

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/constants.h"
#include "jet/format/pager.h"

namespace jet::format {

// The pages a usage map lists, ascending. Pages outside the file are listed too: a table
// whose map names them lives in a truncated file, and reading them raises the error.
std::vector<uint32_t> ReadUsageMap(Pager& pager, uint32_t row_pointer);

// The same from the map row's bytes (map pages of a reference map are read from `pager`).
std::vector<uint32_t> DecodeUsageMap(Pager& pager, std::span<const uint8_t> row, uint32_t row_page);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_USAGE_MAP_H_
