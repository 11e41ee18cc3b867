// The engine's file face on real files: shared reading, exclusive creation, removal of only
// what was created, and Japanese error messages.
#include "jet/file/file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
