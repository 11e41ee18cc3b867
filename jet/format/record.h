// A row of a table (Jet 4.0):
//   0        u16  column count (the table's columns-ever-defined when it was written)
//   2        the fixed area: fixed-length columns at their definition's fixed offset
//   …        variable-length data, slot after slot
//   e-2n-4   u16  offset where the variable data ends
//   …        u16 × n  offset of each variable slot, the last slot first
//   e-2      u16  n, the number of variable slots
//   e        ⌈column count / 8⌉ bytes null mask: bit k (LSB first) = column k present;
//            for Yes/No columns the bit is the value
// A table without variable-length columns has no offsets and no slot count. Columns added
// after a row was written lie beyond its counts and read as NULL.
#ifndef QUORVEL_JET_FORMAT_RECORD_H_
#define QUORVEL_JET_FORMAT_RECORD_H_

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/format/table_definition.h"
#include "jet/jet.h"

namespace jet::format {

// Decodes the columns `which` (indexes into def.columns; all when empty) of one row, in the
// order given. Long values are read through `pager`. Throws jet::Error for a damaged row.
std::vector<Value> DecodeRecord(Pager& pager, const TableDefinition& def,
                                std::span<const uint8_t> row, uint32_t page,
                                const std::vector<size_t>& which = {});

// Calls `visit` with the bytes of every live row of the table, in storage order: the data
// pages the table's usage map lists, ascending, and the slots of each page in order. A row
// that moved to another page (overflow) is visited at its original slot. Pages the map
// lists that are not data pages of this table are skipped.
void ScanRecords(Pager& pager, const TableDefinition& def,
                 const std::function<void(std::span<const uint8_t> row, uint32_t page)>& visit);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_RECORD_H_
