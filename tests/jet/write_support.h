// Helpers shared by the writer's tests: temporary folders, running programs, file bytes.
#ifndef QUORVEL_TESTS_JET_WRITE_SUPPORT_H_
#define QUORVEL_TESTS_JET_WRITE_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace jet::write_test {

inline const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
inline const std::filesystem::path kOracle =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "oracle";
inline const std::filesystem::path kJetsql =
    std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" / "jetsql" / "jetsql";

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "jetwrite-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) std::abort();
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

struct CommandResult {
  int status = -1;
  std::string out;
};

// Runs a shell command and collects its standard output.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

inline std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  return lines;
}

}  // namespace jet::write_test

#endif  // QUORVEL_TESTS_JET_WRITE_SUPPORT_H_
