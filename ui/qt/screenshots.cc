// Pictures of windows, offscreen.

#include "ui/qt/screenshots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>

#include "ui/keycodes.h"
#include "ui/qt/message_box.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/qt/qt_window.h"
#include "ui/window.h"

namespace qzr {
namespace {

// The offscreen platform's notes on what it cannot do with a window
// ("This plugin does not support raise()") are noise here.
void QuietMessages(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

class ShotToolkit : public QtToolkit, public ScreenshotUser {
 public:
  explicit ShotToolkit(const ScreenshotRun& run) : run_(run) {}

  int failures() const { return failures_; }

  WaitResult WaitForInput(WindowId top) override {
    QtWindow* window = Find(top);
    if (window != nullptr && next_step_ < run_.steps.size()) {
      QApplication::processEvents();
      current_ = window;
      run_.steps[next_step_++](*this);
      current_ = nullptr;
      return WaitResult::kInput;
    }
    return QtToolkit::WaitForInput(top);
  }

  int ShowMessage(const MessageRequest& request) override {
    if (next_message_ < run_.message_files.size()) {
      QMessageBox* box = BuildMessageBox(request, TopWindow());
      box->setWindowModality(Qt::NonModal);
      box->show();
      box->adjustSize();
      Write(box, run_.message_files[next_message_++]);
      delete box;
    }
    return request.default_button;
  }

  void Save(const std::string& file) override { Write(current_, file); }

  void ChooseTab(int sheet, int tab) override {
    if (auto* tabs = qobject_cast<QTabWidget*>(current_ ? current_->Widget(sheet) : nullptr)) {
      tabs->setCurrentIndex(tab - 1);
    }
  }

  void Click(int control) override {
    if (auto* b = qobject_cast<QAbstractButton*>(current_ ? current_->Widget(control) : nullptr)) {
      // As a mouse click does: the focus first (an entry left behind
      // finishes its edit), then the click.
      b->setFocus(Qt::MouseFocusReason);
      QApplication::processEvents();
      b->click();
    }
  }

  void Type(int control, const std::string& text) override {
    if (auto* e = qobject_cast<QLineEdit*>(current_ ? current_->Widget(control) : nullptr)) {
      current_->activateWindow();
      e->setFocus(Qt::MouseFocusReason);
      QApplication::processEvents();
      const QString q = QString::fromStdString(text);
      e->setText(q);
      emit e->textEdited(q);  // as a user's typing reports it
    }
  }

  void Key(int32_t keycode) override {
    if (current_ == nullptr) return;
    current_->activateWindow();
    QApplication::processEvents();
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != current_) target = current_;
    Qt::KeyboardModifiers modifiers;
    if (keycode & kShift) modifiers |= Qt::ShiftModifier;
    if (keycode & kCtrl) modifiers |= Qt::ControlModifier;
    if (keycode & kAlt) modifiers |= Qt::AltModifier;
    const int key = keycode & kKeyMask;  // letters and digits are their Qt keys
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
  }

  void Close() override {
    if (current_ != nullptr) current_->close();
  }

 private:
  void Write(QWidget* widget, const std::string& file) {
    if (widget == nullptr) {
      std::fprintf(stderr, "screenshots: no window for %s\n", file.c_str());
      ++failures_;
      return;
    }
    QApplication::processEvents();
    QString path =
        QDir(QString::fromStdString(run_.output_dir)).filePath(QString::fromStdString(file));
    if (widget->grab().save(path, "PNG")) {
      std::printf("wrote %s\n", path.toLocal8Bit().constData());
    } else {
      std::fprintf(stderr, "screenshots: could not write %s\n", path.toLocal8Bit().constData());
      ++failures_;
    }
  }

  const ScreenshotRun& run_;
  size_t next_step_ = 0;
  size_t next_message_ = 0;
  QtWindow* current_ = nullptr;
  int failures_ = 0;
};

}  // namespace

int RunScreenshots(int argc, char** argv, const ScreenshotRun& run,
                   const std::function<int()>& program) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QtMessageHandler previous = qInstallMessageHandler(QuietMessages);
  QApplication::setApplicationDisplayName("QZR Functions Database");
  int result = 1;
  int failures = 0;
  {
    QApplication app(argc, argv);
    QDir().mkpath(QString::fromStdString(run.output_dir));
    ShotToolkit toolkit(run);
    {
      ScopedBackend scope(&toolkit);
      result = program();
    }
    failures = toolkit.failures();
  }
  qInstallMessageHandler(previous);
  if (result != 0) std::fprintf(stderr, "screenshots: the program ended with %d\n", result);
  return result == 0 && failures == 0 ? 0 : 1;
}

}  // namespace qzr
