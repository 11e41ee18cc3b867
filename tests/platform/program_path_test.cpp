#include "platform/program_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/utf.h"
#include "platform/text.h"
#include "tests/platform/os_support.h"

namespace {

namespace fs = std::filesystem;

using platform_test::kWindows;

// The test program's file name and the separator the program directory ends with.
const std::u16string kProgramName = kWindows ? u"platform_tests.exe" : u"platform_tests";
constexpr char16_t kSeparator = kWindows ? u'\\' : u'/';

TEST(ProgramPathTest, IsTheRunningExecutable) {
  const fs::path path = platform::ToPath(platform::ProgramPath());
  EXPECT_TRUE(path.is_absolute());
  EXPECT_EQ(platform::FromPath(path.filename()), kProgramName);
  EXPECT_TRUE(fs::is_regular_file(path));
  if (!kWindows) {
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
  }
}

TEST(ProgramPathTest, DirectoryEndsWithTheSeparator) {
  const std::u16string path = platform::ProgramPath();
  const std::u16string directory = platform::ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), kSeparator);
  EXPECT_EQ(path.substr(0, directory.size()), directory);
  EXPECT_EQ(path.substr(directory.size()), kProgramName);
}

// Run by ProgramPathTest.FollowsACopyOfTheProgram in a copy of this executable: writes what the
// copy sees as its path and directory into the file named by the environment.
TEST(ProgramPathChild, ReportsItsPath) {
  const char* out = std::getenv("QUORVEL_PROGRAM_PATH_OUT");
  if (out == nullptr) GTEST_SKIP() << "only run as a child of FollowsACopyOfTheProgram";
  std::ofstream(fs::u8path(out), std::ios::binary)
      << base::ToUtf8(platform::ProgramPath()) << "\n"
      << base::ToUtf8(platform::ProgramDirectory()) << "\n";
}

TEST(ProgramPathTest, FollowsACopyOfTheProgram) {
  const fs::path root = platform_test::MakeScratchFolder("quorvel-path");
  const fs::path folder = root / platform::ToPath(u"作業 フォルダ");
  fs::create_directory(folder);
  const fs::path copy = folder / platform::ToPath(u"コピー.exe");
  fs::copy_file(platform::ToPath(platform::ProgramPath()), copy);
  fs::permissions(copy, fs::perms(0755));
  const fs::path out = root / "out.txt";

  int exit_code = -1;
  platform_test::RunProgram(copy, {"--gtest_filter=ProgramPathChild.ReportsItsPath"},
                            "QUORVEL_PROGRAM_PATH_OUT=" + base::ToUtf8(platform::FromPath(out)),
                            exit_code);
  EXPECT_EQ(exit_code, 0);

  std::string path_line, directory_line;
  {
    std::ifstream in(out, std::ios::binary);
    std::getline(in, path_line);
    std::getline(in, directory_line);
  }  // closed, so that Windows lets the folder go
  EXPECT_EQ(path_line, base::ToUtf8(platform::FromPath(copy)));
  EXPECT_EQ(directory_line, base::ToUtf8(platform::FromPath(folder) + kSeparator));
  fs::remove_all(root);
}

}  // namespace
