#include "app/settings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "app/work_settings.h"
#include "base/utf.h"
#include "lib/tclib.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "platform/window.h"
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

// One placement integer of the file; nothing when it is missing or bad.
std::optional<int> ReadPlacementInteger(const platform::Profile& profile,
                                        std::u16string_view section, std::u16string_view key) {
  return ParsePlacementInteger(profile.Read(section, key, u""));
}

platform::Profile LoadSettings(const std::u16string& path) {
  return platform::LoadProfile(platform::ToPath(path));
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

int ClampSizeToWorkArea(int size, int work_area_size) {
  return std::max(kMinPlacementSize, std::min(size, work_area_size));
}

namespace {

// A placement as the settings file gives it: a size the file does not give stays the
// window's own outer size.
struct PlacementRequest {
  int top = 0;
  int left = 0;
  std::optional<int> width;
  std::optional<int> height;
};

PlacementRequest ReadPlacementRequest(const platform::Profile& profile, std::u16string_view section,
                                      const QRect& work_area) {
  Placement corner;
  corner.top = ReadPlacementInteger(profile, section, kTop).value_or(work_area.top());
  corner.left = ReadPlacementInteger(profile, section, kLeft).value_or(work_area.left());
  corner = ClampToWorkArea(corner, work_area);
  PlacementRequest request{corner.top, corner.left, ReadPlacementInteger(profile, section, kWidth),
                           ReadPlacementInteger(profile, section, kHeight)};
  // Before any window is made or resized: the sizes stay within what the screen can show.
  if (request.width) request.width = ClampSizeToWorkArea(*request.width, work_area.width());
  if (request.height) request.height = ClampSizeToWorkArea(*request.height, work_area.height());
  return request;
}

// The frame's share of the window's outer size, as far as the window system has told it.
QSize FrameExtra(const QWidget* window) {
  return window->frameGeometry().size() - window->geometry().size();
}

// Moves the window to the requested corner and gives it the client size that makes the
// requested outer size with `frame_extra`; a size not requested stays as it is.
void MoveAndResize(QWidget* window, const PlacementRequest& request, QSize frame_extra) {
  window->move(request.left, request.top);
  window->resize(
      request.width ? std::max(0, *request.width - frame_extra.width()) : window->width(),
      request.height ? std::max(0, *request.height - frame_extra.height()) : window->height());
}

// Fits the requested outer size (the requested one, or `current_outer` where the file gives
// none) to at most the work area's, so that no window comes back larger than the screen it
// lands on. The corner keeps the four edge tests' result: a window that shows at least that
// much of itself stays where the user left it. Afterwards both sizes are requested.
void FitToWorkArea(PlacementRequest& request, QSize current_outer, const QRect& work_area) {
  request.width =
      std::max(0, std::min(request.width.value_or(current_outer.width()), work_area.width()));
  request.height =
      std::max(0, std::min(request.height.value_or(current_outer.height()), work_area.height()));
}

// How long a window manager may take to tell the frame of a window never shown.
constexpr int kFrameWaitMs = 500;

// Where the window system tells the frame's size only after the window is shown (a window
// manager's frame on X11), the outer size is applied again once the frame is known, so that
// a saved placement comes back unchanged instead of growing by the frame at every start, and
// a size the file does not give keeps the client area the window was built with. Until the
// window is shown, the requested placement is what the window is.
class PlacementCompleter : public QObject {
 public:
  static constexpr const char* kName = "quorvelPlacementCompleter";

  PlacementCompleter(QWidget* window, const PlacementRequest& request)
      : QObject(window),
        window_(window),
        request_(request),
        applied_client_(window->size()),
        applied_corner_(window->pos()) {
    setObjectName(QString::fromLatin1(kName));
    window->installEventFilter(this);
  }

  static PlacementCompleter* Of(const QWidget* window) {
    return window->findChild<PlacementCompleter*>(QString::fromLatin1(kName),
                                                  Qt::FindDirectChildrenOnly);
  }

  bool shown() const { return shown_; }

  // The outer rectangle of a window not shown yet: the requested one, with the sizes the file
  // did not give taken from the client area and the frame the window manager will add.
  // A size changed since the placement was applied counts with the frame as well.
  Placement Requested() const {
    const bool resized = window_->size() != applied_client_;
    const std::optional<int> width = resized ? std::nullopt : request_.width;
    const std::optional<int> height = resized ? std::nullopt : request_.height;
    QSize frame(0, 0);
    if ((!width || !height) && QGuiApplication::platformName() == QStringLiteral("xcb")) {
      if (auto extents = platform::RequestFrameExtents(window_->winId(), kFrameWaitMs)) {
        frame = QSize(extents->left + extents->right, extents->top + extents->bottom);
      }
    }
    // Where the frame was known beforehand the client area sits inside the requested corner.
    const QPoint corner =
        window_->pos() == applied_corner_ ? QPoint(request_.left, request_.top) : window_->pos();
    return Placement{corner.y(), corner.x(), width.value_or(window_->width() + frame.width()),
                     height.value_or(window_->height() + frame.height())};
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != window_) return false;
    if (event->type() == QEvent::Show && !shown_) {
      shown_ = true;
      // The frame may become known without the window moving or changing its size; look
      // for it a while after the window is shown as well.
      auto* poll = new QTimer(this);
      connect(poll, &QTimer::timeout, this, [this, poll] {
        if (Complete() || ++polls_ >= kFramePolls) poll->stop();
      });
      poll->start(kFramePollMs);
    }
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
        event->type() == QEvent::Show) {
      Complete();
    }
    return false;
  }

 private:
  // How often and how many times to look for the frame after the window is shown.
  static constexpr int kFramePollMs = 20;
  static constexpr int kFramePolls = 150;

  // Applies the placement again once the window is shown and its frame is known; then this
  // object goes. Returns whether it did.
  bool Complete() {
    if (done_ || !window_->isVisible()) return done_;
    const QSize frame_extra = FrameExtra(window_);
    if (frame_extra.isEmpty()) return false;
    done_ = true;
    window_->removeEventFilter(this);
    MoveAndResize(window_, request_, frame_extra);
    // The window manager may have placed the window on its own (some ignore a requested
    // corner at the screen's origin) without Qt having heard of it yet, and a move to where
    // Qt still believes the window to be sends nothing: ask for the corner explicitly.
    if (QWindow* handle = window_->windowHandle()) {
      handle->setFramePosition(QPoint(request_.left, request_.top));
    }
    deleteLater();
    return true;
  }

  QWidget* window_;
  PlacementRequest request_;
  QSize applied_client_;
  QPoint applied_corner_;
  bool shown_ = false;
  bool done_ = false;
  int polls_ = 0;
};

