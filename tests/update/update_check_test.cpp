// IsRemoteNewer, ShowUpdateNotice, CheckForUpdate and the status-bar double-click, against a
// real server on 127.0.0.1 and real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "base/utf.h"
#include "lib/process.h"
#include "pe_builder.h"
#include "platform/error.h"
#include "platform/path_separator.h"
#include "platform/text.h"
#include "routed_server.h"
#include "temp_dir.h"
#include "update/update_check.h"
#include "update/version_block.h"
#include "update/version_string.h"

namespace update {
namespace {

using update_test::CloseWithoutAnswer;
using update_test::HttpDate;
using update_test::NeverAnswer;
using update_test::Ok;
using update_test::Redirect;
using update_test::RoutedServer;
using update_test::Status;
using update_test::TempDir;

using namespace std::string_literals;

// 2023-11-14 22:13:20 UTC, an even second.
constexpr int64_t kT = 1700000000;

void SetModified(const std::filesystem::path& path, int64_t seconds, long nanoseconds = 0) {
  const std::chrono::sys_time<std::chrono::nanoseconds> when{std::chrono::seconds(seconds) +
                                                             std::chrono::nanoseconds(nanoseconds)};
  std::error_code error;
  std::filesystem::last_write_time(
      path,
      std::chrono::time_point_cast<std::filesystem::file_time_type::duration>(
          std::chrono::file_clock::from_sys(when)),
      error);
  ASSERT_FALSE(error) << error.message();
}

void Touch(const std::filesystem::path& path, const std::string& content = "x") {
  std::ofstream(path, std::ios::binary) << content;
}

class UpdateCheckTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      update_test::UnsetEnvironment(name);
    }
  }
  UpdateCheckTest() {
    local_ = dir_ / "ProjectQuorvel.exe";
    Touch(local_);
  }
  std::u16string LocalPath() const { return platform::FromPath(local_); }
  std::u16string Url(std::string_view path) const { return base::FromUtf8(server_.Url(path)); }

  int Check(const std::string& path, int64_t file_seconds, long file_nanos = 0,
            UpdateCheckOptions options = {}) {
    SetModified(local_, file_seconds, file_nanos);
    return IsRemoteNewer(Url(path), LocalPath(), options);
  }

  TempDir dir_;
  std::filesystem::path local_;
  RoutedServer server_;
};

TEST_F(UpdateCheckTest, ComparesLastModifiedWithTheFileTime) {
  struct Case {
    const char* name;
    int64_t file_seconds;
    long file_nanos;
    std::optional<std::string> last_modified;
    int expected;
  };
  const Case cases[] = {
      {"newer by one second", kT, 0, HttpDate(kT + 1), 1},
      {"newer by a day", kT, 0, HttpDate(kT + 86400), 1},
      {"equal", kT, 0, HttpDate(kT), 0},
      {"older by one second", kT, 0, HttpDate(kT - 1), 0},
      {"older by years", kT, 0, HttpDate(kT - 400000000), 0},
      {"odd second, same second", kT + 1, 0, HttpDate(kT + 1), 1},
      {"odd second, second before", kT + 1, 0, HttpDate(kT), 0},
      {"odd second, second after", kT + 1, 0, HttpDate(kT + 2), 1},
      {"fraction dropped, same second", kT, 900000000, HttpDate(kT), 0},
      {"fraction dropped, next second", kT, 900000000, HttpDate(kT + 1), 1},
      {"odd second and fraction", kT + 1, 999999999, HttpDate(kT + 1), 1},
      {"RFC 850 form", kT, 0, "Wednesday, 15-Nov-23 00:00:00 GMT", 1},
      {"asctime form", kT, 0, "Wed Nov 15 00:00:00 2023", 1},
      {"asctime form, older", kT, 0, "Tue Nov 14 22:13:19 2023", 0},
      {"offset, same instant", kT, 0, "Wed, 15 Nov 2023 07:13:20 +0900", 0},
      {"offset, one second later", kT, 0, "Wed, 15 Nov 2023 07:13:21 +0900", 1},
      {"missing Last-Modified", kT, 0, std::nullopt, 0},
      {"garbage Last-Modified", kT, 0, "garbage", 0},
      {"empty Last-Modified", kT, 0, "", 0},
      {"ISO date is not an HTTP date", kT, 0, "2099-01-01T00:00:00Z", 0},
  };
  for (const Case& c : cases) {
    RoutedServer server;
    server.Route("/a.zip", Ok(c.last_modified));
    SetModified(local_, c.file_seconds, c.file_nanos);
    EXPECT_EQ(IsRemoteNewer(base::FromUtf8(server.Url("/a.zip")), LocalPath()), c.expected)
        << c.name;
  }
}

