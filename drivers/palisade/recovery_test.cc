#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/pager.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

using test::ReadAll;
using test::S;
using test::V;
using test::WriteAll;

using Contents = std::map<std::string, std::string>;

class ShiftCipher : public UnitCipher {
 public:
  void Encrypt(uint8_t* data, size_t len, uint64_t tweak) const override {
    for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(data[i] + Key(tweak + i));
  }
  void Decrypt(uint8_t* data, size_t len, uint64_t tweak) const override {
    for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(data[i] - Key(tweak + i));
  }

 private:
  static uint8_t Key(uint64_t at) { return static_cast<uint8_t>(0x31 + at / 64 * 7); }
};

Contents Read(Pager* pager) {
  Contents out;
  PageTree tree(pager);
  TreeCursor cursor(&tree);
  for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next()) {
    const RecordView rec = cursor.record();
    out[std::string(rec.key().begin(), rec.key().end())] =
        std::string(rec.payload().begin(), rec.payload().end());
  }
  return out;
}

// Applies the changes of `step` to both the tree and the model.
void Change(PageTree* tree, Contents* model, int step, int count) {
  std::mt19937 rng(static_cast<uint32_t>(step) * 7919u + 1);
  for (int i = 0; i < count; ++i) {
    const std::string key = "k" + std::to_string(rng() % 400);
    if (rng() % 4 == 0) {
      tree->Delete(V(S(key)));
      model->erase(key);
    } else {
      std::string value(rng() % 600, static_cast<char>('a' + rng() % 26));
      value += std::to_string(step);
      tree->Put(MakeRecord(V(S(key)), V(S(value))));
      (*model)[key] = value;
    }
  }
}

class RecoveryTest : public ::testing::Test {
 protected:
  std::unique_ptr<Pager> Open(bool writable = true) {
    std::unique_ptr<Pager> pager;
    EXPECT_EQ(Pager::Open(path_, writable, true, options_, &pager), 0);
    return pager;
  }

  // Commits `steps` rounds of changes; returns the model.
  Contents Build(int steps) {
    Contents model;
    auto pager = Open();
    PageTree tree(pager.get());
    for (int s = 0; s < steps; ++s) {
      Change(&tree, &model, s, 60);
      EXPECT_EQ(pager->Flush(), 0);
    }
    return model;
  }

