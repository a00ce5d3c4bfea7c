#include "runtime/os/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "runtime/os/atomic_file.h"
#include "runtime/os/fault_plan.h"
#include "runtime/os/file_lock.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_fs_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_TRUE(WriteFileAtomically(dir_ + "/file", "12345").ok());
    fs::create_directory(dir_ + "/folder");
    fs::create_symlink(dir_ + "/file", dir_ + "/link");
  }
  void TearDown() override {
    SetProcessFaultPlan(nullptr);
    fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(FileSystemTest, StatPathTellsWhatANameLeadsTo) {
  OsPathInfo file, folder, link;
  ASSERT_TRUE(StatPath(dir_ + "/file", &file).ok());
  EXPECT_EQ(file.kind, OsFileKind::kRegular);
  EXPECT_EQ(file.size, 5u);
  ASSERT_TRUE(StatPath(dir_ + "/folder", &folder).ok());
  EXPECT_EQ(folder.kind, OsFileKind::kDirectory);
  // A link is followed: the two names are one file.
  ASSERT_TRUE(StatPath(dir_ + "/link", &link).ok());
  EXPECT_EQ(link.id.inode, file.id.inode);
  EXPECT_EQ(link.id.device, file.id.device);
  OsPathInfo none;
  EXPECT_EQ(StatPath(dir_ + "/missing", &none), OsStatus::Error(ENOENT));

  struct Case {
    const char* name;
    bool exists, directory, symbolic;
  } cases[] = {
      {"/file", true, false, false},
      {"/folder", true, true, false},
      {"/link", true, false, true},
      {"/missing", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PathExists(dir_ + c.name), c.exists);
    EXPECT_EQ(IsDirectory(dir_ + c.name), c.directory);
    EXPECT_EQ(IsSymbolicLink(dir_ + c.name), c.symbolic);
  }
}

TEST_F(FileSystemTest, CheckWritableSaysWhetherThisProcessMayWrite) {
  EXPECT_TRUE(CheckWritable(dir_ + "/file").ok());
  EXPECT_TRUE(CheckWritable(dir_ + "/missing").Is(ENOENT));
  if (::geteuid() != 0) {  // root writes anything
    ASSERT_EQ(::chmod((dir_ + "/file").c_str(), 0444), 0);
    EXPECT_TRUE(CheckWritable(dir_ + "/file").Is(EACCES));
  }
}

TEST_F(FileSystemTest, PathsAreResolvedMadeAbsoluteAndNormalised) {
  std::string real_dir;
  ASSERT_TRUE(ResolvePath(dir_, &real_dir).ok());
  std::string out;
  ASSERT_TRUE(ResolvePath(dir_ + "/folder/../link", &out).ok());
  EXPECT_EQ(out, real_dir + "/file");
  EXPECT_TRUE(ResolvePath(dir_ + "/missing", &out).Is(ENOENT));

  // The part that exists is resolved; the rest is kept, normalised.
  ASSERT_TRUE(CanonicalPath(dir_ + "/folder/./../missing/x", &out).ok());
  EXPECT_EQ(out, real_dir + "/missing/x");

  std::string cwd;
  ASSERT_TRUE(CurrentDirectory(&cwd).ok());
  EXPECT_EQ(cwd, fs::current_path().string());
  ASSERT_TRUE(AbsolutePath("a/b", &out).ok());
  EXPECT_EQ(out, cwd + "/a/b");
  ASSERT_TRUE(AbsolutePath("/x/../y", &out).ok());
  EXPECT_EQ(out, "/x/../y");  // already absolute: as written

  std::string exe;
  ASSERT_TRUE(ExecutablePath(&exe).ok());
  EXPECT_EQ(exe, fs::read_symlink("/proc/self/exe").string());
}

TEST_F(FileSystemTest, EveryNameQuestionCanBeFailedByThePlan) {
  FaultPlan plan;
  plan.FailFrom(OsCall::kStat, 1, EACCES);
  ScopedFaultPlan scoped(&plan);
  OsPathInfo info;
  std::string out;
  EXPECT_TRUE(StatPath(dir_ + "/file", &info).Is(EACCES));
  EXPECT_FALSE(PathExists(dir_ + "/file"));
  EXPECT_FALSE(IsDirectory(dir_ + "/folder"));
  EXPECT_FALSE(IsSymbolicLink(dir_ + "/link"));
  EXPECT_TRUE(CheckWritable(dir_ + "/file").Is(EACCES));
  EXPECT_TRUE(ResolvePath(dir_, &out).Is(EACCES));
  EXPECT_TRUE(CanonicalPath(dir_, &out).Is(EACCES));
  EXPECT_TRUE(AbsolutePath("a", &out).Is(EACCES));
  EXPECT_TRUE(CurrentDirectory(&out).Is(EACCES));
  EXPECT_TRUE(ExecutablePath(&out).Is(EACCES));
  EXPECT_EQ(plan.count(OsCall::kStat), 10);
}

TEST_F(FileSystemTest, OutputStreamWritesThroughTheSeam) {
  const std::string path = dir_ + "/out";
  std::unique_ptr<OsFile> file;
  ASSERT_TRUE(OsFile::Open(path, true, true, &file).ok());
  const std::string big(40000, 'z');  // more than the stream's buffer
  {
    OsOutputStream out(file.get());
    out << "head " << 42 << '\n' << big;
    out.flush();
    EXPECT_TRUE(out.good());
    EXPECT_TRUE(out.status().ok());
    out << "tail";
  }  // the rest is written when the stream goes
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, &back).ok());
  EXPECT_EQ(back, "head 42\n" + big + "tail");
}

