// The engine's file face on real files: shared reading, exclusive creation, removal of only
// what was created, and Japanese error messages.
#include "jet/file/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "jet/jet.h"
#include "tests/jet/write_support.h"

namespace {

namespace fs = std::filesystem;
using jet::write_test::TempDir;

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

std::u16string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const jet::Error& error) {
    return error.message();
  }
  return u"";
}

std::u16string Text(const fs::path& path) { return base::FromUtf8(path.string()); }

TEST(JetFile, ReadsAtOffsetsShortOnlyAtTheEnd) {
  TempDir dir;
  WriteText(dir / "data", "0123456789");
  auto file = jet::file::OpenShared(dir / "data");
  EXPECT_EQ(file->Size(), 10u);
  std::vector<uint8_t> out(4);
  EXPECT_EQ(file->ReadAt(3, out), 4u);
  EXPECT_EQ(std::string(out.begin(), out.end()), "3456");
  EXPECT_EQ(file->ReadAt(8, out), 2u);
  EXPECT_EQ(file->ReadAt(20, out), 0u);
}

TEST(JetFile, ChangeStampFollowsWritesOfOthers) {
  TempDir dir;
  WriteText(dir / "data", "abc");
  auto file = jet::file::OpenShared(dir / "data");
  const uint64_t before = file->ChangeStamp();
  EXPECT_NE(before, 0u);
  EXPECT_EQ(file->ChangeStamp(), before);
  // Another writer, while the file is open for reading.
  std::ofstream(dir / "data", std::ios::binary | std::ios::app) << "defg";
  EXPECT_NE(file->ChangeStamp(), before);
  EXPECT_EQ(file->Size(), 7u);
}

TEST(JetFile, OpeningWhatIsNotThereSaysWhyInJapanese) {
  TempDir dir;
  EXPECT_EQ(MessageOf([&] { jet::file::OpenShared(dir / "missing.mdb"); }),
            u"データベース ファイルを開けません: " + Text(dir / "missing.mdb") +
                u" (ファイルまたはフォルダーが見つかりません)");
}

// Only a regular file (also through a link) is opened; anything else is refused with a message
// that says what it is, and never waited on: opening a named pipe for reading would wait for
// a writer. Each open runs on its own thread with a generous bound; an open still waiting
// then is released by opening the pipe's writing end, and fails the test.
TEST(JetFile, OpensOnlyRegularFilesAndNeverWaits) {
  TempDir dir;
  WriteText(dir / "data.mdb", "0123");
  fs::create_directory(dir / "folder.mdb");
  ASSERT_EQ(::mkfifo((dir / "pipe.mdb").c_str(), 0600), 0);
  fs::create_symlink(dir / "pipe.mdb", dir / "link-to-pipe.mdb");
  fs::create_symlink(dir / "data.mdb", dir / "link-to-data.mdb");
  const std::u16string head = u"データベース ファイルを開けません: ";
  const struct {
    fs::path path;
    std::u16string expected;  // empty: opens
  } cases[] = {
      {dir / "data.mdb", u""},
      {dir / "link-to-data.mdb", u""},
      {dir / "folder.mdb",
       head + Text(dir / "folder.mdb") + u" は通常のファイルではなく、フォルダーです。"},
      {dir / "pipe.mdb",
       head + Text(dir / "pipe.mdb") + u" は通常のファイルではなく、名前付きパイプです。"},
      {dir / "link-to-pipe.mdb",
       head + Text(dir / "link-to-pipe.mdb") + u" は通常のファイルではなく、名前付きパイプです。"},
      {"/dev/null", head + u"/dev/null は通常のファイルではなく、デバイスです。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    auto opening = std::async(std::launch::async, [&] {
      return MessageOf([&] { EXPECT_EQ(jet::file::OpenShared(c.path)->Size(), 4u); });
    });
    if (opening.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the open waited";
      const int writer = ::open((dir / "pipe.mdb").c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    EXPECT_EQ(opening.get(), c.expected);
  }
}

TEST(JetFile, CreateRefusesAnythingAtThePathAndLeavesItAlone) {
  TempDir dir;
  WriteText(dir / "file", "keep");
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  for (const char* name : {"file", "folder", "dangling"}) {
    EXPECT_EQ(MessageOf([&] { jet::file::CreateExclusive(dir / name); }),
              u"データベースを作成できません: " + Text(dir / name) +
                  u" (同じ名前のファイルまたはフォルダが既にあります)")
        << name;
  }
  std::ifstream in(dir / "file");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(MessageOf([&] { jet::file::CreateExclusive(dir / "no" / "x.mdb"); }),
            u"データベースを作成できません: " + Text(dir / "no" / "x.mdb") +
                u" (ファイルまたはフォルダーが見つかりません)");
}

TEST(JetFile, WritesReadBackAndIdentifyTheFile) {
  TempDir dir;
  const fs::path path = dir / "new.mdb";
  auto file = jet::file::CreateExclusive(path);
  const std::vector<uint8_t> page(4096, 0x5A);
  file->WriteAt(4096, page);
  file->Sync();
  EXPECT_EQ(file->Size(), 8192u);
  std::vector<uint8_t> back(4096);
  EXPECT_EQ(file->ReadAt(4096, back), 4096u);
  EXPECT_EQ(back, page);
  const auto status = jet::file::StatusOfRegularFile(path);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->id, file->id());
  EXPECT_EQ(status->size, 8192u);
  EXPECT_EQ(jet::file::StatusOfRegularFile(dir.path()), std::nullopt);
  EXPECT_EQ(jet::file::StatusOfRegularFile(dir / "missing"), std::nullopt);
}

TEST(JetFile, RemoveCreatedRemovesOnlyTheCreatedFile) {
  TempDir dir;
  const fs::path path = dir / "new.mdb";
  auto mine = jet::file::CreateExclusive(path);
  mine->RemoveCreated();
  EXPECT_FALSE(fs::exists(path));

  // Someone else's file has taken the name in the meantime: it stays.
  auto replaced = jet::file::CreateExclusive(path);
  fs::remove(path);
  WriteText(path, "theirs");
  replaced->RemoveCreated();
  EXPECT_TRUE(fs::exists(path));
}

}  // namespace
