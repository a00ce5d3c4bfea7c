// A desktop window built from its definition.

#include "ui/qt/qt_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <cmath>

#include "ui/keycodes.h"
#include "ui/qt/code_view.h"
#include "ui/qt/cursors.h"
#include "ui/qt/icons.h"
#include "ui/qt/list_control.h"
#include "ui/qt/text_limit.h"

namespace qzr {

// Marks a program change for its scope: the widgets' signals still reach
// our slots, which see the mark and report nothing.
class QtWindow::ProgramChange {
 public:
  explicit ProgramChange(QtWindow* w) : w_(w) { ++w_->program_; }
  ~ProgramChange() { --w_->program_; }
  ProgramChange(const ProgramChange&) = delete;
  ProgramChange& operator=(const ProgramChange&) = delete;

 private:
  QtWindow* w_;
};

namespace {

const char kControlProperty[] = "qzrControl";

QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string Utf8(const QString& text) {
  QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// A transparent area that takes clicks.
class RegionWidget : public QWidget {
 public:
  explicit RegionWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
  }
  std::function<void()> on_click;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && on_click) on_click();
  }
};

}  // namespace

QtWindow::QtWindow(WindowId id, const WindowDef& def, QWidget* owner)
    : QWidget(owner, Qt::Window), id_(id), def_(def) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setFont(FontForFace(def.font, def.font_size));
  base_ = BaseUnitsOf(font());
  setWindowTitle(Q(def.caption));
  if (!def.icon.empty()) setWindowIcon(IconByName(def.icon));
  timer_.setParent(this);
  connect(&timer_, &QTimer::timeout, this, [this] { InputSink::TimerFired(id_); });
}

QtWindow::~QtWindow() = default;

int QtWindow::PixelsToDluX(int pixels) const {
  return static_cast<int>(std::lround(pixels * 4.0 / base_.x));
}

int QtWindow::PixelsToDluY(int pixels) const {
  return static_cast<int>(std::lround(pixels * 8.0 / base_.y));
}

QFont QtWindow::FontOf(const ControlDef& def) const {
  if (def.font.empty() && def.font_size == 0) return font();
  return FontForFace(def.font.empty() ? def_.font : def.font,
                     def.font_size > 0 ? def.font_size : def_.font_size);
}

bool QtWindow::Build(std::string* error) {
  ProgramChange change(this);
  QRect client = DluToPixels(QRect(def_.at.x, def_.at.y, def_.at.width, def_.at.height), base_);
  resize(std::max(client.width(), 1), std::max(client.height(), 1));
  if (!def_.resizable) setFixedSize(size());
  if (def_.at.x != 0 || def_.at.y != 0) move(client.topLeft());
  for (size_t i = 0; i < def_.controls.size(); ++i) {
    ControlDef d = def_.controls[i];
    d.number = ControlNumber(def_, i);
    if (!AddControl(d, error)) return false;
  }
  return true;
}

bool QtWindow::AddControl(const ControlDef& def, std::string* error) {
  ProgramChange change(this);
  if (controls_.count(def.number) != 0) {
    *error = "control " + std::to_string(def.number) + " already exists";
    return false;
  }
  // A prompt belongs to the control after it: its "&" letter focuses that.
  QLabel* prompt = nullptr;
  if (!order_.empty()) {
    const Control& previous = controls_.at(order_.back());
    if (previous.def.kind == ControlKind::kPrompt) prompt = qobject_cast<QLabel*>(previous.widget);
  }
  Control& c = controls_[def.number];
  c.def = def;
  c.flags = def.flags;
  order_.push_back(def.number);
  c.widget = MakeWidget(&c, error);
  if (c.widget == nullptr && !error->empty()) {
    controls_.erase(def.number);
    order_.pop_back();
    return false;
  }
  if (c.widget != nullptr) {
    c.widget->setProperty(kControlProperty, def.number);
    if (!def.tip.empty()) c.widget->setToolTip(Q(def.tip));
    if (!def.cursor.empty()) c.widget->setCursor(CursorShapeByName(def.cursor));
    if (!def.font.empty() || def.font_size != 0) {
      if (def.kind != ControlKind::kText || qobject_cast<CodeView*>(c.widget) == nullptr) {
        c.widget->setFont(FontOf(def));
      }
    }
    c.widget->setEnabled(!(def.flags & kControlDisabled));
    if (prompt != nullptr) prompt->setBuddy(c.widget);
    if (def.flags & kControlSkip) c.widget->setFocusPolicy(Qt::ClickFocus);
    Place(c);
  }
  // Stacking: sheets at the bottom, groups above them, the rest on top.
  for (auto& [number, other] : controls_) {
    if (other.widget &&
        (other.def.kind == ControlKind::kGroup || other.def.kind == ControlKind::kOption)) {
      other.widget->lower();
    }
  }
  for (auto& [number, other] : controls_) {
    if (other.widget && other.def.kind == ControlKind::kSheet) other.widget->lower();
  }
  UpdateVisibility();
  return true;
}

