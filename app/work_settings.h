// The work-environment settings: section "作業環境" of the settings file, read into a plain
// value at start-up and written back from one at shutdown. No Qt here: the main window puts
// the value into the boxes of its settings tab and reads it back from them.
#ifndef QUORVEL_APP_WORK_SETTINGS_H_
#define QUORVEL_APP_WORK_SETTINGS_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

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

// The longest splash pause in milliseconds; a longer time in the file pauses this long.
inline constexpr int kMaxSplashTime = 60000;

// The splash pause for the splash time text: the default when the text is not an integer,
// no pause (0) for a negative time, at most kMaxSplashTime.
int SplashPause(std::u16string_view text);

// The largest grid font size, in points or pixels, that the grid takes from the file.
inline constexpr int kMaxGridFontSize = 500;

// The grid font size the settings give: a positive value in points, a negative one in pixels
// (as on Windows). 0 and sizes beyond kMaxGridFontSize either way give nothing (the grid keeps
// its font), so that no size from the file reaches the font's arithmetic out of range.
struct GridFontSize {
  bool pixels = false;
  int size = 0;
  bool operator==(const GridFontSize&) const = default;
};
std::optional<GridFontSize> GridFontSizeOf(int setting);

// Reads section "作業環境" of the settings file at `path` (or of the file already read); a
// missing key, section or file gives the default of kWorkSettings. Bad values are read as
// they are.
WorkSettings ReadWorkSettings(const std::u16string& path);
WorkSettings ReadWorkSettings(const platform::Profile& profile);

// The keys that write the six settings into section "作業環境" in file order. The entries
// refer to the texts of `settings`, which must outlive them.
void AppendWorkSettingEntries(const WorkSettings& settings,
                              std::vector<platform::ProfileEntry>& entries);

// Writes the six settings into section "作業環境" in file order, with one replacement of the
// file. Raises "%s に書き込めません" with the path when the file cannot be written; the keys
// before the one that could not be stored stay written.
void WriteWorkSettings(const std::u16string& path, const WorkSettings& settings);

// Writes the keys in order with one read and one replacement of the settings file at `path`.
// Raises "%s に書き込めません" with the path when the file cannot be written, whatever the
// cause; the keys before the one that could not be stored stay written.
void WriteSettingsOrRaise(const std::u16string& path,
                          const std::vector<platform::ProfileEntry>& entries);

// Writes one key of the settings file at `path`. Raises "%s に書き込めません" with the path
// when the file cannot be written, whatever the cause.
void WriteSettingOrRaise(const std::u16string& path, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value);

}  // namespace app

#endif  // QUORVEL_APP_WORK_SETTINGS_H_
