// The work-environment settings: section "作業環境" of the settings file, read into a plain
// value at start-up and written back from one at shutdown. No Qt here: the main window puts
// the value into the boxes of its settings tab and reads it back from them.
#ifndef QUORVEL_APP_WORK_SETTINGS_H_
#define QUORVEL_APP_WORK_SETTINGS_H_

#include <array>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::u16string_view kWorkSection = u"作業環境";

// The six settings as texts, exactly as the file and the boxes hold them (nothing is checked
// here). The comment names the settings-tab box that shows each one.
struct WorkSettings {
  std::u16string basic_database;         // editKihonMDB
  std::u16string splash_time;            // editSplashTime
  std::u16string quorvel_path;           // editQuorvelPath
  std::u16string grid_font_size;         // editGridFontSize
  std::u16string grid_title;             // editGridTitle
  std::u16string grid_alternate_colour;  // editColorGridalternately

  bool operator==(const WorkSettings&) const = default;
};

// One work-environment setting: its key in the file, its default when the key is missing,
// and the field of WorkSettings that carries it.
struct WorkSetting {
  std::u16string_view key;
  std::u16string_view default_value;
  std::u16string WorkSettings::*field;
};

// The defaults of the work-environment settings live in this table and nowhere else. The
// boxes of the settings tab keep their designed texts where the window is built (the font
// size box is designed with "14"), but start-up always replaces them with the file's value
// or, for a missing key, with the default here: a missing font size puts "16" into the box
// and the designed "14" never survives start-up.
// Keys in file order, which is also the order of reading and writing.
inline constexpr std::array<WorkSetting, 6> kWorkSettings = {{
    {u"基本データベース", u"", &WorkSettings::basic_database},
    {u"スプラッシュ画像表示時間", u"1000", &WorkSettings::splash_time},
    {u"クォルヴェルパス", u"", &WorkSettings::quorvel_path},
    {u"グリッドフォントサイズ", u"16", &WorkSettings::grid_font_size},
    {u"グリッドタイトル", u"主題図", &WorkSettings::grid_title},
    {u"グリッドの交互の背景色", u"200:255:255", &WorkSettings::grid_alternate_colour},
}};

// The splash pause in milliseconds when the splash time text is not an integer (the same
// value as that setting's default above).
inline constexpr int kDefaultSplashTime = 1000;

// Reads section "作業環境" of the settings file at `path`; a missing key, section or file
// gives the default of kWorkSettings. Bad values are read as they are.
WorkSettings ReadWorkSettings(const std::u16string& path);

// Writes the six settings into section "作業環境" in file order. Raises "%s に書き込めません"
// with the path when the file cannot be written; keys written before stay written.
void WriteWorkSettings(const std::u16string& path, const WorkSettings& settings);

// Writes one key of the settings file at `path`. Raises "%s に書き込めません" with the path
// when the file cannot be written, whatever the cause.
void WriteSettingOrRaise(const std::u16string& path, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value);

}  // namespace app

#endif  // QUORVEL_APP_WORK_SETTINGS_H_
