// The list control: model, cell drawing, scroll bar and input.

#include "ui/qt/list_control.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>

#include "ui/keycodes.h"
#include "ui/qt/icons.h"
#include "ui/qt/key_map.h"

namespace qzr {
namespace {

Qt::Alignment AlignmentOf(ColumnAlign align) {
  switch (align) {
    case ColumnAlign::kRight:
    case ColumnAlign::kDecimal:
      return Qt::AlignRight | Qt::AlignVCenter;
    case ColumnAlign::kCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case ColumnAlign::kLeft:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// Draws cells with the column's indent and right border, at one row height.
class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

  void Configure(int row_height, std::vector<int> indents, std::vector<bool> borders,
                 std::vector<ColumnAlign> aligns) {
    row_height_ = row_height;
    indents_ = std::move(indents);
    borders_ = std::move(borders);
    aligns_ = std::move(aligns);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    return QSize(size.width(), row_height_);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell(option);
    size_t c = static_cast<size_t>(index.column());
    int indent = c < indents_.size() ? indents_[c] : 0;
    if (indent > 0) {
      if (c < aligns_.size() &&
          (aligns_[c] == ColumnAlign::kRight || aligns_[c] == ColumnAlign::kDecimal)) {
        cell.rect.adjust(0, 0, -indent, 0);
      } else if (c >= aligns_.size() || aligns_[c] == ColumnAlign::kLeft) {
        cell.rect.adjust(indent, 0, 0, 0);
      }
    }
    // The selection highlight covers the whole cell, indent included.
    if (option.state & QStyle::State_Selected) {
      painter->fillRect(option.rect, option.palette.brush(option.state & QStyle::State_Active
                                                              ? QPalette::Active
                                                              : QPalette::Inactive,
                                                          QPalette::Highlight));
    }
    QStyledItemDelegate::paint(painter, cell, index);
    if (c < borders_.size() && borders_[c]) {
      painter->save();
      painter->setPen(option.palette.color(QPalette::Mid));
      painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
      painter->restore();
    }
  }

 private:
  int row_height_ = 16;
  std::vector<int> indents_;
  std::vector<bool> borders_;
  std::vector<ColumnAlign> aligns_;
};

}  // namespace

// ---------------------------------------------------------------------------
// ListRowsModel

void ListRowsModel::SetFormat(const ListFormat& format) {
  beginResetModel();
  format_ = format;
  rows_.clear();
  endResetModel();
}

void ListRowsModel::SetRows(const std::vector<ListRow>& rows) {
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

void ListRowsModel::SetIcons(const std::vector<std::string>& names) {
  icons_.clear();
  for (const std::string& name : names) icons_.push_back(IconByName(name));
  if (!rows_.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DecorationRole});
  }
}

int ListRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(format_.columns.size());
}

QString ListRowsModel::FirstLine(const std::string& text) {
  size_t end = text.find_first_of("\r\n");
  std::string_view line(text.data(), end == std::string::npos ? text.size() : end);
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

QVariant ListRowsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
    return {};
  }
  const ListColumn& column = format_.columns[static_cast<size_t>(index.column())];
  const ListRow& row = rows_[static_cast<size_t>(index.row())];
  if (static_cast<size_t>(index.column()) >= row.size()) return {};
  const ListCell& cell = row[static_cast<size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
      return FirstLine(cell.text);
    case Qt::DecorationRole:
      if ((column.icon || column.transparent_icon) && cell.icon > 0) {
        size_t i = static_cast<size_t>(cell.icon - 1);
        return i < icons_.size() ? icons_[i] : DefaultIcon();
      }
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(AlignmentOf(column.align));
    case Qt::ToolTipRole:
      if (!cell.tip.empty()) return QString::fromUtf8(cell.tip);
      return {};
    default:
      return {};
  }
}

QVariant ListRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const ListColumn& column = format_.columns[static_cast<size_t>(section)];
  if (role == Qt::DisplayRole) return QString::fromUtf8(column.header);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(AlignmentOf(column.has_header ? column.header_align : column.align));
  }
  return {};
}

// ---------------------------------------------------------------------------
// ListControl