TEST_F(UpdateCheckTest, TheCutIsTakenInLocalTime) {
  // With an offset of an odd number of seconds, an even UTC second is an odd local second.
  server_.Route("/a.zip", Ok(HttpDate(kT)));
  UpdateCheckOptions options;
  options.utc_offset_seconds = [] { return int64_t{1}; };
  EXPECT_EQ(Check("/a.zip", kT, 0, options), 1);
  options.utc_offset_seconds = [] { return int64_t{9 * 3600}; };
  EXPECT_EQ(Check("/a.zip", kT, 0, options), 0);
  options.utc_offset_seconds = [] { return int64_t{-5 * 3600}; };
  EXPECT_EQ(Check("/a.zip", kT, 0, options), 0);
}

TEST_F(UpdateCheckTest, FilesBefore1970) {
  server_.Route("/a.zip", Ok(HttpDate(-3)));
  UpdateCheckOptions utc;
  utc.utc_offset_seconds = [] { return int64_t{0}; };
  EXPECT_EQ(Check("/a.zip", -3, 0, utc), 1);  // -3 is cut to -4
  EXPECT_EQ(Check("/a.zip", -2, 0, utc), 0);
}

TEST_F(UpdateCheckTest, NoUsableAnswer) {
  server_.Route("/404", Status(404));
  server_.Route("/500", Status(500));
  server_.Route("/304", Redirect(304, "/a"));
  server_.Route(
      "/301-dead",
      Redirect(301, "http://127.0.0.1:" + std::to_string(update_test::UnusedPort()) + "/a"));
  server_.Route("/302-404", Redirect(302, "/404"));
  server_.Route("/closed", CloseWithoutAnswer());
  for (const char* path : {"/404", "/500", "/304", "/301-dead", "/302-404", "/closed"}) {
    EXPECT_EQ(Check(path, kT), kNoUsableAnswer) << path;
  }
  EXPECT_EQ(IsRemoteNewer(u"", LocalPath()), kNoUsableAnswer);
  EXPECT_EQ(IsRemoteNewer(u"http://127.0.0.1:" +
                              base::FromUtf8(std::to_string(update_test::UnusedPort())) + u"/a.zip",
                          LocalPath()),
            kNoUsableAnswer);
}

TEST_F(UpdateCheckTest, MissingLocalFileGivesNoUsableAnswer) {
  server_.Route("/a.zip", Ok(HttpDate(kT)));
  EXPECT_EQ(IsRemoteNewer(Url("/a.zip"), platform::FromPath(dir_ / "gone.exe")), kNoUsableAnswer);
}

TEST_F(UpdateCheckTest, RedirectChains) {
  // 14 redirects: the final 200 response's header is compared.
  server_.SetChainHeaders(HttpDate(kT + 10), std::nullopt);
  EXPECT_EQ(Check("/chain/14/0", kT), 1);
  server_.SetChainHeaders(HttpDate(kT - 10), HttpDate(kT + 10));
  EXPECT_EQ(Check("/chain/14/0", kT), 0);
  // 15 redirects: the 15th redirect response is the final one.
  server_.SetChainHeaders(HttpDate(kT + 10), std::nullopt);
  EXPECT_EQ(Check("/chain/15/0", kT), 0);
  server_.SetChainHeaders(HttpDate(kT - 10), HttpDate(kT + 10));
  EXPECT_EQ(Check("/chain/15/0", kT), 1);
  EXPECT_EQ(server_.CountRequests("/chain/15/15"), 0u);
}

TEST_F(UpdateCheckTest, RedirectStatusesRelativeAndAbsolute) {
  for (int status : {301, 302, 303, 307}) {
    for (bool absolute : {false, true}) {
      RoutedServer server;
      const std::string target = "/dist/ProjectQuorvel.zip";
      server.Route("/start",
                   Redirect(status, absolute ? server.Url(target) : "dist/ProjectQuorvel.zip"));
      server.Route(target, Ok(HttpDate(kT + 2)));
      SetModified(local_, kT);
      EXPECT_EQ(IsRemoteNewer(base::FromUtf8(server.Url("/start")), LocalPath()), 1)
          << status << (absolute ? " absolute" : " relative");
      auto requests = server.requests();
      ASSERT_EQ(requests.size(), 2u);
      EXPECT_EQ(requests[1].method, status == 303 ? "GET" : "HEAD");
    }
  }
}

