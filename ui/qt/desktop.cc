// The Qt application around a run of the program.

#include "ui/qt/desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSessionManager>
#include <QSocketNotifier>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "runtime/os/file_io.h"
#include "ui/qt/icons.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/window.h"

namespace qzr {
namespace {

// The signal pipe: the handler writes the signal number, the GUI thread
// reads it through a socket notifier.
int g_signal_pipe[2] = {-1, -1};
std::atomic<int> g_signals{0};
const char* g_program_name = "qzrfunctions";

void OnSignal(int signo) {
  if (g_signals.fetch_add(1) > 0) _exit(128 + signo);  // the second one: now
  char byte = static_cast<char>(signo);
  // A full pipe already holds a wake-up; nothing else to do in a handler.
  WriteToDescriptor(g_signal_pipe[1], &byte, 1).IgnoreError();
}

// Qt's messages while the application is made: a fatal one (no display)
// becomes our one line; the rest go to standard error as usual.
QtMessageHandler g_previous_handler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const char* display = std::getenv("DISPLAY");
    std::string line = std::string(g_program_name) + ": cannot open the display" +
                       (display != nullptr && *display != '\0' ? " " + std::string(display) : "") +
                       ": " + text.section(QLatin1Char('\n'), 0, 0).toStdString() + "\n";
    WriteToDescriptor(2, line.data(), line.size()).IgnoreError();
    _exit(kNoDisplayExit);
  }
  if (g_previous_handler != nullptr) {
    g_previous_handler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }
}

void AskEverythingToClose() {
  InputSink::ShutDown();
  // A question waiting for an answer would keep the loops from seeing the
  // shut-down: it takes its default.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->done(0);
}

}  // namespace

int RunDesktop(int argc, char** argv, const DesktopOptions& options,
               const std::function<int()>& program) {
  g_program_name = options.name.c_str();
  g_previous_handler = qInstallMessageHandler(OnQtMessage);
  QApplication::setApplicationName(QString::fromStdString(options.name));
  QApplication::setApplicationDisplayName(QString::fromStdString(options.display_name));
  QApplication::setDesktopFileName(QString::fromStdString(options.name));
  auto app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(g_previous_handler);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(IconByName(options.icon));

  std::unique_ptr<QSocketNotifier> notifier;
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    notifier = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
      char byte;
      size_t got = 0;
      while (ReadFromDescriptor(g_signal_pipe[0], &byte, 1, &got).ok() && got == 1) {
      }
      AskEverythingToClose();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGTERM, SIGINT, SIGHUP}) sigaction(signo, &action, nullptr);
  }
  QObject::connect(app.get(), &QGuiApplication::commitDataRequest,
                   [](QSessionManager&) { AskEverythingToClose(); });
  QObject::connect(app.get(), &QCoreApplication::aboutToQuit, [] { InputSink::ShutDown(); });

  int result;
  {
    QtToolkit toolkit;
    ScopedBackend scope(&toolkit);
    result = program();
  }

  for (int signo : {SIGTERM, SIGINT, SIGHUP}) signal(signo, SIG_DFL);
  notifier.reset();
  if (g_signal_pipe[0] >= 0) {
    close(g_signal_pipe[0]);
    close(g_signal_pipe[1]);
    g_signal_pipe[0] = g_signal_pipe[1] = -1;
  }
  app.reset();
  return result;
}

}  // namespace qzr
