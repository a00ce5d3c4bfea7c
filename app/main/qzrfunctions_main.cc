// Entry point of qzrfunctions: the command line over the catalogue FUNC in
// the current directory, or (without a command) the program's window.
//
// A fatal runtime error (an internal error, or a damaged data file found by
// the storage driver) ends the program with one line on standard error and
// exit code 1, without running further code in the broken state; an
// interrupted change to the data file is undone by the driver's recovery
// the next time the file is opened.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "runtime/command_line.h"
#include "runtime/fatal.h"

namespace {

void OnFatal(int code, const std::string& text) {
  std::string line = "qzrfunctions: " + text;
  if (code == qzr::kDataCorruption) line += " (run 'qzrfunctions check' to examine the file)";
  line += "\n";
  std::fflush(stdout);
  ssize_t ignored = write(2, line.data(), line.size());
  (void)ignored;
  _exit(qzr::kExitFailure);
}

}  // namespace

int main(int argc, char** argv) {
  qzr::SetFatalHandler(OnFatal);
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  qzr::SetProgramArguments(args);
  // The trace switches of the link handler are for it alone: the command
  // line proper never sees them.
  std::erase_if(args, [](const std::string& a) {
    std::string lower;
    for (char c : a) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "/lwdbg" || lower == "/lwdbgreg";
  });
  qzr::CommandIo io;
  io.in = &std::cin;
  io.out = &std::cout;
  io.err = &std::cerr;
  io.interactive = isatty(0) == 1;
  int code = qzr::RunCommandLine(args, io);
  std::cout.flush();
  return code;
}