QWidget* QtWindow::MakeWidget(Control* c, std::string* error) {
  const ControlDef& d = c->def;
  const int number = d.number;
  const WindowId id = id_;
  switch (d.kind) {
    case ControlKind::kSheet: {
      auto* tabs = new QTabWidget(this);
      connect(tabs, &QTabWidget::currentChanged, this, [this, number, id](int index) {
        UpdateVisibility();
        if (program_ == 0 && index >= 0) InputSink::TabSelected(id, number, index + 1);
      });
      return tabs;
    }
    case ControlKind::kTab: {
      auto it = controls_.find(d.parent);
      auto* tabs = it == controls_.end() ? nullptr : qobject_cast<QTabWidget*>(it->second.widget);
      if (tabs == nullptr) {
        *error = "tab " + std::to_string(number) + " is not on a sheet";
        return nullptr;
      }
      QSignalBlocker block(tabs);
      c->tab_index = tabs->addTab(new QWidget(), Q(d.text));
      return nullptr;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(Q(d.text), this);
      if (!d.icon.empty()) button->setIcon(IconByName(d.icon));
      button->setAutoDefault(false);
      button->setDefault((d.flags & kControlDefault) != 0);
      connect(button, &QPushButton::clicked, this, [this, number, id] {
        if (program_ > 0) return;
        InputSink::Clicked(id, number, last_key_ != 0 ? last_key_ : kMouseLeft);
      });
      return button;
    }
    case ControlKind::kPrompt:
    case ControlKind::kString: {
      auto* label = new QLabel(this);
      label->setTextFormat(Qt::PlainText);
      label->setText(Q(d.text));
      label->setWordWrap((d.flags & kControlMultiLine) != 0);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case ControlKind::kEntry:
    case ControlKind::kSpin: {
      auto* edit = new QLineEdit(this);
      auto* validator = new ByteCapacityValidator(0, edit);
      validator->SetUpperCase((d.flags & kControlUpperCase) != 0);
      edit->setValidator(validator);
      validator->SetProgramText(edit, Q(d.text));
      edit->setReadOnly((d.flags & kControlReadOnly) != 0);
      if (d.flags & kControlPassword) edit->setEchoMode(QLineEdit::Password);
      connect(edit, &QLineEdit::textEdited, this, [this, number, id](const QString& text) {
        if (program_ == 0) InputSink::TextChanged(id, number, Utf8(text));
      });
      return edit;
    }
    case ControlKind::kText: {
      std::string_view face = d.font.empty() ? std::string_view(def_.font) : d.font;
      if (IsFixedFace(face)) {
        auto* code = new CodeView(this);
        code->SetCode(d.text);
        code->setReadOnly((d.flags & kControlReadOnly) != 0);
        connect(code, &QsciScintilla::textChanged, this, [this, number, id, code] {
          if (program_ == 0) InputSink::TextChanged(id, number, code->Code());
        });
        return code;
      }
      auto* text = new LimitedPlainTextEdit(this);
      text->setPlainText(Q(d.text));
      text->setReadOnly((d.flags & kControlReadOnly) != 0);
      text->setTabChangesFocus(true);
      text->setLineWrapMode((d.flags & kControlHScroll) ? QPlainTextEdit::NoWrap
                                                        : QPlainTextEdit::WidgetWidth);
      connect(text, &QPlainTextEdit::textChanged, this, [this, number, id, text] {
        if (program_ == 0) InputSink::TextChanged(id, number, Utf8(text->toPlainText()));
      });
      return text;
    }
    case ControlKind::kCheck: {
      auto* check = new QCheckBox(Q(d.text), this);
      connect(check, &QCheckBox::clicked, this, [this, number, id](bool checked) {
        if (program_ == 0) InputSink::Toggled(id, number, checked);
      });
      return check;
    }
    case ControlKind::kRadio: {
      auto* radio = new QRadioButton(Q(d.text), this);
      radio->setAutoExclusive(false);  // the option's variable decides
      connect(radio, &QRadioButton::clicked, this, [this, number, id] {
        if (program_ == 0) InputSink::Clicked(id, number, last_key_ != 0 ? last_key_ : kMouseLeft);
      });
      return radio;
    }
    case ControlKind::kList: {
      auto* list = new ListControl(this);
      list->setFont(FontOf(d));
      std::string why;
      if (!ParseListFormat(d.format, &c->format, &why)) {
        *error = "list " + std::to_string(number) + ": bad list format: " + why;
        delete list;
        return nullptr;
      }
      list->SetFormat(c->format, base_);
      list->SetImmediate((d.flags & kControlImmediate) != 0, (d.flags & kControlVScroll) != 0);
      list->on_row = [this, number, id](int row, int32_t key) {
        if (program_ == 0) InputSink::RowClicked(id, number, row, key);
      };
      list->on_scroll = [this, number, id](ScrollAction action, int percent) {
        if (program_ == 0) InputSink::Scrolled(id, number, action, percent);
      };
      list->on_header = [this, number, id](int column, int32_t modifiers) {
        if (program_ == 0) InputSink::HeaderClicked(id, number, column, modifiers);
      };
      list->on_column_width = [this, number, id](int column, int pixels) {
        if (program_ == 0) {
          InputSink::ColumnResized(id, number, column, std::max(1, PixelsToDluX(pixels)));
        }
      };
      // Reported after the current change is done: the core hears of the
      // list's capacity between its own calls, never inside one.
      list->on_capacity = [this, number, id](int rows) {
        QMetaObject::invokeMethod(
            this, [id, number, rows] { InputSink::ListCapacity(id, number, rows); },
            Qt::QueuedConnection);
      };
      return list;
    }
    case ControlKind::kCombo: {
      auto* combo = new QComboBox(this);
      combo->setEditable(true);
      connect(combo, &QComboBox::activated, this, [this, number, id](int index) {
        if (program_ == 0) InputSink::RowClicked(id, number, index + 1, kMouseLeft);
      });
      return combo;
    }
    case ControlKind::kImage: {
      auto* image = new QLabel(this);
      image->setAlignment(Qt::AlignCenter);
      std::string source = d.icon.empty() ? d.text : d.icon;
      if (!source.empty()) {
        QPixmap pixmap(Q(source));
        image->setPixmap(pixmap.isNull() ? IconByName(source).pixmap(32, 32) : pixmap);
      }
      return image;
    }
    case ControlKind::kRegion: {
      if (d.flags & kControlHeaderRegion) {
        auto it = controls_.find(d.parent);
        if (it != controls_.end()) {
          if (auto* list = qobject_cast<ListControl*>(it->second.widget)) list->ShowHeader(true);
        }
        return nullptr;
      }
      auto* region = new RegionWidget(this);
      region->on_click = [this, number, id] {
        if (program_ == 0) InputSink::Clicked(id, number, kMouseLeft);
      };
      return region;
    }
    case ControlKind::kGroup:
    case ControlKind::kOption:
      return new QGroupBox(Q(d.text), this);
    case ControlKind::kBox: {
      auto* frame = new QFrame(this);
      frame->setFrameShape(QFrame::Box);
      return frame;
    }
    case ControlKind::kLine: {
      auto* frame = new QFrame(this);
      frame->setFrameShape(d.at.width >= d.at.height ? QFrame::HLine : QFrame::VLine);
      return frame;
    }
  }
  *error = "control " + std::to_string(number) + ": unknown kind";
  return nullptr;
}

void QtWindow::Place(const Control& c) {
  if (c.widget == nullptr) return;
  QRect r = DluToPixels(QRect(c.def.at.x, c.def.at.y, c.def.at.width, c.def.at.height), base_);
  QSize hint = c.widget->sizeHint();
  if (r.width() <= 0) r.setWidth(hint.width());
  if (r.height() <= 0) r.setHeight(hint.height());
  c.widget->setGeometry(r);
}

bool QtWindow::EffectivelyVisible(int number, int depth) const {
  auto it = controls_.find(number);
  if (it == controls_.end() || depth > 64) return false;
  const Control& c = it->second;
  if (c.flags & kControlHidden) return false;
  if (c.def.kind == ControlKind::kTab) {
    auto sheet = controls_.find(c.def.parent);
    if (sheet == controls_.end()) return false;
    auto* tabs = qobject_cast<QTabWidget*>(sheet->second.widget);
    if (tabs == nullptr || tabs->currentIndex() != c.tab_index) return false;
  }
  if (c.def.parent == 0 || c.def.parent == number) return true;
  return EffectivelyVisible(c.def.parent, depth + 1);
}

void QtWindow::UpdateVisibility() {
  for (auto& [number, c] : controls_) {
    if (c.def.kind == ControlKind::kTab) {
      auto sheet = controls_.find(c.def.parent);
      if (sheet != controls_.end()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(sheet->second.widget)) {
          QSignalBlocker block(tabs);
          tabs->setTabVisible(c.tab_index, !(c.flags & kControlHidden));
        }
      }
      continue;
    }
    if (c.widget != nullptr) c.widget->setVisible(EffectivelyVisible(number));
  }
}

