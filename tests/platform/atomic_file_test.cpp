// Replacement through a temporary file beside the target, and the Japanese wording of
// operating-system errors, on real files in a scratch folder.
#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "base/system_error_text.h"
#include "base/utf.h"
#include "platform/error.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "tests/platform/os_support.h"

#ifdef _WIN32
#include "platform/win32/win32_error.h"
#else
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

using platform_test::kWindows;

class Scratch {
 public:
  Scratch() : path_(platform_test::MakeScratchFolder("quorvel-atomic")) {}
  ~Scratch() {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(path_, error)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::u16string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::Error& error) {
    return error.message();
  }
  return u"";
}

TEST(SystemErrorText, CommonReasonsAreJapaneseAndOthersCarryTheirNumber) {
  const struct {
    std::errc condition;
    std::u16string_view reason;
  } cases[] = {
      {std::errc::no_such_file_or_directory, u"ファイルまたはフォルダーが見つかりません"},
      {std::errc::permission_denied, u"アクセスが拒否されました"},
      {std::errc::no_space_on_device, u"ディスクの空き領域が足りません"},
      {std::errc::read_only_file_system, u"読み取り専用のドライブです"},
      {std::errc::is_a_directory, u"フォルダーです"},
      {std::errc::file_exists, u"同じ名前のファイルまたはフォルダーが既にあります"},
      {std::errc::too_many_files_open, u"開いているファイルが多すぎます"},
      {std::errc::io_error, u"入出力エラーが発生しました"},
      {std::errc::filename_too_long, u"名前が長すぎます"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base::SystemErrorReason(std::make_error_code(c.condition)), c.reason);
    // errno values of the system category word the same (on Windows that category holds Win32
    // codes, see below).
    if (kWindows) continue;
    const std::error_code system(static_cast<int>(c.condition), std::system_category());
    EXPECT_EQ(base::SystemErrorReason(system), c.reason);
  }
  const std::error_code other = std::make_error_code(std::errc::connection_reset);
  EXPECT_EQ(base::SystemErrorReason(other), u"システム エラーが発生しました (コード " +
                                                base::FromUtf8(std::to_string(other.value())) +
                                                u")");
  EXPECT_EQ(platform::SystemError(u"ファイル「a」を書き込めません", EACCES).message(),
            u"ファイル「a」を書き込めません: アクセスが拒否されました");
}

#ifdef _WIN32
// The common Win32 errors word as the POSIX errors of the same kind; others carry their number
// rather than the C++ library's English text.
TEST(SystemErrorText, Win32CodesWordAsTheirPosixKind) {
  const struct {
    DWORD code;
    std::u16string_view reason;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, u"ファイルまたはフォルダーが見つかりません"},
      {ERROR_PATH_NOT_FOUND, u"ファイルまたはフォルダーが見つかりません"},
      {ERROR_ACCESS_DENIED, u"アクセスが拒否されました"},
      {ERROR_SHARING_VIOLATION, u"ほかのプログラムが使用中です"},
      {ERROR_DISK_FULL, u"ディスクの空き領域が足りません"},
      {ERROR_HANDLE_DISK_FULL, u"ディスクの空き領域が足りません"},
      {ERROR_ALREADY_EXISTS, u"同じ名前のファイルまたはフォルダーが既にあります"},
      {ERROR_FILE_EXISTS, u"同じ名前のファイルまたはフォルダーが既にあります"},
      {ERROR_FILENAME_EXCED_RANGE, u"名前が長すぎます"},
      {ERROR_NOT_SUPPORTED, u"システム エラーが発生しました (コード 50)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base::ToUtf8(base::SystemErrorReason(platform::win32::ErrorCodeOf(c.code))),
              base::ToUtf8(c.reason))
        << c.code;
  }
}
#endif

TEST(TemporaryBeside, CommitReplacesTheTargetKeepingItsPermissions) {
  Scratch dir;
  Write(dir / "target", "old");
  // Windows has no permission bits (a file takes its folder's access list).
  if (!kWindows) {
    fs::permissions(dir / "target",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  {
    platform::TemporaryBeside temporary(dir / "target");
    EXPECT_EQ(temporary.path().parent_path(), dir.path());
    EXPECT_TRUE(fs::is_regular_file(temporary.path()));
    EXPECT_EQ(Read(dir / "target"), "old");
    Write(temporary.path(), "new");
    temporary.Commit();
  }
  EXPECT_EQ(Read(dir / "target"), "new");
  if (!kWindows) {
    EXPECT_EQ(fs::status(dir / "target").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"target"});
}

TEST(TemporaryBeside, WithoutCommitNothingIsLeft) {
  Scratch dir;
  Write(dir / "target", "old");
  fs::path temporary_path;
  {
    platform::TemporaryBeside temporary(dir / "target");
    temporary_path = temporary.path();
    Write(temporary_path, "half");
  }
  EXPECT_FALSE(fs::exists(temporary_path));
  EXPECT_EQ(Read(dir / "target"), "old");
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"target"});
}

