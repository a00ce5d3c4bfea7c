#include "ui/qt/list_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <tuple>
#include <vector>

#include "ui/keycodes.h"

namespace qzr {
namespace {

ListFormat TwoColumns(bool headers) {
  ListFormat f;
  ListColumn icon;
  icon.width = 12;
  icon.indent = 2;
  icon.icon = true;
  icon.value_field = 1;
  icon.icon_field = 2;
  ListColumn name;
  name.width = 100;
  name.align = ColumnAlign::kRight;
  name.right_border = true;
  name.resizable = true;
  name.value_field = 3;
  if (headers) {
    name.has_header = true;
    name.header = "Name";
  }
  f.columns = {icon, name};
  f.last_field = 3;
  return f;
}

std::vector<ListRow> Rows(int n) {
  std::vector<ListRow> rows;
  for (int i = 1; i <= n; ++i) {
    rows.push_back({ListCell{"", i % 2 ? 1 : 2, ""},
                    ListCell{"row " + std::to_string(i) + "\nsecond line", 0, "tip"}});
  }
  return rows;
}

struct Recorder {
  std::vector<std::tuple<char, int, int>> seen;  // kind, a, b
  void Attach(ListControl* list) {
    list->on_row = [this](int row, int32_t key) { seen.emplace_back('r', row, key); };
    list->on_scroll = [this](ScrollAction a, int percent) {
      seen.emplace_back('s', static_cast<int>(a), percent);
    };
    list->on_header = [this](int column, int32_t mods) { seen.emplace_back('h', column, mods); };
  }
};

class ListControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_.resize(300, 200);
    list_.SetFormat(TwoColumns(false), DialogBase{6, 13});
    recorder_.Attach(&list_);
    list_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list_));
  }
  QPoint RowCenter(int row) {
    QRect r = list_.View()->visualRect(list_.Model()->index(row - 1, 1));
    return r.center();
  }
  ListControl list_;
  Recorder recorder_;
};