ListControl::ListControl(QWidget* parent)
    : QWidget(parent),
      model_(new ListRowsModel(this)),
      view_(new QTreeView(this)),
      scroll_(new QScrollBar(Qt::Vertical, this)) {
  view_->setModel(model_);
  view_->setItemDelegate(new CellDelegate(view_));
  view_->setRootIsDecorated(false);
  view_->setItemsExpandable(false);
  view_->setUniformRowHeights(true);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view_->setAllColumnsShowFocus(true);
  view_->setIconSize(QSize(16, 16));
  view_->setTextElideMode(Qt::ElideRight);
  view_->setFocusPolicy(Qt::StrongFocus);
  view_->viewport()->installEventFilter(this);
  view_->installEventFilter(this);
  setFocusProxy(view_);

  QHeaderView* header = view_->header();
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(0);
  header->setHidden(true);
  header->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (!program_) resized_[section] = size;
  });
  connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
    if (on_header) on_header(section + 1, ModifierBits(QGuiApplication::keyboardModifiers()));
  });

  // The rows never scroll inside the view: each scroll-bar action is a
  // request for the program, and the thumb stays where the program's paging
  // puts it (top, bottom, or where it was dropped).
  scroll_->setRange(0, 100);
  scroll_->setSingleStep(1);
  scroll_->setPageStep(10);
  scroll_->setTracking(false);
  connect(scroll_, &QAbstractSlider::actionTriggered, this,
          [this](int action) { OnScrollAction(action); });
  connect(scroll_, &QAbstractSlider::sliderReleased, this, [this] {
    if (on_scroll) on_scroll(ScrollAction::kDrag, scroll_->sliderPosition());
  });

  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            // Keys the program does not take move the selection in the view
            // itself; the move is the user's choice.
            if (program_ || !current.isValid() || !on_row) return;
            on_row(current.row() + 1, 0);
          });
}

void ListControl::SetFormat(const ListFormat& format, const DialogBase& base) {
  program_ = true;
  format_ = format;
  model_->SetFormat(format);
  QFontMetrics metrics(font());
  row_height_ = std::max(metrics.height(), 16) + 4;
  std::vector<int> indents;
  std::vector<bool> borders;
  std::vector<ColumnAlign> aligns;
  QHeaderView* header = view_->header();
  for (size_t i = 0; i < format.columns.size(); ++i) {
    const ListColumn& c = format.columns[i];
    int section = static_cast<int>(i);
    header->resizeSection(section, DluToPixelsX(c.width, base));
    header->setSectionResizeMode(section,
                                 c.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    indents.push_back(DluToPixelsX(c.indent, base));
    borders.push_back(c.right_border);
    aligns.push_back(c.align);
  }
  static_cast<CellDelegate*>(view_->itemDelegate())
      ->Configure(row_height_, std::move(indents), std::move(borders), std::move(aligns));
  header->setHidden(!format.has_headers());
  program_ = false;
  LayOut();
}

void ListControl::SetRows(const std::vector<ListRow>& rows) {
  int choice = Choice();
  program_ = true;
  model_->SetRows(rows);
  program_ = false;
  SetChoice(std::min(choice, static_cast<int>(rows.size())));
}

void ListControl::SetIcons(const std::vector<std::string>& names) {
  model_->SetIcons(names);
}

void ListControl::SetColumnWidths(const std::vector<int>& widths, const DialogBase& base) {
  program_ = true;
  QHeaderView* header = view_->header();
  for (size_t i = 0; i < widths.size() && static_cast<int>(i) < header->count(); ++i) {
    header->resizeSection(static_cast<int>(i), DluToPixelsX(widths[i], base));
  }
  program_ = false;
  LayOut();
}

void ListControl::SelectRow(int row) {
  program_ = true;
  QItemSelectionModel* selection = view_->selectionModel();
  if (row <= 0 || row > model_->rowCount()) {
    selection->clear();
  } else {
    QModelIndex index = model_->index(row - 1, 0);
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  program_ = false;
}

void ListControl::SetChoice(int row) {
  SelectRow(row);
}

int ListControl::Choice() const {
  QModelIndex current = view_->selectionModel()->currentIndex();
  if (!current.isValid() || !view_->selectionModel()->isSelected(current)) return 0;
  return current.row() + 1;
}

void ListControl::ShowHeader(bool show) {
  view_->header()->setHidden(!show);
  LayOut();
}

void ListControl::SetImmediate(bool immediate, bool scroll_bar) {
  immediate_ = immediate;
  scroll_->setVisible(immediate);
  view_->setVerticalScrollBarPolicy(immediate || !scroll_bar ? Qt::ScrollBarAlwaysOff
                                                             : Qt::ScrollBarAsNeeded);
  LayOut();
}

int ListControl::Capacity() const {
  // Computed from the geometry rather than read from the viewport, which is
  // laid out only once the list is shown.
  int frame = view_->frameWidth();
  int height = view_->height() - 2 * frame;
  QHeaderView* header = view_->header();
  if (!header->isHidden()) height -= header->sizeHint().height();
  if (header->length() > view_->width() - 2 * frame) {
    height -= style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  }
  return row_height_ > 0 ? std::max(0, height / row_height_) : 0;
}

void ListControl::LayOut() {
  int bar = scroll_->isHidden() ? 0 : style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  view_->setGeometry(0, 0, std::max(0, width() - bar), height());
  int top = view_->header()->isHidden() ? 0 : view_->header()->sizeHint().height();
  scroll_->setGeometry(width() - bar, top, bar, std::max(0, height() - top));
  ReportCapacity();
}

void ListControl::ReportCapacity() {
  int capacity = Capacity();
  if (capacity == reported_capacity_) return;
  reported_capacity_ = capacity;
  if (on_capacity) on_capacity(capacity);
}

void ListControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void ListControl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    row_height_ = std::max(QFontMetrics(font()).height(), 16) + 4;
    LayOut();
  }
}