  void ExpectClean() {
    std::unique_ptr<OsFile> file;
    ASSERT_TRUE(OsFile::Open(path_, false, false, &file).ok());
    file->set_cipher(options_.cipher);
    EXPECT_EQ(CheckFile(file.get()).problems, std::vector<std::string>());
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("rec.plx");
  PagerOptions options_;
};

TEST_F(RecoveryTest, ChangesBelowTheCommittedEndGoThroughShadows) {
  {
    auto pager = Open();
    PageTree tree(pager.get());
    Contents model;
    Change(&tree, &model, 0, 200);
    ASSERT_EQ(pager->Flush(), 0);
    // A new file: every page lies past the committed end, so no shadows:
    // the empty header first, then the two syncs of the header commit.
    EXPECT_EQ(pager->last_commit().shadow_pages, 0);
    EXPECT_GT(pager->last_commit().in_place_pages, 0);
    EXPECT_EQ(pager->last_commit().syncs, 3);
    Change(&tree, &model, 1, 5);
    ASSERT_EQ(pager->Flush(), 0);
    EXPECT_GT(pager->last_commit().shadow_pages, 0);
    EXPECT_EQ(pager->last_commit().syncs, 4);
    const PlxHeader& h = pager->header();
    EXPECT_EQ(h.CommittedEnd, h.WorkingEnd);
    EXPECT_EQ(h.CommittedEnd, h.ComputedEnd());
    EXPECT_EQ(ReadAll(path_).size(), h.ComputedEnd());  // shadows truncated away
    EXPECT_EQ(Read(pager.get()), model);
  }
  ExpectClean();
}

// Given a committed file, when the writer dies before its k-th write (for
// every k of one update), then the reopened file is clean and holds either
// the old or the new contents, and never the new before the mark.
TEST_F(RecoveryTest, DeathAtEveryWriteLeavesTheOldOrTheNewState) {
  const Contents before = Build(3);
  const std::vector<uint8_t> committed = ReadAll(path_);
  Contents after = before;
  int total = 0;
  int seen_old = 0, seen_new = 0;
  for (int k = 1;; ++k) {
    WriteAll(path_, committed);
    FaultPlan plan;
    plan.stop_before_write = k;
    {
      auto pager = Open();
      pager->file()->set_fault_plan(&plan);
      PageTree tree(pager.get());
      after = before;
      Change(&tree, &after, 99, 40);
      if (pager->Flush() == 0) {
        ASSERT_FALSE(plan.stopped);
        total = k - 1;
        break;
      }
    }
    auto pager = Open();
    const Contents got = Read(pager.get());
    if (got == before)
      ++seen_old;
    else if (got == after)
      ++seen_new;
    else
      ADD_FAILURE() << "mixed state after death before write " << k;
    ExpectClean();
  }
  EXPECT_GT(total, 4);
  EXPECT_GT(seen_old, 0);
  EXPECT_GT(seen_new, 0);  // deaths after the mark are completed at open
}

TEST_F(RecoveryTest, CreatingAFileSyncsItsDirectoryOnce) {
  FaultPlan counter;
  SetProcessFaultPlan(&counter);
  { auto created = Open(); }
  EXPECT_EQ(counter.syncs(), 1);
  { auto opened = Open(); }
  EXPECT_EQ(counter.syncs(), 1);
  SetProcessFaultPlan(nullptr);
}

// A file that dies in its first commit opens afterwards, empty or full.
TEST_F(RecoveryTest, DeathInTheFirstCommitOfANewFileLeavesAFileThatOpens) {
  for (bool cut : {false, true}) {
    for (int k = 1;; ++k) {
      std::filesystem::remove(path_);
      FaultPlan plan;
      plan.stop_before_write = k;
      plan.lose_unsynced = cut;
      Contents after;
      bool done = false;
      {
        auto pager = Open();
        pager->file()->set_fault_plan(&plan);
        PageTree tree(pager.get());
        Change(&tree, &after, 1, 150);
        done = pager->Flush() == 0;
      }
      if (done) break;
      auto pager = Open();
      ASSERT_NE(pager, nullptr) << "write " << k;
      const Contents got = Read(pager.get());
      EXPECT_TRUE(got.empty() || got == after) << "write " << k;
      ExpectClean();
    }
  }
}

// The same with a power cut: writes since the last sync may each be lost.
// The cut falls before every write and before every sync in turn.
TEST_F(RecoveryTest, PowerCutAnywhereLeavesTheOldOrTheNewState) {
  const Contents before = Build(3);
  const std::vector<uint8_t> committed = ReadAll(path_);
  int lost = 0;
  for (bool at_sync : {false, true}) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      for (int k = 1;; ++k) {
        WriteAll(path_, committed);
        FaultPlan plan;
        (at_sync ? plan.stop_before_sync : plan.stop_before_write) = k;
        plan.lose_unsynced = true;
        plan.loss_seed = seed * 1000 + static_cast<uint32_t>(k);
        Contents after = before;
        bool done = false;
        {
          auto pager = Open();
          pager->file()->set_fault_plan(&plan);
          PageTree tree(pager.get());
          Change(&tree, &after, 77, 40);
          done = pager->Flush() == 0;
        }
        if (done) break;
        lost += plan.lost_writes;
        auto pager = Open();
        const Contents got = Read(pager.get());
        EXPECT_TRUE(got == before || got == after)
            << (at_sync ? "sync " : "write ") << k << " seed " << seed;
        ExpectClean();
      }
    }
  }
  EXPECT_GT(lost, 0);
}

