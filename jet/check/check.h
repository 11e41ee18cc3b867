// Consistency check of a Jet 4.0 file: page ownership against the global usage map, the
// usage maps of tables, indexes and long-value columns, data-page bookkeeping and row
// bounds, long-value chains, row counts, and every index (page structure, entry order,
// node entries, sibling links, and exactly one entry per row with the key re-encoded from
// the row's values).
//
// The checker does not use the engine's reader (jet/format's table-definition, record and
// usage-map decoders) nor the writer's model: it parses every structure itself, so that a
// fault in either shows up as a problem instead of being repeated by the check. It shares
// only the format's constants and byte coding (jet/format/constants.h, coding.h) and the
// index key encoding it re-derives keys with.
//
// The checker reads the file on its own, page by page as it needs them (keeping only a bounded
// number in memory), with every offset checked, so a damaged file gives problems, never a
// crash, and a file of any size is checked or refused in bounded memory. Rows and index
// entries are looked at one at a time and compared through digests, so the memory used does
// not grow with the number of rows either.
#ifndef QUORVEL_JET_CHECK_CHECK_H_
#define QUORVEL_JET_CHECK_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace jet::check {

struct CheckResult {
  std::vector<std::string> problems;  // UTF-8, one sentence each; empty when all is well
  std::vector<std::string> notes;     // what could not be checked (not a fault)
  int tables = 0;                     // tables checked (system tables included)
  long long rows = 0;                 // live rows seen
  long long index_entries = 0;        // index entries seen
  bool ok() const { return problems.empty(); }
};

// Throws jet::Error when the file cannot be opened (also when it is no regular file: a folder,
// a named pipe, a device) or a read fails.
CheckResult CheckDatabase(const std::filesystem::path& path);
// The same for a file's bytes held in memory.
CheckResult CheckDatabaseBytes(std::vector<uint8_t> bytes);

// When an index's entries and its rows differ, the checker collects the entries of the
// differing part and compares them exactly, up to a limit on each side; beyond it the report
// gives lower bounds. Lowers that limit for checks run from now on (0 restores the default),
// so that tests can reach it with small files.
void SetCompareLimitForTesting(size_t entries);

}  // namespace jet::check

#endif  // QUORVEL_JET_CHECK_CHECK_H_
