// The parts of the test environment that are the same on every system: waiting, the
// stand-ins' logs, their paths and copies.
#include <fstream>
#include <utility>

#include "tests/support/test_env.h"

namespace gistest {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    PauseBriefly();
  }
}

std::vector<LogRecord> ReadLog(const std::filesystem::path& file) {
  std::vector<LogRecord> records;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    LogRecord record(1);
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '\t') {
        record.emplace_back();
      } else if (c == '\\' && i + 1 < line.size()) {
        const char next = line[++i];
        record.back().push_back(next == 't'   ? '\t'
                                : next == 'n' ? '\n'
                                : next == 'r' ? '\r'
                                              : next);
      } else {
        record.back().push_back(c);
      }
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<LogRecord> RecordsOf(const std::vector<LogRecord>& log, const std::string& kind) {
  std::vector<LogRecord> out;
  for (const auto& r : log) {
    if (!r.empty() && r[0] == kind) out.push_back(r);
  }
  return out;
}

bool FreshStartSettled(const std::vector<LogRecord>& log, const std::string& project) {
  const auto executes = RecordsOf(log, "execute");
  if (executes.empty() || RecordsOf(log, "exit").size() + 1 != RecordsOf(log, "start").size()) {
    return false;
  }
  for (const auto& r : executes) {
    if (r.size() < 6 || r[5] != "READ_PROJECT@" + project) return false;
  }
  return true;
}

std::filesystem::path QuorvelStubPath() { return QUORVEL_STUB_PATH; }
std::filesystem::path UpdaterStubPath() { return QUORVEL_UPDATER_STUB_PATH; }

void CopyExecutable(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(
      to, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
              std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
              std::filesystem::perms::others_exec);
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

}  // namespace gistest
