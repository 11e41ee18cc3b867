// The splash window: the built-in picture and a replacement beside the program.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include "app/splash.h"
#include "app_test_support.h"
#include "ui/error_report.h"

namespace {

using apptest::ScratchDir;

TEST(Splash, BuiltInPictureWithoutASplashFile) {
  ScratchDir dir("splash-builtin");
  ui::DialogAnswers answers;
  app::TfrmSplash splash(dir.u16());
  EXPECT_EQ(splash.size(), QSize(640, 320));
  EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(splash.Image1->geometry(), QRect(10, 10, 620, 300));
  EXPECT_EQ(splash.picture().size(), QSize(620, 300));
  EXPECT_EQ(splash.picture().toImage(), app::BuiltInSplashPicture().toImage());
  EXPECT_TRUE(answers.messages().empty());
}

TEST(Splash, LargerBitmapIsClippedNotStretched) {
  ScratchDir dir("splash-large");
  QImage picture(800, 400, QImage::Format_RGB32);
  picture.fill(QColor(0, 0, 255));
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 620; ++x) picture.setPixelColor(x, y, QColor(255, 0, 0));
  }
  ASSERT_TRUE(picture.save(QString::fromStdString((dir.path() / "splash.bmp").string()), "BMP"));
  ui::DialogAnswers answers;
  app::TfrmSplash splash(dir.u16());
  EXPECT_EQ(splash.picture().size(), QSize(800, 400));
  const QImage shown = splash.Image1->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(620, 300));
  // Every shown pixel comes from the top-left 620 × 300 part: all red, no blue.
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(619, 299), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(310, 150), QColor(255, 0, 0));
  EXPECT_TRUE(answers.messages().empty());
}

TEST(Splash, SmallerBitmapSitsTopLeft) {
  ScratchDir dir("splash-small");
  QImage picture(100, 50, QImage::Format_RGB32);
  picture.fill(QColor(0, 128, 0));
  ASSERT_TRUE(picture.save(QString::fromStdString((dir.path() / "splash.bmp").string()), "BMP"));
  ui::DialogAnswers answers;
  app::TfrmSplash splash(dir.u16());
  const QImage shown = splash.Image1->grab().toImage();
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 128, 0));
  EXPECT_EQ(shown.pixelColor(99, 49), QColor(0, 128, 0));
  EXPECT_NE(shown.pixelColor(300, 200), QColor(0, 128, 0));
}

TEST(Splash, UnreadableBitmapIsReportedAndTheBuiltInPictureStays) {
  ScratchDir dir("splash-bad");
  dir.Write("splash.bmp", "BM this is not a bitmap");
  ui::DialogAnswers answers;
  app::TfrmSplash splash(dir.u16());
  EXPECT_EQ(splash.picture().toImage(), app::BuiltInSplashPicture().toImage());
  const auto messages = answers.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, ui::RunningApplicationTitle());
  EXPECT_EQ(messages[0].text, dir.u16() + u"splash.bmp はビットマップ画像として読み込めません.");
}

TEST(Splash, AFolderNamedSplashBmpIsIgnored) {
  ScratchDir dir("splash-folder");
  apptest::fs::create_directory(dir.path() / "splash.bmp");
  ui::DialogAnswers answers;
  app::TfrmSplash splash(dir.u16());
  EXPECT_TRUE(answers.messages().empty());
}

}  // namespace
