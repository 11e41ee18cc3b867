// The placement of a window in the settings file (the work-environment settings are in
// app/work_settings.h).
#ifndef QUORVEL_APP_SETTINGS_H_
#define QUORVEL_APP_SETTINGS_H_

#include <QRect>
#include <optional>
#include <string>
#include <string_view>

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

// Reads the placement in `section` of `path`, taking the current placement's size and the
// work area's top-left corner for missing or bad values, and keeps it on the work area.
Placement ReadPlacement(const std::u16string& path, std::u16string_view section,
                        const QRect& work_area, const Placement& current);

// The four tests that keep a window on the work area (only Left and Top move).
Placement ClampToWorkArea(Placement placement, const QRect& work_area);

// The window's outer rectangle (its restored rectangle when minimised).
Placement WindowPlacement(const QWidget* window);

// An empty section means the window's object name; an empty path means the program's own
// path with its extension replaced by ".ini". Loading never fails on bad values.
void LoadFormPlacement(QWidget* window, std::u16string_view section, std::u16string path,
                       const QRect& work_area);
// Raises "%s に書き込めません" when the file cannot be written.
void SaveFormPlacement(const QWidget* window, std::u16string_view section, std::u16string path);

}  // namespace app

#endif  // QUORVEL_APP_SETTINGS_H_
