// The list control of the desktop backend: a table that shows exactly the
// rows the program gives it (a browse's one screenful), with a scroll bar of
// its own whose actions become scroll requests instead of moving the rows.
//
//   +------------------------------------------+--+
//   | header (when the format has one, or a    |  |
//   | header region asks for clicks)           |  |
//   +------------------------------------------+ S|
//   | QTreeView: the rows, its own vertical    | c|
//   | scroll bar off; a cell shows the first   | r|
//   | line of its text, its icon, its tip      | o|
//   |                                          | l|
//   +------------------------------------------+--+
//
// The model holds the rows last set and nothing else. Widths, alignment,
// indents, right borders and resizable columns come from the list format,
// converted from dialog units with the window's base units. Every row has
// the same height, so the rows the list can show follow from its height
// (Capacity), reported whenever it changes.
//
// User actions are handed to the callbacks (set by the window) and never
// change the rows: a click selects the row and reports it; the scroll bar
// and the wheel report scroll actions. Program changes (SetRows, SetChoice)
// report nothing. (An ordinary list, which holds all its rows, scrolls by
// itself instead: SetImmediate.)
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_LIST_CONTROL_H_
#define QZR_UI_QT_LIST_CONTROL_H_

#include <QAbstractTableModel>
#include <QIcon>
#include <QScrollBar>
#include <QTreeView>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/list_format.h"
#include "ui/qt/fonts.h"
#include "ui/toolkit.h"

namespace qzr {

class ListRowsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ListRowsModel(QObject* parent) : QAbstractTableModel(parent) {}

  void SetFormat(const ListFormat& format);
  void SetRows(const std::vector<ListRow>& rows);
  void SetIcons(const std::vector<std::string>& names);
  const std::vector<ListRow>& Rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The text a cell shows: the first line of `text`.
  static QString FirstLine(const std::string& text);

 private:
  ListFormat format_;
  std::vector<ListRow> rows_;
  std::vector<QIcon> icons_;  // icons_[0] is icon number 1
};

class ListControl : public QWidget {
  Q_OBJECT

 public:
  explicit ListControl(QWidget* parent = nullptr);

  // REQUIRES: called once, before rows are set.
  void SetFormat(const ListFormat& format, const DialogBase& base);
  void SetRows(const std::vector<ListRow>& rows);
  void SetIcons(const std::vector<std::string>& names);
  // Column widths in dialog units, first column first (the program's; the
  // user's drags report through on_column_width).
  void SetColumnWidths(const std::vector<int>& widths, const DialogBase& base);
  // 1-based; 0 clears the selection. Rows past the end select nothing.
  void SetChoice(int row);
  int Choice() const;
  // Shows the column headers (also when the format names none: a header
  // region wants clicks on them).
  void ShowHeader(bool show);
  // An immediate list (the default) holds one screenful of a longer result:
  // its scroll bar and the wheel ask the program to scroll. An ordinary
  // list holds all its rows and scrolls by itself, with the view's own
  // scroll bar when `scroll_bar`.
  void SetImmediate(bool immediate, bool scroll_bar);

  // How many whole rows fit in the list now.
  int Capacity() const;
  int RowHeight() const { return row_height_; }

  QTreeView* View() const { return view_; }
  QScrollBar* ScrollBar() const { return scroll_; }
  ListRowsModel* Model() const { return model_; }

  // The user's actions.
  std::function<void(int row, int32_t keycode)> on_row;
  std::function<void(ScrollAction action, int percent)> on_scroll;
  std::function<void(int column, int32_t modifiers)> on_header;
  std::function<void(int rows)> on_capacity;
  // A column the user resized (1-based), its new width in pixels; reported
  // when the drag ends.
  std::function<void(int column, int pixels)> on_column_width;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void LayOut();
  void ReportCapacity();
  void OnScrollAction(int action);
  void SelectRow(int row);

  ListRowsModel* model_;
  QTreeView* view_;
  QScrollBar* scroll_;
  ListFormat format_;
  int row_height_ = 16;
  int reported_capacity_ = -1;
  int wheel_rest_ = 0;          // wheel angle not yet turned into lines
  std::map<int, int> resized_;  // sections the user is resizing: width
  bool program_ = false;
  bool immediate_ = true;
};

}  // namespace qzr

#endif  // QZR_UI_QT_LIST_CONTROL_H_
