// The fatal-error path: composes the text, calls the installed handler, halts.

#include "runtime/core/fatal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

std::atomic<FatalHandler> g_handler{nullptr};

}  // namespace

FatalHandler SetFatalHandler(FatalHandler handler) { return g_handler.exchange(handler); }

std::string FatalText(int code, std::string_view detail) {
  std::string text = RuntimeString(code);
  if (text.empty()) text = "Runtime error " + std::to_string(code);
  if (!detail.empty()) {
    text += " : ";
    text += detail;
  }
  return text;
}

void Fatal(int code, std::string_view detail) {
  std::string text = FatalText(code, detail);
  if (FatalHandler handler = g_handler.load()) handler(code, text);
  std::fprintf(stderr, "Runtime error: %s\n", text.c_str());
  std::fflush(stderr);
  std::exit(2);
}

void Corruption(int check) {
  Fatal(kDataCorruption, "Possible data corruption in file (" + std::to_string(check) + ")");
}

}  // namespace qzr
