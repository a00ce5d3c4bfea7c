// Entry point of qzrfunctions: the command line over the catalogue FUNC in
// the current directory, or (without a command) the program's windows on the
// desktop, through the Qt backend (which only this file and ui/qt know).
//
// The Qt backend is a module, qzrfunctions_desktop.so beside the program,
// loaded only when windows open: a command starts without Qt. The program
// exports its own symbols, which the module's code uses (the layers below
// the backend are linked here once). A module that is missing or cannot be
// loaded is reported in one line, exit code 1.
//
// A fatal runtime error (an internal error, or a damaged data file found by
// the storage driver) ends the program with one line on standard error and
// exit code 1, without running further code in the broken state; an
// interrupted change to the data file is undone by the driver's recovery
// the next time the file is opened. Nothing thrown leaves main: anything
// uncaught becomes one line and exit code 1 as well.
//
// Standard input, output and error are the command line's own text streams
// over their descriptors (app/text_stream.h): the program sets up no C++
// streams, whose start cost a command more than most of its work. Standard
// output is buffered and keeps the reason of the first failed write (a full
// device), so that a command can say why its output was lost.

#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/commands.h"
#include "app/main_browse.h"
#include "app/program.h"
#include "app/text_stream.h"
#include "runtime/core/fatal.h"
#include "runtime/os/file_io.h"
#include "runtime/os/file_system.h"
#include "ui/qt/desktop.h"
#include "ui/window.h"

namespace {

void OnFatal(int code, const std::string& text) {
  std::string line = "qzrfunctions: " + text;
  if (code == qzr::kDataCorruption) line += " (run 'qzrfunctions check' to examine the file)";
  line += "\n";
  std::fflush(stdout);
  qzr::WriteToDescriptor(2, line.data(), line.size()).IgnoreError();  // nowhere else to say it
  _exit(qzr::kExitFailure);
}

// The last resort: one line, exit 1.
[[noreturn]] void Uncaught(const char* what) {
  std::string line = std::string("qzrfunctions: internal error: ") + what + "\n";
  qzr::WriteToDescriptor(2, line.data(), line.size()).IgnoreError();  // nowhere else to say it
  _exit(qzr::kExitFailure);
}

// The program's top procedure with windows. A halt (an error the framework
// cannot go on from) does not end the process under the windows' feet: it
// asks every window to close, and the program ends through its loops, the
// main procedure and the shut-down hooks with the halt's exit code.
void WindowMain() {
  qzr::AppErrors->SetHaltHook([](int exit_code) {
    qzr::SetProgramExitCode(exit_code);
    qzr::InputSink::ShutDown();
  });
  qzr::Main();
  qzr::AppErrors->SetHaltHook(nullptr);
}

// The desktop module beside the program file.
std::string DesktopModulePath() {
  std::string exe;
  if (!qzr::ExecutablePath(&exe).ok()) return qzr::kDesktopModuleFile;
  return (std::filesystem::path(exe).parent_path() / qzr::kDesktopModuleFile).string();
}

// Loads the desktop module and runs the program's windows through it. The
// module stays loaded until the process ends (Qt's own threads and
// handlers outlive the run).
int OpenWindows(int argc, char** argv, qzr::TextOut& err) {
  const std::string path = DesktopModulePath();
  std::string why;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* text = dlerror();
    why = text != nullptr ? text : "cannot be loaded";
  } else {
    auto abi = reinterpret_cast<qzr::DesktopModuleAbiFn>(dlsym(module, "QzrDesktopModuleAbi"));
    auto run = reinterpret_cast<qzr::RunDesktopFn>(dlsym(module, "QzrRunDesktop"));
    if (abi == nullptr || run == nullptr || abi() != qzr::kDesktopModuleAbi) {
      why = path + ": not a desktop module of this program (rebuild both)";
    } else {
      return run(argc, argv, qzr::DesktopOptions(), [] { return qzr::RunProgram(WindowMain); });
    }
  }
  err << "qzrfunctions: cannot open the windows: " << why << "\n";
  return qzr::kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  // A bulk command (an import, an export) holds its data and the pages it
  // writes at once: the heap grows in steps of 16 MB and keeps what it
  // freed, instead of growing, trimming and faulting the same pages in
  // again, and large blocks come from it too.
  mallopt(M_TOP_PAD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  std::set_terminate([] { Uncaught("an exception was not handled"); });
  try {
    qzr::SetFatalHandler(OnFatal);
    std::vector<std::string> args(argv + 1, argv + argc);
    qzr::FdTextOut out(1, false);
    // Standard error is written through at once, as std::cerr would be.
    qzr::FdTextOut err(2, true);
    qzr::FdTextIn in(0);
    qzr::CommandIo io;
    io.in = &in;
    io.out = &out;
    io.err = &err;
    io.out_error = [&out] { return out.error(); };
    io.interactive = isatty(0) == 1;
    io.open_windows = [&] { return OpenWindows(argc, argv, err); };
    int code = qzr::RunCommandLine(args, io);
    out.Flush();
    if (out.error() != 0 && code == qzr::kExitOk) {
      err << "qzrfunctions: cannot write the output: " << std::strerror(out.error()) << "\n";
      code = qzr::kExitFailure;
    }
    return code;
  } catch (const std::exception& e) {
    Uncaught(e.what());
  } catch (...) {
    Uncaught("an unknown exception");
  }
}
