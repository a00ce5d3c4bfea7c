// The main of every test binary: installs the throwing fatal-error handler so
// that no test can end the process, then runs GoogleTest.

#include <gtest/gtest.h>

#include "testing/fatal_guard.h"

int main(int argc, char** argv) {
  qzr::testing::InstallThrowingFatalHandler();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