// The frame the window manager puts around `window`, in the window's own pixels: what Qt
// knows once the window has been shown, else asked of the window manager (X11) before the
// window is first shown; nothing where neither tells it.
QMargins KnownFrame(QWidget* window) {
  if (!FrameExtra(window).isEmpty()) {
    const QRect outer = window->frameGeometry();
    const QRect client = window->geometry();
    return QMargins(client.left() - outer.left(), client.top() - outer.top(),
                    outer.right() - client.right(), outer.bottom() - client.bottom());
  }
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) return QMargins();
  const std::optional<platform::FrameExtents> extents =
      platform::RequestFrameExtents(window->winId(), kFrameWaitMs);
  if (!extents) return QMargins();
  // The window manager counts screen pixels; Qt's scaling divides them by the ratio.
  const qreal ratio = window->devicePixelRatioF();
  auto scaled = [ratio](int pixels) { return qRound(pixels / ratio); };
  return QMargins(scaled(extents->left), scaled(extents->top), scaled(extents->right),
                  scaled(extents->bottom));
}

void ApplyRequest(QWidget* window, PlacementRequest request, const QRect& work_area) {
  // Create the native window first, so that the frame's share of the outer size is known
  // where the window system tells it before the window is shown.
  window->winId();
  const QMargins frame = KnownFrame(window);
  const QSize frame_extra(frame.left() + frame.right(), frame.top() + frame.bottom());
  FitToWorkArea(request, window->size() + frame_extra, work_area);
  if (!frame_extra.isEmpty() && !window->isVisible()) {
    // The frame is known before the window is shown: the client area goes where the outer
    // rectangle asked for puts it, so the window manager maps it in its place at once.
    window->setGeometry(request.left + frame.left(), request.top + frame.top(),
                        std::max(0, request.width.value_or(0) - frame_extra.width()),
                        std::max(0, request.height.value_or(0) - frame_extra.height()));
  } else {
    MoveAndResize(window, request, FrameExtra(window));
  }
  // A placement applied earlier and not yet completed is replaced by this one.
  while (PlacementCompleter* old = PlacementCompleter::Of(window)) {
    window->removeEventFilter(old);
    delete old;
  }
  if (FrameExtra(window).isEmpty() && !window->isVisible()) {
    new PlacementCompleter(window, request);
  }
}

}  // namespace

