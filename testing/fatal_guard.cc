#include "testing/fatal_guard.h"

#include "runtime/core/fatal.h"

namespace qzr::testing {
namespace {

void ThrowingHandler(int code, const std::string& text) { throw FatalErrorThrown(code, text); }

}  // namespace

void InstallThrowingFatalHandler() { SetFatalHandler(&ThrowingHandler); }

}  // namespace qzr::testing
