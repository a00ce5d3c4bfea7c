// The program's stored command line; see command_line.h.

#include "runtime/command_line.h"

#include <mutex>
#include <utility>

namespace qzr {
namespace {

std::mutex& ArgsMutex() {
  static std::mutex mu;
  return mu;
}

std::vector<std::string>& Args() {
  static std::vector<std::string> args;
  return args;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void SetProgramArguments(std::vector<std::string> args) {
  std::lock_guard<std::mutex> lock(ArgsMutex());
  Args() = std::move(args);
}

std::vector<std::string> ProgramArguments() {
  std::lock_guard<std::mutex> lock(ArgsMutex());
  return Args();
}

bool HasProgramSwitch(std::string_view name) {
  std::lock_guard<std::mutex> lock(ArgsMutex());
  for (const std::string& arg : Args()) {
    if (EqualsNoCase(arg, name)) return true;
  }
  return false;
}

}  // namespace qzr
