// The main of the widget tests: the throwing fatal handler, one QApplication
// on the offscreen platform (unless the caller chose another), then
// GoogleTest. Tests run on the GUI thread, so they may create widgets and
// drive them with QTest.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "testing/fatal_guard.h"

int main(int argc, char** argv) {
  qzr::testing::InstallThrowingFatalHandler();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
