// The start-up and shut-down passes over the module table.

#include "app/module_table.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

namespace qzr {
namespace {

std::span<const ModuleInitRecord> g_table;
std::vector<int> g_order;
bool g_running = false;
int g_exit_code = 0;
std::thread::id g_main_thread;

void Run(ModuleHook hook) {
  if (hook != nullptr) hook();
}

}  // namespace

void ModuleRuntime::VisitOrder(std::span<const ModuleInitRecord> table, int* order) {
  std::iota(order, order + table.size(), 0);
  // Stable: modules of one priority keep their table order.
  std::stable_sort(order, order + table.size(),
                   [&](int a, int b) { return table[a].priority > table[b].priority; });
}

bool ModuleRuntime::Init(std::span<const ModuleInitRecord> table) {
  if (table.empty() || !g_table.empty()) {
    g_exit_code = 1;
    return false;
  }
  g_table = table;
  g_order.assign(table.size(), 0);
  VisitOrder(table, g_order.data());
  g_exit_code = 0;
  return true;
}

void ModuleRuntime::StartUp() {
  if (g_table.empty() || g_running) return;
  g_main_thread = std::this_thread::get_id();
  g_running = true;
  for (int i : g_order) Run(g_table[i].early);
  for (int i : g_order) {
    Run(g_table[i].register_files);
    Run(g_table[i].global_construct);
    Run(g_table[i].thread_construct);
  }
}

void ModuleRuntime::Halt(int exit_code) {
  g_exit_code = exit_code;
  if (g_table.empty()) return;
  if (g_running) {
    for (auto it = g_order.rbegin(); it != g_order.rend(); ++it) {
      Run(g_table[*it].thread_destruct);
      Run(g_table[*it].global_destruct);
    }
  }
  g_running = false;
  g_table = {};
  g_order.clear();
}

void ModuleRuntime::StartThread() {
  if (!g_running) return;
  for (int i : g_order) Run(g_table[i].register_files);
  for (int i : g_order) Run(g_table[i].thread_construct);
}

void ModuleRuntime::EndThread() {
  if (!g_running) return;
  for (auto it = g_order.rbegin(); it != g_order.rend(); ++it) Run(g_table[*it].thread_destruct);
}

bool ModuleRuntime::Running() {
  return g_running;
}
int ModuleRuntime::ExitCode() {
  return g_exit_code;
}
bool ModuleRuntime::IsMainThread() {
  return g_running && std::this_thread::get_id() == g_main_thread;
}

}  // namespace qzr
