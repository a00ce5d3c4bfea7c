#include "runtime/os/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace qzr {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_atomic_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    SetProcessFaultPlan(nullptr);
    fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(AtomicFileTest, WriteReplacesAndReadReturnsEveryByte) {
  const std::string path = dir_ + "/f";
  std::string binary("a\0b\r\n\xff", 6);
  for (const std::string& contents : {std::string(), binary, std::string(100000, 'x')}) {
    ASSERT_TRUE(WriteFileAtomically(path, contents).ok());
    std::string back = "stale";
    ASSERT_TRUE(ReadWholeFile(path, &back).ok());
    EXPECT_EQ(back, contents);
  }
  // A new file gets 0666 less the umask, like any file the user creates.
  mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(AtomicFileTest, ErrorsAreReturnedAsErrnoStatus) {
  std::string out = "stale";
  EXPECT_EQ(ReadWholeFile(dir_ + "/missing", &out), OsStatus::Error(ENOENT));
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadWholeFile(dir_, &out), OsStatus::Error(EISDIR));
  EXPECT_EQ(WriteFileAtomically(dir_, "x"), OsStatus::Error(EISDIR));
  EXPECT_EQ(WriteFileAtomically(dir_ + "/no/such/f", "x"), OsStatus::Error(ENOENT));
}

TEST_F(AtomicFileTest, MakeDirectoriesCreatesPrivateParents) {
  const std::string deep = dir_ + "/a/b/c";
  ASSERT_TRUE(MakeDirectories(deep).ok());
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(fs::status(dir_ + "/a").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(MakeDirectories(deep).ok());  // already there
  ASSERT_TRUE(WriteFileAtomically(dir_ + "/file", "").ok());
  EXPECT_EQ(MakeDirectories(dir_ + "/file"), OsStatus::Error(ENOTDIR));
  EXPECT_EQ(MakeDirectories(""), OsStatus::Error(ENOENT));
  EXPECT_EQ(ParentDirectory("/x/y"), "/x");
  EXPECT_EQ(ParentDirectory("/y"), "/");
  EXPECT_EQ(ParentDirectory("y"), ".");
}

// Given a file, when the power fails before any sync of its replacement
// (losing what was not synced), then it holds the old contents or the new
// ones, never a mixture or nothing.
TEST_F(AtomicFileTest, PowerCutAtAnySyncLeavesTheOldOrTheNewContents) {
  const std::string path = dir_ + "/settings";
  const std::string old_text(5000, 'o'), new_text(7000, 'n');
  int cuts = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE("power cut before sync " + std::to_string(k));
    ASSERT_TRUE(WriteFileAtomically(path, old_text).ok());
    FaultPlan plan;
    plan.stop_before_sync = k;
    plan.lose_unsynced = true;
    plan.loss_seed = static_cast<uint32_t>(k);
    SetProcessFaultPlan(&plan);
    const OsStatus written = WriteFileAtomically(path, new_text);
    SetProcessFaultPlan(nullptr);
    std::string back;
    ASSERT_TRUE(ReadWholeFile(path, &back).ok());
    EXPECT_TRUE(back == old_text || back == new_text) << back.size() << " bytes";
    if (!plan.stopped) {
      EXPECT_TRUE(written.ok());
      EXPECT_EQ(back, new_text);
      break;
    }
    ++cuts;
    ASSERT_LT(k, 10);
  }
  EXPECT_EQ(cuts, 2);  // before the file's sync and before the folder's
}

TEST_F(AtomicFileTest, FolderLockIsTakenOnAFolderOnly) {
  DirectoryLock lock(dir_);
  EXPECT_TRUE(lock.locked());
  DirectoryLock none(dir_ + "/missing");
  EXPECT_FALSE(none.locked());
}

}  // namespace
}  // namespace qzr
