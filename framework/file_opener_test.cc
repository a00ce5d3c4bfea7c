// Tests of the two file openers and of the registry that hands them out.

#include "framework/file_opener.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "framework/file_manager_test_driver.h"
#include "framework/file_registry.h"

namespace qzr {
namespace {

using testing::TheTestDriver;

FileDescriptor TestFile(const std::string& name, uint32_t attributes) {
  return FileDeclaration(name, "T")
      .Driver(testing::kTestDriverName)
      .Attributes(attributes)
      .Field("ID", TypeCode::LONG)
      .Build();
}

class FileOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheTestDriver().Reset();
    TheTestDriver().MakeTable("T");
    ClearError();
  }
};

TEST_F(FileOpenerTest, PlainOpenerTakesAlreadyOpenAsOpen) {
  FileDescriptor file = TestFile("T", kFileThread);
  PlainFileOpener opener(&file);
  EXPECT_EQ(opener.OpenFile(0x42), 0);
  EXPECT_EQ(file.open_mode, 0x42u);
  EXPECT_EQ(opener.OpenFile(0x42), 0);  // the driver says 52
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(opener.CloseFile(), 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(opener.CloseFile(), kFileNotOpen);

  FileDescriptor missing = TestFile("NONE", kFileThread);
  PlainFileOpener other(&missing);
  EXPECT_EQ(other.OpenFile(0x42), 2);
}

TEST_F(FileOpenerTest, SharedOpenerOpensFirstAndClosesLast) {
  FileDescriptor file = TestFile("T", 0);
  SharedFileOpener opener(&file);
  // Table: the call, its result, the count after it, the file open after it.
  struct Step {
    bool open;
    int result;
    int32_t count;
    bool is_open;
  };
  const Step steps[] = {
      {true, 0, 1, true},    // opens
      {true, 0, 2, true},    // counts only
      {true, 0, 3, true},    //
      {false, 0, 2, true},   // counts down
      {false, 0, 1, true},   //
      {false, 0, 0, false},  // closes
      {false, 0, 0, false},  // nothing left: nothing changes
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.open ? opener.OpenFile(0x42) : opener.CloseFile(), s.result);
    EXPECT_EQ(opener.UsageCount(), s.count);
    EXPECT_EQ(file.IsOpen(), s.is_open);
  }
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 1);
  EXPECT_EQ(TheTestDriver().Count(FileOp::CLOSE), 1);
}

TEST_F(FileOpenerTest, SharedOpenerErrorsLeaveTheCount) {
  FileDescriptor file = TestFile("T", 0);
  SharedFileOpener opener(&file);
  TheTestDriver().FailNext(FileOp::OPEN, 5);
  EXPECT_EQ(opener.OpenFile(0x42), 5);
  EXPECT_EQ(opener.UsageCount(), 0);
  EXPECT_EQ(opener.OpenFile(0x42), 0);
  EXPECT_EQ(opener.UsageCount(), 1);
  // A close that fails leaves the file open and counted.
  TheTestDriver().FailNext(FileOp::CLOSE, 90);
  EXPECT_EQ(opener.CloseFile(), 90);
  EXPECT_EQ(opener.UsageCount(), 1);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(opener.CloseFile(), 0);
  EXPECT_EQ(opener.UsageCount(), 0);
  // A file closed behind the opener's back: "not open" counts as closed,
  // or the next open would only count and never open it again.
  EXPECT_EQ(opener.OpenFile(0x42), 0);
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, file), 0);
  EXPECT_EQ(opener.CloseFile(), 0);
  EXPECT_EQ(opener.UsageCount(), 0);
  EXPECT_EQ(opener.OpenFile(0x42), 0);
  EXPECT_TRUE(file.IsOpen());
  opener.CloseFile();
}

TEST_F(FileOpenerTest, ManyThreadsOpenAndCloseOnce) {
  FileDescriptor file = TestFile("T", 0);
  SharedFileOpener opener(&file);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(opener.OpenFile(0x42), 0);
        EXPECT_EQ(opener.CloseFile(), 0);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(opener.UsageCount(), 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), TheTestDriver().Count(FileOp::CLOSE));
}

TEST_F(FileOpenerTest, TheRegistryHandsOutOneOpenerPerFileUntilTheLastRelease) {
  FileRegistry& r = FileRegistry::Instance();
  FileDescriptor shared = TestFile("T", 0);
  FileDescriptor per_thread = TestFile("T", kFileThread);

  FileOpener* a = r.AcquireOpener(&shared);
  FileOpener* b = r.AcquireOpener(&shared);
  EXPECT_EQ(a, b);
  EXPECT_NE(dynamic_cast<SharedFileOpener*>(a), nullptr);
  EXPECT_EQ(a->USAGE, 2);
  FileOpener* c = r.AcquireOpener(&per_thread);
  EXPECT_NE(dynamic_cast<PlainFileOpener*>(c), nullptr);
  EXPECT_EQ(c->MYFILE, &per_thread);

  r.ReleaseOpener(a);
  EXPECT_EQ(b->USAGE, 1);
  r.ReleaseOpener(b);
  r.ReleaseOpener(c);
  // Released entirely: the next request makes a fresh one with one user.
  FileOpener* d = r.AcquireOpener(&shared);
  EXPECT_EQ(d->USAGE, 1);
  r.ReleaseOpener(d);
}

TEST_F(FileOpenerTest, UsageRecordsArePerThread) {
  FileRegistry& r = FileRegistry::Instance();
  FileDescriptor file = TestFile("T", 0);
  r.RecordOpen(&file);
  std::thread([&] {
    r.RecordOpen(&file);
    EXPECT_TRUE(r.RecordUse(&file, 2));
    FileStatusEntry e;
    EXPECT_TRUE(r.RecordClose(&file, &e));
    EXPECT_EQ(e.USTAT, 2);
  }).join();
  auto q = r.STATUSQ();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].NESTEDOPEN, 0);
  EXPECT_EQ(q[0].USTAT, 0);
  EXPECT_TRUE(r.RecordUse(&file, 3) == false);  // kind 3 saves no state
  EXPECT_TRUE(r.RecordUse(&file, 1));
  r.SetHold(&file, 9);
  EXPECT_FALSE(r.RecordUse(&file, 2));  // HOLD taken
  FileStatusEntry e;
  EXPECT_TRUE(r.RecordClose(&file, &e));
  EXPECT_EQ(e.USTAT, 3);
  EXPECT_EQ(e.HOLD, 9);
  EXPECT_FALSE(r.RecordClose(&file, &e));
  EXPECT_FALSE(r.RecordUse(&file, 2));  // no open, nothing recorded
  EXPECT_TRUE(r.STATUSQ().empty());
}

}  // namespace
}  // namespace qzr
