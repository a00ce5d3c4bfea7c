// Test support: a fatal-error handler that throws instead of ending the
// process, and assertions over it.
//
// Every test binary links testing/test_main.cc, which installs the handler
// before any test runs. A test that expects a fatal error wraps the statement
// in EXPECT_FATAL; any other fatal error escapes as an exception and fails
// the test that raised it, never the process.

#ifndef QZR_TESTING_FATAL_GUARD_H_
#define QZR_TESTING_FATAL_GUARD_H_

#include <stdexcept>
#include <string>

namespace qzr::testing {

// Thrown by the test handler in place of halting.
struct FatalErrorThrown : std::runtime_error {
  FatalErrorThrown(int c, const std::string& text) : std::runtime_error(text), code(c) {}
  int code;
};

// Installs the throwing handler.
void InstallThrowingFatalHandler();

}  // namespace qzr::testing

// Expects `stmt` to take the fatal path with runtime error `expected_code`.
#define EXPECT_FATAL(stmt, expected_code)                                     \
  do {                                                                        \
    bool qzr_fatal_seen = false;                                              \
    try {                                                                     \
      stmt;                                                                   \
    } catch (const ::qzr::testing::FatalErrorThrown& e) {                     \
      qzr_fatal_seen = true;                                                  \
      EXPECT_EQ(e.code, (expected_code)) << e.what();                         \
    }                                                                         \
    EXPECT_TRUE(qzr_fatal_seen) << "expected a fatal error from: " #stmt;     \
  } while (0)

#endif  // QZR_TESTING_FATAL_GUARD_H_
