#include "runtime/os/launch.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace qzr {
namespace {

// Removes any hook a test installed.
class LaunchTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLaunchHook({}); }
};

TEST_F(LaunchTest, RefusesEmptyVectorsAndNulBytesWithoutAsking) {
  int asked = 0;
  SetLaunchHook([&](const std::vector<std::string>&, std::string*) {
    ++asked;
    return 0;
  });
  EXPECT_EQ(LaunchDetached({}), EINVAL);
  EXPECT_EQ(LaunchDetached({""}), EINVAL);
  EXPECT_EQ(LaunchDetached({"xdg-open", std::string("a\0b", 3)}), EINVAL);
  std::string out = "stale";
  EXPECT_EQ(RunAndCapture({}, &out), EINVAL);
  EXPECT_EQ(out, "");
  EXPECT_EQ(asked, 0);
}

TEST_F(LaunchTest, HookSeesTheArgvAndDecidesTheOutcome) {
  std::vector<std::string> seen;
  SetLaunchHook([&](const std::vector<std::string>& argv, std::string* output) {
    seen = argv;
    if (output != nullptr) *output = "firefox.desktop\n";
    return argv[1] == "fail" ? ENOENT : 0;
  });
  uint64_t before = LaunchCount();
  pid_t pid = 123;
  EXPECT_EQ(LaunchDetached({"xdg-open", "https://example.org/a b;c"}, &pid), 0);
  EXPECT_EQ(pid, 0);  // nothing was started
  EXPECT_EQ(seen, (std::vector<std::string>{"xdg-open", "https://example.org/a b;c"}));
  EXPECT_EQ(LaunchDetached({"xdg-open", "fail"}), ENOENT);
  std::string out;
  EXPECT_EQ(RunAndCapture({"xdg-mime", "query"}, &out), 0);
  EXPECT_EQ(out, "firefox.desktop\n");
  EXPECT_EQ(LaunchCount() - before, 3u);
}

TEST_F(LaunchTest, HookCanLetTheStartHappen) {
  SetLaunchHook([](const std::vector<std::string>&, std::string*) { return kLaunchForReal; });
  std::string out;
  EXPECT_EQ(RunAndCapture({"echo", "through"}, &out), 0);
  EXPECT_EQ(out, "through\n");
}

TEST_F(LaunchTest, MissingProgramIsReportedAsNotFound) {
  EXPECT_EQ(LaunchDetached({"qzr-no-such-program-here"}), ENOENT);
  std::string out;
  EXPECT_EQ(RunAndCapture({"qzr-no-such-program-here"}, &out), ENOENT);
}

TEST_F(LaunchTest, ArgumentsReachTheProgramUnparsed) {
  // No shell: quotes, semicolons and $ are plain bytes of one argument.
  std::string out;
  ASSERT_EQ(RunAndCapture({"printf", "%s|", "a b", "x;rm -rf /", "$HOME", "'\"`"}, &out), 0);
  EXPECT_EQ(out, "a b|x;rm -rf /|$HOME|'\"`|");
}

TEST_F(LaunchTest, CaptureReportsStatusLimitAndEmptyInput) {
  std::string out;
  EXPECT_EQ(RunAndCapture({"false"}, &out), ECHILD);
  EXPECT_EQ(RunAndCapture({"head", "-c", "100000", "/dev/zero"}, &out, 5000, 10), 0);
  EXPECT_EQ(out.size(), 10u);
  // Standard input is /dev/null: a program reading it ends at once.
  EXPECT_EQ(RunAndCapture({"cat"}, &out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(LaunchTest, CaptureKillsAProgramThatDoesNotEnd) {
  std::string out;
  EXPECT_EQ(RunAndCapture({"sleep", "600"}, &out, 50), ETIMEDOUT);
}

bool IsRunningOrZombie(pid_t pid) {
  struct stat st;
  return stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

TEST_F(LaunchTest, DetachedStartReturnsAtOnceAndTheChildIsReaped) {
  // Given a program that would run for ten minutes
  pid_t pid = 0;
  ASSERT_EQ(LaunchDetached({"sleep", "600"}, &pid), 0);
  ASSERT_GT(pid, 0);
  // Then the call has returned while it still runs
  EXPECT_EQ(kill(pid, 0), 0);
  // And when it ends, the reaper collects it: no zombie stays behind.
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  for (int i = 0; i < 2000 && IsRunningOrZombie(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(IsRunningOrZombie(pid));
}

}  // namespace
}  // namespace qzr