int QtWindow::ControlOf(const QObject* object) const {
  for (const QObject* o = object; o != nullptr && o != this; o = o->parent()) {
    QVariant v = o->property(kControlProperty);
    if (v.isValid()) return v.toInt();
  }
  return 0;
}

QWidget* QtWindow::Widget(int control) const {
  auto it = controls_.find(control);
  return it == controls_.end() ? nullptr : it->second.widget;
}

const QtWindow::Control* QtWindow::Find(int control) const {
  auto it = controls_.find(control);
  return it == controls_.end() ? nullptr : &it->second;
}

std::vector<int> QtWindow::ControlNumbers() const {
  return order_;
}

std::string QtWindow::TextOf(int control) const {
  QWidget* w = Widget(control);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return Utf8(edit->text());
  if (auto* code = qobject_cast<CodeView*>(w)) return code->Code();
  if (auto* text = qobject_cast<QPlainTextEdit*>(w)) return Utf8(text->toPlainText());
  if (auto* label = qobject_cast<QLabel*>(w)) return Utf8(label->text());
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return Utf8(button->text());
  if (auto* group = qobject_cast<QGroupBox*>(w)) return Utf8(group->title());
  if (auto* combo = qobject_cast<QComboBox*>(w)) return Utf8(combo->currentText());
  const Control* c = Find(control);
  if (c != nullptr && c->def.kind == ControlKind::kTab) {
    if (auto* tabs = qobject_cast<QTabWidget*>(Widget(c->def.parent))) {
      return Utf8(tabs->tabText(c->tab_index));
    }
  }
  return {};
}