// Given an update whose pages go out in vectored runs (new pages in place,
// changed ones as shadows), when the power fails before any write inside a
// run, then the file opens clean with the old or the new contents.
TEST_F(RecoveryTest, APowerCutInsideAVectoredRunLeavesTheOldOrTheNewState) {
  const Contents before = Build(3);
  const std::vector<uint8_t> committed = ReadAll(path_);
  auto update = [](PageTree* tree, Contents* model) {
    Change(tree, model, 55, 40);
    for (int i = 0; i < 120; ++i) {
      const std::string key = "new" + std::to_string(1000 + i);
      const std::string value(300 + i * 7 % 500, static_cast<char>('A' + i % 26));
      tree->Put(MakeRecord(V(S(key)), V(S(value))));
      (*model)[key] = value;
    }
  };
  int pages = 0, runs = 0;
  {
    auto pager = Open();
    PageTree tree(pager.get());
    Contents after = before;
    update(&tree, &after);
    ASSERT_EQ(pager->Flush(), 0);
    const CommitStats& stats = pager->last_commit();
    pages = stats.in_place_pages + stats.shadow_pages;
    runs = stats.runs;
    EXPECT_GT(stats.in_place_pages, 1);
    EXPECT_GT(stats.shadow_pages, 1);
  }
  ASSERT_LT(runs, pages) << "no page went out in a run with another";
  int cuts = 0, seen_new = 0;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    for (int k = 1;; ++k) {
      WriteAll(path_, committed);
      FaultPlan plan;
      plan.stop_before_write = k;
      plan.lose_unsynced = true;
      plan.loss_seed = seed * 7717 + static_cast<uint32_t>(k);
      Contents after = before;
      bool done = false;
      {
        auto pager = Open();
        pager->file()->set_fault_plan(&plan);
        PageTree tree(pager.get());
        update(&tree, &after);
        done = pager->Flush() == 0;
      }
      if (done) break;
      ++cuts;
      auto pager = Open();
      const Contents got = Read(pager.get());
      if (got == after) ++seen_new;
      EXPECT_TRUE(got == before || got == after) << "write " << k << " seed " << seed;
      ExpectClean();
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(cuts, pages);
  EXPECT_GT(seen_new, 0);
}

// Given a write-out that failed part way (its run storage holding blocks of
// that update), when the file is rolled back and other changes commit, then
// the file holds exactly the committed contents plus those changes.
TEST_F(RecoveryTest, AWriteOutAfterAFailedOneWritesTheRightBytes) {
  const Contents before = Build(3);
  for (int failing = 1; failing <= 6; ++failing) {
    auto pager = Open();
    PageTree tree(pager.get());
    Contents model = before;
    {
      FaultPlan plan;
      plan.FailAt(OsCall::kWrite, failing, ENOSPC);
      pager->file()->set_fault_plan(&plan);
      Contents dropped = before;
      Change(&tree, &dropped, 200 + failing, 80);
      EXPECT_NE(pager->Flush(), 0) << failing;
      pager->file()->set_fault_plan(nullptr);
      pager->Rollback();
    }
    EXPECT_EQ(Read(pager.get()), before);
    Change(&tree, &model, 300 + failing, 80);
    ASSERT_EQ(pager->Flush(), 0) << failing;
    pager.reset();
    auto again = Open(false);
    EXPECT_EQ(Read(again.get()), model) << failing;
    ExpectClean();
    // The next round starts again from the same committed contents.
    again.reset();
    std::filesystem::remove(path_);
    ASSERT_EQ(Build(3), before);
  }
}

TEST_F(RecoveryTest, NamedPointsDecideTheOutcome) {
  const Contents before = Build(2);
  const std::vector<uint8_t> committed = ReadAll(path_);
  struct Case {
    const char* point;
    Recovery expected;
    bool new_state;
  } cases[] = {
      {"before-write-pages", Recovery::kNone, false},
      {"before-commit-header", Recovery::kNone, false},
      {"before-mark", Recovery::kNone, false},
      {"before-apply", Recovery::kApplied, true},
      {"before-final-header", Recovery::kApplied, true},
  };
  for (const Case& c : cases) {
    WriteAll(path_, committed);
    FaultPlan plan;
    plan.stop_at = c.point;
    Contents after = before;
    {
      auto pager = Open();
      pager->file()->set_fault_plan(&plan);
      PageTree tree(pager.get());
      Change(&tree, &after, 5, 30);
      EXPECT_EQ(pager->Flush(), kFileSystemError) << c.point;
      EXPECT_TRUE(plan.stopped) << c.point;
    }
    auto pager = Open();
    EXPECT_EQ(pager->last_recovery(), c.expected) << c.point;
    EXPECT_EQ(Read(pager.get()), c.new_state ? after : before) << c.point;
    ExpectClean();
  }
}

TEST_F(RecoveryTest, ADamagedShadowAreaIsDiscarded) {
  const Contents before = Build(2);
  FaultPlan plan;
  plan.stop_at = "before-apply";
  {
    auto pager = Open();
    pager->file()->set_fault_plan(&plan);
    PageTree tree(pager.get());
    Contents after = before;
    Change(&tree, &after, 5, 30);
    EXPECT_EQ(pager->Flush(), kFileSystemError);
  }
  std::vector<uint8_t> bytes = ReadAll(path_);
  const uint32_t start = LoadU32(bytes.data() + kHdrCommittedEnd);
  ASSERT_NE(start, LoadU32(bytes.data() + kHdrWorkingEnd));
  bytes[start + 20] ^= 0xFF;  // inside the first shadow's records
  bytes[start + 4] = 0xFF;    // and its stored size
  WriteAll(path_, bytes);
  auto pager = Open();
  EXPECT_EQ(pager->last_recovery(), Recovery::kDiscarded);
  EXPECT_EQ(Read(pager.get()), before);
  ExpectClean();
}

TEST_F(RecoveryTest, AReadOnlyOpenReadsThroughTheShadowsWithoutWriting) {
  const Contents before = Build(2);
  FaultPlan plan;
  plan.stop_at = "before-apply";
  Contents after = before;
  {
    auto pager = Open();
    pager->file()->set_fault_plan(&plan);
    PageTree tree(pager.get());
    Change(&tree, &after, 5, 30);
    EXPECT_EQ(pager->Flush(), kFileSystemError);
  }
  const std::vector<uint8_t> marked = ReadAll(path_);
  {
    auto reader = Open(false);
    EXPECT_EQ(reader->last_recovery(), Recovery::kApplied);
    EXPECT_EQ(Read(reader.get()), after);
  }
  EXPECT_EQ(ReadAll(path_), marked);
  auto pager = Open();
  EXPECT_EQ(Read(pager.get()), after);
  ExpectClean();
}

TEST_F(RecoveryTest, EncryptedShadowsAreFoundAndMovedHome) {
  ShiftCipher cipher;
  options_.cipher = &cipher;
  const Contents before = Build(2);
  FaultPlan plan;
  plan.stop_at = "before-apply";
  Contents after = before;
  {
    auto pager = Open();
    pager->file()->set_fault_plan(&plan);
    PageTree tree(pager.get());
    Change(&tree, &after, 5, 30);
    EXPECT_EQ(pager->Flush(), kFileSystemError);
  }
  auto pager = Open();
  EXPECT_EQ(pager->last_recovery(), Recovery::kApplied);
  EXPECT_EQ(Read(pager.get()), after);
  ExpectClean();
}

TEST_F(RecoveryTest, AbandonedUpdateLeavesTheCommittedState) {
  const Contents before = Build(2);
  auto pager = Open();
  PageTree tree(pager.get());
  Contents after = before;
  Change(&tree, &after, 5, 30);
  ASSERT_EQ(pager->PrepareCommit(), 0);
  EXPECT_TRUE(pager->prepared());
  EXPECT_EQ(pager->LoadHeader(), 0);  // its own mark is not recovered
  ASSERT_EQ(pager->AbandonCommit(), 0);
  EXPECT_EQ(Read(pager.get()), before);
  EXPECT_EQ(ReadAll(path_).size(), pager->header().ComputedEnd());
  ExpectClean();
}

// Adds 40 new records of a few hundred bytes and changes old ones: enough
// new pages past the committed end for a held transaction to write early.
void Grow(PageTree* tree, Contents* model, int step) {
  for (int i = 0; i < 40; ++i) {
    const std::string key = "g" + std::to_string(step) + "_" + std::to_string(i);
    const std::string value(200 + (step * 40 + i) * 37 % 500, static_cast<char>('a' + i % 26));
    tree->Put(MakeRecord(V(S(key)), V(S(value))));
    (*model)[key] = value;
  }
  Change(tree, model, 500 + step, 10);
}

// Given a held transaction over a committed file, when it grows past
// max_held_pages, then pages past the committed end go to the file early:
// other readers and a check still see the committed file, the transaction
// reads its own changes back, and the commit holds them all.
TEST_F(RecoveryTest, AHeldTransactionWritesPagesPastTheCommittedEndEarly) {
  options_.max_held_pages = 4;
  const Contents before = Build(2);
  auto pager = Open();
  pager->HoldChanges(true);
  PageTree tree(pager.get());
  Contents after = before;
  for (int step = 0; step < 12; ++step) {
    Grow(&tree, &after, step);
    pager->SpillHeld();
  }
  EXPECT_GT(pager->spilled_pages(), 20u);
  EXPECT_TRUE(pager->HasChanges());
  {
    auto other = Open(false);
    EXPECT_EQ(Read(other.get()), before);
  }
  ExpectClean();
  EXPECT_EQ(Read(pager.get()), after);
  pager->HoldChanges(false);
  ASSERT_EQ(pager->Flush(), 0);
  pager.reset();
  auto again = Open(false);
  EXPECT_EQ(Read(again.get()), after);
  ExpectClean();
}

// Given pages written early by a held transaction, when it rolls back, then
// the file is as committed, and a later transaction (writing early over the
// same tail) commits exactly its own changes.
TEST_F(RecoveryTest, ARolledBackTransactionLeavesNothingOfItsEarlyPages) {
  options_.max_held_pages = 4;
  const Contents before = Build(2);
  auto pager = Open();
  PageTree tree(pager.get());
  pager->HoldChanges(true);
  Contents dropped = before;
  for (int step = 0; step < 8; ++step) {
    Grow(&tree, &dropped, step);
    pager->SpillHeld();
  }
  ASSERT_GT(pager->spilled_pages(), 0u);
  pager->Rollback();
  EXPECT_EQ(Read(pager.get()), before);
  ExpectClean();
  Contents after = before;
  for (int step = 20; step < 26; ++step) {
    Grow(&tree, &after, step);
    pager->SpillHeld();
  }
  pager->HoldChanges(false);
  ASSERT_EQ(pager->Flush(), 0);
  pager.reset();
  auto again = Open(false);
  EXPECT_EQ(Read(again.get()), after);
  ExpectClean();
}

// Given a held transaction whose placing moves pages it wrote early (zones
// growing under a cache too small to keep them), when it reads back as many
// as half of what it wrote, then it holds more pages before writing early
// again; what it commits is exactly its changes, and a rollback leaves the
// committed file.
TEST_F(RecoveryTest, ATransactionReadingBackItsEarlyPagesHoldsMoreAndLosesNothing) {
  options_.max_held_pages = 4;
  options_.cache = {2, 4};
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    std::filesystem::remove(path_);
    const Contents before = Build(2);
    auto pager = Open();
    PageTree tree(pager.get());
    pager->HoldChanges(true);
    Contents after = before;
    size_t most_held = 0;
    for (int step = 0; step < 30; ++step) {
      Grow(&tree, &after, step);
      pager->SpillHeld();
      most_held = std::max(most_held, pager->held_limit());
    }
    EXPECT_GT(pager->spilled_pages(), 0u);
    EXPECT_GT(most_held, options_.max_held_pages);
    EXPECT_EQ(Read(pager.get()), after);
    {
      auto other = Open(false);
      EXPECT_EQ(Read(other.get()), before);
    }
    if (commit) {
      pager->HoldChanges(false);
      ASSERT_EQ(pager->Flush(), 0);
    } else {
      pager->Rollback();
      pager->HoldChanges(false);
    }
    // A new transaction starts from max_held_pages again.
    EXPECT_EQ(pager->held_limit(), options_.max_held_pages);
    pager.reset();
    auto again = Open(false);
    EXPECT_EQ(Read(again.get()), commit ? after : before);
    ExpectClean();
  }
}

