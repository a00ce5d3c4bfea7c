// The program's stored command line; see command_line.h.

#include "runtime/core/command_line.h"

#include <mutex>
#include <utility>

#include "runtime/core/text.h"

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
    if (EqualNoCase(arg, name)) return true;
  }
  return false;
}

}  // namespace qzr
