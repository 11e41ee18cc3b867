// Where pages come from: a file read page by page, or bytes held in memory (for the fuzzer
// and for tests that damage a copy of a file). Tests can put their own source in front of
// either, for example one that fails at a chosen page.
#ifndef QUORVEL_JET_FORMAT_PAGE_SOURCE_H_
#define QUORVEL_JET_FORMAT_PAGE_SOURCE_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace jet::format {

class PageSource {
 public:
  virtual ~PageSource() = default;
  // Length of the file in bytes (the last page may be incomplete in a damaged file).
  virtual uint64_t size() const = 0;
  // Reads up to out.size() bytes at `offset`; returns the number read (short at the end).
  // Throws jet::Error when the read itself fails.
  virtual size_t ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
  // Re-reads the length after the file was written.
  virtual void Refresh() {}
  // A value that changes whenever the file is written (by anyone): its modification time
  // and length. Memory sources never change.
  virtual uint64_t Stamp() const { return 0; }
};

// Opens a file read-only and shared (others may read and write it meanwhile). Throws
// jet::Error when it cannot be opened.
std::unique_ptr<PageSource> OpenFileSource(const std::filesystem::path& path);
std::unique_ptr<PageSource> MemorySource(std::vector<uint8_t> bytes);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_PAGE_SOURCE_H_
