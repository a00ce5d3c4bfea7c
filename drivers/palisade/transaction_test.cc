#include "drivers/palisade/transaction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/tcf.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

using test::ReadAll;
using test::S;
using test::V;
using test::WriteAll;

using Contents = std::map<std::string, std::string>;

// Every record but the transaction record (which only the last
// transaction's commit leaves behind).
Contents Read(Pager* pager) {
  Contents out;
  PageTree tree(pager);
  TreeCursor cursor(&tree);
  for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next()) {
    const RecordView rec = cursor.record();
    if (rec.key().size() == 1 && rec.key()[0] == kKindTxn) continue;
    out[std::string(rec.key().begin(), rec.key().end())] =
        std::string(rec.payload().begin(), rec.payload().end());
  }
  return out;
}

void Change(Pager* pager, Contents* model, int step, int count) {
  PageTree tree(pager);
  std::mt19937 rng(static_cast<uint32_t>(step) * 104729u + 3);
  for (int i = 0; i < count; ++i) {
    const std::string key = "r" + std::to_string(rng() % 300);
    if (rng() % 4 == 0) {
      tree.Delete(V(S(key)));
      model->erase(key);
    } else {
      std::string value(rng() % 500, static_cast<char>('A' + rng() % 26));
      value += std::to_string(step);
      tree.Put(MakeRecord(V(S(key)), V(S(value))));
      (*model)[key] = value;
    }
  }
}

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_ = {dir_.File("a.plx"), dir_.File("b.plx"), dir_.File("c.plx")};
    models_.resize(paths_.size());
    for (size_t i = 0; i < paths_.size(); ++i) {
      auto pager = Open(i);
      Change(pager.get(), &models_[i], static_cast<int>(i), 80);
      ASSERT_EQ(pager->Flush(), 0);
    }
  }
  void TearDown() override {
    SetProcessFaultPlan(nullptr);
    if (TransactionActive()) TransactionRollback();
    SetControlFileName("");
  }

  std::unique_ptr<Pager> Open(size_t i, bool writable = true) {
    std::unique_ptr<Pager> pager;
    EXPECT_EQ(Pager::Open(paths_[i], writable, true, {}, &pager), 0);
    return pager;
  }
  std::vector<std::unique_ptr<Pager>> OpenAll() {
    std::vector<std::unique_ptr<Pager>> out;
    for (size_t i = 0; i < paths_.size(); ++i) out.push_back(Open(i));
    return out;
  }
  static std::vector<Pager*> Raw(const std::vector<std::unique_ptr<Pager>>& v) {
    std::vector<Pager*> out;
    for (const auto& p : v) out.push_back(p.get());
    return out;
  }
  void ExpectClean() {
    for (const std::string& path : paths_) {
      EXPECT_EQ(CheckFile(path).problems, std::vector<std::string>()) << path;
    }
  }

  test::TempDir dir_;
  std::vector<std::string> paths_;
  std::vector<Contents> models_;
};

TEST_F(TransactionTest, SeveralFilesCommitTogetherThroughTheControlFile) {
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> after = models_;
  Change(files[0].get(), &after[0], 10, 30);
  Change(files[1].get(), &after[1], 11, 30);
  EXPECT_EQ(files[0]->Flush(), 0);  // held: nothing goes out before COMMIT
  EXPECT_EQ(Read(Open(0, false).get()), models_[0]);
  ASSERT_EQ(TransactionCommit(), 0);
  EXPECT_FALSE(TransactionActive());
  files.clear();
  for (size_t i = 0; i < paths_.size(); ++i) EXPECT_EQ(Read(Open(i).get()), after[i]) << i;
  ExpectClean();
  // The control file beside the data was used, and holds no id any more.
  const std::string tcf = dir_.File(kControlFileLeaf);
  ASSERT_TRUE(std::filesystem::exists(tcf));
  EXPECT_EQ(AskControlFile(tcf, LastTransactionId()), TcfVerdict::kCommitted);
  EXPECT_EQ(CheckFile(tcf).problems, std::vector<std::string>());
  // Each changed file carries the transaction record naming the default.
  auto a = Open(0);
  PageTree tree(a.get());
  const uint8_t key[1] = {kKindTxn};
  const RecordView* rec = tree.Find(Bytes(key, 1));
  ASSERT_NE(rec, nullptr);
  auto txn = ParseTxnRecord(rec->payload());
  ASSERT_TRUE(txn.has_value());
  EXPECT_EQ(txn->id, LastTransactionId());
  EXPECT_EQ(txn->control_file, kDefaultControlFile);
  // The file that did not change was left alone.
  auto c = Open(2);
  EXPECT_EQ(PageTree(c.get()).Find(Bytes(key, 1)), nullptr);
}

