// qzr_screenshots: renders the program's windows to PNG files, offscreen,
// for a person to look at (scripts/screenshots runs it).
//
//   qzr_screenshots OUTPUT_DIR
//
// Writes gallery.png (the control gallery with sample data, first tab),
// gallery-tab2.png (its second tab) and error.png (the error window of a
// framework error, as the error manager words it). Each window is taken
// when its loop first waits for input, that is when it is fully built,
// displayed and laid out; then the tool closes it as a user would.
//
// Exit codes: 0 all written, 1 a window did not open or a file could not
// be written, 2 wrong usage.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/program.h"
#include "runtime/runtime_error.h"
#include "ui/qt/gallery.h"
#include "ui/qt/message_box.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/qt/qt_window.h"
#include "ui/window.h"

namespace {

QString g_dir;
int g_failures = 0;

bool Save(QWidget* widget, const char* name) {
  QApplication::processEvents();
  QString path = QDir(g_dir).filePath(QString::fromLatin1(name));
  bool ok = widget->grab().save(path, "PNG");
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
               path.toLocal8Bit().constData());
  if (!ok) ++g_failures;
  return ok;
}

// The Qt toolkit, taking a picture of each window when its loop first
// waits, and answering message boxes with a picture and their default.
class ShotToolkit : public qzr::QtToolkit {
 public:
  // The steps for the window with this caption: each runs at one wait.
  std::vector<std::function<void(qzr::QtWindow*)>> steps;

  qzr::WaitResult WaitForInput(qzr::WindowId top) override {
    qzr::QtWindow* window = Find(top);
    if (window != nullptr && next_ < steps.size()) {
      QApplication::processEvents();
      steps[next_++](window);
      return qzr::WaitResult::kInput;
    }
    return QtToolkit::WaitForInput(top);
  }

  int ShowMessage(const qzr::MessageRequest& request) override {
    QMessageBox* box = qzr::BuildMessageBox(request, TopWindow());
    box->setWindowModality(Qt::NonModal);
    box->show();
    box->adjustSize();
    Save(box, message_file_.c_str());
    int answer = request.default_button;
    delete box;
    return answer;
  }

  void SetMessageFile(std::string name) { message_file_ = std::move(name); }

 private:
  size_t next_ = 0;
  std::string message_file_ = "message.png";
};

// The offscreen platform's notes on what it cannot do with a window
// ("This plugin does not support raise()") are noise here.
void QuietMessages(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qzr_screenshots OUTPUT_DIR\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("QZR Functions Database");
  g_dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_dir);

  int code = 0;
  {
    ShotToolkit toolkit;
    qzr::ScopedBackend scope(&toolkit);
    toolkit.steps = {
        [](qzr::QtWindow* w) { Save(w, "gallery.png"); },
        [](qzr::QtWindow* w) {
          if (auto* tabs = qobject_cast<QTabWidget*>(w->Widget(qzr::kGallerySheet))) {
            tabs->setCurrentIndex(1);  // as the user's click would
          }
        },
        [](qzr::QtWindow* w) {
          Save(w, "gallery-tab2.png");
          qzr::InputSink::CloseRequested(w->Id());
        },
    };
    if (qzr::RunGallery() != 0) ++g_failures;

    // The error window: a file that cannot be opened, as the framework
    // reports it (a halt-level message; the tool keeps running).
    toolkit.SetMessageFile("error.png");
    code = qzr::RunProgram([] {
      qzr::AppErrors->SetHaltHook([](int) {});
      qzr::PostError(2);  // "File Not Found"
      qzr::AppErrors->SetFile("FUNC");
      qzr::AppErrors->CaptureAndThrow(26);
      qzr::AppErrors->SetHaltHook(nullptr);
    });
  }
  return g_failures == 0 && code == 0 ? 0 : 1;
}