TEST_F(FileSystemTest, OutputStreamStopsAtTheFirstFailedWrite) {
  const std::string path = dir_ + "/out";
  std::unique_ptr<OsFile> file;
  ASSERT_TRUE(OsFile::Open(path, true, true, &file).ok());
  FaultPlan plan;
  plan.FailAt(OsCall::kWrite, 2, ENOSPC);
  ScopedFaultPlan scoped(&plan);
  OsOutputStream out(file.get());
  const std::string block(16384, 'a');
  out << block << block << block << block;
  out.flush();
  EXPECT_FALSE(out.good());
  EXPECT_TRUE(out.status().Is(ENOSPC));
  // Nothing after the failed write was written: no hole in the middle.
  EXPECT_EQ(plan.count(OsCall::kWrite), 2);
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size).ok());
  EXPECT_EQ(size, block.size());
}

// A simulated death ends the process for the seam: nothing it does later
// reaches the system, reads and opens included, so no code can carry on
// as though it had lived.
TEST_F(FileSystemTest, AfterASimulatedDeathEverySeamCallFails) {
  const std::string path = dir_ + "/file";
  std::unique_ptr<OsFile> open_before;
  ASSERT_TRUE(OsFile::Open(path, true, false, &open_before).ok());
  for (const char* how : {"write", "sync", "point"}) {
    SCOPED_TRACE(how);
    FaultPlan plan;
    if (std::string(how) == "write") plan.stop_before_write = 1;
    if (std::string(how) == "sync") plan.stop_before_sync = 1;
    if (std::string(how) == "point") plan.stop_at = "halfway";
    ScopedFaultPlan scoped(&plan);
    if (std::string(how) == "write") {
      EXPECT_FALSE(open_before->WriteAt(0, "x", 1).ok());
    } else if (std::string(how) == "sync") {
      EXPECT_FALSE(open_before->Sync().ok());
    } else {
      EXPECT_FALSE(ProcessPoint("halfway"));
    }
    ASSERT_TRUE(plan.stopped);

    const OsStatus dead = OsStatus::Error(os_internal::kStoppedErrno);
    std::unique_ptr<OsFile> file;
    EXPECT_EQ(OsFile::Open(path, false, false, &file), dead);
    char buf[4];
    size_t got = 9;
    EXPECT_EQ(open_before->ReadAt(0, buf, sizeof buf, &got), dead);
    EXPECT_EQ(got, 0u);
    uint64_t size = 0;
    EXPECT_EQ(open_before->Size(&size), dead);
    EXPECT_EQ(open_before->WriteAt(0, "y", 1), dead);
    EXPECT_EQ(open_before->Truncate(0), dead);
    EXPECT_EQ(open_before->Sync(), dead);
    EXPECT_EQ(OsTryLock(open_before->fd(), 1 << 20, 1, true), dead);
    bool conflict = false;
    EXPECT_EQ(OsTestLock(open_before->fd(), 1 << 20, 1, true, &conflict), dead);
    EXPECT_EQ(OsUnlock(open_before->fd(), 1 << 20, 1), dead);
    EXPECT_EQ(RenameFile(path, path + "2"), dead);
    EXPECT_EQ(LinkFile(path, path + "2"), dead);
    EXPECT_EQ(UnlinkFile(path), dead);
    EXPECT_EQ(MakeDirectory(dir_ + "/new", 0700), dead);
    EXPECT_EQ(SyncDirectoryOf(path), dead);
    OsPathInfo info;
    EXPECT_EQ(StatPath(path, &info), dead);
    std::string text;
    EXPECT_EQ(ReadWholeFile(path, &text), dead);
    EXPECT_EQ(WriteFileAtomically(path, "new"), dead);
    EXPECT_FALSE(ProcessPoint("later"));
    EXPECT_FALSE(DirectoryLock(dir_).locked());
  }
  // The files are as the death left them.
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, &back).ok());
  EXPECT_EQ(back, "12345");
  EXPECT_FALSE(PathExists(path + "2"));
}

}  // namespace
}  // namespace qzr
