// A basic database of many projects for the window benchmarks, made with the engine's writer,
// and a settings file that lists it with no splash pause.
#ifndef QUORVEL_BENCH_WINDOW_PROJECT_TABLE_H_
#define QUORVEL_BENCH_WINDOW_PROJECT_TABLE_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

// Writes `file` anew with a T_projectMain of `rows` rows (ID, TITLE, FILENAME, PASSWORD);
// titles mix Japanese place names, Latin words and numbers. Throws on failure.
void WriteProjectTable(const std::filesystem::path& file, int64_t rows);

// The settings file of `directory` naming `database`, splash time 0.
void WriteBenchSettings(const std::filesystem::path& directory,
                        const std::filesystem::path& database);

// `file` when it exists with `rows` rows from an earlier run, else made anew.
void EnsureProjectTable(const std::filesystem::path& file, int64_t rows);

}  // namespace bench

#endif  // QUORVEL_BENCH_WINDOW_PROJECT_TABLE_H_
