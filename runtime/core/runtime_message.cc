// The runtime message hook.

#include "runtime/core/runtime_message.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace qzr {
namespace {

std::mutex& HookMutex() {
  static std::mutex mu;
  return mu;
}

RuntimeMessageHook& Hook() {
  static RuntimeMessageHook hook;
  return hook;
}

}  // namespace

RuntimeMessageHook SetRuntimeMessageHook(RuntimeMessageHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  return std::exchange(Hook(), std::move(hook));
}

void ShowRuntimeMessage(std::string_view caption, std::string_view text) {
  RuntimeMessageHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (hook) {
    hook(caption, text);
    return;
  }
  std::string line;
  line.append(caption).append(": ").append(text).append("\n");
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace qzr
