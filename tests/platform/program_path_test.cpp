#include "platform/program_path.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/utf.h"
#include "platform/text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

TEST(ProgramPathTest, IsTheRunningExecutable) {
  const fs::path path = platform::ToPath(platform::ProgramPath());
  EXPECT_TRUE(path.is_absolute());
  EXPECT_EQ(path.filename(), "platform_tests");
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
}

TEST(ProgramPathTest, DirectoryEndsWithTheSeparator) {
  const std::u16string path = platform::ProgramPath();
  const std::u16string directory = platform::ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), u'/');
  EXPECT_EQ(path.substr(0, directory.size()), directory);
  EXPECT_EQ(path.substr(directory.size()), u"platform_tests");
}

// Run by ProgramPathTest.FollowsACopyOfTheProgram in a copy of this executable: writes what the
// copy sees as its path and directory into the file named by the environment.
TEST(ProgramPathChild, ReportsItsPath) {
  const char* out = std::getenv("QUORVEL_PROGRAM_PATH_OUT");
  if (out == nullptr) GTEST_SKIP() << "only run as a child of FollowsACopyOfTheProgram";
  std::ofstream(out, std::ios::binary) << base::ToUtf8(platform::ProgramPath()) << "\n"
                                       << base::ToUtf8(platform::ProgramDirectory()) << "\n";
}

TEST(ProgramPathTest, FollowsACopyOfTheProgram) {
  std::string pattern = (fs::temp_directory_path() / "quorvel-path-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  const fs::path folder = root / "作業 フォルダ";
  fs::create_directory(folder);
  const fs::path copy = folder / "コピー.exe";
  fs::copy_file("/proc/self/exe", copy);
  fs::permissions(copy, fs::perms(0755));
  const fs::path out = root / "out.txt";

  const std::string env_out = "QUORVEL_PROGRAM_PATH_OUT=" + out.string();
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back(const_cast<char*>(env_out.c_str()));
  env.push_back(nullptr);
  std::string program = copy.string();
  std::string filter = "--gtest_filter=ProgramPathChild.ReportsItsPath";
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, env.data()), 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::ifstream in(out, std::ios::binary);
  std::string path_line, directory_line;
  std::getline(in, path_line);
  std::getline(in, directory_line);
  EXPECT_EQ(path_line, copy.string());
  EXPECT_EQ(directory_line, folder.string() + "/");
  fs::remove_all(root);
}

}  // namespace