Placement ReadPlacement(const std::u16string& path, std::u16string_view section,
                        const QRect& work_area, const Placement& current) {
  return ReadPlacement(LoadSettings(path), section, work_area, current);
}

Placement ReadPlacement(const platform::Profile& profile, std::u16string_view section,
                        const QRect& work_area, const Placement& current) {
  const PlacementRequest request = ReadPlacementRequest(profile, section, work_area);
  return Placement{request.top, request.left, request.width.value_or(current.width),
                   request.height.value_or(current.height)};
}

Placement WindowPlacement(const QWidget* window) {
  // A window never shown whose frame is not known yet is where its placement put it.
  if (const PlacementCompleter* pending = PlacementCompleter::Of(window);
      pending != nullptr && !pending->shown() && FrameExtra(window).isEmpty()) {
    return pending->Requested();
  }
  // pos() is the outer top-left corner of a top-level window, also before it is shown;
  // the frame's share of the size is known once the native window exists.
  const QSize frame_extra = FrameExtra(window);
  QRect client = window->geometry();
  QPoint corner = window->pos();
  if (window->isMinimized() && window->normalGeometry().isValid()) {
    client = window->normalGeometry();
    corner = client.topLeft() - (window->geometry().topLeft() - window->pos());
  }
  return Placement{corner.y(), corner.x(), client.width() + frame_extra.width(),
                   client.height() + frame_extra.height()};
}

void LoadFormPlacement(QWidget* window, std::u16string_view section,
                       const platform::Profile& profile, const QRect& work_area) {
  ApplyRequest(window, ReadPlacementRequest(profile, SectionFor(window, section), work_area),
               work_area);
}

void LoadFormPlacement(QWidget* window, std::u16string_view section, std::u16string path,
                       const QRect& work_area) {
  if (path.empty()) path = DefaultSettingsPath();
  LoadFormPlacement(window, section, LoadSettings(path), work_area);
}

void PlacementKeys::AppendTo(std::vector<platform::ProfileEntry>& entries) const {
  const std::array<std::u16string_view, 4> keys = {kTop, kLeft, kWidth, kHeight};
  for (size_t i = 0; i < keys.size(); ++i) entries.push_back({section, keys[i], values[i]});
}

PlacementKeys FormPlacementKeys(const QWidget* window, std::u16string_view section) {
  const Placement placement = WindowPlacement(window);
  auto decimal = [](int value) { return base::FromUtf8(std::to_string(value)); };
  return PlacementKeys{SectionFor(window, section),
                       {decimal(placement.top), decimal(placement.left), decimal(placement.width),
                        decimal(placement.height)}};
}

void SaveFormPlacement(const QWidget* window, std::u16string_view section, std::u16string path) {
  if (path.empty()) path = DefaultSettingsPath();
  std::vector<platform::ProfileEntry> entries;
  const PlacementKeys keys = FormPlacementKeys(window, section);
  keys.AppendTo(entries);
  WriteSettingsOrRaise(path, entries);
}

}  // namespace app
