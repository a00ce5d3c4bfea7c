// The main of the widget tests: the throwing fatal handler, one QApplication
// on the offscreen platform (unless the caller chose another), then
// GoogleTest. Tests run on the GUI thread, so they may create widgets and
// drive them with QTest.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/fatal_guard.h"

namespace {

// The offscreen platform warns about what it cannot do with a window
// ("This plugin does not support raise()"); everything else is printed.
void FilterMessages(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  qzr::testing::InstallThrowingFatalHandler();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Qt wants a private runtime directory; a test run may have none.
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    std::string dir = "/tmp/qzr-runtime-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);
  }
  qInstallMessageHandler(FilterMessages);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