// The protocol's floor: each data file syncs twice to prepare and twice to
// apply; the control file commits twice (enter, leave), four syncs each.
TEST_F(TransactionTest, ACommitOfTwoFilesSyncsSixteenTimes) {
  auto files = OpenAll();
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(TransactionBegin(Raw(files)), 0);
    std::vector<Contents> after = models_;
    Change(files[0].get(), &after[0], 90 + round, 5);
    Change(files[1].get(), &after[1], 92 + round, 5);
    FaultPlan counter;
    SetProcessFaultPlan(&counter);
    ASSERT_EQ(TransactionCommit(), 0);
    SetProcessFaultPlan(nullptr);
    // The first commit creates the control file: its directory is synced,
    // its empty header written first and its first page put in place
    // (one sync for the directory, three instead of four for the entry).
    EXPECT_EQ(counter.syncs(), 16) << round;
  }
}

TEST_F(TransactionTest, OneChangedFileCommitsAsASingleFile) {
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> after = models_;
  Change(files[1].get(), &after[1], 20, 10);
  ASSERT_EQ(TransactionCommit(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File(kControlFileLeaf)));
  files.clear();
  EXPECT_EQ(Read(Open(1).get()), after[1]);
}

TEST_F(TransactionTest, RollbackLeavesEveryFileAsLastCommitted) {
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> scratch = models_;
  for (size_t i = 0; i < files.size(); ++i) {
    Change(files[i].get(), &scratch[i], 30 + static_cast<int>(i), 20);
  }
  ASSERT_EQ(TransactionRollback(), 0);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_FALSE(files[i]->HasChanges());
    EXPECT_EQ(Read(files[i].get()), models_[i]);
  }
  ExpectClean();
}

TEST_F(TransactionTest, EntryPointsAnswerWithTheirErrorCodes) {
  auto files = OpenAll();
  EXPECT_EQ(TransactionCommit(), kLogoutNotActive);
  EXPECT_EQ(ERRORCODE(), kLogoutNotActive);
  EXPECT_EQ(TransactionRollback(), kLogoutNotActive);
  EXPECT_EQ(TransactionAdd(files[0].get()), kLogoutNotActive);
  ASSERT_EQ(TransactionBegin({files[0].get()}), 0);
  EXPECT_EQ(TransactionBegin({files[1].get()}), kLogoutAlreadyActive);
  EXPECT_EQ(TransactionAdd(files[1].get()), 0);
  EXPECT_TRUE(InTransaction(files[1].get()));
  EXPECT_FALSE(InTransaction(files[2].get()));
  TransactionForget(files[1].get());
  EXPECT_FALSE(InTransaction(files[1].get()));
  ASSERT_EQ(TransactionRollback(), 0);
  auto reader = Open(2, false);
  EXPECT_EQ(TransactionBegin({reader.get()}), kUnableToLogTransaction);
  EXPECT_FALSE(TransactionActive());
}

TEST_F(TransactionTest, ChangesMadeBeforeLogoutCommitOnTheirOwn) {
  auto files = OpenAll();
  std::vector<Contents> after = models_;
  Change(files[0].get(), &after[0], 40, 10);
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> dropped = after;
  Change(files[0].get(), &dropped[0], 41, 10);
  ASSERT_EQ(TransactionRollback(), 0);
  EXPECT_EQ(Read(files[0].get()), after[0]);
}