TEST_F(UpdateCheckTest, A302WhoseSecondRequestFailsRaisesTheError) {
  const std::string dead =
      "http://127.0.0.1:" + std::to_string(update_test::UnusedPort()) + "/a.zip";
  server_.Route("/to-dead", Redirect(302, dead));
  server_.Route("/no-location", Redirect(302, std::nullopt));
  server_.Route("/to-closing", Redirect(302, "/closing"));
  server_.Route("/closing", CloseWithoutAnswer());
  for (const char* path : {"/to-dead", "/no-location", "/to-closing"}) {
    SetModified(local_, kT);
    EXPECT_THROW(IsRemoteNewer(Url(path), LocalPath()), HttpError) << path;
  }
  EXPECT_EQ(server_.CountRequests("/to-dead"), 1u);
  EXPECT_EQ(server_.CountRequests("/no-location"), 1u);
  // The first request and exactly one second try.
  EXPECT_EQ(server_.CountRequests("/closing"), 2u);
}

TEST_F(UpdateCheckTest, A302WhoseSecondRequestSucceeds) {
  server_.Route("/start", Redirect(302, "flaky.zip"));
  server_.Route("/flaky.zip", CloseWithoutAnswer());
  server_.Route("/flaky.zip", Ok(HttpDate(kT + 1)));
  EXPECT_EQ(Check("/start", kT), 1);
  EXPECT_EQ(server_.CountRequests("/start"), 1u);
  EXPECT_EQ(server_.CountRequests("/flaky.zip"), 2u);
}

TEST_F(UpdateCheckTest, AServerThatNeverAnswers) {
  server_.Route("/a.zip", NeverAnswer());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Check("/a.zip", kT), kNoUsableAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
}

// ---- ShowUpdateNotice ----

TEST(ShowUpdateNoticeTest, OnlyExactlyOnShowsTheNotice) {
  EXPECT_EQ(kUpdateNotice.size(), 32u);
  EXPECT_TRUE(kUpdateNotice.starts_with(u"[新]"));
  EXPECT_EQ(kUpdateNotice.back(), u'\uFF01');
  struct Case {
    std::u16string state;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"ON", std::u16string(kUpdateNotice)},
      {u"OFF", u""},
      {u"on", u""},
      {u"On", u""},
      {u"oN", u""},
      {u"ON ", u""},
      {u" ON", u""},
      {u"", u""},
      {u"ＯＮ", u""},
  };
  for (const Case& c : cases) {
    std::vector<std::u16string> written;
    ShowUpdateNotice(c.state, [&](std::u16string_view text) { written.emplace_back(text); });
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], c.expected) << base::ToUtf8(c.state);
  }
}

TEST(UpdaterPathTest, BesideTheProgram) {
  // Paths as the system writes them: "/" on POSIX, "\\" on Windows.
  const auto path = [](std::u16string text) {
    std::replace(text.begin(), text.end(), u'/', platform::kPathSeparator);
    return text;
  };
  EXPECT_EQ(UpdaterPath(path(u"/opt/quorvel/ProjectQuorvel")), path(u"/opt/quorvel/_Updater.exe"));
  EXPECT_EQ(UpdaterPath(path(u"/ProjectQuorvel")), path(u"/_Updater.exe"));
  EXPECT_EQ(UpdaterPath(u"ProjectQuorvel"), u"_Updater.exe");
}

// ---- CheckForUpdate ----

class CheckForUpdateTest : public UpdateCheckTest {
 protected:
  // Writes the program as a PE file whose InternalName is `url`.
  void WriteProgram(const std::u16string& url, bool with_translation = true) {
    VersionInfo info = ProgramVersionInfo(url, u"1.0.0.0");
    if (!with_translation) info.translations.reset();
    update_test::WriteFile(local_,
                           update_test::BuildPe({{16, 1, 0x0409, BuildVersionBlock(info)}}));
    SetModified(local_, kT);
  }
  void PutUpdater() { Touch(dir_ / "_Updater.exe", "#!/bin/sh\n"); }

  std::vector<std::u16string> Run() {
    std::vector<std::u16string> written;
    CheckForUpdate(LocalPath(), [&](std::u16string_view text) { written.emplace_back(text); });
    return written;
  }
};