void ListControl::OnScrollAction(int action) {
  ScrollAction request;
  int keep = scroll_->value();
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      request = ScrollAction::kLineDown;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      request = ScrollAction::kLineUp;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      request = ScrollAction::kPageDown;
      break;
    case QAbstractSlider::SliderPageStepSub:
      request = ScrollAction::kPageUp;
      break;
    case QAbstractSlider::SliderToMinimum:
      request = ScrollAction::kTop;
      keep = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      request = ScrollAction::kBottom;
      keep = 100;
      break;
    default:
      return;  // a drag reports when the thumb is dropped
  }
  scroll_->setSliderPosition(keep);
  if (on_scroll) on_scroll(request, 0);
}

bool ListControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_->header()->viewport() && event->type() == QEvent::MouseButtonPress) {
    resized_.clear();
  }
  if (watched == view_->header()->viewport() && event->type() == QEvent::MouseButtonRelease &&
      !resized_.empty()) {
    // A drag of a column's edge ends: its final width is the user's choice.
    std::map<int, int> done;
    done.swap(resized_);
    for (const auto& [section, size] : done) {
      if (on_column_width) on_column_width(section + 1, size);
    }
    LayOut();
  }
  if (watched == view_->viewport()) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QModelIndex index = view_->indexAt(mouse->position().toPoint());
        int row = index.isValid() ? index.row() + 1 : 0;
        view_->setFocus(Qt::MouseFocusReason);
        int32_t key = 0;
        if (mouse->button() == Qt::LeftButton) {
          key = event->type() == QEvent::MouseButtonDblClick ? kMouseLeft2 : kMouseLeft;
        } else if (mouse->button() == Qt::RightButton) {
          key = event->type() == QEvent::MouseButtonDblClick ? kMouseRight2 : kMouseRight;
        }
        if (row > 0 && key != 0) {
          SelectRow(row);
          if (on_row) on_row(row, key | ModifierBits(mouse->modifiers()));
        }
        return true;
      }
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove:
        return true;  // no drag-selection
      case QEvent::Wheel: {
        if (!immediate_) break;
        auto* wheel = static_cast<QWheelEvent*>(event);
        wheel_rest_ += wheel->angleDelta().y();
        // One notch (120) scrolls three lines, as desktops do.
        while (wheel_rest_ >= 120 || wheel_rest_ <= -120) {
          ScrollAction action = wheel_rest_ > 0 ? ScrollAction::kLineUp : ScrollAction::kLineDown;
          wheel_rest_ += wheel_rest_ > 0 ? -120 : 120;
          for (int i = 0; i < 3 && on_scroll; ++i) on_scroll(action, 0);
        }
        return true;
      }
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qzr