TEST_F(TransactionTest, TheTcfSettingNamesOneControlFileForEveryFile) {
  std::filesystem::create_directory(dir_.path() / "ctl");
  SetControlFileName(dir_.File("ctl/all.tcf"));
  EXPECT_EQ(ControlFileName(), dir_.File("ctl/all.tcf"));
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> after = models_;
  for (size_t i = 0; i < files.size(); ++i) {
    Change(files[i].get(), &after[i], 50 + static_cast<int>(i), 10);
  }
  ASSERT_EQ(TransactionCommit(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("ctl/all.tcf")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File(kControlFileLeaf)));
  const uint8_t key[1] = {kKindTxn};
  auto txn = ParseTxnRecord(PageTree(files[2].get()).Find(Bytes(key, 1))->payload());
  ASSERT_TRUE(txn.has_value());
  EXPECT_EQ(txn->control_file, std::filesystem::absolute(dir_.File("ctl/all.tcf")).string());
}

TEST_F(TransactionTest, AFailedPrepareDropsTheWholeTransaction) {
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> scratch = models_;
  for (size_t i = 0; i < files.size(); ++i) {
    Change(files[i].get(), &scratch[i], 60 + static_cast<int>(i), 20);
  }
  FaultPlan plan;
  plan.FailAt(OsCall::kWrite, 1);
  files[2]->file()->set_fault_plan(&plan);
  EXPECT_EQ(TransactionCommit(), kUnableToLogTransaction);
  files[2]->file()->set_fault_plan(nullptr);
  files.clear();
  for (size_t i = 0; i < paths_.size(); ++i) EXPECT_EQ(Read(Open(i).get()), models_[i]) << i;
  ExpectClean();
}

// A control file whose full name cannot be had (the current folder cannot
// be read) is one the transaction cannot be logged to: COMMIT says so and
// every file stays as last committed (the question used to throw).
TEST_F(TransactionTest, AControlFileThatCannotBeNamedDropsTheWholeTransaction) {
  auto files = OpenAll();
  ASSERT_EQ(TransactionBegin(Raw(files)), 0);
  std::vector<Contents> scratch = models_;
  for (size_t i = 0; i < files.size(); ++i) {
    Change(files[i].get(), &scratch[i], 70 + static_cast<int>(i), 20);
  }
  SetControlFileName("relative.tcf");
  FaultPlan plan;
  plan.FailFrom(OsCall::kStat, 1, EACCES);
  SetProcessFaultPlan(&plan);
  EXPECT_EQ(TransactionCommit(), kUnableToLogTransaction);
  SetProcessFaultPlan(nullptr);
  EXPECT_GT(plan.count(OsCall::kStat), 0);
  files.clear();
  for (size_t i = 0; i < paths_.size(); ++i) EXPECT_EQ(Read(Open(i).get()), models_[i]) << i;
  ExpectClean();
}

// Given three files changed in one transaction, when the process dies at a
// named step of COMMIT, then every file is discarded before the commit
// point and every file applied after it.
TEST_F(TransactionTest, TheCommitPointDecidesEveryFile) {
  std::vector<std::vector<uint8_t>> committed;
  for (const std::string& p : paths_) committed.push_back(ReadAll(p));
  for (const char* point : {"before-commit-point", "after-commit-point"}) {
    for (size_t i = 0; i < paths_.size(); ++i) WriteAll(paths_[i], committed[i]);
    std::vector<Contents> after = models_;
    FaultPlan plan;
    plan.stop_at = point;
    {
      auto files = OpenAll();
      ASSERT_EQ(TransactionBegin(Raw(files)), 0);
      for (size_t i = 0; i < files.size(); ++i) {
        Change(files[i].get(), &after[i], 70 + static_cast<int>(i), 25);
      }
      SetProcessFaultPlan(&plan);
      TransactionCommit();
      SetProcessFaultPlan(nullptr);
      ASSERT_TRUE(plan.stopped) << point;
    }
    const bool applied = std::string(point) == "after-commit-point";
    for (size_t i = 0; i < paths_.size(); ++i) {
      auto pager = Open(i);
      EXPECT_EQ(pager->last_recovery(), applied ? Recovery::kApplied : Recovery::kDiscarded)
          << point << " " << i;
      EXPECT_EQ(Read(pager.get()), applied ? after[i] : models_[i]) << point << " " << i;
    }
    ExpectClean();
  }
}