TEST_F(CheckForUpdateTest, NoUpdaterMeansNoRequestAndNoStatusChange) {
  server_.Route("/a.zip", Ok(HttpDate(kT + 100)));
  WriteProgram(Url("/a.zip"));
  EXPECT_TRUE(Run().empty());
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CheckForUpdateTest, AnUpdaterFolderDoesNotCount) {
  server_.Route("/a.zip", Ok(HttpDate(kT + 100)));
  WriteProgram(Url("/a.zip"));
  std::filesystem::create_directory(dir_ / "_Updater.exe");
  EXPECT_TRUE(Run().empty());
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CheckForUpdateTest, NewerArchiveShowsTheNotice) {
  server_.Route("/a.zip", Ok(HttpDate(kT + 1)));
  WriteProgram(Url("/a.zip"));
  PutUpdater();
  EXPECT_EQ(Run(), std::vector<std::u16string>{std::u16string(kUpdateNotice)});
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].method, "HEAD");
  EXPECT_EQ(server_.requests()[0].target, "/a.zip");
}

TEST_F(CheckForUpdateTest, OtherAnswersEmptyTheStatus) {
  server_.Route("/same.zip", Ok(HttpDate(kT)));
  server_.Route("/none.zip", Ok());
  server_.Route("/404.zip", Status(404));
  for (const char* path : {"/same.zip", "/none.zip", "/404.zip"}) {
    WriteProgram(Url(path));
    PutUpdater();
    EXPECT_EQ(Run(), std::vector<std::u16string>{u""}) << path;
  }
}

TEST_F(CheckForUpdateTest, NoVersionBlockMeansAnEmptyUrl) {
  Touch(local_, "not an executable");
  PutUpdater();
  EXPECT_EQ(Run(), std::vector<std::u16string>{u""});
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CheckForUpdateTest, NoTranslationRaisesTheErrorWithOrWithoutUpdater) {
  server_.Route("/a.zip", Ok(HttpDate(kT + 1)));
  WriteProgram(Url("/a.zip"), false);
  for (bool updater : {false, true}) {
    if (updater) PutUpdater();
    try {
      Run();
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.message(), kVersionInfoError);
    }
  }
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CheckForUpdateTest, EveryNulIsRemovedFromTheUrl) {
  server_.Route("/a.zip", Ok(HttpDate(kT + 1)));
  VersionInfo info;
  // Stored length 4 characters beyond the text: the value reads as the URL and NULs.
  std::u16string url = Url("/a.zip");
  info.string_tables.push_back({u"040904E4", {{u"InternalName", url + u"\0\0\0"s}}});
  info.translations = std::vector<uint32_t>{0x04E40409};
  update_test::WriteFile(local_, update_test::BuildPe({{16, 1, 0x0409, BuildVersionBlock(info)}}));
  SetModified(local_, kT);
  PutUpdater();
  EXPECT_EQ(GetVersionString(LocalPath(), 4), url + u"\0\0\0\0"s);
  EXPECT_EQ(Run(), std::vector<std::u16string>{std::u16string(kUpdateNotice)});
}

TEST_F(CheckForUpdateTest, ASecondFailureAfter302LeavesTheCheck) {
  server_.Route("/a.zip", Redirect(302, std::nullopt));
  WriteProgram(Url("/a.zip"));
  PutUpdater();
  std::vector<std::u16string> written;
  EXPECT_THROW(CheckForUpdate(LocalPath(), [&](std::u16string_view t) { written.emplace_back(t); }),
               HttpError);
  EXPECT_TRUE(written.empty());
}

// ---- the double-click on the status bar ----

struct FakeWindow {
  std::u16string status;
  int left = 100;
  int width = 301;
  std::vector<std::u16string> warnings;
  MainWindowParts Parts() {
    return {[this] { return status; }, [this] { return left; }, [this] { return width; },
            [this](int x) { left = x; },
            [this](std::u16string_view text) { warnings.emplace_back(text); }};
  }
};

struct Launch {
  std::u16string executable;
  std::u16string argument;
  std::u16string title;
};

class DoubleClickTest : public testing::Test {
 protected:
  DoubleClickTest() { program_ = platform::FromPath(dir_ / "ProjectQuorvel"); }
  LaunchOrActivateFunction Recorder() {
    return [this](std::u16string_view e, std::u16string_view a, std::u16string_view t) {
      launches_.push_back({std::u16string(e), std::u16string(a), std::u16string(t)});
    };
  }
  TempDir dir_;
  std::u16string program_;
  std::vector<Launch> launches_;
};

