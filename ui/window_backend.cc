// The process-wide backend pointer, with the terminal backend as default.

#include "ui/window_backend.h"

#include <atomic>

#include "ui/terminal_backend.h"

namespace qzr {
namespace {

std::atomic<WindowBackend*> g_backend{nullptr};

WindowBackend& DefaultBackend() {
  // Never destroyed: a message may still be shown while statics go away.
  static TerminalBackend* backend = new TerminalBackend();
  return *backend;
}

}  // namespace

std::vector<std::string> MessageLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    lines.push_back(text.substr(start, bar - start));
    if (bar == std::string::npos) return lines;
    start = bar + 1;
  }
}

WindowBackend& CurrentBackend() {
  WindowBackend* backend = g_backend.load();
  return backend ? *backend : DefaultBackend();
}

WindowBackend* InstallBackend(WindowBackend* backend) {
  return g_backend.exchange(backend);
}

}  // namespace qzr
