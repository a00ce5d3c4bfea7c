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
    SetAtomicWriteFaultHook(nullptr);
    fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(AtomicFileTest, WriteReplacesAndReadReturnsEveryByte) {
  const std::string path = dir_ + "/f";
  std::string binary("a\0b\r\n\xff", 6);
  for (const std::string& contents : {std::string(), binary, std::string(100000, 'x')}) {
    ASSERT_EQ(WriteFileAtomically(path, contents), 0);
    std::string back = "stale";
    ASSERT_EQ(ReadWholeFile(path, &back), 0);
    EXPECT_EQ(back, contents);
  }
  // A new file gets 0666 less the umask, like any file the user creates.
  mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(AtomicFileTest, ErrorsAreReturnedAsErrno) {
  std::string out = "stale";
  EXPECT_EQ(ReadWholeFile(dir_ + "/missing", &out), ENOENT);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadWholeFile(dir_, &out), EISDIR);
  EXPECT_EQ(WriteFileAtomically(dir_, "x"), EISDIR);
  EXPECT_EQ(WriteFileAtomically(dir_ + "/no/such/f", "x"), ENOENT);
}

TEST_F(AtomicFileTest, MakeDirectoriesCreatesPrivateParents) {
  const std::string deep = dir_ + "/a/b/c";
  ASSERT_EQ(MakeDirectories(deep), 0);
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(fs::status(dir_ + "/a").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(MakeDirectories(deep), 0);  // already there
  ASSERT_EQ(WriteFileAtomically(dir_ + "/file", ""), 0);
  EXPECT_EQ(MakeDirectories(dir_ + "/file"), ENOTDIR);
  EXPECT_EQ(MakeDirectories(""), ENOENT);
  EXPECT_EQ(ParentDirectory("/x/y"), "/x");
  EXPECT_EQ(ParentDirectory("/y"), "/");
  EXPECT_EQ(ParentDirectory("y"), ".");
}

TEST_F(AtomicFileTest, FolderLockIsTakenOnAFolderOnly) {
  DirectoryLock lock(dir_);
  EXPECT_TRUE(lock.locked());
  DirectoryLock none(dir_ + "/missing");
  EXPECT_FALSE(none.locked());
}

}  // namespace
}  // namespace qzr