TEST_F(ListControlTest, ShowsExactlyTheGivenRowsWithFirstLinesIconsAndFormat) {
  list_.SetRows(Rows(3));
  list_.SetIcons({"~14.ico", "~16.ico"});
  ListRowsModel* m = list_.Model();
  EXPECT_EQ(m->rowCount(), 3);
  EXPECT_EQ(m->columnCount(), 2);
  EXPECT_EQ(m->data(m->index(1, 1), Qt::DisplayRole).toString(), "row 2");
  EXPECT_EQ(m->data(m->index(1, 1), Qt::ToolTipRole).toString(), "tip");
  EXPECT_FALSE(m->data(m->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_FALSE(m->data(m->index(0, 1), Qt::DecorationRole).isValid());  // not an icon column
  EXPECT_EQ(m->data(m->index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
  // Widths from dialog units: 100 units at 6 pixels per 4 units.
  QHeaderView* header = list_.View()->header();
  EXPECT_EQ(header->sectionSize(1), 150);
  EXPECT_EQ(header->sectionResizeMode(1), QHeaderView::Interactive);
  EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_TRUE(header->isHidden());  // the format names no headers
  // New rows replace the old ones; the model never holds more.
  list_.SetRows(Rows(1));
  EXPECT_EQ(m->rowCount(), 1);
  // An icon number with no icon draws the default icon; invalid UTF-8 shows
  // a replacement character.
  list_.SetRows({{ListCell{"", 9, ""}, ListCell{"bad \xFF byte", 0, ""}}});
  EXPECT_FALSE(m->data(m->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(m->data(m->index(0, 1), Qt::DisplayRole).toString(),
            QString::fromUtf8("bad \xEF\xBF\xBD byte"));
}

TEST_F(ListControlTest, ClicksSelectAndReportTheRowProgramChangesReportNothing) {
  list_.SetRows(Rows(5));
  list_.SetChoice(2);
  EXPECT_EQ(list_.Choice(), 2);
  list_.SetRows(Rows(5));
  EXPECT_EQ(list_.Choice(), 2);  // kept across a refill
  EXPECT_TRUE(recorder_.seen.empty());

  QTest::mouseClick(list_.View()->viewport(), Qt::LeftButton, {}, RowCenter(4));
  // A double click as the desktop delivers it: a click, then the double click.
  QTest::mouseClick(list_.View()->viewport(), Qt::LeftButton, {}, RowCenter(3));
  QTest::mouseDClick(list_.View()->viewport(), Qt::LeftButton, {}, RowCenter(3));
  QTest::mouseClick(list_.View()->viewport(), Qt::RightButton, {}, RowCenter(1));
  QTest::mouseClick(list_.View()->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowCenter(5));
  std::vector<std::tuple<char, int, int>> expected = {
      {'r', 4, kMouseLeft},  {'r', 3, kMouseLeft},          {'r', 3, kMouseLeft2},
      {'r', 1, kMouseRight}, {'r', 5, kMouseLeft | kShift},
  };
  EXPECT_EQ(recorder_.seen, expected);
  EXPECT_EQ(list_.Choice(), 5);
  // Below the last row: nothing.
  recorder_.seen.clear();
  list_.SetRows(Rows(1));
  QTest::mouseClick(list_.View()->viewport(), Qt::LeftButton, {},
                    QPoint(20, list_.View()->viewport()->height() - 3));
  EXPECT_TRUE(recorder_.seen.empty());
}

TEST_F(ListControlTest, TheScrollBarAndTheWheelAskForScrollingAndMoveNoRows) {
  list_.SetRows(Rows(3));
  QScrollBar* bar = list_.ScrollBar();
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(bar->value(), 100);
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(bar->value(), 0);
  // A drag reports where the thumb was dropped.
  bar->setSliderDown(true);
  bar->setSliderPosition(40);
  bar->setSliderDown(false);
  // One wheel notch down: three lines.
  QWheelEvent wheel(QPointF(10, 10), list_.View()->viewport()->mapToGlobal(QPointF(10, 10)),
                    QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(list_.View()->viewport(), &wheel);
  using S = ScrollAction;
  auto s = [](S a, int p = 0) { return std::make_tuple('s', static_cast<int>(a), p); };
  std::vector<std::tuple<char, int, int>> expected = {
      s(S::kLineDown), s(S::kLineUp),   s(S::kPageDown), s(S::kPageUp),   s(S::kBottom),
      s(S::kTop),      s(S::kDrag, 40), s(S::kLineDown), s(S::kLineDown), s(S::kLineDown),
  };
  EXPECT_EQ(recorder_.seen, expected);
  EXPECT_EQ(list_.Model()->rowCount(), 3);
}

TEST_F(ListControlTest, HeaderClicksReportTheColumnAndModifiers) {
  list_.ShowHeader(true);
  QHeaderView* header = list_.View()->header();
  ASSERT_FALSE(header->isHidden());
  int x = header->sectionViewportPosition(1) + 10;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(x, 5));
  std::vector<std::tuple<char, int, int>> expected = {{'h', 2, kCtrl}};
  EXPECT_EQ(recorder_.seen, expected);
}

TEST_F(ListControlTest, CapacityFollowsTheHeight) {
  std::vector<int> reported;
  list_.on_capacity = [&](int rows) { reported.push_back(rows); };
  int row = list_.RowHeight();
  int frame = list_.View()->frameWidth();
  list_.resize(300, 10 * row + 2 * frame);
  EXPECT_EQ(list_.Capacity(), 10);
  list_.resize(300, 4 * row + 2 * frame + row / 2);
  EXPECT_EQ(list_.Capacity(), 4);
  list_.ShowHeader(true);
  EXPECT_LT(list_.Capacity(), 4);
  ASSERT_GE(reported.size(), 2u);
  EXPECT_EQ(reported[reported.size() - 1], list_.Capacity());
  // The rows shown fit: a full page of rows lies inside the viewport.
  list_.ShowHeader(false);
  list_.SetRows(Rows(list_.Capacity()));
  QApplication::processEvents();
  QRect last = list_.View()->visualRect(list_.Model()->index(list_.Capacity() - 1, 0));
  EXPECT_LE(last.bottom(), list_.View()->viewport()->height());
}

}  // namespace
}  // namespace qzr
