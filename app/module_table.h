// The program's module table and the runtime's start-up and shut-down
// passes over it.
//
// Every module (runtime, framework, application) has a ModuleInitRecord: a
// priority 0..255 and up to six hooks. Start-up runs two passes; each pass
// visits the priorities from 255 down and, within one priority, the modules
// in table order:
//   pass 1  every module's early hook;
//   pass 2  for each module in turn: its file registration, its global
//           construction, then its thread construction for the main thread.
// Shut-down (Halt) undoes it in the reverse visiting order (priorities from
// 0 up, later modules of a priority first): each module's thread
// destruction and then its global destruction, so a module's globals are
// gone only after every module built after it has torn its own down.
//
// A thread other than the main one runs StartThread when it starts (file
// registration and thread construction of every module, in start-up order)
// and EndThread before it ends (thread destruction, in shut-down order).
//
//   (idle) --Init--> (ready) --StartUp--> (running) --Halt--> (idle)
//
// Threads: Init, StartUp and Halt run on the main thread; StartThread and
// EndThread on the thread they concern. The table is only read once
// installed.

#ifndef QZR_APP_MODULE_TABLE_H_
#define QZR_APP_MODULE_TABLE_H_

#include <cstdint>
#include <span>
#include <string_view>

namespace qzr {

using ModuleHook = void (*)();

struct ModuleInitRecord {
  const char* name = "";
  uint8_t priority = 0;
  ModuleHook early = nullptr;             // pass 1
  ModuleHook register_files = nullptr;    // pass 2, and each new thread
  ModuleHook global_construct = nullptr;  // pass 2
  ModuleHook global_destruct = nullptr;   // Halt
  ModuleHook thread_construct = nullptr;  // pass 2 (main thread), each new thread
  ModuleHook thread_destruct = nullptr;   // Halt (main thread), each ending thread
};

class ModuleRuntime {
 public:
  // Installs `table`, which must outlive the runtime's use of it. Fails
  // (false) when the table is empty or a table is installed already; the
  // exit code then says why (1).
  static bool Init(std::span<const ModuleInitRecord> table);
  // The two start-up passes. REQUIRES: Init succeeded.
  static void StartUp();
  // The shut-down hooks; the table is then uninstalled. `exit_code` becomes
  // ExitCode(). Does nothing (but set the code) when nothing is running.
  static void Halt(int exit_code);
  // Per-thread start-up and shut-down of a thread other than the main one.
  static void StartThread();
  static void EndThread();
  static bool Running();
  // The code the program ends with: set by Halt, or by a failed Init.
  static int ExitCode();
  // True on the thread that ran StartUp.
  static bool IsMainThread();

  // The visiting order of `table` for the start-up passes (indexes), for
  // the shut-down the reverse.
  static void VisitOrder(std::span<const ModuleInitRecord> table, int* order);
};

}  // namespace qzr

#endif  // QZR_APP_MODULE_TABLE_H_