TEST_F(DoubleClickTest, OnlyTheNoticeActs) {
  Touch(dir_ / "_Updater.exe");
  const std::u16string texts[] = {
      u"", u"[", u"[新", u"3 件のレコードが見つかりました", u"新]ここを", u"［新］ここ", u" [新]"};
  for (const std::u16string& text : texts) {
    FakeWindow window;
    window.status = text;
    StatusBar1DblClick(program_, window.Parts(), Recorder());
    EXPECT_EQ(window.left, 100);
    EXPECT_TRUE(window.warnings.empty());
  }
  EXPECT_TRUE(launches_.empty());
}

TEST_F(DoubleClickTest, StartsTheUpdaterAndMovesTheWindow) {
  Touch(dir_ / "_Updater.exe");
  FakeWindow window;
  window.status = std::u16string(kUpdateNotice);
  StatusBar1DblClick(program_, window.Parts(), Recorder());
  EXPECT_EQ(window.left, 250);  // 100 + 301 / 2
  ASSERT_EQ(launches_.size(), 1u);
  EXPECT_EQ(launches_[0].executable, platform::FromPath(dir_ / "_Updater.exe"));
  EXPECT_EQ(launches_[0].argument, program_);
  EXPECT_EQ(launches_[0].title, u"ツール自動バージョンアップ");
  // The notice stays; a second double-click acts again and moves the window again.
  StatusBar1DblClick(program_, window.Parts(), Recorder());
  EXPECT_EQ(window.left, 400);
  EXPECT_EQ(launches_.size(), 2u);
}

TEST_F(DoubleClickTest, AnyTextStartingWithTheMarkActs) {
  Touch(dir_ / "_Updater.exe");
  FakeWindow window;
  window.status = u"[新]";
  window.left = -101;
  window.width = 3;
  StatusBar1DblClick(program_, window.Parts(), Recorder());
  EXPECT_EQ(window.left, -100);  // the quotient 3 / 2 is truncated to 1
  EXPECT_EQ(launches_.size(), 1u);
}

TEST_F(DoubleClickTest, MissingUpdaterWarnsAndLeavesTheWindow) {
  FakeWindow window;
  window.status = std::u16string(kUpdateNotice);
  StatusBar1DblClick(program_, window.Parts(), Recorder());
  EXPECT_EQ(window.left, 100);
  ASSERT_EQ(window.warnings.size(), 1u);
  EXPECT_EQ(
      window.warnings[0],
      u"自動バージョンアップモジュールがありません\r当社サイトよりダウンロードしてお使いください");
  EXPECT_TRUE(launches_.empty());
  // A folder of that name is no updater either.
  std::filesystem::create_directory(dir_ / "_Updater.exe");
  StatusBar1DblClick(program_, window.Parts(), Recorder());
  EXPECT_EQ(window.warnings.size(), 2u);
  EXPECT_EQ(window.left, 100);
}

TEST_F(DoubleClickTest, AFailedStartLeavesTheHandlerAfterTheMove) {
  Touch(dir_ / "_Updater.exe");
  FakeWindow window;
  window.status = std::u16string(kUpdateNotice);
  auto failing = [](std::u16string_view, std::u16string_view, std::u16string_view) {
    throw platform::Error(u"プロセスの生成に失敗しました");
  };
  EXPECT_THROW(StatusBar1DblClick(program_, window.Parts(), failing), platform::Error);
  EXPECT_EQ(window.left, 250);
}

#ifndef _WIN32
// The updater stand-in here is a shell script and the launcher looks for its window on X11,
// so this case is the Linux build's.
TEST_F(DoubleClickTest, TheRealLauncherStartsTheUpdaterWithTheProgramPath) {
  // Without a display no updater window can be found, so the updater is started.
  const std::filesystem::path updater = dir_ / "_Updater.exe";
  const std::filesystem::path log = dir_ / "arguments.txt";
  Touch(updater, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + log.string() + ".tmp'\nmv '" +
                     log.string() + ".tmp' '" + log.string() + "'\n");
  std::filesystem::permissions(updater, std::filesystem::perms::owner_all);
  FakeWindow window;
  window.status = std::u16string(kUpdateNotice);
  const char* display = getenv("DISPLAY");
  std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  StatusBar1DblClick(program_, window.Parts(),
                     [](std::u16string_view e, std::u16string_view a, std::u16string_view t) {
                       tclib::LaunchOrActivate(e, a, t);
                     });
  if (display) setenv("DISPLAY", saved.c_str(), 1);
  for (int i = 0; i < 100 && !std::filesystem::exists(log); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::ifstream in(log);
  std::string arguments((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(arguments, base::ToUtf8(program_) + "|");
  EXPECT_EQ(window.left, 250);
}
#endif

}  // namespace
}  // namespace update
