// Starting other programs through posix_spawnp; see launch.h.

#include "runtime/os/launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/os/file_io.h"

extern char** environ;

namespace qzr {
namespace {

std::mutex& HookMutex() {
  static std::mutex mu;
  return mu;
}

LaunchHook& Hook() {
  static LaunchHook hook;
  return hook;
}

std::atomic<uint64_t> launch_count{0};

// The hook's answer for this start, or kLaunchForReal when there is none.
int AskHook(const std::vector<std::string>& argv, std::string* output) {
  LaunchHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (!hook) return kLaunchForReal;
  return hook(argv, output);
}

bool ValidArgv(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  for (const std::string& arg : argv) {
    if (arg.find('\0') != std::string::npos) return false;
  }
  return true;
}

// Starts the child; `stdout_fd` (when >= 0) becomes its standard output.
// Returns 0 or an errno value.
int Spawn(const std::vector<std::string>& argv, int stdout_fd, pid_t* pid) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  int rc = posix_spawn_file_actions_init(&actions);
  if (rc != 0) return rc;
  rc = posix_spawnattr_init(&attr);
  if (rc != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return rc;
  }
  sigset_t mask;
  sigemptyset(&mask);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM}) {
    sigaddset(&defaults, sig);
  }
  if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0 && stdout_fd >= 0) rc = posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  if (rc == 0) {
    rc = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &mask);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (rc == 0) rc = posix_spawnattr_setpgroup(&attr, 0);
  if (rc == 0) rc = posix_spawnp(pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

// Waits for `pid`, retrying on interruption; returns the wait status or -1.
int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

LaunchHook SetLaunchHook(LaunchHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  return std::exchange(Hook(), std::move(hook));
}

uint64_t LaunchCount() {
  return launch_count.load();
}

int LaunchDetached(const std::vector<std::string>& argv, pid_t* pid) {
  if (pid != nullptr) *pid = 0;
  if (!ValidArgv(argv)) return EINVAL;
  ++launch_count;
  int answer = AskHook(argv, nullptr);
  if (answer != kLaunchForReal) return answer;

  pid_t child = 0;
  int rc = Spawn(argv, -1, &child);
  if (rc != 0) return rc;
  // The child may outlive any window (a browser): a detached thread collects
  // it whenever it ends, so the caller never waits.
  std::thread([child] { Reap(child); }).detach();
  if (pid != nullptr) *pid = child;
  return 0;
}

int RunAndCapture(const std::vector<std::string>& argv, std::string* output, int timeout_ms,
                  size_t max_output) {
  output->clear();
  if (!ValidArgv(argv)) return EINVAL;
  ++launch_count;
  int answer = AskHook(argv, output);
  if (answer != kLaunchForReal) return answer;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  pid_t child = 0;
  int rc = Spawn(argv, fds[1], &child);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return rc;
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  auto remaining_ms = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };

  bool timed_out = false;
  char buffer[4096];
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    int ready = poll(&p, 1, remaining_ms());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = ready == 0;
      break;
    }
    size_t n = 0;
    // End of output, or a read error: stop reading.
    if (!ReadFromDescriptor(fds[0], buffer, sizeof buffer, &n).ok() || n == 0) break;
    size_t room = max_output - std::min(max_output, output->size());
    output->append(buffer, std::min(room, n));
  }
  close(fds[0]);

  // The output is complete; the program should be ending. Give it what is
  // left of the time limit, then kill it, so a stuck program cannot hang us.
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return ECHILD;
    if (timed_out || remaining_ms() == 0) {
      kill(child, SIGKILL);
      Reap(child);
      return ETIMEDOUT;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  return ECHILD;
}

}  // namespace qzr
