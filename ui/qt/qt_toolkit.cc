// The desktop toolkit on Qt 6 Widgets.

#include "ui/qt/qt_toolkit.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QThread>
#include <algorithm>
#include <functional>

#include "ui/message.h"
#include "ui/qt/code_view.h"
#include "ui/qt/cursors.h"
#include "ui/qt/key_map.h"
#include "ui/qt/message_box.h"
#include "ui/qt/qt_window.h"

namespace qzr {
namespace {

bool OnGuiThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

void AddItems(QMenu* menu, const std::vector<PopupItem>& items) {
  for (const PopupItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
    } else if (item.is_submenu()) {
      AddItems(menu->addMenu(QString::fromUtf8(item.text)), item.submenu);
    } else {
      QAction* action = menu->addAction(QString::fromUtf8(item.text));
      action->setData(item.number);
      action->setEnabled(!item.disabled);
      if (item.check != 0) {
        action->setCheckable(true);
        action->setChecked(item.check > 0);
      }
    }
  }
}

}  // namespace

QtToolkit::QtToolkit() {
  QApplication::setQuitOnLastWindowClosed(false);
  qApp->installEventFilter(this);
}

QtToolkit::~QtToolkit() {
  qApp->removeEventFilter(this);
  for (auto& [id, window] : windows_) delete window;
  if (overridden_) QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------
// Messages, cursor, beep

int QtToolkit::ShowMessage(const MessageRequest& request) {
  if (QCoreApplication::instance() == nullptr) return request.default_button;
  if (OnGuiThread()) return RunMessageBox(request, TopWindow());
  int answer = request.default_button;
  QMetaObject::invokeMethod(
      this, [&] { answer = RunMessageBox(request, TopWindow()); }, Qt::BlockingQueuedConnection);
  return answer;
}

void QtToolkit::SetCursorOnGuiThread(int cursor) {
  if (cursor == kCursorNormal) {
    if (overridden_) QApplication::restoreOverrideCursor();
    overridden_ = false;
    return;
  }
  QCursor shape(CursorShapeByNumber(cursor));
  if (overridden_) {
    QApplication::changeOverrideCursor(shape);
  } else {
    QApplication::setOverrideCursor(shape);
    overridden_ = true;
  }
}

void QtToolkit::SetCursor(int cursor) {
  if (OnGuiThread()) {
    SetCursorOnGuiThread(cursor);
  } else {
    QMetaObject::invokeMethod(
        this, [this, cursor] { SetCursorOnGuiThread(cursor); }, Qt::QueuedConnection);
  }
}

void QtToolkit::Beep(int type) {
  ++beeps_;
  if (OnGuiThread()) {
    QApplication::beep();
  } else {
    QMetaObject::invokeMethod(
        this, [] { QApplication::beep(); }, Qt::QueuedConnection);
  }
}

// ---------------------------------------------------------------------------
// Windows

QtWindow* QtToolkit::Find(WindowId id) const {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : it->second;
}

QtWindow* QtToolkit::TopWindow() const {
  return opened_.empty() ? nullptr : Find(opened_.back());
}

bool QtToolkit::CreateWindow(WindowId id, const WindowDef& def, WindowId owner,
                             std::string* error) {
  if (windows_.count(id) != 0) {
    *error = "window " + std::to_string(id) + " is already open";
    return false;
  }
  QtWindow* below = owner != 0 ? Find(owner) : TopWindow();
  auto* window = new QtWindow(id, def, below);
  std::string why;
  if (!window->Build(&why)) {
    delete window;
    *error = "window \"" + def.name + "\": " + why;
    return false;
  }
  if (def.modal && below != nullptr) window->setWindowModality(Qt::ApplicationModal);
  windows_[id] = window;
  opened_.push_back(id);
  if (below != nullptr) {
    // Centred over the window below, as forms open.
    QRect area = below->frameGeometry();
    window->move(area.center() - window->rect().center());
  }
  window->show();
  window->raise();
  window->activateWindow();
  return true;
}

void QtToolkit::DestroyWindow(WindowId id) {
  auto it = windows_.find(id);
  if (it == windows_.end()) return;
  QtWindow* window = it->second;
  windows_.erase(it);
  opened_.erase(std::remove(opened_.begin(), opened_.end(), id), opened_.end());
  window->hide();
  delete window;
  if (QtWindow* top = TopWindow()) {
    top->raise();
    top->activateWindow();
  }
}

bool QtToolkit::AddControl(WindowId id, const ControlDef& control, std::string* error) {
  QtWindow* w = Find(id);
  if (w == nullptr) {
    *error = "no window " + std::to_string(id);
    return false;
  }
  return w->AddControl(control, error);
}

void QtToolkit::SetCaption(WindowId id, std::string_view caption) {
  if (QtWindow* w = Find(id)) w->SetCaption(caption);
}

void QtToolkit::SetWindowRect(WindowId id, const Rect& rect) {
  if (QtWindow* w = Find(id)) w->SetWindowRect(rect);
}

void QtToolkit::SetWindowState(WindowId id, WindowState state) {
  if (QtWindow* w = Find(id)) w->SetWindowState(state);
}

void QtToolkit::SetSizeLimits(WindowId id, int min_width, int min_height, int max_width,
                              int max_height) {
  if (QtWindow* w = Find(id)) w->SetSizeLimits(min_width, min_height, max_width, max_height);
}

void QtToolkit::SetTimer(WindowId id, int hundredths) {
  if (QtWindow* w = Find(id)) w->SetTimer(hundredths);
}

void QtToolkit::SetControlText(WindowId id, int control, std::string_view text) {
  if (QtWindow* w = Find(id)) w->SetControlText(control, text);
}

void QtToolkit::SetControlFlags(WindowId id, int control, uint32_t flags) {
  if (QtWindow* w = Find(id)) w->SetControlFlags(control, flags);
}

void QtToolkit::SetControlRect(WindowId id, int control, const Rect& rect) {
  if (QtWindow* w = Find(id)) w->SetControlRect(control, rect);
}

void QtToolkit::BeginMoves(WindowId id) {
  // One repaint for the whole batch, once it is placed.
  if (QtWindow* w = Find(id)) w->setUpdatesEnabled(false);
}

void QtToolkit::EndMoves(WindowId id) {
  if (QtWindow* w = Find(id)) w->setUpdatesEnabled(true);
}

void QtToolkit::SetTextCapacity(WindowId id, int control, size_t bytes) {
  if (QtWindow* w = Find(id)) w->SetTextCapacity(control, bytes);
}

void QtToolkit::SetAppearance(WindowId id, int control, const Appearance& appearance) {
  if (QtWindow* w = Find(id)) w->SetAppearance(control, appearance);
}

void QtToolkit::SetChecked(WindowId id, int control, bool checked) {
  if (QtWindow* w = Find(id)) w->SetChecked(control, checked);
}

void QtToolkit::SetRows(WindowId id, int list, const std::vector<ListRow>& rows) {
  if (QtWindow* w = Find(id)) w->SetRows(list, rows);
}

void QtToolkit::SetIcons(WindowId id, int list, const std::vector<std::string>& icons) {
  if (QtWindow* w = Find(id)) w->SetIcons(list, icons);
}

void QtToolkit::SetColumnWidths(WindowId id, int list, const std::vector<int>& widths) {
  if (QtWindow* w = Find(id)) w->SetColumnWidths(list, widths);
}

void QtToolkit::SetChoice(WindowId id, int control, int choice) {
  if (QtWindow* w = Find(id)) w->SetChoice(control, choice);
}

void QtToolkit::SetFocus(WindowId id, int control) {
  if (QtWindow* w = Find(id)) w->SetFocusTo(control);
}

int QtToolkit::ShowPopup(WindowId id, const PopupMenu& menu) {
  QMenu popup(Find(id));
  AddItems(&popup, menu.items);
  QAction* chosen = popup.exec(QCursor::pos());
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

// ---------------------------------------------------------------------------
// Waiting

WaitResult QtToolkit::WaitForInput(WindowId top) {
  if (woken_.exchange(false)) return WaitResult::kInput;
  if (QCoreApplication::closingDown()) return WaitResult::kNoMoreInput;
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  // Objects deleted later are not collected outside exec(): collect them.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  woken_.store(false);
  return WaitResult::kInput;
}

void QtToolkit::Wake() {
  woken_.store(true);
  if (QCoreApplication::instance() == nullptr) return;
  if (QAbstractEventDispatcher* d =
          QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread())) {
    d->wakeUp();
  }
}

// ---------------------------------------------------------------------------
// Keys, focus and the mouse, application-wide

QtWindow* QtToolkit::WindowOf(QObject* object) const {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  auto* window = qobject_cast<QtWindow*>(widget->window());
  if (window == nullptr) return nullptr;
  return windows_.count(window->Id()) != 0 ? window : nullptr;
}

bool QtToolkit::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      QtWindow* window = WindowOf(watched);
      if (window == nullptr || watched != QApplication::focusWidget()) break;
      auto* key = static_cast<QKeyEvent*>(event);
      int32_t code = KeyCodeOf(*key);
      if (code == 0) break;
      window->NoteInput(code);
      if (InputSink::KeyPressed(window->Id(), window->ControlOf(watched), code)) return true;
      break;
    }
    case QEvent::ShortcutOverride: {
      // A mnemonic (Alt+S) presses its button through Qt's shortcuts, past
      // the KeyPress above: note the key so the click reports it.
      QtWindow* window = WindowOf(watched);
      if (window == nullptr) break;
      int32_t code = KeyCodeOf(*static_cast<QKeyEvent*>(event));
      if (code != 0) window->NoteInput(code);
      break;
    }
    case QEvent::MouseButtonPress: {
      if (QtWindow* window = WindowOf(watched)) window->NoteInput(0);
      break;
    }
    case QEvent::Enter:
    case QEvent::Leave: {
      // Entering a control, or leaving one for the window's background.
      QtWindow* window = WindowOf(watched);
      if (window == nullptr || watched == window) break;
      int control = window->ControlOf(watched);
      if (control == 0) break;
      if (event->type() == QEvent::Enter) {
        InputSink::MouseOver(window->Id(), control);
      } else if (auto* widget = qobject_cast<QWidget*>(watched);
                 widget != nullptr && widget->property("qzrControl").isValid()) {
        InputSink::MouseOver(window->Id(), 0);
      }
      break;
    }
    case QEvent::FocusIn: {
      QtWindow* window = WindowOf(watched);
      if (window == nullptr || window->InProgramChange()) break;
      int control = window->ControlOf(watched);
      if (control != 0) InputSink::FocusMoved(window->Id(), control);
      break;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qzr
