// The settings file: the work-environment settings, kept in the settings tab's boxes while
// the program runs, and the placement of a window.
#ifndef QUORVEL_APP_SETTINGS_H_
#define QUORVEL_APP_SETTINGS_H_

#include <QRect>
#include <array>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace app {

inline constexpr std::u16string_view kWorkSection = u"作業環境";

// One work-environment setting: its key in the file, its default when the key is missing,
// and the settings-tab box (object name) that holds it while the program runs.
struct WorkSetting {
  std::u16string_view key;
  std::u16string_view default_value;
  const char* box;
};

// Keys in file order, which is also the order of reading and writing.
inline constexpr std::array<WorkSetting, 6> kWorkSettings = {{
    {u"基本データベース", u"", "editKihonMDB"},
    {u"スプラッシュ画像表示時間", u"1000", "editSplashTime"},
    {u"クォルヴェルパス", u"", "editQuorvelPath"},
    {u"グリッドフォントサイズ", u"16", "editGridFontSize"},
    {u"グリッドタイトル", u"主題図", "editGridTitle"},
    {u"グリッドの交互の背景色", u"200:255:255", "editColorGridalternately"},
}};

// Reads section "作業環境" of the file at `path` into the boxes of `form` (found by object
// name), then sets the grid "DBGrid1" of `form` to the font size of editGridFontSize and its
// one column's caption to editGridTitle. Raises "'%s' は整数ではありません" when the font
// size is not an integer; the caption is then not applied.
void LoadWorkSettings(const std::u16string& path, QWidget* form);

// Writes the six boxes of `form` into section "作業環境". Raises "%s に書き込めません" with
// the path when the file cannot be written; keys written before stay written.
void SaveWorkSettings(const std::u16string& path, QWidget* form);

// A window's outer rectangle in screen pixels.
struct Placement {
  int top = 0;
  int left = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Placement&) const = default;
};

// A placement integer as read from the file: "0x" followed by hexadecimal digits (text
// longer than two characters), else the setting-text integer conversion; nothing when the
// text is empty or does not convert.
std::optional<int> ParsePlacementInteger(std::u16string_view text);

// Reads the placement in `section` of `path`, taking the current placement's size and the
// work area's top-left corner for missing or bad values, and keeps it on the work area.
Placement ReadPlacement(const std::u16string& path, std::u16string_view section,
                        const QRect& work_area, const Placement& current);

// The four tests that keep a window on the work area (only Left and Top move).
Placement ClampToWorkArea(Placement placement, const QRect& work_area);

// The window's outer rectangle (its restored rectangle when minimised).
Placement WindowPlacement(const QWidget* window);
void ApplyPlacement(QWidget* window, const Placement& placement);

// An empty section means the window's object name; an empty path means the program's own
// path with its extension replaced by ".ini". Loading never fails on bad values.
void LoadFormPlacement(QWidget* window, std::u16string_view section, std::u16string path,
                       const QRect& work_area);
// Raises "%s に書き込めません" when the file cannot be written.
void SaveFormPlacement(const QWidget* window, std::u16string_view section, std::u16string path);

}  // namespace app

#endif  // QUORVEL_APP_SETTINGS_H_