// Given a held transaction that keeps reading back what it wrote early,
// when its held limit has grown to most_held_pages, then it grows no more:
// the transaction writes early again at that bound, and still commits
// exactly its changes.
TEST_F(RecoveryTest, TheHeldLimitStopsGrowingAtItsBound) {
  options_.max_held_pages = 4;
  options_.most_held_pages = 16;
  options_.cache = {2, 4};
  const Contents before = Build(2);
  auto pager = Open();
  PageTree tree(pager.get());
  pager->HoldChanges(true);
  Contents after = before;
  size_t most_held = 0;
  uint64_t spilled_at_bound = 0;  // pages written early once the bound was reached
  for (int step = 0; step < 60; ++step) {
    Grow(&tree, &after, step);
    const uint64_t spilled = pager->spilled_pages();
    const bool at_bound = pager->held_limit() == options_.most_held_pages;
    pager->SpillHeld();
    if (at_bound) spilled_at_bound += pager->spilled_pages() - spilled;
    most_held = std::max(most_held, pager->held_limit());
  }
  EXPECT_EQ(most_held, options_.most_held_pages);
  EXPECT_GT(spilled_at_bound, 0u);
  EXPECT_EQ(Read(pager.get()), after);
  pager->HoldChanges(false);
  ASSERT_EQ(pager->Flush(), 0);
  pager.reset();
  auto again = Open(false);
  EXPECT_EQ(Read(again.get()), after);
  ExpectClean();
}