TEST(TemporaryBeside, TwoAtOnceGetNamesOfTheirOwn) {
  Scratch dir;
  platform::TemporaryBeside first(dir / "target");
  platform::TemporaryBeside second(dir / "target");
  EXPECT_NE(first.path(), second.path());
}

TEST(TemporaryBeside, ALinkIsFollowed) {
  if (kWindows) GTEST_SKIP() << "symbolic links need a privilege on Windows";
  Scratch dir;
  fs::create_directory(dir / "real");
  Write(dir / "real" / "file", "old");
  fs::create_symlink(dir / "real" / "file", dir / "link");
  platform::TemporaryBeside temporary(dir / "link");
  EXPECT_EQ(temporary.path().parent_path(), dir / "real");
  Write(temporary.path(), "new");
  temporary.Commit();
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(Read(dir / "real" / "file"), "new");
}

TEST(TemporaryBeside, RefusedTargetsStayAsTheyWere) {
  Scratch dir;
  fs::create_directories(dir / "folder" / "inside");
  EXPECT_EQ(
      MessageOf([&] { platform::TemporaryBeside temporary(dir / "folder", u"設定"); }),
      u"設定「" + platform::FromPath(dir / "folder") + u"」を作成できませんでした: フォルダーです");
  EXPECT_TRUE(fs::is_directory(dir / "folder" / "inside"));

  EXPECT_EQ(MessageOf([&] { platform::TemporaryBeside temporary(dir / "no" / "such"); }),
            u"ファイル「" + platform::FromPath(dir / "no" / "such") +
                u"」を作成できませんでした: ファイルまたはフォルダーが見つかりません");

  // A file marked read-only stays, also for the superuser, who could open it for writing.
  Write(dir / "read-only", "old");
  fs::permissions(dir / "read-only", fs::perms::owner_read);
  EXPECT_EQ(MessageOf([&] { platform::ReplaceFileAtomically(dir / "read-only", "new"); }),
            u"ファイル「" + platform::FromPath(dir / "read-only") +
                u"」を作成できませんでした: アクセスが拒否されました");
  EXPECT_EQ(Read(dir / "read-only"), "old");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"folder", "read-only"}));
}

TEST(TemporaryBeside, ATargetThatBecameAFolderIsRefusedAtCommit) {
  Scratch dir;
  platform::TemporaryBeside temporary(dir / "target");
  fs::create_directory(dir / "target");
  EXPECT_EQ(MessageOf([&] { temporary.Commit(); }),
            u"ファイル「" + platform::FromPath(dir / "target") +
                u"」を書き込めませんでした: フォルダーです");
  EXPECT_TRUE(fs::is_directory(dir / "target"));
}

TEST(TemporaryBeside, OwnerOnlyNewFileIsNeverReadableByOthers) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and the file-mode mask are POSIX only";
#else
  Scratch dir;
  const mode_t old_mask = ::umask(022);
  {
    platform::TemporaryBeside temporary(dir / "secret", u"ファイル",
                                        platform::TemporaryBeside::NewFileAccess::kOwnerOnly);
    EXPECT_EQ(fs::status(temporary.path()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    // A writer that makes the file anew under the usual permissions.
    fs::remove(temporary.path());
    Write(temporary.path(), "new");
    fs::permissions(temporary.path(), fs::perms::owner_read | fs::perms::owner_write |
                                          fs::perms::group_read | fs::perms::others_read);
    temporary.Commit();
  }
  ::umask(old_mask);
  EXPECT_EQ(fs::status(dir / "secret").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Read(dir / "secret"), "new");
#endif
}

TEST(TemporaryBeside, CommitAsNewTakesOnlyAFreeName) {
  Scratch dir;
  {
    platform::TemporaryBeside temporary(dir / "new.mdb", u"基本データベース");
    Write(temporary.path(), "complete");
    temporary.CommitAsNew();
  }
  EXPECT_EQ(Read(dir / "new.mdb"), "complete");
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"new.mdb"});

  // A file that appeared at the name while the temporary file was written stays.
  {
    platform::TemporaryBeside temporary(dir / "taken.mdb", u"基本データベース");
    Write(temporary.path(), "mine");
    Write(dir / "taken.mdb", "someone else's");
    EXPECT_EQ(MessageOf([&] { temporary.CommitAsNew(); }),
              u"基本データベース「" + platform::FromPath(dir / "taken.mdb") +
                  u"」を作成できませんでした: " +
                  platform::SystemError(u"x", EEXIST).message().substr(3));
  }
  EXPECT_EQ(Read(dir / "taken.mdb"), "someone else's");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"new.mdb", "taken.mdb"}));
}

