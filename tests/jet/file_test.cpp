// The engine's file face on real files: shared reading, exclusive creation, removal of only
// what was created, and Japanese error messages.
#include "jet/file/file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

std::u16string Text(const fs::path& path) { return path.u16string(); }

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
// a writer on POSIX. Each open runs on its own thread with a generous bound; an open still
// waiting then is released by opening the pipe's writing end, and fails the test.
TEST(JetFile, OpensOnlyRegularFilesAndNeverWaits) {
  TempDir dir;
  WriteText(dir / "data.mdb", "0123");
  fs::create_directory(dir / "folder.mdb");
  const std::u16string head = u"データベース ファイルを開けません: ";
  struct Case {
    fs::path path;
    std::u16string expected;  // empty: opens
  };
  std::vector<Case> cases = {
      {dir / "data.mdb", u""},
      {dir / "folder.mdb",
       head + Text(dir / "folder.mdb") + u" は通常のファイルではなく、フォルダーです。"},
  };
#ifdef _WIN32
  // A pipe's name in the pipe namespace: a server instance waits for a client, which is what
  // opening the name would connect as. NUL is one of Windows' reserved device names.
  const std::string pipe_name =
      "\\\\.\\pipe\\quorvel-jet-file-test-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server = ::CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const auto release_waiting_open = [] {};
  cases.push_back(
      {pipe_name, head + Text(pipe_name) + u" は通常のファイルではなく、名前付きパイプです。"});
  cases.push_back({"NUL", head + u"NUL は通常のファイルではなく、デバイスです。"});
#else
  ASSERT_EQ(::mkfifo((dir / "pipe.mdb").c_str(), 0600), 0);
  fs::create_symlink(dir / "pipe.mdb", dir / "link-to-pipe.mdb");
  fs::create_symlink(dir / "data.mdb", dir / "link-to-data.mdb");
  const auto release_waiting_open = [&] {
    const int writer = ::open((dir / "pipe.mdb").c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  };
  cases.push_back({dir / "link-to-data.mdb", u""});
  cases.push_back({dir / "pipe.mdb", head + Text(dir / "pipe.mdb") +
                                         u" は通常のファイルではなく、名前付きパイプです。"});
  cases.push_back(
      {dir / "link-to-pipe.mdb",
       head + Text(dir / "link-to-pipe.mdb") + u" は通常のファイルではなく、名前付きパイプです。"});
  cases.push_back({"/dev/null", head + u"/dev/null は通常のファイルではなく、デバイスです。"});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    auto opening = std::async(std::launch::async, [&] {
      return MessageOf([&] { EXPECT_EQ(jet::file::OpenShared(c.path)->Size(), 4u); });
    });
    if (opening.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the open waited";
      release_waiting_open();
    }
    EXPECT_EQ(opening.get(), c.expected);
  }
#ifdef _WIN32
  ::CloseHandle(server);
#endif
}

TEST(JetFile, CreateRefusesAnythingAtThePathAndLeavesItAlone) {
  TempDir dir;
  WriteText(dir / "file", "keep");
  fs::create_directory(dir / "folder");
  std::vector<std::string> names = {"file", "folder"};
#ifndef _WIN32
  // A link that leads nowhere (Wine makes no symbolic links, so only on POSIX).
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  names.push_back("dangling");
#endif
  for (const std::string& name : names) {
    EXPECT_EQ(MessageOf([&] { jet::file::CreateExclusive(dir / name); }),
              u"データベースを作成できません: " + Text(dir / name) +
                  u" (同じ名前のファイルまたはフォルダが既にあります)")
        << name;
  }
  std::ifstream in(dir / "file");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
#endif
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

  // Someone else's file has taken the name in the meantime: it stays, and so does the created
  // file that was moved away (moving works on both systems while the file is open; deleting
  // an open file on Windows leaves its name taken until it is closed).
  auto replaced = jet::file::CreateExclusive(path);
  fs::rename(path, dir / "moved.mdb");
  WriteText(path, "theirs");
  replaced->RemoveCreated();
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "theirs");
}

// While the database is open for reading, others may still write, move and delete it.
TEST(JetFile, ReadingLetsOthersWriteMoveAndDelete) {
  TempDir dir;
  WriteText(dir / "data.mdb", "0123");
  auto file = jet::file::OpenShared(dir / "data.mdb");
  std::ofstream(dir / "data.mdb", std::ios::binary | std::ios::app) << "45";
  EXPECT_EQ(file->Size(), 6u);
  std::error_code error;
  fs::rename(dir / "data.mdb", dir / "moved.mdb", error);
  EXPECT_FALSE(error) << error.message();
  EXPECT_TRUE(fs::remove(dir / "moved.mdb", error)) << error.message();
  std::vector<uint8_t> out(6);
  EXPECT_EQ(file->ReadAt(0, out), 6u);
  EXPECT_EQ(std::string(out.begin(), out.end()), "012345");
}

// The writer stamps new objects with the local time: the offset is the one the time zone's
// rules give for that moment. The tests run with the system's zone, so only what holds in
// every zone is checked: offsets are whole minutes within ±14 hours, and a moment is stable.
TEST(JetFile, LocalOffsetIsAWholeMinuteCountWithinADay) {
  for (const int64_t moment : {0ll, 946684800ll, 1719835200ll, 1735689600ll, -1000000000ll}) {
    const int64_t offset = jet::file::LocalUtcOffsetSeconds(moment);
    EXPECT_EQ(offset % 60, 0) << moment;
    EXPECT_LE(offset < 0 ? -offset : offset, 14 * 3600) << moment;
    EXPECT_EQ(jet::file::LocalUtcOffsetSeconds(moment), offset) << moment;
  }
}

}  // namespace
