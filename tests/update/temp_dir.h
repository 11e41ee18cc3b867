// A fresh directory under the test temporary folder, removed with everything in it at the end.
#ifndef QUORVEL_TESTS_UPDATE_TEMP_DIR_H_
#define QUORVEL_TESTS_UPDATE_TEMP_DIR_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace update_test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::path(testing::TempDir()) /
            ("quorvel-update-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace update_test

#endif  // QUORVEL_TESTS_UPDATE_TEMP_DIR_H_
