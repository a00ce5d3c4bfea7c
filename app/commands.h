// The command line of qzrfunctions: parsing the arguments, and each command
// run as the program's top procedure over FUNC in the current directory.
//
//   qzrfunctions                       the main window (needs a display)
//   qzrfunctions list [--json]
//   qzrfunctions find TEXT [--case-sensitive] [--no-memo] [--json]
//   qzrfunctions show ID [--json]
//   qzrfunctions add FIELDS | --json [--truncate]   (FIELDS with --title)
//   qzrfunctions update ID [FIELDS | --json] [--truncate]
//   qzrfunctions delete ID [--yes]
//   qzrfunctions export [--format json|csv|markdown] [--output FILE]
//   qzrfunctions import FILE|- [--format json|csv] [--truncate] [--renumber]
//   qzrfunctions check
//   qzrfunctions eval EXPRESSION
//   FIELDS: --title T --description D --code-file FILE|- --complete
//           --not-complete --link URL --user NAME
//
// Exit codes: 0 success, 1 a failure the command reports (one line on the
// error stream, or the framework's message), 2 wrong usage (nothing is
// touched; also for no command without a display: one line saying so and
// the usage). A read-only catalogue, one locked by another process and a
// full disk are each said in one line of the command line's own; messages
// of the framework that speak of windows are reworded for the command
// line, and one said again and again is printed once. Every command runs as the top procedure of
// the whole program (module start-up, the main procedure, shut-down), so numbering, locking and
// messages are the framework's own.
//
// Threads: one command at a time per process (the program's globals are
// process-wide).

#ifndef QZR_APP_COMMANDS_H_
#define QZR_APP_COMMANDS_H_

#include <functional>
#include <string>
#include <vector>

#include "app/text_stream.h"
#include "ui/window_backend.h"

namespace qzr {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CommandIo {
  TextIn* in = nullptr;
  TextOut* out = nullptr;
  TextOut* err = nullptr;
  // Standard input is a terminal: questions are asked there.
  bool interactive = false;
  // Answers the framework's messages instead of the command line's own
  // backend (tests); not owned.
  WindowBackend* backend = nullptr;
  // The errno of the first failed write to `out` (0 when none), for saying
  // why output was lost; unset when `out` cannot tell.
  std::function<int()> out_error;
  // Where an interactive question is asked and answered (the terminal).
  int question_in_fd = 0;
  int question_out_fd = 2;
  // Runs the program with its windows and returns the exit code: what the
  // program does without a command when a display is there. Set by the
  // entry point, which links the desktop backend; empty, the program has
  // no windows to open.
  std::function<int()> open_windows;
};

// True iff windows can be opened: DISPLAY or WAYLAND_DISPLAY is set, or a
// window-system platform was chosen explicitly (QT_QPA_PLATFORM).
bool HasDisplay();

// Runs the command in `args` (the arguments after the program's name) and
// returns the exit code.
int RunCommandLine(const std::vector<std::string>& args, const CommandIo& io);

// The usage text.
const char* UsageText();

}  // namespace qzr

#endif  // QZR_APP_COMMANDS_H_