// Given a held transaction whose zones grow under pages it wrote early and
// no longer caches, when placing moves those pages, then they move as their
// stored blocks (read and written, not decoded, and not made dirty again),
// enciphered for their new place in an encrypted file; the transaction
// reads every change back, another reader sees the committed file, and a
// commit (or a rollback) leaves exactly the new (or the old) contents.
TEST_F(RecoveryTest, PagesWrittenEarlyMoveAsTheirStoredBlocks) {
  ShiftCipher cipher;
  struct Case {
    const char* what;
    const UnitCipher* cipher;
    bool commit;
  };
  const Case cases[] = {{"plain, commit", nullptr, true},
                        {"plain, rollback", nullptr, false},
                        {"enciphered, commit", &cipher, true},
                        {"enciphered, rollback", &cipher, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    options_.cipher = c.cipher;
    options_.max_held_pages = 4;
    options_.cache = {2, 4};
    const Contents before = Build(2);
    auto pager = Open();
    PageTree tree(pager.get());
    pager->HoldChanges(true);
    Contents after = before;
    // Rows appended in key order, of sizes that compress to pages of many
    // classes: each zone grows, and moves the zones above it.
    std::mt19937 rng(11);
    for (int step = 0; step < 40; ++step) {
      for (int i = 0; i < 20; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "r%06d", step * 20 + i);
        std::string value(100 + rng() % 1400, 'x');
        for (size_t j = 0; j < value.size() * (rng() % 4) / 4; ++j) {
          value[j] = static_cast<char>('a' + rng() % 26);
        }
        tree.Put(MakeRecord(V(S(key)), V(S(value))));
        after[key] = value;
      }
      pager->SpillHeld();
    }
    EXPECT_GT(pager->blocks_moved(), 0u);
    EXPECT_EQ(pager->CheckZones(), std::vector<std::string>());
    EXPECT_EQ(Read(pager.get()), after);
    {
      auto other = Open(false);
      EXPECT_EQ(Read(other.get()), before);
    }
    if (c.commit) {
      pager->HoldChanges(false);
      ASSERT_EQ(pager->Flush(), 0);
    } else {
      pager->Rollback();
      pager->HoldChanges(false);
    }
    pager.reset();
    auto again = Open(false);
    EXPECT_EQ(Read(again.get()), c.commit ? after : before);
    ExpectClean();
  }
}

