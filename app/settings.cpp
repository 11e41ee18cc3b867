#include "app/settings.h"

#include <QEvent>
#include <QWidget>

#include "app/work_settings.h"
#include "base/utf.h"
#include "lib/tclib.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "ui/qt_text.h"

namespace app {

namespace {

constexpr std::u16string_view kTop = u"Top";
constexpr std::u16string_view kLeft = u"Left";
constexpr std::u16string_view kWidth = u"Width";
constexpr std::u16string_view kHeight = u"Height";

std::u16string DefaultSettingsPath() {
  std::u16string path = platform::ProgramPath();
  const size_t name_start = path.find_last_of(u"/\\:");
  const size_t dot = path.find_last_of(u'.');
  if (dot != std::u16string::npos && (name_start == std::u16string::npos || dot > name_start)) {
    path.resize(dot);
  }
  return path + u".ini";
}

int ReadPlacementInteger(const std::u16string& path, std::u16string_view section,
                         std::u16string_view key, int default_value) {
  const std::u16string text =
      platform::ReadProfileString(platform::ToPath(path), section, key, u"");
  return ParsePlacementInteger(text).value_or(default_value);
}

std::u16string SectionFor(const QWidget* window, std::u16string_view section) {
  return section.empty() ? ui::ToU16(window->objectName()) : std::u16string(section);
}

}  // namespace

std::optional<int> ParsePlacementInteger(std::u16string_view text) {
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    int64_t value = 0;
    for (char16_t c : text.substr(2)) {
      int digit;
      if (c >= u'0' && c <= u'9') {
        digit = c - u'0';
      } else if (c >= u'a' && c <= u'f') {
        digit = c - u'a' + 10;
      } else if (c >= u'A' && c <= u'F') {
        digit = c - u'A' + 10;
      } else {
        return std::nullopt;
      }
      value = value * 16 + digit;
      if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    // Eight hexadecimal digits fill the 32 bits, sign included.
    return static_cast<int>(static_cast<uint32_t>(value));
  }
  if (text.empty()) return std::nullopt;
  try {
    return tclib::StrToInt(text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Placement ClampToWorkArea(Placement placement, const QRect& work_area) {
  // Edges as the system gives them: right and bottom lie just outside the area.
  const int area_left = work_area.left();
  const int area_top = work_area.top();
  const int area_right = work_area.left() + work_area.width();
  const int area_bottom = work_area.top() + work_area.height();
  if (placement.left > area_right - 100) placement.left = area_left;
  if (placement.left < area_left) placement.left = area_left;
  if (placement.top < area_top) placement.top = area_top;
  if (placement.top > area_bottom - 100) placement.top = area_top;
  return placement;
}

Placement ReadPlacement(const std::u16string& path, std::u16string_view section,
                        const QRect& work_area, const Placement& current) {
  Placement placement;
  placement.top = ReadPlacementInteger(path, section, kTop, work_area.top());
  placement.left = ReadPlacementInteger(path, section, kLeft, work_area.left());
  placement.width = ReadPlacementInteger(path, section, kWidth, current.width);
  placement.height = ReadPlacementInteger(path, section, kHeight, current.height);
  return ClampToWorkArea(placement, work_area);
}

Placement WindowPlacement(const QWidget* window) {
  // pos() is the outer top-left corner of a top-level window, also before it is shown;
  // the frame's share of the size is known once the native window exists.
  const QSize frame_extra = window->frameGeometry().size() - window->geometry().size();
  QRect client = window->geometry();
  QPoint corner = window->pos();
  if (window->isMinimized() && window->normalGeometry().isValid()) {
    client = window->normalGeometry();
    corner = client.topLeft() - (window->geometry().topLeft() - window->pos());
  }
  return Placement{corner.y(), corner.x(), client.width() + frame_extra.width(),
                   client.height() + frame_extra.height()};
}

namespace {

// Where the window system tells the frame's size only after the window is shown (a window
// manager's frame on X11), the outer size is applied again once the frame is known, so that
// a saved placement comes back unchanged instead of growing by the frame at every start.
class PlacementCompleter : public QObject {
 public:
  static constexpr const char* kName = "quorvelPlacementCompleter";

  PlacementCompleter(QWidget* window, const Placement& placement)
      : QObject(window), window_(window), placement_(placement) {
    setObjectName(QString::fromLatin1(kName));
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
         event->type() == QEvent::Show) &&
        window_->isVisible()) {
      const QSize frame_extra = window_->frameGeometry().size() - window_->geometry().size();
      if (!frame_extra.isEmpty()) {
        window_->removeEventFilter(this);
        window_->move(placement_.left, placement_.top);
        window_->resize(std::max(0, placement_.width - frame_extra.width()),
                        std::max(0, placement_.height - frame_extra.height()));
        deleteLater();
      }
    }
    return false;
  }

 private:
  QWidget* window_;
  Placement placement_;
};

}  // namespace

void ApplyPlacement(QWidget* window, const Placement& placement) {
  // Create the native window first, so that the frame's share of the outer size is known
  // where the window system tells it before the window is shown.
  window->winId();
  const QSize frame_extra = window->frameGeometry().size() - window->geometry().size();
  window->move(placement.left, placement.top);
  window->resize(std::max(0, placement.width - frame_extra.width()),
                 std::max(0, placement.height - frame_extra.height()));
  // A placement applied earlier and not yet completed is replaced by this one.
  for (QObject* old : window->findChildren<QObject*>(QString::fromLatin1(PlacementCompleter::kName),
                                                     Qt::FindDirectChildrenOnly)) {
    window->removeEventFilter(old);
    delete old;
  }
  if (frame_extra.isEmpty() && !window->isVisible()) new PlacementCompleter(window, placement);
}

void LoadFormPlacement(QWidget* window, std::u16string_view section, std::u16string path,
                       const QRect& work_area) {
  const std::u16string name = SectionFor(window, section);
  if (path.empty()) path = DefaultSettingsPath();
  ApplyPlacement(window, ReadPlacement(path, name, work_area, WindowPlacement(window)));
}

void SaveFormPlacement(const QWidget* window, std::u16string_view section, std::u16string path) {
  const std::u16string name = SectionFor(window, section);
  if (path.empty()) path = DefaultSettingsPath();
  const Placement placement = WindowPlacement(window);
  auto decimal = [](int value) { return base::FromUtf8(std::to_string(value)); };
  WriteSettingOrRaise(path, name, kTop, decimal(placement.top));
  WriteSettingOrRaise(path, name, kLeft, decimal(placement.left));
  WriteSettingOrRaise(path, name, kWidth, decimal(placement.width));
  WriteSettingOrRaise(path, name, kHeight, decimal(placement.height));
}

}  // namespace app
