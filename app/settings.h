// The placement of a window in the settings file (the work-environment settings are in
// app/work_settings.h).
#ifndef QUORVEL_APP_SETTINGS_H_
#define QUORVEL_APP_SETTINGS_H_

#include <QRect>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

class QWidget;

namespace app {

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

// The smallest outer width and height a placement from the file gives a window.
inline constexpr int kMinPlacementSize = 100;

// Reads the placement in `section` of `path`, taking the current placement's size and the
// work area's top-left corner for missing or bad values, and keeps it on the work area: the
// corner by ClampToWorkArea, a size from the file by ClampSizeToWorkArea.
Placement ReadPlacement(const std::u16string& path, std::u16string_view section,
                        const QRect& work_area, const Placement& current);
Placement ReadPlacement(const platform::Profile& profile, std::u16string_view section,
                        const QRect& work_area, const Placement& current);

// The four tests that keep a window on the work area (only Left and Top move).
Placement ClampToWorkArea(Placement placement, const QRect& work_area);

// A width or height from the file, at least kMinPlacementSize and at most the work area's
// (a huge size would have the window system make a window buffer of gigabytes).
int ClampSizeToWorkArea(int size, int work_area_size);

// The window's outer rectangle (its restored rectangle when minimised).
Placement WindowPlacement(const QWidget* window);

// An empty section means the window's object name; an empty path means the program's own
// path with its extension replaced by ".ini". Loading never fails on bad values. The window
// is fitted to the work area, its outer size first (also a size the file does not give) and
// then its corner, so that all of it lies on the work area; where the window manager tells
// its frame before the window is shown, the window is mapped in that place at once.
void LoadFormPlacement(QWidget* window, std::u16string_view section, std::u16string path,
                       const QRect& work_area);
// The same from the settings file already read.
void LoadFormPlacement(QWidget* window, std::u16string_view section,
                       const platform::Profile& profile, const QRect& work_area);
// Raises "%s に書き込めません" when the file cannot be written.
void SaveFormPlacement(const QWidget* window, std::u16string_view section, std::u16string path);

// The keys SaveFormPlacement writes, for saving them together with other keys.
struct PlacementKeys {
  std::u16string section;
  std::array<std::u16string, 4> values;  // Top, Left, Width, Height
  // The entries refer to this object's texts, which must outlive them.
  void AppendTo(std::vector<platform::ProfileEntry>& entries) const;
};
PlacementKeys FormPlacementKeys(const QWidget* window, std::u16string_view section);

}  // namespace app

#endif  // QUORVEL_APP_SETTINGS_H_
