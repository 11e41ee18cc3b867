// Replacement through a temporary file beside the target, and the Japanese wording of
// operating-system errors, on real files in a scratch folder.
#include "platform/atomic_file.h"

#include <unistd.h>

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

namespace {

namespace fs = std::filesystem;

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "quorvel-atomic-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
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
    // errno values of the system category word the same.
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

TEST(TemporaryBeside, CommitReplacesTheTargetKeepingItsPermissions) {
  Scratch dir;
  Write(dir / "target", "old");
  fs::permissions(dir / "target",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  {
    platform::TemporaryBeside temporary(dir / "target");
    EXPECT_EQ(temporary.path().parent_path(), dir.path());
    EXPECT_TRUE(fs::is_regular_file(temporary.path()));
    EXPECT_EQ(Read(dir / "target"), "old");
    Write(temporary.path(), "new");
    temporary.Commit();
  }
  EXPECT_EQ(Read(dir / "target"), "new");
  EXPECT_EQ(fs::status(dir / "target").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
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

  std::set<std::string> expected{"folder"};
  if (::geteuid() != 0) {  // permissions do not bind the superuser
    expected.insert("read-only");
    Write(dir / "read-only", "old");
    fs::permissions(dir / "read-only", fs::perms::owner_read);
    EXPECT_EQ(MessageOf([&] { platform::ReplaceFileAtomically(dir / "read-only", "new"); }),
              u"ファイル「" + platform::FromPath(dir / "read-only") +
                  u"」を作成できませんでした: アクセスが拒否されました");
    EXPECT_EQ(Read(dir / "read-only"), "old");
  }
  EXPECT_EQ(Names(dir.path()), expected);
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
