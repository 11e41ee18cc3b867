// The alternate row colour of the project grid: the colour text "R:G:B", its reading, the
// colour dialog, and the delegate that paints every second row.
#ifndef QUORVEL_APP_ROW_COLOUR_H_
#define QUORVEL_APP_ROW_COLOUR_H_

#include <QColor>
#include <QStyledItemDelegate>
#include <array>
#include <functional>
#include <string>
#include <string_view>

class QAbstractItemView;
class QWidget;

namespace app {

// The colour of an inactive window caption's gradient end, taken when the colour text is
// not three integers.
inline const QColor kFallbackRowColour(215, 228, 242);

// The first three ":"-separated fields as integers (no range check). Raises
// "'%s' は整数ではありません" when a field is not an integer or missing.
std::array<int, 3> ParseColorTriple(std::u16string_view text);

// The colour of a colour text, each field taken modulo 256; the fallback colour when the
// text does not parse.
QColor RowColourOf(std::u16string_view text);

// "R:G:B" in decimal.
std::u16string ColorText(const QColor& colour);

// Opens the colour dialog with `window` taken off the top while it is open. On a confirmed
// colour `text` becomes its colour text; on a cancel it stays as it was. The dialog opens
// with the colour chosen last in this run (aqua at first).
void PickGridColor(std::u16string& text, QWidget* window);

// Paints the cells of every even record number, except the current row, in the colour of
// the colour text that `colour_text` returns at drawing time. The current row (whether or
// not it is selected) shows the selection highlight while the grid has the focus, and the
// plain colours otherwise; no other row shows the highlight.
class AlternateRowDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  AlternateRowDelegate(QAbstractItemView* view, std::function<std::u16string()> colour_text);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  QAbstractItemView* view_;
  std::function<std::u16string()> colour_text_;
};

}  // namespace app

#endif  // QUORVEL_APP_ROW_COLOUR_H_