// ---------------------------------------------------------------------------
// Program changes

void QtWindow::SetCaption(std::string_view caption) {
  ProgramChange change(this);
  setWindowTitle(Q(caption));
}

void QtWindow::SetWindowRect(const Rect& rect) {
  ProgramChange change(this);
  QRect r = DluToPixels(QRect(rect.x, rect.y, rect.width, rect.height), base_);
  if (!def_.resizable) setFixedSize(std::max(r.width(), 1), std::max(r.height(), 1));
  resize(std::max(r.width(), 1), std::max(r.height(), 1));
  if (rect.x != 0 || rect.y != 0) move(r.topLeft());
}

void QtWindow::SetWindowState(WindowState state) {
  ProgramChange change(this);
  switch (state) {
    case WindowState::kIconized:
      showMinimized();
      break;
    case WindowState::kMaximized:
      showMaximized();
      break;
    case WindowState::kNormal:
      showNormal();
      break;
  }
}

void QtWindow::SetSizeLimits(int min_width, int min_height, int max_width, int max_height) {
  ProgramChange change(this);
  if (!def_.resizable) return;
  setMinimumSize(DluToPixelsX(min_width, base_), DluToPixelsY(min_height, base_));
  setMaximumSize(max_width > 0 ? DluToPixelsX(max_width, base_) : QWIDGETSIZE_MAX,
                 max_height > 0 ? DluToPixelsY(max_height, base_) : QWIDGETSIZE_MAX);
}

