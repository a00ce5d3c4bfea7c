// Starting other programs: the one seam through which the program runs an
// outside command (the desktop's link opener, the query for the desktop's
// default browser and mail program).
//
// A program is always started from an argument vector with posix_spawnp,
// never through a shell, so no text handed to it is ever parsed as a command.
// The child gets standard input from /dev/null, the default signal
// dispositions and an empty signal mask, and its own process group (a Ctrl+C
// meant for this program does not reach a browser it opened).
//
// LaunchDetached does not wait for the program: a small reaper thread waits
// for the child and collects its exit status, so no zombie is left behind and
// the caller never blocks on a browser that stays open for hours.
// RunAndCapture waits for the program's output, within a time limit after
// which the child is killed and collected.
//
// The launch hook (tests, fault injection) sees every start before it
// happens and decides: kLaunchForReal lets it run; any other value is taken
// as the outcome and nothing is started: 0 pretends success (a capturing hook
// may fill `output`), an errno value fails with it.
//
// Threads: any thread may launch. The hook is process-wide and guarded by a
// mutex; it is called without the mutex held, from the launching thread.

#ifndef QZR_RUNTIME_LAUNCH_H_
#define QZR_RUNTIME_LAUNCH_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qzr {

// What a launch hook returns to let the start really happen.
inline constexpr int kLaunchForReal = -1;

// Called with the argument vector (argv[0] is the program) and, for
// RunAndCapture, the output to fill (nullptr for a detached start).
using LaunchHook = std::function<int(const std::vector<std::string>& argv, std::string* output)>;

// Installs `hook` (an empty function removes it) and returns the previous one.
LaunchHook SetLaunchHook(LaunchHook hook);

// Starts argv[0] (searched on PATH when it has no "/") with `argv` and
// returns at once. Returns 0 when the program started, else an errno value:
// EINVAL for an empty vector or an argument holding a NUL byte, ENOENT when
// the program was not found, EACCES when it may not be run, ENOEXEC when it
// is not a program, and so on. `pid`, when given, receives the child's
// process id (0 when nothing was started).
int LaunchDetached(const std::vector<std::string>& argv, pid_t* pid = nullptr);

// Runs `argv` to completion and collects its standard output (at most
// `max_output` bytes; the rest is read and dropped). A program still running
// after `timeout_ms` is killed. Returns 0 when the program ran and exited
// with status 0, ETIMEDOUT when it was killed, ECHILD when it exited with
// another status or by a signal, else the errno of the failed start. `output`
// holds whatever was read in every case.
int RunAndCapture(const std::vector<std::string>& argv, std::string* output, int timeout_ms = 5000,
                  size_t max_output = 64 * 1024);

// Starts asked for through this seam since the process began (real or
// answered by the hook), for measurements.
uint64_t LaunchCount();

}  // namespace qzr

#endif  // QZR_RUNTIME_LAUNCH_H_
