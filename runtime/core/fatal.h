// The runtime's single fatal-error path.
//
// Internal errors of the runtime (an unknown type code handed to the field
// object factory, a pure operation reached, structural corruption found by a
// storage driver) all end here. The text is the runtime message for the code,
// then " : " and the detail when there is one. A program may install its own
// handler; it receives the code and the text. When no handler is installed,
// or the handler returns, the text goes to standard error under the caption
// "Runtime error" and the process exits with code 2.
//
// Test binaries install a handler that throws, so no test ends the process.
// The handler pointer is process-wide and read atomically; Fatal may be called
// from any thread.

#ifndef QZR_RUNTIME_FATAL_H_
#define QZR_RUNTIME_FATAL_H_

#include <string>
#include <string_view>

namespace qzr {

// Runtime error codes that take the fatal path.
inline constexpr int kPureVirtualCalled = 410;  // "Pure Virtual Function Called"
inline constexpr int kMakeUfoError = 501;       // "Internal error 01"
// Structural corruption found in a data file; the detail is
// "Possible data corruption in file (<check number>)".
inline constexpr int kDataCorruption = 502;

using FatalHandler = void (*)(int code, const std::string& text);

// Installs `handler` (nullptr restores the default) and returns the previous
// one.
FatalHandler SetFatalHandler(FatalHandler handler);

// The composed text of a fatal error: the runtime message for `code`, then
// " : " and `detail` when `detail` is not empty.
std::string FatalText(int code, std::string_view detail);

// Reports a fatal runtime error and does not return: the installed handler
// runs first (a test handler throws); if it returns, the process halts with
// exit code 2.
[[noreturn]] void Fatal(int code, std::string_view detail = {});

// The corruption check `check` failed in a data file:
// Fatal(kDataCorruption, "Possible data corruption in file (<check>)").
[[noreturn]] void Corruption(int check);

}  // namespace qzr

#endif  // QZR_RUNTIME_FATAL_H_
