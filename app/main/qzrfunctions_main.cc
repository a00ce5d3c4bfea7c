// Entry point of qzrfunctions. Until the window and the command-line commands
// exist it prints the program's usage.

#include <cstdio>
#include <cstring>

namespace {

constexpr char kUsage[] =
    "QZR Functions Database: a catalogue of reusable source-code functions.\n"
    "\n"
    "Usage: qzrfunctions [COMMAND [ARGS...]]\n"
    "\n"
    "Without a command the program opens its main window. The catalogue is the\n"
    "file FUNC in the current directory, created on first use.\n"
    "\n"
    "  -h, --help   show this text\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0) {
    std::fprintf(stderr, "qzrfunctions: unknown command '%s'\n\n%s", argv[1], kUsage);
    return 2;
  }
  std::fputs(kUsage, stdout);
  return 0;
}
