#include "app/row_colour.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QWidget>

#include "base/utf.h"
#include "lib/tclib.h"
#include "platform/text.h"
#include "ui/dialogs.h"

namespace app {

namespace {

// The colour the dialog opens with: aqua first, then the last colour chosen in this run.
QColor& LastPickedColour() {
  static QColor colour(0, 255, 255);
  return colour;
}

// Takes a window off the top for as long as it lives.
class NotOnTop {
 public:
  explicit NotOnTop(QWidget* window) : window_(window) { Set(false); }
  ~NotOnTop() { Set(true); }

 private:
  void Set(bool on_top) {
    if (window_ == nullptr) return;
    const bool visible = window_->isVisible();
    window_->setWindowFlag(Qt::WindowStaysOnTopHint, on_top);
    // Changing a flag hides a top-level window; bring it back where it was.
    if (visible) window_->show();
  }
  QWidget* window_;
};

}  // namespace

std::array<int, 3> ParseColorTriple(std::u16string_view text) {
  std::array<int, 3> rgb{};
  for (int i = 0; i < 3; ++i) {
    rgb[static_cast<size_t>(i)] = tclib::StrToInt(tclib::GetToken(u":", text, i + 1));
  }
  return rgb;
}

QColor RowColourOf(std::u16string_view text) {
  try {
    const std::array<int, 3> rgb = ParseColorTriple(text);
    return QColor(rgb[0] & 0xFF, rgb[1] & 0xFF, rgb[2] & 0xFF);
  } catch (const std::exception&) {
    return kFallbackRowColour;
  }
}

std::u16string ColorText(const QColor& colour) {
  return base::FromUtf8(std::to_string(colour.red()) + ":" + std::to_string(colour.green()) + ":" +
                        std::to_string(colour.blue()));
}

void PickGridColor(std::u16string& text, QWidget* window) {
  std::optional<QColor> picked;
  {
    NotOnTop off_top(window);
    picked = ui::PickColor(LastPickedColour(), window);
  }
  if (!picked) return;
  LastPickedColour() = *picked;
  text = ColorText(*picked);
}

AlternateRowDelegate::AlternateRowDelegate(QAbstractItemView* view,
                                           std::function<std::u16string()> colour_text)
    : QStyledItemDelegate(view), view_(view), colour_text_(std::move(colour_text)) {}

void AlternateRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  QStyleOptionViewItem cell(option);
  // The current row, not the selection, decides: a Ctrl+click may leave the current row
  // unselected, and the selection never makes another row look current.
  const bool current = index.row() == view_->currentIndex().row();
  const bool highlighted = current && view_->hasFocus();
  const int record_number = index.row() + 1;
  // The view may have filled the row with the selection highlight already; the cell's own
  // background goes over it.
  if (highlighted) {
    cell.state |= QStyle::State_Selected;
  } else {
    cell.state &= ~QStyle::State_Selected;
    painter->fillRect(cell.rect, !current && record_number % 2 == 0
                                     ? QBrush(RowColourOf(colour_text_ ? colour_text_() : u""))
                                     : cell.palette.brush(QPalette::Base));
  }
  QStyledItemDelegate::paint(painter, cell, index);
}

}  // namespace app
