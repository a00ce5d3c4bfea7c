// Tests of the transaction frame over a Palisade file: a commit keeps what
// the frame did, any other exit puts it back, a frame made inside another
// joins it, and the thread's open frame can be given up from anywhere.

#include "framework/transaction_frame.h"

#include <gtest/gtest.h>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/runtime_error.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

class TransactionFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    ClearError();
    file_ = FileDeclaration("FRAMED", "FRA")
                .Driver("PALISADE")
                .Name(dir_.File("FRAMED.PLX"))
                .Attributes(kFileCreate)
                .Field("ID", TypeCode::LONG)
                .Key("F_ID", {{"ID"}}, kKeyPrimary)
                .Build();
    ASSERT_EQ(DoFileOp(FileOp::CREATE, file_), 0);
    file_.open_mode = kOpenReadWriteDenyNone;
    ASSERT_EQ(DoFileOp(FileOp::OPEN, file_), 0);
  }
  void TearDown() override { EXPECT_EQ(DoFileOp(FileOp::CLOSE, file_), 0); }

  int Add(int32_t id) {
    UfoSlot s;
    const FieldDesc& d = file_.fields[0];
    s.Make(d.type, file_.FieldData(0), d.size)->SetLong(id);
    return DoFileOp(FileOp::ADD, file_);
  }
  int64_t Records() {
    FileArgs a;
    EXPECT_EQ(DoFileOp(FileOp::RECORDSfile, file_, a), 0);
    return a.result;
  }

  palisade::test::TempDir dir_;
  FileDescriptor file_;
};

TEST_F(TransactionFrameTest, ACommitKeepsWhatTheFrameDidAndAnyOtherExitPutsItBack) {
  {
    TransactionFrame frame;
    EXPECT_FALSE(frame.Transactional());
    ASSERT_EQ(frame.Enlist(&file_, 1), 0);
    ASSERT_TRUE(frame.Transactional());
    ASSERT_EQ(Add(1), 0);
    ASSERT_EQ(frame.Commit(), 0);
    EXPECT_FALSE(frame.Transactional());
  }
  EXPECT_EQ(Records(), 1);
  {
    TransactionFrame frame;
    ASSERT_EQ(frame.Enlist(&file_, 1), 0);
    ASSERT_EQ(Add(2), 0);
    EXPECT_EQ(Records(), 2);
  }  // no commit: rolled back
  EXPECT_EQ(Records(), 1);
  {
    TransactionFrame frame;
    ASSERT_EQ(frame.Enlist(&file_, 1), 0);
    ASSERT_EQ(Add(3), 0);
    frame.Rollback();
    EXPECT_FALSE(frame.Transactional());
    EXPECT_EQ(frame.Commit(), 0);  // nothing left to commit
  }
  EXPECT_EQ(Records(), 1);
}

TEST_F(TransactionFrameTest, AFrameInsideAnotherJoinsItAndLeavesTheCommitToItsOwner) {
  {
    TransactionFrame outer;
    ASSERT_EQ(outer.Enlist(&file_, 1), 0);
    {
      TransactionFrame inner;
      EXPECT_TRUE(inner.joined());
      EXPECT_TRUE(inner.Transactional());
      EXPECT_EQ(inner.Enlist(&file_, 1), 0);  // already in: left as it is
      ASSERT_EQ(Add(4), 0);
      EXPECT_EQ(inner.Commit(), 0);  // the owner's to do
    }
    EXPECT_TRUE(outer.Transactional());
    EXPECT_EQ(Records(), 1);
  }  // the owner never commits: the joined frame's add goes too
  EXPECT_EQ(Records(), 0);
  {
    TransactionFrame outer;
    EXPECT_FALSE(outer.joined());
    ASSERT_EQ(outer.Enlist(&file_, 1), 0);
    ASSERT_EQ(Add(5), 0);
    // Given up from anywhere on the thread, with the failure kept.
    PostError(kRecordNotFound);
    TransactionFrame::RollbackOpenFrame();
    EXPECT_EQ(ERRORCODE(), kRecordNotFound);
    EXPECT_FALSE(outer.Transactional());
    EXPECT_EQ(outer.Commit(), 0);
  }
  EXPECT_EQ(Records(), 0);
}

}  // namespace
}  // namespace qzr
