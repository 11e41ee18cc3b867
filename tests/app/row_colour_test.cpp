// The alternate row colour: the colour text, and the grid's painted rows.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "app/main_window.h"
#include "app/row_colour.h"
#include "app_test_support.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

using apptest::Recorder;
using apptest::ScratchDir;

TEST(ParseColorTriple, FieldsAsIntegers) {
  EXPECT_EQ(app::ParseColorTriple(u"200:255:255"), (std::array<int, 3>{200, 255, 255}));
  EXPECT_EQ(app::ParseColorTriple(u"300:-1:0:9"), (std::array<int, 3>{300, -1, 0}));
  EXPECT_EQ(app::ParseColorTriple(u" 200:255:255"), (std::array<int, 3>{200, 255, 255}));
  EXPECT_EQ(app::ParseColorTriple(u"$10:0x10:7"), (std::array<int, 3>{16, 16, 7}));
}

TEST(ParseColorTriple, NonIntegersRaiseTheConversionError) {
  const struct {
    std::u16string text;
    std::u16string bad_field;
  } cases[] = {
      {u"a:b:c", u"a"}, {u"200:255", u""}, {u"", u""}, {u"200 :1:2", u"200 "}, {u"1:2:x", u"x"},
  };
  for (const auto& c : cases) {
    try {
      app::ParseColorTriple(c.text);
      ADD_FAILURE() << apptest::Utf8(c.text);
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.message(), u"'" + c.bad_field + u"' は整数ではありません");
    }
  }
}

TEST(ColorText, DecimalFieldsJoinedByColons) {
  EXPECT_EQ(app::ColorText(QColor(0, 255, 255)), u"0:255:255");
  EXPECT_EQ(app::ColorText(QColor(7, 8, 9)), u"7:8:9");
}

// The grid of a shown main window over the project fixture, painted into an image.
class PaintedGrid : public ::testing::Test {
 protected:
  void SetUp() override {
    apptest::WriteSetting(dir_, u"作業環境", u"基本データベース",
                          platform::FromPath(apptest::kProjects));
    window_ = std::make_unique<app::TfrmMain>(apptest::TestEnvironment(dir_, &recorder_));
    window_->PageControl1->setCurrentWidget(window_->TabSheet1);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    window_->editKeyword->setFocus();
    QCoreApplication::processEvents();
  }

  // The background of the cell of `row` (0-based), away from its text.
  QColor CellBackground(int row, const std::u16string& colour_text) {
    window_->editColorGridalternately->setText(QString::fromStdU16String(colour_text));
    QTableView* grid = window_->DBGrid1;
    const QRect cell = grid->visualRect(grid->model()->index(row, 0));
    const QImage image = grid->viewport()->grab().toImage();
    if (getenv("ROWCOLOUR_DUMP")) image.save(QStringLiteral("/tmp/rowcolour.png"));
    const int x = std::min(cell.right(), image.width() - 1) - 6;
    return image.pixelColor(x, cell.center().y());
  }

  ScratchDir dir_{"rowcolour"};
  Recorder recorder_;
  ui::DialogAnswers answers_;
  std::unique_ptr<app::TfrmMain> window_;
};

TEST_F(PaintedGrid, EvenRowsTakeTheColourOfTheText) {
  const QColor plain = window_->DBGrid1->palette().color(QPalette::Base);
  const struct {
    std::u16string text;
    QColor even;
  } cases[] = {
      {u"255:0:0", QColor(255, 0, 0)},
      {u"300:0:0", QColor(44, 0, 0)},
      {u"-1:0:0", QColor(255, 0, 0)},
      {u"200:255:255", QColor(200, 255, 255)},
      {u"200:255:255:9", QColor(200, 255, 255)},
      {u" 200:255:255", QColor(200, 255, 255)},
      {u"200:255", app::kFallbackRowColour},
      {u"", app::kFallbackRowColour},
      {u"200;255;255", app::kFallbackRowColour},
      {u"200 :255:255", app::kFallbackRowColour},
      {u"a:b:c", app::kFallbackRowColour},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(apptest::Utf8(c.text));
    EXPECT_EQ(CellBackground(1, c.text), c.even);
    EXPECT_EQ(CellBackground(3, c.text), c.even);
    EXPECT_EQ(CellBackground(2, c.text), plain);
    EXPECT_EQ(CellBackground(0, c.text), plain);
  }
  EXPECT_TRUE(answers_.messages().empty());  // bad texts are silent
}

TEST_F(PaintedGrid, TheCurrentRowIsNeverColoured) {
  const QColor plain = window_->DBGrid1->palette().color(QPalette::Base);
  QTableView* grid = window_->DBGrid1;
  grid->setCurrentIndex(grid->model()->index(1, 0));
  window_->editKeyword->setFocus();
  QCoreApplication::processEvents();
  ASSERT_FALSE(grid->hasFocus());
  EXPECT_EQ(CellBackground(1, u"255:0:0"), plain);  // no focus: plain colours
  EXPECT_EQ(CellBackground(3, u"255:0:0"), QColor(255, 0, 0));
  grid->setFocus();
  QCoreApplication::processEvents();
  ASSERT_TRUE(grid->hasFocus());
  const QColor current = CellBackground(1, u"255:0:0");
  EXPECT_NE(current, QColor(255, 0, 0));
  EXPECT_NE(current, plain);  // the selection highlight
}

// A Ctrl+click on the current row takes the selection off it but leaves it current: it still
// never shows the alternate colour, and shows the highlight only while the grid has the focus.
TEST_F(PaintedGrid, TheCurrentRowWithoutSelectionIsNeverColoured) {
  const QColor plain = window_->DBGrid1->palette().color(QPalette::Base);
  const QColor red(255, 0, 0);
  QTableView* grid = window_->DBGrid1;
  const QModelIndex second = grid->model()->index(1, 0);
  const QPoint centre = grid->visualRect(second).center();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
  ASSERT_TRUE(grid->selectionModel()->isSelected(second));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, centre);
  ASSERT_FALSE(grid->selectionModel()->isSelected(second));
  ASSERT_EQ(grid->currentIndex().row(), 1);

  grid->setFocus();
  QCoreApplication::processEvents();
  ASSERT_TRUE(grid->hasFocus());
  const QColor highlighted = CellBackground(1, u"255:0:0");
  EXPECT_NE(highlighted, red);
  EXPECT_NE(highlighted, plain);
  EXPECT_EQ(CellBackground(3, u"255:0:0"), red);

  window_->editKeyword->setFocus();
  QCoreApplication::processEvents();
  ASSERT_FALSE(grid->hasFocus());
  EXPECT_EQ(CellBackground(1, u"255:0:0"), plain);
  EXPECT_EQ(CellBackground(3, u"255:0:0"), red);
  EXPECT_EQ(CellBackground(0, u"255:0:0"), plain);
}

TEST_F(PaintedGrid, OneRowResultHasNoColouredRow) {
  window_->editKeyword->setText(QStringLiteral("Sample project #111"));
  ASSERT_EQ(window_->DBGrid1->model()->rowCount(), 1);
  const QColor plain = window_->DBGrid1->palette().color(QPalette::Base);
  EXPECT_EQ(CellBackground(0, u"255:0:0"), plain);
}

}  // namespace
