#include "drivers/palisade/lock_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"
#include "runtime/os/fault_plan.h"
#include "runtime/os/file_lock.h"
#include "testing/fatal_guard.h"

extern char** environ;

namespace qzr::palisade {
namespace {

// ---- a peer process ---------------------------------------------------------
//
// Cross-process cases run a second copy of this test binary (fork + exec of
// /proc/self/exe) limited to LockMapPeer.DISABLED_Serve. The peer opens the
// file itself and answers one command per line on fixed descriptors:
//   open <slot> | begin_read | begin_write | end | hold <row> | quit
// with "<code> <slot> <lock calls> <sleeps>" for the command just run.

constexpr int kPeerIn = 100;
constexpr int kPeerOut = 101;
constexpr const char* kPeerFileVariable = "QZR_LOCK_PEER_FILE";

struct Reply {
  int code = -1;
  uint32_t slot = 0;
  int lock_calls = 0;
  int sleeps = 0;
};

class Peer {
 public:
  explicit Peer(const std::string& path) : log_(path + ".peer.log") {
    int cmd[2], reply[2];
    if (pipe2(cmd, O_CLOEXEC) != 0 || pipe2(reply, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    const int log_fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    // Everything exec needs is built before fork: the child only calls
    // async-signal-safe functions.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
    env_strings.push_back(std::string(kPeerFileVariable) + "=" + path);
    std::vector<char*> env;
    for (std::string& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=LockMapPeer.DISABLED_Serve";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {exe.data(), filter.data(), disabled.data(), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      dup2(cmd[0], kPeerIn);
      dup2(reply[1], kPeerOut);
      if (log_fd >= 0) {
        dup2(log_fd, 1);
        dup2(log_fd, 2);
      }
      execve(exe.c_str(), argv, env.data());
      _exit(127);
    }
    close(cmd[0]);
    close(reply[1]);
    if (log_fd >= 0) close(log_fd);
    to_ = cmd[1];
    from_ = fdopen(reply[0], "r");
  }

  ~Peer() {
    if (pid_ <= 0) return;
    Send("quit");
    close(to_);
    int status = 0;
    waitpid(pid_, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::ifstream in(log_);
      std::stringstream text;
      text << in.rdbuf();
      ADD_FAILURE() << "peer failed, status " << status << ":\n" << text.str();
    }
    if (from_) fclose(from_);
    unlink(log_.c_str());
  }

  Reply Ask(const std::string& command) {
    Reply r;
    Send(command);
    char line[128];
    if (!from_ || !fgets(line, sizeof line, from_)) {
      ADD_FAILURE() << "no answer to " << command;
      return r;
    }
    std::istringstream in(line);
    in >> r.code >> r.slot >> r.lock_calls >> r.sleeps;
    return r;
  }

 private:
  void Send(const std::string& command) {
    const std::string line = command + "\n";
    if (write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      ADD_FAILURE() << "cannot send " << command;
    }
  }

  std::string log_;
  pid_t pid_ = -1;
  int to_ = -1;
  FILE* from_ = nullptr;
};

// The peer's side. Only runs when started by Peer (disabled otherwise).
TEST(LockMapPeer, DISABLED_Serve) {
  const char* path = std::getenv(kPeerFileVariable);
  if (!path) GTEST_SKIP() << "started only as a peer";
  FILE* in = fdopen(kPeerIn, "r");
  ASSERT_NE(in, nullptr);
  std::atomic<int> lock_calls{0}, sleeps{0};
  FaultPlan counter;
  counter.observe = [&](const OsCallInfo& call) {
    if (call.call == OsCall::kLock) ++lock_calls;
    if (call.call == OsCall::kSleep) ++sleeps;
    return 0;
  };
  ScopedFaultPlan counting(&counter);
  int fd = -1;
  std::unique_ptr<LockMap> map;
  char line[128];
  while (fgets(line, sizeof line, in)) {
    std::istringstream words(line);
    std::string command;
    long argument = 0;
    words >> command >> argument;
    if (command == "quit") break;
    lock_calls = 0;
    sleeps = 0;
    int code = 0;
    if (command == "open") {
      fd = open(path, O_RDWR | O_CLOEXEC);
      map = std::make_unique<LockMap>(fd, static_cast<uint32_t>(argument));
      code = fd >= 0 ? 0 : errno;
    } else if (!map) {
      code = -2;
    } else if (command == "begin_read") {
      code = map->BeginOperation(false, false);
    } else if (command == "begin_write") {
      code = map->BeginOperation(true, false);
    } else if (command == "end") {
      map->EndOperation();
    } else if (command == "hold") {
      code = map->Hold(static_cast<uint32_t>(argument));
    } else {
      code = -3;
    }
    const std::string reply = std::to_string(code) + " " + std::to_string(map ? map->slot() : 0) +
                              " " + std::to_string(lock_calls.load()) + " " +
                              std::to_string(sleeps.load()) + "\n";
    ASSERT_EQ(write(kPeerOut, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  }
  fclose(in);
  if (fd >= 0) close(fd);
}

// ---- fixture ----------------------------------------------------------------

class LockMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    path_ = ::testing::TempDir() + "lock_map_test_" + std::to_string(getpid()) + "_" +
            std::to_string(++serial) + ".plx";
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    ClearError();
  }
  void TearDown() override {
    SetProcessFaultPlan(nullptr);
    for (int fd : fds_) close(fd);
    unlink(path_.c_str());
    ClearError();
  }
  // A new file object's descriptor: its own open file description.
  int Open(int flags = O_RDWR) {
    int fd = open(path_.c_str(), flags | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }

  std::string path_;
  std::vector<int> fds_;
};

// Counts what a LockMap asks of the seam, optionally failing lock calls.
struct SeamLog {
  std::atomic<int> lock_calls{0};
  std::atomic<int> sleeps{0};
  std::vector<uint64_t> lock_starts;  // only from the test's own thread
  int fail_with = 0;
  FaultPlan plan;

  // Attaches the plan as the process's; the fixture's TearDown detaches it.
  void Install() {
    plan.observe = [this](const OsCallInfo& call) {
      if (call.call == OsCall::kSleep) {
        ++sleeps;
        return 0;
      }
      if (call.call == OsCall::kLock) {
        ++lock_calls;
        lock_starts.push_back(call.start);
        return fail_with;
      }
      return 0;
    };
    SetProcessFaultPlan(&plan);
  }
};

// ---- one process, several file objects ----------------------------------------

TEST_F(LockMapTest, HoldConflictAnswers43AfterThreeAttemptsOneMillisecondApart) {
  LockMap a(Open()), b(Open());
  ASSERT_EQ(a.Hold(7), 0);
  std::vector<std::string> trace;
  b.set_trace([&](const std::string& line) { trace.push_back(line); });
  SeamLog log;
  log.Install();
  EXPECT_EQ(b.Hold(7), 43);
  EXPECT_EQ(log.lock_calls, 3);
  EXPECT_EQ(log.sleeps, 2);  // between the attempts, none after the last
  EXPECT_EQ(log.lock_starts, (std::vector<uint64_t>(3, kHoldBase + 8)));
  EXPECT_EQ(trace, std::vector<std::string>(3, "LockFile failed with error 33"));
  EXPECT_EQ(b.last_errno(), EAGAIN);
  EXPECT_FALSE(b.IsHeld(7));
  // Holding again what one holds succeeds; after RELEASE the other gets it.
  EXPECT_EQ(a.Hold(7), 0);
  a.Release(7);
  EXPECT_EQ(b.Hold(7), 0);
  EXPECT_TRUE(b.IsHeld(7));
}

TEST_F(LockMapTest, ReaderSlotMovesOnWhenTaken) {
  struct Case {
    uint32_t start;
    uint32_t expected;
  } cases[] = {{5, 6}, {1022, 0}};
  for (const Case& c : cases) {
    LockMap a(Open(), c.start), b(Open(), c.start);
    ASSERT_EQ(a.BeginOperation(false, false), 0);
    SeamLog log;
    log.Install();
    ASSERT_EQ(b.BeginOperation(false, false), 0);
    EXPECT_EQ(b.slot(), c.expected);
    EXPECT_EQ(log.lock_calls, 2);
    SetProcessFaultPlan(nullptr);
    EXPECT_TRUE(a.reading() && b.reading());
    a.EndOperation();
    b.EndOperation();
  }
}

TEST_F(LockMapTest, WritingOutShutsReadersOut) {
  LockMap writer(Open()), other_writer(Open()), reader(Open(), 40);
  // Given a writer inside a changing operation, writing its pages out...
  ASSERT_EQ(writer.BeginOperation(true, false), 0);
  ASSERT_EQ(writer.BeginWriteOut(), 0);
  EXPECT_TRUE(writer.writing_out());
  // ...a reader cannot enter (every slot is taken) and no second writer either.
  EXPECT_EQ(reader.BeginOperation(false, false), 5);
  EXPECT_EQ(reader.slot(), 42u);  // moved on before each retry
  EXPECT_FALSE(reader.reading());
  EXPECT_EQ(other_writer.BeginOperation(true, false), 5);
  // Between write-outs readers come back; writers stay out until the end.
  writer.EndWriteOut();
  EXPECT_EQ(reader.BeginOperation(false, false), 0);
  EXPECT_EQ(other_writer.BeginOperation(true, false), 5);
  reader.EndOperation();
  writer.EndOperation();
  EXPECT_EQ(other_writer.BeginOperation(true, false), 0);
}

TEST_F(LockMapTest, WriteOutWaitsUntilReadersLeave) {
  LockMap reader(Open(), 300), writer(Open());
  ASSERT_EQ(reader.BeginOperation(false, false), 0);
  ASSERT_EQ(writer.BeginOperation(true, false), 0);
  SeamLog log;
  log.Install();
  std::atomic<int> result{-1};
  std::thread writing([&] { result = writer.BeginWriteOut(); });
  // Let the writer fail a few times, then let the reader go. The deadline
  // only keeps a broken build from hanging.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (log.sleeps < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(result, -1);  // still waiting
  reader.EndOperation();
  writing.join();
  EXPECT_EQ(result, 0);
  writer.EndWriteOut();
  writer.EndOperation();
}

TEST_F(LockMapTest, OwnReaderSlotSurvivesARecoveryWriteOut) {
  LockMap a(Open(), 9);
  ASSERT_EQ(a.BeginOperation(false, false), 0);
  // Recovery inside a reading operation: writer byte, then every slot.
  ASSERT_TRUE(a.LockRange(0, LockKind::kWriter, true).ok());
  ASSERT_EQ(a.BeginWriteOut(), 0);
  a.EndWriteOut();
  a.UnlockRange(0, LockKind::kWriter);
  EXPECT_TRUE(a.CheckInvariants());
  // Slot 9 is still a's: a newcomer starting there moves on.
  LockMap b(Open(), 9);
  ASSERT_EQ(b.BeginOperation(false, false), 0);
  EXPECT_EQ(b.slot(), 10u);
  // The rest of the range is free again.
  LockMap c(Open(), 500);
  ASSERT_EQ(c.BeginOperation(false, false), 0);
  EXPECT_EQ(c.slot(), 500u);
  a.EndOperation();
  LockMap d(Open(), 9);
  ASSERT_EQ(d.BeginOperation(false, false), 0);
  EXPECT_EQ(d.slot(), 9u);
}

TEST_F(LockMapTest, TableLocksAreCounted) {
  LockMap a(Open()), b(Open());
  ASSERT_EQ(a.Lock(3), 0);
  ASSERT_EQ(a.Lock(3), 0);
  EXPECT_EQ(a.LockCount(3), 2);
  EXPECT_EQ(b.Lock(3), 32);
  a.Unlock(3);
  EXPECT_EQ(b.Lock(3), 32);
  a.Unlock(3);
  EXPECT_EQ(a.LockCount(3), 0);
  EXPECT_EQ(b.Lock(3), 0);
  a.Unlock(3);  // not locked: nothing happens
  EXPECT_EQ(b.LockCount(3), 1);
}

TEST_F(LockMapTest, HardFailuresAreReportedAtOnceNotRetried) {
  LockMap a(Open());
  SeamLog log;
  log.fail_with = ENOLCK;
  log.Install();
  struct Case {
    const char* what;
    std::function<int()> call;
  } cases[] = {
      {"hold", [&] { return a.Hold(1); }},
      {"lock", [&] { return a.Lock(2); }},
      {"begin read", [&] { return a.BeginOperation(false, true); }},
      {"begin write", [&] { return a.BeginOperation(true, true); }},
      {"write out", [&] { return a.BeginWriteOut(); }},  // waits, yet returns
  };
  for (const Case& c : cases) {
    log.lock_calls = 0;
    log.sleeps = 0;
    ClearError();
    EXPECT_EQ(c.call(), 90) << c.what;
    EXPECT_EQ(log.lock_calls, 1) << c.what;
    EXPECT_EQ(log.sleeps, 0) << c.what;
    EXPECT_EQ(ERRORCODE(), 90) << c.what;
    EXPECT_EQ(FILEERRORCODE(), std::to_string(OsErrorFromErrno(ENOLCK))) << c.what;
  }
  EXPECT_FALSE(a.IsHeld(1));
  EXPECT_EQ(a.LockCount(2), 0);
  EXPECT_FALSE(a.reading() || a.changing() || a.writing_out());
}

TEST_F(LockMapTest, HoldPositionWithAReaderKindIsCorruption) {
  LockMap a(Open());
  EXPECT_FATAL(a.LockRange(5, LockKind::kReaderSlot, false).IgnoreError(), kDataCorruption);
  EXPECT_FATAL(a.LockRange(5, LockKind::kAllSlots, false).IgnoreError(), kDataCorruption);
}

TEST_F(LockMapTest, ReleaseAllFreesEverything) {
  LockMap a(Open(), 77), b(Open(), 77);
  ASSERT_EQ(a.BeginOperation(true, false), 0);
  ASSERT_TRUE(a.LockRange(0, LockKind::kReaderSlot, false).ok());
  ASSERT_EQ(a.BeginWriteOut(), 0);
  ASSERT_EQ(a.Hold(4), 0);
  ASSERT_EQ(a.Lock(8), 0);
  a.ReleaseAll();
  EXPECT_FALSE(a.reading() || a.changing() || a.writing_out() || a.IsHeld(4));
  EXPECT_EQ(b.BeginOperation(true, false), 0);
  EXPECT_EQ(b.BeginWriteOut(), 0);
  b.EndWriteOut();
  EXPECT_TRUE(b.LockRange(0, LockKind::kReaderSlot, false).ok());
  EXPECT_EQ(b.slot(), 77u);
  EXPECT_EQ(b.Hold(4), 0);
  EXPECT_EQ(b.Lock(8), 0);
}

TEST_F(LockMapTest, ReadOnlyObjectsLockSharedYetKeepWritersOut) {
  LockMap r1(Open(O_RDONLY), 12), r2(Open(O_RDONLY), 12), w(Open());
  ASSERT_EQ(r1.BeginOperation(false, false), 0);
  ASSERT_EQ(r2.BeginOperation(false, false), 0);  // shared: both on slot 12
  ASSERT_EQ(w.BeginOperation(true, false), 0);
  EXPECT_EQ(w.LockRange(0, LockKind::kAllSlots, false), OsStatus::Error(EAGAIN));
  r1.EndOperation();
  r2.EndOperation();
  EXPECT_TRUE(w.LockRange(0, LockKind::kAllSlots, false).ok());
}

TEST(LockMapSlotTest, RandomSlotsStayInRange) {
  for (int i = 0; i < 200; ++i) EXPECT_LT(LockMap::RandomSlot(), kReaderSlotCount);
  EXPECT_EQ(LockMap(-1, 1023 + 4).slot(), 4u);
}

// ---- two processes -------------------------------------------------------------

TEST_F(LockMapTest, TwoProcessesEndWithDifferentReaderSlots) {
  LockMap mine(Open(), 100);
  ASSERT_EQ(mine.BeginOperation(false, false), 0);
  Peer peer(path_);
  ASSERT_EQ(peer.Ask("open 100").code, 0);
  const Reply r = peer.Ask("begin_read");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.slot, 101u);
  EXPECT_NE(r.slot, mine.slot());
}

TEST_F(LockMapTest, HoldHeldByAnotherProcessAnswers43AfterThreeAttempts) {
  LockMap mine(Open());
  ASSERT_EQ(mine.Hold(7), 0);
  Peer peer(path_);
  ASSERT_EQ(peer.Ask("open 0").code, 0);
  const Reply r = peer.Ask("hold 7");
  EXPECT_EQ(r.code, 43);
  EXPECT_EQ(r.lock_calls, 3);
  EXPECT_EQ(r.sleeps, 2);
  EXPECT_EQ(peer.Ask("hold 8").code, 0);  // the next row is free
  mine.Release(7);
  EXPECT_EQ(peer.Ask("hold 7").code, 0);
}

TEST_F(LockMapTest, ClosingASecondDescriptorKeepsTheFirstOnesLocks) {
  LockMap mine(Open());
  ASSERT_EQ(mine.Hold(7), 0);
  ASSERT_EQ(mine.BeginOperation(true, false), 0);
  // Given another descriptor of the same file, opened and closed in this
  // process (as a second file object, or any library, might)...
  const int other = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  close(other);
  // ...another process still finds the row held and the writer byte taken.
  Peer peer(path_);
  ASSERT_EQ(peer.Ask("open 0").code, 0);
  EXPECT_EQ(peer.Ask("hold 7").code, 43);
  EXPECT_EQ(peer.Ask("begin_write").code, 5);
}

TEST_F(LockMapTest, WriterExcludesReadersOfAnotherProcess) {
  LockMap writer(Open());
  Peer peer(path_);
  ASSERT_EQ(peer.Ask("open 600").code, 0);
  ASSERT_EQ(writer.BeginOperation(true, false), 0);
  // A changing operation alone lets readers in, but not writers.
  EXPECT_EQ(peer.Ask("begin_read").code, 0);
  EXPECT_EQ(peer.Ask("end").code, 0);
  EXPECT_EQ(peer.Ask("begin_write").code, 5);
  // While changes are written out, readers are shut out too.
  ASSERT_EQ(writer.BeginWriteOut(), 0);
  const Reply refused = peer.Ask("begin_read");
  EXPECT_EQ(refused.code, 5);
  EXPECT_EQ(refused.lock_calls, 3);
  writer.EndWriteOut();
  writer.EndOperation();
  EXPECT_EQ(peer.Ask("begin_read").code, 0);
  EXPECT_EQ(peer.Ask("end").code, 0);
  EXPECT_EQ(peer.Ask("begin_write").code, 0);
}

}  // namespace
}  // namespace qzr::palisade