// Death before every write of a three-file COMMIT, counted across the data
// files and the control file, with and without losing unsynced writes:
// all files old, or all new.
TEST_F(TransactionTest, DeathAtEveryWriteOfACommitIsAllOrNothing) {
  std::vector<std::vector<uint8_t>> committed;
  for (const std::string& p : paths_) committed.push_back(ReadAll(p));
  int finished_after = 0;
  int seen_old = 0, seen_new = 0;
  for (bool power_cut : {false, true}) {
    for (int k = 1;; ++k) {
      for (size_t i = 0; i < paths_.size(); ++i) WriteAll(paths_[i], committed[i]);
      std::filesystem::remove(dir_.File(kControlFileLeaf));
      std::vector<Contents> after = models_;
      FaultPlan plan;
      plan.stop_before_write = k;
      plan.lose_unsynced = power_cut;
      plan.loss_seed = static_cast<uint32_t>(k) * 31 + 7;
      int rc;
      {
        auto files = OpenAll();
        ASSERT_EQ(TransactionBegin(Raw(files)), 0);
        for (size_t i = 0; i < files.size(); ++i) {
          Change(files[i].get(), &after[i], 80 + static_cast<int>(i), 15);
        }
        SetProcessFaultPlan(&plan);
        rc = TransactionCommit();
        SetProcessFaultPlan(nullptr);
        ClearError();
      }
      if (!plan.stopped) {
        ASSERT_EQ(rc, 0);
        finished_after = k - 1;
        break;
      }
      std::vector<Contents> got;
      for (size_t i = 0; i < paths_.size(); ++i) got.push_back(Read(Open(i).get()));
      if (got == models_) {
        ++seen_old;
      } else if (got == after) {
        ++seen_new;
      } else {
        ADD_FAILURE() << "partial transaction after death before write " << k
                      << (power_cut ? " (power cut)" : "");
      }
      ExpectClean();
    }
  }
  EXPECT_GT(finished_after, 10);
  EXPECT_GT(seen_old, 0);
  EXPECT_GT(seen_new, 0);
}

TEST(TxnRecordTest, EncodesParsesAndResolves) {
  const std::vector<uint8_t> payload = TxnRecordPayload(0x01020304, "x.tcf");
  EXPECT_EQ(payload, test::B({1, 2, 3, 4, 'x', '.', 't', 'c', 'f', 0}));
  auto back = ParseTxnRecord(V(payload));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->id, 0x01020304u);
  EXPECT_EQ(back->control_file, "x.tcf");
  for (const auto& bad :
       {test::B({1, 2, 3, 4}), test::B({1, 2, 3, 4, 'a'}), test::B({1, 2, 3, 4, 'a', 0, 'b', 0})}) {
    EXPECT_FALSE(ParseTxnRecord(V(bad)).has_value());
  }
  EXPECT_EQ(ResolveControlFile("C:\\paliSadE.TCF", "/d/e/f.plx"), "/d/e/palisade.tcf");
  EXPECT_EQ(ResolveControlFile("c:\\PALISADE.tcf", "/d/e/f.plx"), "/d/e/palisade.tcf");
  EXPECT_EQ(ResolveControlFile("/x/y.tcf", "/d/e/f.plx"), "/x/y.tcf");
  EXPECT_EQ(AskControlFile("/no/such/file.tcf", 1), TcfVerdict::kUnavailable);
}

TEST(ControlFileTest, EnteredIdsAreUniqueAndLeaveCommits) {
  test::TempDir dir;
  std::unique_ptr<ControlFile> tcf;
  ASSERT_EQ(ControlFile::Open(dir.File("t.tcf"), true, &tcf), 0);
  uint32_t first = 500, second = 500;
  ASSERT_EQ(tcf->Enter(&first), 0);
  ASSERT_EQ(tcf->Enter(&second), 0);
  EXPECT_EQ(first, 500u);
  EXPECT_EQ(second, 501u);  // the clock repeated: the next id is taken
  EXPECT_EQ(AskControlFile(dir.File("t.tcf"), 500), TcfVerdict::kPending);
  ASSERT_EQ(tcf->Leave(500), 0);
  EXPECT_EQ(AskControlFile(dir.File("t.tcf"), 500), TcfVerdict::kCommitted);
  EXPECT_EQ(AskControlFile(dir.File("t.tcf"), 501), TcfVerdict::kPending);
  tcf.reset();
  EXPECT_EQ(CheckFile(dir.File("t.tcf")).problems, std::vector<std::string>());
}

}  // namespace
}  // namespace qzr::palisade
