// The settings file: integer reading, the work-area clamps, and the work-environment keys
// read into and written from a plain value.
#include <gtest/gtest.h>

#include <QWidget>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "app/settings.h"
#include "app/work_settings.h"
#include "app_test_support.h"
#include "lib/tclib.h"
#include "platform/error.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

using app::Placement;

TEST(ParsePlacementInteger, Forms) {
  const struct {
    std::u16string text;
    std::optional<int> value;
  } cases[] = {
      {u"640", 640},           {u"0x280", 640},
      {u"0X280", 640},         {u"-8", -8},
      {u"  12", 12},           {u"$10", 16},
      {u"", std::nullopt},     {u"12px", std::nullopt},
      {u"12 ", std::nullopt},  {u"0x", std::nullopt},
      {u"0xZZ", std::nullopt}, {u"abc", std::nullopt},
      {u"0xFFFFFFFF", -1},     {u"99999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(apptest::Utf8(c.text));
    EXPECT_EQ(app::ParsePlacementInteger(c.text), c.value);
  }
}

struct ClampCase {
  const char* name;
  QRect work_area;
  Placement in;
  Placement out;
};

class ClampTest : public ::testing::TestWithParam<ClampCase> {};

TEST_P(ClampTest, KeepsTheWindowOnTheWorkArea) {
  EXPECT_EQ(app::ClampToWorkArea(GetParam().in, GetParam().work_area), GetParam().out);
}

const QRect kArea(0, 0, 1920, 1040);
const QRect kAreaRightOfTaskbar(100, 0, 1820, 1040);

INSTANTIATE_TEST_SUITE_P(
    WorkArea, ClampTest,
    ::testing::Values(ClampCase{"Left1821", kArea, {10, 1821, 640, 480}, {10, 0, 640, 480}},
                      ClampCase{"Left1820", kArea, {10, 1820, 640, 480}, {10, 1820, 640, 480}},
                      ClampCase{"LeftMinus8", kArea, {10, -8, 640, 480}, {10, 0, 640, 480}},
                      ClampCase{"TopMinus8", kArea, {-8, 10, 640, 480}, {0, 10, 640, 480}},
                      ClampCase{"Top940", kArea, {940, 10, 640, 480}, {940, 10, 640, 480}},
                      ClampCase{"Top941", kArea, {941, 10, 640, 480}, {0, 10, 640, 480}},
                      ClampCase{"SecondMonitor", kArea, {200, 2000, 640, 480}, {200, 0, 640, 480}},
                      ClampCase{
                          "TaskbarLeft50", kAreaRightOfTaskbar, {0, 50, 1, 1}, {0, 100, 1, 1}},
                      ClampCase{"SizesUntouched", kArea, {0, 0, 0, 99999}, {0, 0, 0, 99999}}),
    [](const ::testing::TestParamInfo<ClampCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(ReadPlacement, DefaultsAndValuesFromTheFile) {
  apptest::ScratchDir dir("placement");
  const std::u16string path = dir.u16() + u"ProjectQuorvel.ini";
  const Placement current{5, 6, 640, 480};
  // No file: the work area's corner and the current size.
  EXPECT_EQ(app::ReadPlacement(path, u"frmMain", kAreaRightOfTaskbar, current),
            (Placement{0, 100, 640, 480}));
  apptest::WriteSetting(dir, u"frmMain", u"Top", u"20");
  apptest::WriteSetting(dir, u"frmMain", u"Left", u"30");
  apptest::WriteSetting(dir, u"frmMain", u"Width", u"0x280");
  apptest::WriteSetting(dir, u"frmMain", u"Height", u"300px");
  EXPECT_EQ(app::ReadPlacement(path, u"FRMMAIN", kArea, current), (Placement{20, 30, 640, 480}));
  apptest::WriteSetting(dir, u"frmMain", u"Height", u"  \"700\"  ");
  EXPECT_EQ(app::ReadPlacement(path, u"frmMain", kArea, current), (Placement{20, 30, 640, 700}));
}

TEST(FormPlacement, SaveThenLoadRoundTripsAnyWindow) {
  apptest::ScratchDir dir("placement-roundtrip");
  const std::u16string path = dir.u16() + u"other.ini";
  QWidget window;
  window.setObjectName(QStringLiteral("frmOther"));
  window.move(120, 140);
  window.resize(500, 400);
  window.winId();  // the frame's share is known once the native window exists
  app::SaveFormPlacement(&window, u"", path);
  QWidget other;
  other.setObjectName(QStringLiteral("frmOther"));
  app::LoadFormPlacement(&other, u"", path, kArea);
  EXPECT_EQ(other.pos(), QPoint(120, 140));
  EXPECT_EQ(other.size(), QSize(500, 400));
  EXPECT_EQ(other.frameGeometry().size(), window.frameGeometry().size());
  app::SaveFormPlacement(&window, u"Named", path);
  QWidget third;
  app::LoadFormPlacement(&third, u"Named", path, kArea);
  EXPECT_EQ(third.pos(), QPoint(120, 140));
}

TEST(FormPlacement, UnwritableFileNamesThePath) {
  apptest::ScratchDir dir("placement-readonly");
  const std::u16string path = dir.u16() + u"sub/none/x.ini";  // folder does not exist
  QWidget window;
  window.setObjectName(QStringLiteral("w"));
  try {
    app::SaveFormPlacement(&window, u"", path);
    FAIL() << "no error";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.message(), path + u" に書き込めません");
  }
}

TEST(WorkSettings, KeyTableInFileOrder) {
  const char16_t* keys[] = {u"基本データベース", u"スプラッシュ画像表示時間",
                            u"クォルヴェルパス", u"グリッドフォントサイズ",
                            u"グリッドタイトル", u"グリッドの交互の背景色"};
  const char16_t* defaults[] = {u"", u"1000", u"", u"16", u"主題図", u"200:255:255"};
  for (size_t i = 0; i < app::kWorkSettings.size(); ++i) {
    EXPECT_EQ(app::kWorkSettings[i].key, keys[i]);
    EXPECT_EQ(app::kWorkSettings[i].default_value, defaults[i]);
  }
}

TEST(WorkSettings, MissingKeysGiveTheDefaultsAndWrittenTextsReadBackUnchanged) {
  apptest::ScratchDir dir("work-settings");
  const std::u16string path = dir.u16() + u"ProjectQuorvel.ini";
  app::WorkSettings defaults;
  for (const app::WorkSetting& setting : app::kWorkSettings) {
    defaults.*setting.field = std::u16string(setting.default_value);
  }
  EXPECT_EQ(defaults.grid_font_size, u"16");
  // No file at all, then a file where only one key is present.
  EXPECT_EQ(app::ReadWorkSettings(path), defaults);
  apptest::WriteSetting(dir, app::kWorkSection, u"グリッドタイトル", u"題名");
  app::WorkSettings expected = defaults;
  expected.grid_title = u"題名";
  EXPECT_EQ(app::ReadWorkSettings(path), expected);

  // Every text is stored as it is, also texts that are no valid setting; a new file gets
  // the keys in the table's order.
  apptest::ScratchDir fresh("work-settings-written");
  const std::u16string fresh_path = fresh.u16() + u"ProjectQuorvel.ini";
  const app::WorkSettings written{u"/data/基本 データ.mdb", u"abc", u"", u"-12", u"", u"1:2"};
  app::WriteWorkSettings(fresh_path, written);
  EXPECT_EQ(app::ReadWorkSettings(fresh_path), written);
  const std::vector<std::u16string> lines = apptest::SettingsLines(fresh);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], u"[作業環境]");
  for (size_t i = 0; i < app::kWorkSettings.size(); ++i) {
    const app::WorkSetting& setting = app::kWorkSettings[i];
    EXPECT_EQ(lines[i + 1], std::u16string(setting.key) + u"=" + written.*setting.field);
  }
}

