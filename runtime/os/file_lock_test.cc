#include "runtime/os/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runtime/os/fault_plan.h"

namespace qzr {
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
    SetProcessFaultPlan(nullptr);
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
  ASSERT_TRUE(OsTryLock(a, kFar, 1, true).ok());
  EXPECT_EQ(OsTryLock(b, kFar, 1, true), OsStatus::Error(EAGAIN));
  bool conflict = false;
  ASSERT_TRUE(OsTestLock(b, kFar, 1, true, &conflict).ok());
  EXPECT_TRUE(conflict);
  // Neighbouring bytes are free; the holder itself may lock again.
  EXPECT_TRUE(OsTryLock(b, kFar + 1, 1, true).ok());
  EXPECT_TRUE(OsTryLock(a, kFar, 1, true).ok());
  ASSERT_TRUE(OsUnlock(a, kFar, 1).ok());
  EXPECT_TRUE(OsTryLock(b, kFar, 1, true).ok());
}

TEST_F(FileLockTest, ClosingAnotherDescriptorKeepsTheLock) {
  const int holder = Open();
  ASSERT_TRUE(OsTryLock(holder, kFar, 1, true).ok());
  // Given a second descriptor of the same file opened and closed...
  const int other = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  close(other);
  // ...the first one's lock is still there.
  const int probe = Open();
  bool conflict = false;
  ASSERT_TRUE(OsTestLock(probe, kFar, 1, true, &conflict).ok());
  EXPECT_TRUE(conflict);
  EXPECT_EQ(OsTryLock(probe, kFar, 1, true), OsStatus::Error(EAGAIN));
}

TEST_F(FileLockTest, ReadOnlyDescriptorsShareTheirLocks) {
  const int ro1 = Open(O_RDONLY), ro2 = Open(O_RDONLY), rw = Open();
  EXPECT_FALSE(OsLockCanBeExclusive(ro1));
  EXPECT_TRUE(OsLockCanBeExclusive(rw));
  ASSERT_TRUE(OsTryLock(ro1, kFar, 1, false).ok());
  EXPECT_TRUE(OsTryLock(ro2, kFar, 1, false).ok());
  EXPECT_EQ(OsTryLock(rw, kFar, 1, true), OsStatus::Error(EAGAIN));
  EXPECT_EQ(OsTryLock(ro1, kFar, 1, true), OsStatus::Error(EBADF));  // exclusive needs write access
}

TEST_F(FileLockTest, FaultPlanCanFailAnyCall) {
  const int a = Open(), b = Open();
  std::vector<OsCall> seen;
  FaultPlan plan;
  plan.observe = [&](const OsCallInfo& call) {
    seen.push_back(call.call);
    return call.call == OsCall::kSleep || call.fd == a ? EIO : 0;
  };
  SetProcessFaultPlan(&plan);
  EXPECT_EQ(OsTryLock(a, kFar, 1, true), OsStatus::Error(EIO));
  bool conflict = true;
  EXPECT_EQ(OsTestLock(a, kFar, 1, true, &conflict), OsStatus::Error(EIO));
  EXPECT_EQ(OsUnlock(a, kFar, 1), OsStatus::Error(EIO));
  OsLockSleep(1000);  // failed by the plan: returns at once
  // The failed lock never reached the system.
  EXPECT_TRUE(OsTryLock(b, kFar, 1, true).ok());
  EXPECT_EQ(seen, (std::vector<OsCall>{OsCall::kLock, OsCall::kTestLock, OsCall::kUnlock,
                                       OsCall::kSleep, OsCall::kLock}));
  EXPECT_EQ(plan.count(OsCall::kLock), 2);
  SetProcessFaultPlan(nullptr);
  EXPECT_EQ(OsTryLock(-1, kFar, 1, true), OsStatus::Error(EBADF));
}

}  // namespace
}  // namespace qzr
