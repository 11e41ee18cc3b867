// The default error report and the dialog wrapper.
#include <gtest/gtest.h>

#include <stdexcept>

#include "jet/jet.h"
#include "platform/error.h"
#include "platform/program_path.h"
#include "ui/dialogs.h"
#include "ui/error_report.h"

namespace {

TEST(ApplicationTitle, NameUpToFirstDotRestLowerCase) {
  const struct {
    std::u16string path;
    std::u16string title;
  } cases[] = {
      {u"/opt/q/ProjectQuorvel", u"Projectquorvel"},
      {u"C:\\Tools\\ProjectQuorvel.exe", u"Projectquorvel"},
      {u"/opt/q/PROJ.QUORVEL.EXE", u"Proj"},
      {u"/opt/q/projectQuorvel", u"projectquorvel"},
      {u"/opt/v1.2/Tool", u"Tool"},
      {u"/x/ÄÖÜ.bin", u"Äöü"},
      {u"/x/Ｑｕｏ", u"Ｑｕｏ"},
      {u"/x/.hidden", u""},
      {u"Q", u"Q"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ui::ApplicationTitle(c.path), c.title);
  }
}

TEST(ErrorReportText, FullStopWhenTheLastCodeIsAboveTheDot) {
  const struct {
    std::u16string message;
    std::u16string shown;
  } cases[] = {
      {u"abc", u"abc."},
      {u"abc.", u"abc."},
      {u"abc!", u"abc!"},
      {u"abc-", u"abc-"},
      {u"abc/", u"abc/."},
      {u"12", u"12."},
      {u"'abc' は整数ではありません", u"'abc' は整数ではありません."},
      {u"終わり。", u"終わり。."},
      {u"", u""},
      {u"a ", u"a "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ui::ErrorReportText(c.message), c.shown);
  }
}

TEST(RunReported, ShowsTheMessageOfEveryErrorKindAndCarriesOn) {
  ui::DialogAnswers answers;
  EXPECT_FALSE(ui::RunReported([] { throw platform::Error(u"書き込めません"); }));
  EXPECT_FALSE(ui::RunReported([] { throw jet::Error(u"表がありません"); }));
  EXPECT_FALSE(ui::RunReported([] { throw std::runtime_error("plain text"); }));
  EXPECT_FALSE(ui::RunReported([] { throw 42; }));
  EXPECT_TRUE(ui::RunReported([] {}));
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 4u);
  const std::u16string caption = ui::ApplicationTitle(platform::ProgramPath());
  EXPECT_EQ(caption, u"ui_tests");  // the first character stays as it is
  for (const auto& message : messages) {
    EXPECT_EQ(message.caption, caption);
    EXPECT_EQ(message.kind, ui::MessageKind::kError);
  }
  EXPECT_EQ(messages[0].text, u"書き込めません.");
  EXPECT_EQ(messages[1].text, u"表がありません.");
  EXPECT_EQ(messages[2].text, u"plain text.");
  EXPECT_FALSE(messages[3].text.empty());
}

TEST(DialogAnswers, MessagesAreCaptionedByKind) {
  ui::DialogAnswers answers;
  ui::ShowMessage(ui::MessageKind::kWarning, u"w");
  ui::ShowMessage(ui::MessageKind::kError, u"e");
  ui::ShowMessage(ui::MessageKind::kInformation, u"i");
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].caption, u"警告");
  EXPECT_EQ(messages[1].caption, u"エラー");
  EXPECT_EQ(messages[2].caption, u"情報");
}

TEST(DialogAnswers, FileAnswersInOrderThenCancel) {
  ui::DialogAnswers answers;
  answers.QueueFile(u"/a/b.mdb");
  answers.QueueFile(std::nullopt);
  ui::FileDialogOptions options;
  options.title = u"t";
  EXPECT_EQ(ui::GetOpenFileName(options), u"/a/b.mdb");
  EXPECT_EQ(ui::GetOpenFileName(options), std::nullopt);
  EXPECT_EQ(ui::GetSaveFileName(options), std::nullopt);  // nothing queued: a cancel
  ASSERT_EQ(answers.shown().size(), 3u);
  EXPECT_EQ(answers.shown()[2].type, ui::ShownDialog::Type::kSaveFile);
}

TEST(WithDefaultExtension, OnlyNamesWithoutExtension) {
  EXPECT_EQ(ui::WithDefaultExtension(u"/x/quorvel", u"exe"), u"/x/quorvel.exe");
  EXPECT_EQ(ui::WithDefaultExtension(u"/x/quorvel.exe", u"exe"), u"/x/quorvel.exe");
  EXPECT_EQ(ui::WithDefaultExtension(u"/x.d/quorvel", u"exe"), u"/x.d/quorvel.exe");
  EXPECT_EQ(ui::WithDefaultExtension(u"/x/a.b", u"exe"), u"/x/a.b");
  EXPECT_EQ(ui::WithDefaultExtension(u"/x/", u"exe"), u"/x/");
  EXPECT_EQ(ui::WithDefaultExtension(u"/x/quorvel", u""), u"/x/quorvel");
}

}  // namespace
