#include "drivers/palisade/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace qzr::palisade {
namespace {

constexpr uint64_t kFar = 0x80000010;  // far past the data, as the lock map's bytes

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "file_lock_test_" + std::to_string(getpid()) + ".plx";
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  void TearDown() override {
    SetLockFaultHook({});
    for (int fd : fds_) close(fd);
    unlink(path_.c_str());
  }
  int Open(int flags = O_RDWR) {
    int fd = open(path_.c_str(), flags | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }

  std::string path_;
  std::vector<int> fds_;
};

TEST_F(FileLockTest, SeparateDescriptorsConflictInsideOneProcess) {
  const int a = Open(), b = Open();
  ASSERT_EQ(OsTryLock(a, kFar, 1, true), 0);
  EXPECT_EQ(OsTryLock(b, kFar, 1, true), EAGAIN);
  bool conflict = false;
  ASSERT_EQ(OsTestLock(b, kFar, 1, true, &conflict), 0);
  EXPECT_TRUE(conflict);
  // Neighbouring bytes are free; the holder itself may lock again.
  EXPECT_EQ(OsTryLock(b, kFar + 1, 1, true), 0);
  EXPECT_EQ(OsTryLock(a, kFar, 1, true), 0);
  ASSERT_EQ(OsUnlock(a, kFar, 1), 0);
  EXPECT_EQ(OsTryLock(b, kFar, 1, true), 0);
}

TEST_F(FileLockTest, ClosingAnotherDescriptorKeepsTheLock) {
  const int holder = Open();
  ASSERT_EQ(OsTryLock(holder, kFar, 1, true), 0);
  // Given a second descriptor of the same file opened and closed...
  const int other = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  close(other);
  // ...the first one's lock is still there.
  const int probe = Open();
  bool conflict = false;
  ASSERT_EQ(OsTestLock(probe, kFar, 1, true, &conflict), 0);
  EXPECT_TRUE(conflict);
  EXPECT_EQ(OsTryLock(probe, kFar, 1, true), EAGAIN);
}

TEST_F(FileLockTest, ReadOnlyDescriptorsShareTheirLocks) {
  const int ro1 = Open(O_RDONLY), ro2 = Open(O_RDONLY), rw = Open();
  EXPECT_FALSE(OsLockCanBeExclusive(ro1));
  EXPECT_TRUE(OsLockCanBeExclusive(rw));
  ASSERT_EQ(OsTryLock(ro1, kFar, 1, false), 0);
  EXPECT_EQ(OsTryLock(ro2, kFar, 1, false), 0);
  EXPECT_EQ(OsTryLock(rw, kFar, 1, true), EAGAIN);
  EXPECT_EQ(OsTryLock(ro1, kFar, 1, true), EBADF);  // exclusive needs write access
}

TEST_F(FileLockTest, HookCanFailAnyCall) {
  const int a = Open(), b = Open();
  std::vector<LockOp> seen;
  SetLockFaultHook([&](const LockCall& call) {
    seen.push_back(call.op);
    return call.op == LockOp::kSleep || call.fd == a ? EIO : 0;
  });
  EXPECT_EQ(OsTryLock(a, kFar, 1, true), EIO);
  bool conflict = true;
  EXPECT_EQ(OsTestLock(a, kFar, 1, true, &conflict), EIO);
  EXPECT_EQ(OsUnlock(a, kFar, 1), EIO);
  OsLockSleep(1000);  // failed by the hook: returns at once
  // The failed lock never reached the system.
  EXPECT_EQ(OsTryLock(b, kFar, 1, true), 0);
  EXPECT_EQ(seen, (std::vector<LockOp>{LockOp::kLock, LockOp::kTest, LockOp::kUnlock,
                                       LockOp::kSleep, LockOp::kLock}));
  SetLockFaultHook({});
  EXPECT_EQ(OsTryLock(-1, kFar, 1, true), EBADF);
}

}  // namespace
}  // namespace qzr::palisade