TEST(WorkSettings, UnwritableFileNamesThePath) {
  apptest::ScratchDir dir("work-settings-readonly");
  const std::u16string path = dir.u16() + u"sub/none/x.ini";  // folder does not exist
  try {
    app::WriteWorkSettings(path, app::WorkSettings{});
    FAIL() << "no error";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.message(), path + u" に書き込めません");
  }
}

// --- Hostile settings files ------------------------------------------------------------------
//
// Settings files made to break start-up: what the program reads from each must stay in range
// before any window is sized or any arithmetic is done with it, and a large file must read the
// same values as a small one.

struct HostileKey {
  std::u16string_view section;
  std::u16string_view key;
  std::u16string_view value;
};

struct HostileCase {
  const char* name;
  std::vector<HostileKey> keys;
  size_t filler_lines;  // keys of another section written before these
  Placement placement;  // from kArea with the current placement {0, 0, 640, 480}
  std::optional<app::GridFontSize> grid_font;
  int splash_pause;
};

const HostileCase kHostileCases[] = {
    {"HugeWidthAndHeight",
     {{u"frmMain", u"Width", u"2147483647"}, {u"frmMain", u"Height", u"2147483647"}},
     0,
     {0, 0, 1920, 1040},
     app::GridFontSize{false, 16},
     1000},
    {"MostNegativeWidthAndHeight",
     {{u"frmMain", u"Width", u"-2147483648"}, {u"frmMain", u"Height", u"0x80000000"}},
     0,
     {0, 0, app::kMinPlacementSize, app::kMinPlacementSize},
     app::GridFontSize{false, 16},
     1000},
    {"MostNegativeGridFontSize",
     {{u"作業環境", u"グリッドフォントサイズ", u"-2147483648"}},
     0,
     {0, 0, 640, 480},
     std::nullopt,
     1000},
    {"HugeGridFontSize",
     {{u"作業環境", u"グリッドフォントサイズ", u"2147483647"}},
     0,
     {0, 0, 640, 480},
     std::nullopt,
     1000},
    {"LargestPixelGridFontSize",
     {{u"作業環境", u"グリッドフォントサイズ", u"-500"}},
     0,
     {0, 0, 640, 480},
     app::GridFontSize{true, 500},
     1000},
    {"HugeSplashTime",
     {{u"作業環境", u"スプラッシュ画像表示時間", u"2147483647"}},
     0,
     {0, 0, 640, 480},
     app::GridFontSize{false, 16},
     app::kMaxSplashTime},
    {"MostNegativeSplashTime",
     {{u"作業環境", u"スプラッシュ画像表示時間", u"-2147483648"}},
     0,
     {0, 0, 640, 480},
     app::GridFontSize{false, 16},
     0},
    {"ManyKeysBeforeTheSettings",
     {{u"作業環境", u"グリッドフォントサイズ", u"12"},
      {u"frmMain", u"Top", u"10"},
      {u"frmMain", u"Width", u"800"}},
     200000,
     {10, 0, 800, 480},
     app::GridFontSize{false, 12},
     1000},
};

class HostileSettingsTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileSettingsTest, StartUpReadsValuesInRange) {
  const HostileCase& c = GetParam();
  apptest::ScratchDir dir("hostile");
  const std::u16string path = dir.u16() + u"ProjectQuorvel.ini";
  {
    std::string text = "[履歴]\r\n";
    for (size_t i = 0; i < c.filler_lines; ++i) text += "key" + std::to_string(i) + "=value\r\n";
    platform::Profile profile(text);
    for (const HostileKey& key : c.keys) profile.Write(key.section, key.key, key.value);
    std::ofstream(platform::ToPath(path), std::ios::binary) << profile.Bytes();
  }
  const Placement current{0, 0, 640, 480};
  EXPECT_EQ(app::ReadPlacement(path, u"frmMain", kArea, current), c.placement);

  const app::WorkSettings settings = app::ReadWorkSettings(path);
  EXPECT_EQ(app::GridFontSizeOf(tclib::StrToInt(settings.grid_font_size)), c.grid_font);
  EXPECT_EQ(app::SplashPause(settings.splash_time), c.splash_pause);

  // A real window given the placement is no larger than the work area.
  QWidget window;
  window.setObjectName(QStringLiteral("frmMain"));
  app::LoadFormPlacement(&window, u"", path, kArea);
  EXPECT_LE(window.frameGeometry().width(), kArea.width());
  EXPECT_LE(window.frameGeometry().height(), kArea.height());

  // Saving the placement and the settings together writes what one-key writes would.
  window.winId();
  const app::PlacementKeys keys = app::FormPlacementKeys(&window, u"");
  std::vector<platform::ProfileEntry> entries;
  app::AppendWorkSettingEntries(settings, entries);
  keys.AppendTo(entries);
  const std::u16string one_by_one = dir.u16() + u"one-by-one.ini";
  std::filesystem::copy_file(platform::ToPath(path), platform::ToPath(one_by_one));
  app::WriteSettingsOrRaise(path, entries);
  for (const platform::ProfileEntry& entry : entries) {
    app::WriteSettingOrRaise(one_by_one, entry.section, entry.key, entry.value);
  }
  EXPECT_TRUE(platform::LoadProfile(platform::ToPath(path)).Bytes() ==
              platform::LoadProfile(platform::ToPath(one_by_one)).Bytes());
}

INSTANTIATE_TEST_SUITE_P(Findings, HostileSettingsTest, ::testing::ValuesIn(kHostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