// Given a held transaction that writes pages early, when the process dies
// (or the power fails) before any of its writes, early or at the commit,
// then the file opens clean with the old or the new contents.
TEST_F(RecoveryTest, DeathAtEveryWriteOfATransactionWritingEarlyIsAllOrNothing) {
  options_.max_held_pages = 4;
  const Contents before = Build(2);
  const std::vector<uint8_t> committed = ReadAll(path_);
  int early = 0, seen_old = 0, seen_new = 0;
  uint64_t moved = 0;  // pages moved as stored blocks (deaths land among those writes too)
  for (bool cut : {false, true}) {
    for (int k = 1;; k += cut ? 3 : 1) {
      WriteAll(path_, committed);
      FaultPlan plan;
      plan.stop_before_write = k;
      plan.lose_unsynced = cut;
      plan.loss_seed = static_cast<uint32_t>(k) * 31 + 7;
      Contents after = before;
      bool done = false;
      {
        auto pager = Open();
        pager->file()->set_fault_plan(&plan);
        PageTree tree(pager.get());
        pager->HoldChanges(true);
        for (int step = 0; step < 6 && !plan.stopped; ++step) {
          Grow(&tree, &after, step);
          pager->SpillHeld();
        }
        // A process that died writing early does nothing more.
        early = std::max(early, static_cast<int>(pager->spilled_pages()));
        moved = std::max(moved, pager->blocks_moved());
        pager->HoldChanges(false);
        done = !plan.stopped && pager->Flush() == 0;
      }
      if (done) break;
      auto pager = Open();
      const Contents got = Read(pager.get());
      if (got == before) {
        ++seen_old;
      } else if (got == after) {
        ++seen_new;
      } else {
        ADD_FAILURE() << (cut ? "power cut" : "death") << " before write " << k;
      }
      ExpectClean();
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(early, 0);
  EXPECT_GT(moved, 0u);
  EXPECT_GT(seen_old, early);
  EXPECT_GT(seen_new, 0);
}

// Given a held transaction that writes pages early, when one write fails
// (a full disk) at any point, then the transaction still reads its own
// changes and its commit reports the failure; a failure while writing early
// leaves the old contents, one during the commit leaves the old or (past the
// commit mark, which recovery completes) the new ones, and the file opens
// clean either way. Once no write fails, it commits.
TEST_F(RecoveryTest, AFailedWriteOfATransactionWritingEarlyFailsItsCommitAndLosesNothing) {
  options_.max_held_pages = 4;
  const Contents before = Build(2);
  const std::vector<uint8_t> committed = ReadAll(path_);
  int failed_early = 0, failed_in_commit = 0;
  uint64_t moved = 0;  // pages moved as stored blocks (failures land among those writes too)
  for (int k = 1;; ++k) {
    WriteAll(path_, committed);
    FaultPlan plan;
    plan.FailAt(OsCall::kWrite, k, ENOSPC);
    Contents after = before;
    bool early = false;
    int flushed = 0;
    {
      auto pager = Open();
      pager->file()->set_fault_plan(&plan);
      PageTree tree(pager.get());
      pager->HoldChanges(true);
      for (int step = 0; step < 6; ++step) {
        Grow(&tree, &after, step);
        pager->SpillHeld();
      }
      early = plan.count(OsCall::kWrite) >= k;
      moved = std::max(moved, pager->blocks_moved());
      if (early) {
        EXPECT_EQ(Read(pager.get()), after) << "write " << k;
      }
      pager->HoldChanges(false);
      flushed = pager->Flush();
      pager->file()->set_fault_plan(nullptr);
    }
    auto pager = Open();
    const Contents got = Read(pager.get());
    if (flushed == 0) {
      // No write failed: the whole transaction is there.
      EXPECT_LT(plan.count(OsCall::kWrite), k);
      EXPECT_EQ(got, after);
      ExpectClean();
      break;
    }
    if (early) {
      ++failed_early;
      EXPECT_EQ(got, before) << "write " << k;
    } else {
      ++failed_in_commit;
      EXPECT_TRUE(got == before || got == after) << "write " << k;
    }
    ExpectClean();
    if (HasFailure()) return;
  }
  EXPECT_GT(failed_early, 0);
  EXPECT_GT(failed_in_commit, 0);
  EXPECT_GT(moved, 0u);
}

TEST_F(RecoveryTest, HeldChangesWaitForTheTransaction) {
  const Contents before = Build(1);
  auto pager = Open();
  pager->HoldChanges(true);
  PageTree tree(pager.get());
  Contents after = before;
  Change(&tree, &after, 5, 10);
  EXPECT_EQ(pager->Flush(), 0);
  EXPECT_EQ(pager->MaybeSpill(), 0);
  EXPECT_TRUE(pager->HasChanges());
  {
    auto other = Open(false);
    EXPECT_EQ(Read(other.get()), before);
  }
  pager->HoldChanges(false);
  ASSERT_EQ(pager->Flush(), 0);
  auto other = Open(false);
  EXPECT_EQ(Read(other.get()), after);
}

}  // namespace
}  // namespace qzr::palisade
