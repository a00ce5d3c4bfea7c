// The program's start and end: the entry sequence around the module
// runtime, and the main procedure that sets up the globals, runs the one
// top-level procedure and tears down again.
//
// RunProgram(main):
//   1. reset the floating-point environment;
//   2. install the module table (ProgramModules); when that fails, return
//      the runtime's exit code at once;
//   3. the module start-up passes;
//   4. MainProcedure(main), then halt the runtime (the shut-down hooks)
//      with the code `main` left in ProgramExitCode();
//   5. return the runtime's exit code.
//
// MainProcedure(main), in order: initialise AppErrors; initialise
// AppMatcher with option 1 on and option 2 off; initialise AppIni with
// "qzrfunctions.INI"; InitFileObjects; the default window icon
// "AutoformatDoc.ico"; when full-window dragging is on, turn it off and
// remember that; run `main`; AppIni's final update; turn dragging back on
// when it was on; kill AppIni, then AppMatcher. AppErrors is not killed
// here: its owner's global destruction does that.
//
// Threads: main thread only.

#ifndef QZR_APP_PROGRAM_H_
#define QZR_APP_PROGRAM_H_

#include <functional>

namespace qzr {

// The top-level procedure the main procedure calls: the window's Main, or
// a command of the command line.
using TopProcedure = std::function<void()>;

void ResetFloatingPoint();
void MainProcedure(const TopProcedure& main);
int RunProgram(const TopProcedure& main);

// The code the program ends with; a top procedure sets it (0 by default,
// reset by RunProgram).
void SetProgramExitCode(int code);
int ProgramExitCode();

}  // namespace qzr

#endif  // QZR_APP_PROGRAM_H_
