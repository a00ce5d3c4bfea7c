// The program's command line, kept for the code that asks about switches
// (the hyperlink handler's "/LWdbg", for one).
//
// The entry point stores the arguments once, before anything asks; later
// calls replace them (tests do). Switches compare without regard to ASCII
// case, as the system's own switches do.
//
// Threads: reads and writes take one mutex; any thread may ask.

#ifndef QZR_RUNTIME_COMMAND_LINE_H_
#define QZR_RUNTIME_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace qzr {

// Stores the program's arguments (without the program's own name).
void SetProgramArguments(std::vector<std::string> args);

// The stored arguments.
std::vector<std::string> ProgramArguments();

// True iff one argument equals `name` (ASCII case ignored), e.g. "/LWdbg".
bool HasProgramSwitch(std::string_view name);

}  // namespace qzr

#endif  // QZR_RUNTIME_COMMAND_LINE_H_