void QtWindow::SetTimer(int hundredths) {
  if (hundredths <= 0) {
    timer_.stop();
  } else {
    timer_.start(hundredths * 10);
  }
}

void QtWindow::SetControlText(int control, std::string_view text) {
  ProgramChange change(this);
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  Control& c = it->second;
  QWidget* w = c.widget;
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    QSignalBlocker block(edit);
    if (auto* v = qobject_cast<const ByteCapacityValidator*>(edit->validator())) {
      const_cast<ByteCapacityValidator*>(v)->SetProgramText(edit, Q(text));
    } else {
      edit->setText(Q(text));
    }
  } else if (auto* code = qobject_cast<CodeView*>(w)) {
    code->SetCode(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    QSignalBlocker block(plain);
    // Unchanged text is left alone, so the cursor and the scroll position
    // stay where the user had them.
    QString fresh = Q(text);
    if (plain->toPlainText() != fresh) plain->setPlainText(fresh);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (c.def.kind == ControlKind::kImage) {
      QPixmap pixmap(Q(text));
      label->setPixmap(pixmap.isNull() ? IconByName(text).pixmap(32, 32) : pixmap);
    } else {
      label->setText(Q(text));
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(Q(text));
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    group->setTitle(Q(text));
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QSignalBlocker block(combo);
    combo->setEditText(Q(text));
  } else if (c.def.kind == ControlKind::kTab) {
    if (auto* tabs = qobject_cast<QTabWidget*>(Widget(c.def.parent))) {
      tabs->setTabText(c.tab_index, Q(text));
    }
  }
}

void QtWindow::SetControlFlags(int control, uint32_t flags) {
  ProgramChange change(this);
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  Control& c = it->second;
  constexpr uint32_t kChanging =
      kControlHidden | kControlDisabled | kControlReadOnly | kControlDefault;
  c.flags = (c.flags & ~kChanging) | (flags & kChanging);
  bool disabled = (c.flags & kControlDisabled) != 0;
  bool read_only = (c.flags & kControlReadOnly) != 0;
  if (c.widget != nullptr) c.widget->setEnabled(!disabled);
  if (c.def.kind == ControlKind::kTab) {
    if (auto* tabs = qobject_cast<QTabWidget*>(Widget(c.def.parent))) {
      tabs->setTabEnabled(c.tab_index, !disabled);
    }
  }
  if (auto* button = qobject_cast<QPushButton*>(c.widget)) {
    button->setDefault((c.flags & kControlDefault) != 0);
  }
  if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) edit->setReadOnly(read_only);
  if (auto* code = qobject_cast<CodeView*>(c.widget)) code->setReadOnly(read_only);
  if (auto* plain = qobject_cast<QPlainTextEdit*>(c.widget)) plain->setReadOnly(read_only);
  UpdateVisibility();
}

void QtWindow::SetTextCapacity(int control, size_t bytes) {
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  QWidget* w = it->second.widget;
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    if (auto* v = qobject_cast<const ByteCapacityValidator*>(edit->validator())) {
      const_cast<ByteCapacityValidator*>(v)->SetCapacity(bytes);
    }
  } else if (auto* code = qobject_cast<CodeView*>(w)) {
    code->SetCapacity(bytes);
  } else if (auto* text = qobject_cast<LimitedPlainTextEdit*>(w)) {
    text->SetCapacity(bytes);
  }
}

void QtWindow::SetControlRect(int control, const Rect& rect) {
  ProgramChange change(this);
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  it->second.def.at = rect;
  Place(it->second);
}