using platform_test::EndedProcessId;

TEST(RemoveStaleTemporaries, RemovesOnlyLeftoversOfEndedProcesses) {
  Scratch dir;
  const std::string dead = std::to_string(EndedProcessId());
  const std::string self = std::to_string(platform_test::CurrentProcessId());
  const struct {
    std::string name;
    bool removed;
  } cases[] = {
      {".out.sqlite.tmp" + dead + "-0-123456", true},
      {".out.sqlite.tmp" + dead + "-3-7-journal", true},
      {".out.sqlite.tmp" + dead + "-3-7-wal", true},
      {".out.sqlite.tmp" + dead + "-3-7-shm", true},
      {".out.sqlite.tmp" + self + "-0-1", false},         // this process is still writing it
      {".other.sqlite.tmp" + dead + "-0-1", false},       // another target's
      {".out.sqlite.tmp" + dead + "-0-1-backup", false},  // not a name of ours
      {".out.sqlite.tmp" + dead + "-x-1", false},
      {".out.sqlite.tmp" + dead + "-0", false},
      {".out.sqlite.tmp-0-1", false},
      {"out.sqlite", false},
      {"out.sqlite-journal", false},
  };
  std::set<std::string> kept;
  if (!kWindows) {
    Write(dir / ".out.sqlite.tmp1-0-1", "x");  // process 1 always runs
    kept.insert(".out.sqlite.tmp1-0-1");
  }
  int expected_removed = 0;
  for (const auto& c : cases) {
    Write(dir / c.name, "x");
    if (c.removed) {
      ++expected_removed;
    } else {
      kept.insert(c.name);
    }
  }
  // A folder of such a name is not ours either.
  const std::string folder = ".out.sqlite.tmp" + dead + "-9-9";
  fs::create_directory(dir / folder);
  kept.insert(folder);

  EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "out.sqlite"), expected_removed);
  EXPECT_EQ(Names(dir.path()), kept);
  EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "out.sqlite"), 0);
  // A folder that does not exist is nothing to clean.
  EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "no" / "out.sqlite"), 0);
}

TEST(RemoveStaleTemporaries, ALinkIsFollowedAsTemporaryBesideFollowsIt) {
  if (kWindows) GTEST_SKIP() << "symbolic links need a privilege on Windows";
  Scratch dir;
  fs::create_directory(dir / "real");
  Write(dir / "real" / "file", "old");
  fs::create_symlink(dir / "real" / "file", dir / "link");
  const std::string leftover = ".file.tmp" + std::to_string(EndedProcessId()) + "-0-1";
  Write(dir / "real" / leftover, "half");
  EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "link"), 1);
  EXPECT_EQ(Names(dir / "real"), std::set<std::string>{"file"});
}

TEST(RemoveStaleTemporaries, RecognisesTheNamesTemporaryBesideGives) {
  Scratch dir;
  fs::path name;
  {
    platform::TemporaryBeside temporary(dir / "settings.ini");
    name = temporary.path().filename();
    // While this process runs, its file is left alone.
    EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "settings.ini"), 0);
  }
  // The same name with an ended process's id is a leftover.
  std::string stale = name.string();
  const size_t digits = stale.find(".tmp") + 4;
  stale.replace(digits, std::to_string(platform_test::CurrentProcessId()).size(),
                std::to_string(EndedProcessId()));
  Write(dir / stale, "half");
  EXPECT_EQ(platform::RemoveStaleTemporaries(dir / "settings.ini"), 1);
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST(ReplaceFileAtomically, CreatesOrReplaces) {
  Scratch dir;
  platform::ReplaceFileAtomically(dir / "new.ini", "first");
  EXPECT_EQ(Read(dir / "new.ini"), "first");
  platform::ReplaceFileAtomically(dir / "new.ini", "second");
  EXPECT_EQ(Read(dir / "new.ini"), "second");
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"new.ini"});
}

TEST(ReadFileBytes, MissingIsNothingAndAFolderIsAnError) {
  Scratch dir;
  EXPECT_EQ(platform::ReadFileBytes(dir / "missing", 100), std::nullopt);
  EXPECT_EQ(MessageOf([&] { platform::ReadFileBytes(dir.path(), 100); }),
            u"ファイル「" + platform::FromPath(dir.path()) + u"」を読み込めません: フォルダーです");
  Write(dir / "big", std::string(101, 'x'));
  EXPECT_EQ(MessageOf([&] { platform::ReadFileBytes(dir / "big", 100); }),
            u"ファイル「" + platform::FromPath(dir / "big") +
                u"」を読み込めません: ファイルが大きすぎます");
}

}  // namespace
