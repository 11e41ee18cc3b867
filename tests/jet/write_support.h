// Helpers shared by the writer's tests: temporary folders, running programs, file bytes.
#ifndef QUORVEL_TESTS_JET_WRITE_SUPPORT_H_
#define QUORVEL_TESTS_JET_WRITE_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace jet::write_test {

inline const std::filesystem::path kFixtures = std::filesystem::path(QUORVEL_FIXTURES_DIR) / "jet4";
inline const std::filesystem::path kOracle =
    std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests" / "oracle";
inline const std::filesystem::path kJetsql = std::filesystem::path(QUORVEL_BINARY_DIR) / "tools" /
                                             "jetsql" /
#ifdef _WIN32
                                             "jetsql.exe";
#else
                                             "jetsql";
#endif

// The other readers the results are compared with (node with mdb-reader, mdbtools) are Linux
// programs: a test running under Wine cannot start them, so those comparisons run only in the
// Linux build.
#ifdef _WIN32
inline constexpr bool kLinuxReadersRun = false;
#else
inline constexpr bool kLinuxReadersRun = true;
#endif
inline constexpr char kNoLinuxReaders[] =
    "node (mdb-reader) and mdbtools are Linux programs, which a test under Wine cannot start";

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    // A new name is tried until the folder is created: creating it is what claims the name.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;) {
      const std::string name = "jetwrite-" + std::to_string(random() % 1000000000000u);
      path_ = std::filesystem::temp_directory_path() / name;
      std::error_code error;
      if (std::filesystem::create_directory(path_, error)) break;
      if (error) std::abort();
    }
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

// Runs a shell command (cmd.exe on Windows) and collects its standard output.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
#ifdef _WIN32
  // cmd.exe takes the whole line after /c with its outer quotes removed.
  FILE* pipe = ::_popen(("\"" + command + "\"").c_str(), "rb");
#else
  FILE* pipe = ::popen(command.c_str(), "r");
#endif
  if (!pipe) return r;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
#ifdef _WIN32
  r.status = ::_pclose(pipe);
#else
  int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return r;
}

// A path as one word of the shell's command line.
inline std::string Quote(const std::filesystem::path& p) {
#ifdef _WIN32
  return "\"" + p.string() + "\"";
#else
  return "'" + p.string() + "'";
#endif
}

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