void QtWindow::ApplyAppearance(Control* c, const Appearance& a) {
  QWidget* w = c->widget;
  if (w == nullptr) return;
  w->setToolTip(Q(a.tip));
  if (a.cursor.empty()) {
    w->unsetCursor();
  } else {
    w->setCursor(CursorShapeByName(a.cursor));
  }
  if (!a.icon.empty()) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setIcon(IconByName(a.icon));
    if (auto* label = qobject_cast<QLabel*>(w); label && c->def.kind == ControlKind::kImage) {
      label->setPixmap(IconByName(a.icon).pixmap(32, 32));
    }
  }
  QPalette palette = w->parentWidget() ? w->parentWidget()->palette() : w->palette();
  auto color = [](int32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
  };
  if (a.font_color != kColorNone) {
    palette.setColor(QPalette::WindowText, color(a.font_color));
    palette.setColor(QPalette::Text, color(a.font_color));
    palette.setColor(QPalette::ButtonText, color(a.font_color));
  }
  if (a.back_color != kColorNone) {
    palette.setColor(QPalette::Window, color(a.back_color));
    palette.setColor(QPalette::Base, color(a.back_color));
    w->setAutoFillBackground(true);
  }
  w->setPalette(palette);
  QFont f = FontOf(c->def);
  if (qobject_cast<CodeView*>(w) == nullptr) {
    f.setBold((a.font_style & kFontBold) != 0);
    f.setItalic((a.font_style & kFontItalic) != 0);
    f.setUnderline((a.font_style & kFontUnderline) != 0);
    w->setFont(f);
  }
}

void QtWindow::SetAppearance(int control, const Appearance& appearance) {
  ProgramChange change(this);
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  ApplyAppearance(&it->second, appearance);
}

void QtWindow::SetChecked(int control, bool checked) {
  ProgramChange change(this);
  if (auto* button = qobject_cast<QAbstractButton*>(Widget(control))) {
    QSignalBlocker block(button);
    button->setChecked(checked);
  }
}

void QtWindow::SetRows(int list, const std::vector<ListRow>& rows) {
  ProgramChange change(this);
  QWidget* w = Widget(list);
  if (auto* l = qobject_cast<ListControl*>(w)) {
    l->SetRows(rows);
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QSignalBlocker block(combo);
    QString text = combo->currentText();
    combo->clear();
    for (const ListRow& row : rows) {
      combo->addItem(row.empty() ? QString() : ListRowsModel::FirstLine(row.front().text));
    }
    combo->setEditText(text);
  }
}

void QtWindow::SetIcons(int list, const std::vector<std::string>& icons) {
  ProgramChange change(this);
  if (auto* l = qobject_cast<ListControl*>(Widget(list))) l->SetIcons(icons);
}

void QtWindow::SetColumnWidths(int list, const std::vector<int>& widths) {
  ProgramChange change(this);
  if (auto* l = qobject_cast<ListControl*>(Widget(list))) l->SetColumnWidths(widths, base_);
}

void QtWindow::SetChoice(int control, int choice) {
  ProgramChange change(this);
  QWidget* w = Widget(control);
  if (auto* l = qobject_cast<ListControl*>(w)) {
    l->SetChoice(choice);
  } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
    // The sheet's choice counts its tabs in definition order.
    int index = 0;
    for (int number : order_) {
      const Control& c = controls_.at(number);
      if (c.def.kind == ControlKind::kTab && c.def.parent == control && ++index == choice) {
        tabs->setCurrentIndex(c.tab_index);
      }
    }
    UpdateVisibility();
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QSignalBlocker block(combo);
    combo->setCurrentIndex(choice - 1);
  }
}

void QtWindow::SetFocusTo(int control) {
  ProgramChange change(this);
  if (QWidget* w = Widget(control)) {
    w->setFocus(Qt::OtherFocusReason);
  } else if (control == 0) {
    setFocus(Qt::OtherFocusReason);
  }
}

// ---------------------------------------------------------------------------
// The window's own events

void QtWindow::closeEvent(QCloseEvent* event) {
  // Closing is the procedure's decision: the close box only asks.
  event->ignore();
  InputSink::CloseRequested(id_);
}

void QtWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (program_ == 0) InputSink::Resized(id_, PixelsToDluX(width()), PixelsToDluY(height()));
}

void QtWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (program_ == 0) InputSink::Moved(id_, PixelsToDluX(x()), PixelsToDluY(y()));
}

void QtWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || program_ > 0) return;
  WindowState state = WindowState::kNormal;
  if (windowState() & Qt::WindowMinimized) {
    state = WindowState::kIconized;
  } else if (windowState() & Qt::WindowMaximized) {
    state = WindowState::kMaximized;
  }
  InputSink::StateChanged(id_, state);
}

}  // namespace qzr
