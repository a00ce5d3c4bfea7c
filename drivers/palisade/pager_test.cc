#include "drivers/palisade/pager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

using test::CheckNumberOf;
using test::ReadAll;
using test::S;
using test::V;
using test::WriteAll;

// A keyed, length-preserving toy transform: enough to see that every unit
// goes through the hook with its home offset.
class XorCipher : public UnitCipher {
 public:
  void Encrypt(uint8_t* data, size_t len, uint64_t home) const override { Apply(data, len, home); }
  void Decrypt(uint8_t* data, size_t len, uint64_t home) const override { Apply(data, len, home); }

 private:
  static void Apply(uint8_t* data, size_t len, uint64_t home) {
    for (size_t i = 0; i < len; ++i) data[i] ^= static_cast<uint8_t>(0x5A + (home + i) / 64);
  }
};

class PagerTest : public ::testing::Test {
 protected:
  std::unique_ptr<Pager> Open(bool writable = true, PagerOptions options = {}) {
    std::unique_ptr<Pager> pager;
    EXPECT_EQ(Pager::Open(path_, writable, true, options, &pager), 0);
    return pager;
  }

  // A file of `count` records of mixed sizes, committed.
  void Build(int count, uint32_t seed = 1) {
    auto pager = Open();
    PageTree tree(pager.get());
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) {
      std::vector<uint8_t> payload(rng() % 2000);
      for (size_t j = 0; j < payload.size() / 3; ++j) payload[j] = static_cast<uint8_t>(rng());
      tree.Put(MakeRecord(V(S("key" + std::to_string(i))), V(payload)));
    }
    ASSERT_EQ(pager->Flush(), 0);
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("pager.plx");
};

TEST_F(PagerTest, EmptyFileGetsAFreshHeader) {
  auto pager = Open();
  EXPECT_TRUE(pager->header().NoPages());
  EXPECT_FALSE(pager->has_root());
  EXPECT_EQ(pager->Flush(), 0);
  EXPECT_EQ(ReadAll(path_).size(), 0u);  // nothing changed, nothing written
  pager->IssueNumber();
  ASSERT_EQ(pager->Flush(), 0);
  std::vector<uint8_t> bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(std::string(bytes.begin() + 14, bytes.begin() + 18), "pAlI");
}

TEST_F(PagerTest, RefusesFilesThatAreNotPalisade) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"shorter than a header", std::vector<uint8_t>(100, 0)},
      {"foreign magic", std::vector<uint8_t>(512, 0)},
  };
  for (const Case& c : cases) {
    WriteAll(path_, c.bytes);
    std::unique_ptr<Pager> pager;
    EXPECT_EQ(Pager::Open(path_, true, false, {}, &pager), 36) << c.what;
    EXPECT_EQ(ERRORCODE(), 36);
  }
  std::unique_ptr<Pager> pager;
  EXPECT_EQ(Pager::Open(dir_.File("missing.plx"), true, false, {}, &pager), 2);
  EXPECT_EQ(Pager::Open(dir_.File("no/such/dir.plx"), true, true, {}, &pager), 2);
}

TEST_F(PagerTest, CommitSetsBothEndsToTheComputedEnd) {
  Build(300);
  auto pager = Open();
  const PlxHeader& h = pager->header();
  const int k = h.HighestZone();
  ASSERT_GT(k, 0);
  const uint32_t end = h.ZoneEnd[k] * 256 + 512;
  EXPECT_EQ(h.CommittedEnd, end);
  EXPECT_EQ(h.WorkingEnd, end);
  EXPECT_EQ(ReadAll(path_).size(), end);
  const uint32_t before = h.ChangeCount;
  PageTree tree(pager.get());
  tree.Delete(V(S("key7")));
  ASSERT_EQ(pager->Flush(), 0);
  EXPECT_EQ(pager->header().ChangeCount, before + 1);
  EXPECT_EQ(CheckFile(path_).problems, std::vector<std::string>());
}

TEST_F(PagerTest, AWriteOutKeepsBlocksOnlyForItsShadows) {
  Build(300);
  auto pager = Open();
  PageTree tree(pager.get());
  // Sizing a changed page builds no block for it.
  tree.Put(MakeRecord(V(S("key10")), V(std::vector<uint8_t>(900, 3))));
  std::vector<PageNode*> dirty = pager->cache().DirtyNodes();
  ASSERT_FALSE(dirty.empty());
  PageNode* changed = dirty.front();
  const int size_class = pager->SizeClassOf(changed);
  EXPECT_TRUE(changed->image_valid);
  EXPECT_TRUE(changed->Image.empty());
  std::vector<uint8_t> block;
  EXPECT_EQ(EncodeBlock(*changed, &block), size_class);
  EXPECT_EQ(block.size(), static_cast<size_t>(size_class) * kUnit);

  // Given changes to committed pages and new pages past the committed end,
  // when the update is prepared, then the pages written in place are clean
  // and hold no block, and each shadow's node holds the block written.
  // (Payloads that do not compress: the new pages are full ones, of the
  // highest zone, and land past the committed end.)
  std::mt19937 rng(7);
  for (int i = 300; i < 500; ++i) {
    std::vector<uint8_t> payload(700);
    for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
    tree.Put(MakeRecord(V(S("key" + std::to_string(i))), V(payload)));
  }
  ASSERT_EQ(pager->PrepareCommit(), 0);
  EXPECT_GT(pager->last_commit().in_place_pages, 0);
  EXPECT_GT(pager->last_commit().shadow_pages, 0);
  dirty = pager->cache().DirtyNodes();
  EXPECT_EQ(dirty.size(), static_cast<size_t>(pager->last_commit().shadow_pages));
  for (PageNode* node : dirty) {
    ASSERT_TRUE(node->image_valid);
    EXPECT_EQ(node->Image.size(), static_cast<size_t>(node->image_class) * kUnit);
    EXPECT_LT(PageOffset(node->Address), pager->header().CommittedEnd);
  }
  ASSERT_EQ(pager->ApplyCommit(), 0);
  EXPECT_EQ(pager->cache().dirty_count(), 0u);
  EXPECT_EQ(CheckFile(path_).problems, std::vector<std::string>());
  pager.reset();

  auto again = Open(false);
  PageTree read(again.get());
  const RecordView* rec = read.Find(V(S("key10")));
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->payload().size(), 900u);
  for (int i = 0; i < 500; ++i) EXPECT_NE(read.Find(V(S("key" + std::to_string(i)))), nullptr) << i;
}

TEST_F(PagerTest, IssuedNumbersPersistAndStopAtTheLimit) {
  {
    auto pager = Open();
    EXPECT_EQ(pager->IssueNumber(), 1u);
    EXPECT_EQ(pager->IssueNumber(), 2u);
    ASSERT_EQ(pager->Flush(), 0);
  }
  {
    auto pager = Open(false);
    EXPECT_EQ(CheckNumberOf([&] { pager->IssueNumber(); }), kCheckIssueReadOnly);
  }
  std::vector<uint8_t> bytes = ReadAll(path_);
  const uint8_t near_limit[4] = {0xFD, 0xFF, 0xFF, 0xFF};
  std::copy(near_limit, near_limit + 4, bytes.begin() + kHdrLastIssued);
  WriteAll(path_, bytes);
  auto pager = Open();
  EXPECT_EQ(pager->header().LastIssuedValue(), 0xFDFFFFFFu);
  EXPECT_EQ(CheckNumberOf([&] { pager->IssueNumber(); }), kCheckIssueLimit);
}

TEST_F(PagerTest, PagesMoveThroughEveryZoneAndZonesStayDense) {
  // One record grows in incompressible steps, so its page climbs the size
  // classes while neighbours of other sizes are moved out of the way.
  auto pager = Open();
  PageTree tree(pager.get());
  std::mt19937 rng(9);
  for (int i = 0; i < 12; ++i) {
    tree.Put(MakeRecord(V(S("small" + std::to_string(i))), V(std::vector<uint8_t>(100 * i, 7))));
  }
  for (size_t len = 0; len <= 15000; len += 700) {
    std::vector<uint8_t> payload(len);
    for (auto& b : payload) b = static_cast<uint8_t>(rng());
    tree.Put(MakeRecord(V(S("big")), V(payload)));
    ASSERT_EQ(pager->Flush(), 0) << len;
    CheckReport report = CheckFile(path_);
    ASSERT_EQ(report.problems, std::vector<std::string>()) << len;
    EXPECT_TRUE(pager->CheckZones().empty());
  }
  // Shrinking back frees the large slots and packs the zones down.
  tree.Put(MakeRecord(V(S("big")), V(S("tiny"))));
  ASSERT_EQ(pager->Flush(), 0);
  EXPECT_EQ(CheckFile(path_).problems, std::vector<std::string>());
  EXPECT_LT(ReadAll(path_).size(), 20000u);
}

TEST_F(PagerTest, FailedWriteIsReportedAndLaterWritesAreSkipped) {
  Build(50);
  auto pager = Open();
  FaultPlan plan;
  plan.FailAt(OsCall::kWrite, 1);
  pager->file()->set_fault_plan(&plan);
  PageTree tree(pager.get());
  tree.Put(MakeRecord(V(S("key1")), V(S("changed"))));
  EXPECT_EQ(pager->Flush(), kFileSystemError);
  EXPECT_EQ(ERRORCODE(), kFileSystemError);
  EXPECT_EQ(plan.count(OsCall::kWrite), 1);  // nothing after the failure
  pager->Rollback();
  pager->file()->set_fault_plan(nullptr);
  EXPECT_EQ(PageTree(pager.get()).Find(V(S("key1")))->payload().size() > 0, true);
}

TEST_F(PagerTest, AReaderFollowsAnotherFileObjectThatShortensTheFile) {
  // The reader decodes pages straight from its mapping of the file; another
  // file object then deletes most records and its commit cuts the file. At
  // its next operation the reader takes the new length and state over, and
  // never touches what was cut away.
  Build(400);
  PagerOptions mapped;
  mapped.plain_read_pages = 0;
  auto reader = Open(false, mapped);
  auto count = [&] {
    PageTree tree(reader.get());
    TreeCursor cursor(&tree);
    size_t n = 0;
    for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next()) ++n;
    return n;
  };
  EXPECT_EQ(count(), 400u);
  const size_t before = ReadAll(path_).size();
  {
    auto writer = Open();
    PageTree tree(writer.get());
    for (int i = 10; i < 400; ++i) tree.Delete(V(S("key" + std::to_string(i))));
    ASSERT_EQ(writer->Flush(), 0);
  }
  ASSERT_LT(ReadAll(path_).size(), before / 4);
  ASSERT_EQ(reader->LoadHeader(), 0);
  EXPECT_EQ(count(), 10u);
  // A file object that only reads has no writes of its own to learn the
  // length from; it grows back, and the reader maps the new pages.
  Build(400, 2);
  ASSERT_EQ(reader->LoadHeader(), 0);
  EXPECT_EQ(count(), 400u);
}

TEST_F(PagerTest, AFaultPlanStillFailsReadsOfMappedPages) {
  Build(100);
  PagerOptions mapped;
  mapped.plain_read_pages = 0;
  auto pager = Open(false, mapped);
  FaultPlan plan;
  plan.FailFrom(OsCall::kRead, 1);
  pager->file()->set_fault_plan(&plan);
  EXPECT_EQ(CheckNumberOf([&] { PageTree(pager.get()).Find(V(S("key7"))); }), kCheckReadFailed);
  EXPECT_GE(plan.count(OsCall::kRead), 1);
  pager->file()->set_fault_plan(nullptr);
  EXPECT_NE(PageTree(pager.get()).Find(V(S("key7"))), nullptr);
}

TEST_F(PagerTest, RollbackOverAVanishedHeaderNeverWrites) {
  Build(30);
  auto pager = Open();
  PageTree(pager.get()).Put(MakeRecord(V(S("key1")), V(S("changed"))));
  std::vector<uint8_t> stump(100, 0);
  WriteAll(path_, stump);  // another program cut the file
  pager->Rollback();
  EXPECT_FALSE(pager->has_root());
  PageTree(pager.get()).Put(MakeRecord(V(S("again")), V(S("x"))));
  EXPECT_EQ(pager->Flush(), kFileSystemError);
  EXPECT_EQ(ReadAll(path_), stump);
}

TEST_F(PagerTest, FailedSyncIsReported) {
  auto pager = Open();
  FaultPlan plan;
  plan.FailAt(OsCall::kSync, 1);
  pager->file()->set_fault_plan(&plan);
  pager->IssueNumber();
  EXPECT_EQ(pager->Flush(), kFileSystemError);
}

TEST_F(PagerTest, AProcessKilledBeforeAnyWriteLeavesAFileThatOpensSafely) {
  // Kill the writer before each write in turn: whatever the disk then holds
  // opens with an error code, reads back, or ends in a numbered check.
  Build(120, 3);
  const std::vector<uint8_t> committed = ReadAll(path_);
  int total_writes = 0;
  for (int k = 1;; ++k) {
    WriteAll(path_, committed);
    FaultPlan plan;
    plan.stop_before_write = k;
    {
      auto pager = Open();
      pager->file()->set_fault_plan(&plan);
      PageTree tree(pager.get());
      for (int i = 0; i < 120; i += 3) tree.Delete(V(S("key" + std::to_string(i))));
      tree.Put(MakeRecord(V(S("key5")), V(std::vector<uint8_t>(9000, 1))));
      int rc = pager->Flush();
      if (!plan.stopped) {
        EXPECT_EQ(rc, 0);
        total_writes = plan.count(OsCall::kWrite);
        break;
      }
      EXPECT_EQ(rc, kFileSystemError);
    }
    std::unique_ptr<Pager> reopened;
    if (Pager::Open(path_, false, false, {}, &reopened) != 0) continue;
    PageTree tree(reopened.get());
    int check = CheckNumberOf([&] {
      TreeCursor cursor(&tree);
      for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next()) {
      }
    });
    EXPECT_TRUE(check == 0 || check > 0) << k;
  }
  EXPECT_GT(total_writes, 3);
}

TEST_F(PagerTest, NamedPointStopsTheWriteOut) {
  Build(20);
  auto pager = Open();
  FaultPlan plan;
  plan.stop_at = "before-commit-header";
  pager->file()->set_fault_plan(&plan);
  PageTree(pager.get()).Put(MakeRecord(V(S("new")), V(S("x"))));
  EXPECT_EQ(pager->Flush(), kFileSystemError);
  EXPECT_TRUE(plan.stopped);
  EXPECT_EQ(plan.syncs(), 0);  // the header was never committed
}

TEST_F(PagerTest, CipherHookSeesEveryUnitWithItsHomeOffset) {
  XorCipher cipher;
  {
    std::unique_ptr<Pager> pager;
    ASSERT_EQ(Pager::Open(path_, true, true, {}, &pager), 0);
    pager->file()->set_cipher(&cipher);
    PageTree tree(pager.get());
    tree.Put(MakeRecord(V(S("secret")), V(S("plain text"))));
    ASSERT_EQ(pager->Flush(), 0);
  }
  std::vector<uint8_t> raw = ReadAll(path_);
  const std::string needle = "plain text";
  EXPECT_EQ(std::search(raw.begin(), raw.end(), needle.begin(), needle.end()), raw.end());
  // Deciphered reads see the records again (the header too is enciphered,
  // so the file must be opened with the cipher from the start).
  PagerOptions options;
  options.cipher = &cipher;
  std::unique_ptr<Pager> pager;
  ASSERT_EQ(Pager::Open(path_, false, false, options, &pager), 0);
  EXPECT_EQ(PageTree(pager.get()).Find(V(S("secret")))->payload(), V(S("plain text")));
  EXPECT_EQ(Pager::Open(path_, false, false, {}, &pager), 36);
  std::unique_ptr<OsFile> file;
  ASSERT_TRUE(OsFile::Open(path_, false, false, &file).ok());
  file->set_cipher(&cipher);
  EXPECT_EQ(CheckFile(file.get()).problems, std::vector<std::string>());
  EXPECT_EQ(CheckFile(file.get()).records, 1u);
}

TEST_F(PagerTest, BlockTransfersAreWholeUnits) {
  auto pager = Open();
  uint8_t buf[128] = {};
  EXPECT_EQ(CheckNumberOf([&] { ReadBlock(pager->file(), 0, 100, buf); }), kCheckReadMultiple);
  EXPECT_EQ(CheckNumberOf([&] { WriteBlock(pager->file(), 0, 65, buf); }), kCheckWriteMultiple);
  EXPECT_EQ(CheckNumberOf([&] { ReadExact(pager->file(), 0, 128, buf); }), kCheckShortTransfer);
  EXPECT_EQ(CheckNumberOf([&] { ReadBlock(pager->file(), uint64_t{1} << 32, 64, buf); }),
            kCheckSeekFailed);
  EXPECT_EQ(ReadBlock(nullptr, 0, 64, buf), 0u);
}

// The pages of a committed file, from its zones.
uint64_t PagesOf(const PlxHeader& header) {
  uint64_t pages = 0;
  for (int i = 1; i <= kMaxClass; ++i) pages += header.PagesIn(i);
  return pages;
}

TEST_F(PagerTest, AScanHoldsAFewPagesAndLeavesWhatLookupsNeedCached) {
  // Given a file of a few hundred leaves and a cache that could hold it all,
  Build(3000);
  PagerOptions options;
  options.cache = {/*min_pages=*/400, /*max_pages=*/400};
  auto pager = Open(false, options);
  const uint64_t pages = PagesOf(pager->header());
  ASSERT_GT(pages, 4 * PageCache::kMaxPassed);
  PageTree tree(pager.get());
  // the leaves of a few keys looked up again and again,
  std::vector<std::string> looked_up = {"key17", "key1500", "key2999"};
  std::vector<int32_t> lookup_leaves;
  for (const std::string& k : looked_up) {
    std::vector<PageTree::Step> path;
    ASSERT_TRUE(tree.Descend(V(S(k)), &path));
    lookup_leaves.push_back(path.back().address);
  }
  // when one cursor reads every record in key order, a second follows it
  // record by record (a row read behind its key entry) and the keys are
  // looked up on the way,
  TreeCursor scan(&tree), follower(&tree), lookups(&tree);
  size_t records = 0, most_cached = 0;
  for (bool ok = scan.SeekFirst(); ok; ok = scan.Next()) {
    const std::vector<uint8_t> key(scan.key().begin(), scan.key().end());
    ASSERT_TRUE(follower.SeekNear(Bytes(key.data(), key.size())));
    ASSERT_EQ(follower.key(), Bytes(key.data(), key.size()));
    ASSERT_EQ(follower.record().payload(), scan.record().payload());
    if (++records % 50 == 0) {
      for (const std::string& k : looked_up) ASSERT_TRUE(lookups.SeekNear(V(S(k))));
    }
    most_cached = std::max(most_cached, pager->cache().size());
  }
  ASSERT_EQ(records, 3000u);
  // then every page was read from the file once, the cache held no more
  // than the passed leaves and the pages in use,
  EXPECT_LE(pager->pages_loaded(), pages);
  EXPECT_LE(most_cached, PageCache::kMaxPassed + 16);
  EXPECT_LE(pager->cache().passed_count(), PageCache::kMaxPassed);
  // and the leaves the lookups need are still cached.
  for (int32_t leaf : lookup_leaves) EXPECT_NE(pager->cache().Find(leaf), nullptr) << leaf;
}

TEST_F(PagerTest, ReadsOutOfOrderKeepTheirLeavesWhileAScanRuns) {
  // Given key entries ("k...") in one part of the tree and rows ("r...") in
  // another, and a cache that could hold the whole file,
  {
    auto pager = Open();
    PageTree tree(pager.get());
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i) {
      tree.Put(MakeRecord(V(S("k" + std::to_string(i))), V(S("entry"))));
      std::vector<uint8_t> payload(rng() % 1500);
      for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
      tree.Put(MakeRecord(V(S("r" + std::to_string(i))), V(payload)));
    }
    ASSERT_EQ(pager->Flush(), 0);
  }
  PagerOptions options;
  options.cache = {/*min_pages=*/400, /*max_pages=*/400};
  auto pager = Open(false, options);
  const uint64_t pages = PagesOf(pager->header());
  ASSERT_LT(pages, 400u);
  ASSERT_GT(pages, 4 * PageCache::kMaxPassed);
  // when the entries are read in order and each one's row out of order (a
  // key whose order is not the rows'),
  std::vector<int> order(3000);
  for (int i = 0; i < 3000; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  PageTree tree(pager.get());
  TreeCursor scan(&tree), rows(&tree);
  size_t i = 0;
  for (bool ok = scan.Seek(V(S("k"))); ok && scan.key()[0] == 'k'; ok = scan.Next(), ++i) {
    const std::string row = "r" + std::to_string(order[i]);
    ASSERT_TRUE(rows.SeekNear(V(S(row))));
    ASSERT_EQ(rows.key(), V(S(row)));
  }
  ASSERT_EQ(i, 3000u);
  // then no page was read twice: the rows' leaves stayed while the entries'
  // leaves, read past, went;
  EXPECT_LE(pager->pages_loaded(), pages);
  EXPECT_LE(pager->cache().passed_count(), PageCache::kMaxPassed);
  // and reading the rows again finds every one cached.
  const uint64_t loaded = pager->pages_loaded();
  for (int r : order) ASSERT_TRUE(rows.SeekNear(V(S("r" + std::to_string(r)))));
  EXPECT_EQ(pager->pages_loaded(), loaded);
}

TEST_F(PagerTest, ALookupSearchesInnerPagesInPlaceUntilItPassesThemAgain) {
  Build(3000);
  std::map<std::string, std::vector<uint8_t>> want;
  {
    auto pager = Open(false);
    PageTree tree(pager.get());
    TreeCursor c(&tree);
    for (bool ok = c.SeekFirst(); ok; ok = c.Next()) {
      want[std::string(c.key().begin(), c.key().end())].assign(c.record().payload().begin(),
                                                               c.record().payload().end());
    }
  }
  ASSERT_EQ(want.size(), 3000u);
  auto pager = Open(false);
  ASSERT_TRUE(pager->header().ClassOf(pager->root()) > 0);
  PageTree tree(pager.get());
  // The first lookup decodes its leaf alone: the root is searched in place.
  const RecordView* rec = tree.Find(V(S("key1234")));
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->payload(), V(want["key1234"]));
  EXPECT_EQ(pager->pages_searched(), 1u);
  EXPECT_EQ(pager->pages_loaded(), 1u);
  EXPECT_EQ(pager->cache().size(), 1u);
  // The next one through the root decodes and caches it; every lookup
  // finds what the file holds.
  for (const auto& [key, payload] : want) {
    rec = tree.Find(V(S(key)));
    ASSERT_NE(rec, nullptr) << key;
    ASSERT_EQ(rec->payload(), V(payload)) << key;
  }
  EXPECT_EQ(pager->pages_searched(), 1u);
  EXPECT_NE(pager->cache().Find(pager->root()), nullptr);
  EXPECT_EQ(tree.Find(V(S("key30000"))), nullptr);
}

TEST_F(PagerTest, ALookupReadsALeafInPlaceUntilItReadsItAgain) {
  Build(3000);
  auto pager = Open(false);
  PageTree tree(pager.get());
  TreeCursor c(&tree);
  c.ReadInPlace(7);
  // Once a descent has found where the leaves are, a lookup copies its
  // record out of the leaf, which stays out of the cache;
  ASSERT_TRUE(c.Seek(V(S("key2999"))));
  EXPECT_EQ(pager->leaves_searched(), 0u);
  ASSERT_TRUE(c.Seek(V(S("key1234"))));
  EXPECT_EQ(c.key(), V(S("key1234")));
  EXPECT_EQ(pager->leaves_searched(), 1u);
  const uint64_t loaded = pager->pages_loaded();
  EXPECT_EQ(pager->cache().size(), loaded);
  const std::vector<uint8_t> first(c.record().payload().begin(), c.record().payload().end());
  // the next one in that leaf decodes and caches it, and reads the same.
  TreeCursor d(&tree);
  d.ReadInPlace(7);
  ASSERT_TRUE(d.Seek(V(S("key1234"))));
  EXPECT_EQ(pager->leaves_searched(), 1u);
  EXPECT_EQ(pager->pages_loaded(), loaded + 1);
  EXPECT_EQ(d.record().payload(), V(first));
  EXPECT_EQ(c.record().payload(), V(first));
}

TEST_F(PagerTest, LeavesReadAgainAndAgainAreCachedWhateverTheirNumber) {
  // Given forty rows in forty leaves (more than a ring of recent leaves
  // would remember), read in the same order again and again, as a browse
  // reads its page again,
  Build(3000);
  PagerOptions options;
  options.cache = {/*min_pages=*/400, /*max_pages=*/400};  // as the driver's
  auto pager = Open(false, options);
  PageTree tree(pager.get());
  TreeCursor c(&tree);
  c.ReadInPlace(7);
  ASSERT_TRUE(c.Seek(V(S("key0"))));  // finds where the leaves are
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) keys.push_back("key" + std::to_string(1000 + 50 * i));
  auto read_all = [&] {
    for (const std::string& k : keys) {
      ASSERT_TRUE(c.Seek(V(S(k))));
      ASSERT_EQ(c.key(), V(S(k)));
    }
  };
  // the first pass reads their leaves in place, the second decodes and
  // caches them, and the third finds them cached (all but two leaves, in
  // case two share a slot of the table of leaves seen).
  read_all();
  const uint64_t searched = pager->leaves_searched();
  EXPECT_GE(searched, 30u);
  read_all();
  const uint64_t loaded = pager->pages_loaded();
  EXPECT_GE(loaded, 30u);
  read_all();
  EXPECT_LE(pager->leaves_searched() - searched, 2u);
  EXPECT_LE(pager->pages_loaded() - loaded, 2u);
}

TEST_F(PagerTest, CursorsReadingInPlaceMoveAsCursorsThatDecode) {
  // Given a file larger than a cache of a few pages, and a model of it,
  Build(3000);
  std::map<std::string, std::vector<uint8_t>> model;
  {
    auto pager = Open(false);
    PageTree tree(pager.get());
    TreeCursor c(&tree);
    for (bool ok = c.SeekFirst(); ok; ok = c.Next()) {
      model[std::string(c.key().begin(), c.key().end())].assign(c.record().payload().begin(),
                                                                c.record().payload().end());
    }
  }
  PagerOptions options;
  options.cache = {/*min_pages=*/2, /*max_pages=*/6};
  auto pager = Open(true, options);
  PageTree tree(pager.get());
  std::vector<std::string> keys;
  for (const auto& kv : model) keys.push_back(kv.first);
  std::mt19937 rng(17);
  TreeCursor kept(&tree);
  auto expect_at = [&](TreeCursor& c, std::map<std::string, std::vector<uint8_t>>::iterator it,
                       const std::string& what) {
    ASSERT_EQ(c.Valid(), it != model.end()) << what;
    if (it == model.end()) return;
    ASSERT_EQ(c.key(), V(S(it->first))) << what;
    ASSERT_EQ(c.record().payload(), V(it->second)) << what;
  };
  // when cursors that read leaves in place (with prefixes of every length)
  // seek anywhere, step either way, and meet changes to the tree,
  for (int round = 0; round < 300; ++round) {
    std::string probe = keys[rng() % keys.size()];
    if (rng() % 3 == 0) probe.pop_back();
    const size_t prefix = rng() % (probe.size() + 2);
    TreeCursor fresh(&tree);
    TreeCursor& c = rng() % 2 ? kept : fresh;
    c.ReadInPlace(prefix);
    const std::string what = "round " + std::to_string(round) + " " + probe;
    const bool near = rng() % 2 == 0;
    ASSERT_EQ(near ? c.SeekNear(V(S(probe))) : c.Seek(V(S(probe))), true) << what;
    auto it = model.lower_bound(probe);
    expect_at(c, it, what);
    const int steps = static_cast<int>(rng() % 40);
    for (int s = 0; s < steps && it != model.end(); ++s) {
      if (rng() % 6 == 0 && it != model.begin()) {
        ASSERT_TRUE(c.Prev()) << what;
        --it;
      } else {
        const bool ok = c.Next();
        ++it;
        ASSERT_EQ(ok, it != model.end()) << what;
      }
      expect_at(c, it, what + " step " + std::to_string(s));
      if (rng() % 25 == 0) {
        // A change elsewhere in the tree: the cursor finds its key again.
        const std::string& other = keys[rng() % keys.size()];
        std::vector<uint8_t> payload(rng() % 300, static_cast<uint8_t>(round));
        tree.Put(MakeRecord(V(S(other)), V(payload)));
        model[other] = payload;
        expect_at(c, it, what + " after a change");
      }
    }
  }
  // then every answer was the model's, and leaves were read in place.
  EXPECT_GT(pager->leaves_searched(), 0u);
}

TEST(PageCacheTest, PassedLeavesAreFewAndComeBackWhenReadAgain) {
  PageCache cache({/*min_pages=*/400, /*max_pages=*/400});
  auto add = [&](int32_t address) {
    auto node = std::make_unique<PageNode>();
    node->Address = address;
    return cache.Add(std::move(node));
  };
  const int32_t n = static_cast<int32_t>(PageCache::kMaxPassed) + 10;
  PageNode* dirty = add(-1);
  cache.MarkDirty(dirty);
  PageNode* pinned = add(-2);
  cache.Pin(pinned);
  for (int32_t a = 0; a < n; ++a) cache.PassedLeaf(add(a));
  // Only the last kMaxPassed passed leaves are kept, whatever room the
  // cache has; a dirty or pinned page is never passed nor dropped.
  EXPECT_EQ(cache.passed_count(), PageCache::kMaxPassed);
  EXPECT_EQ(cache.Find(9), nullptr);
  cache.PassedLeaf(dirty);
  cache.PassedLeaf(pinned);
  EXPECT_EQ(cache.passed_count(), PageCache::kMaxPassed);
  // A passed leaf asked for again is in use again: later passes of other
  // leaves do not drop it.
  PageNode* again = cache.Find(10);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(cache.passed_count(), PageCache::kMaxPassed - 1);
  for (int32_t a = n; a < 3 * n; ++a) cache.PassedLeaf(add(a));
  EXPECT_EQ(cache.Find(10), again);
  EXPECT_EQ(cache.Find(-1), dirty);
  EXPECT_EQ(cache.Find(-2), pinned);
  EXPECT_EQ(cache.size(), PageCache::kMaxPassed + 3);
  EXPECT_EQ(cache.clean_count(), PageCache::kMaxPassed + 1);
  // Passing a leaf twice files it once.
  PageNode* twice = add(3 * n);
  cache.PassedLeaf(twice);
  cache.PassedLeaf(twice);
  EXPECT_EQ(cache.passed_count(), PageCache::kMaxPassed);
  EXPECT_EQ(cache.clean_count(), PageCache::kMaxPassed + 1);
  cache.Unpin(pinned);
  EXPECT_EQ(cache.clean_count(), PageCache::kMaxPassed + 2);
  cache.Clear();
  EXPECT_EQ(cache.passed_count(), 0u);
  EXPECT_EQ(cache.clean_count(), 0u);
}

TEST(PageCacheTest, TrimmingFollowsTheRule) {
  PageCache cache({/*min_pages=*/3, /*max_pages=*/6});
  auto add = [&](int32_t address) {
    auto node = std::make_unique<PageNode>();
    node->Address = address;
    return cache.Add(std::move(node));
  };
  for (int32_t a = 0; a < 8; ++a) add(a);
  PageNode* dirty = cache.Find(0);
  cache.MarkDirty(dirty);
  cache.Trim();
  // Above max_pages the oldest clean pages go; the dirty one stays.
  EXPECT_LE(cache.clean_count(), 5u);
  EXPECT_NE(cache.Find(0), nullptr);
  EXPECT_EQ(cache.Find(1), nullptr);
  // Below max_pages a recently used page survives.
  for (int i = 0; i < 3; ++i) cache.Find(7);
  size_t before = cache.clean_count();
  cache.Trim();
  EXPECT_LE(cache.clean_count(), before);
  EXPECT_NE(cache.Find(7), nullptr);
}

TEST(PageCacheTest, PinnedAndDirtyPagesAreNeverDropped) {
  PageCache cache({/*min_pages=*/0, /*max_pages=*/0});
  for (int32_t a = -3; a < 3; ++a) {
    auto node = std::make_unique<PageNode>();
    node->Address = a;
    cache.Add(std::move(node));
  }
  PageNode* pinned = cache.Find(1);
  cache.MarkDirty(cache.Find(-3));
  {
    PinGuard pin(&cache, pinned);
    cache.Trim();
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.Find(1), pinned);
  }
  cache.Trim();
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.dirty_count(), 1u);
  ASSERT_NE(cache.Find(-3), nullptr);
}

}  // namespace
}  // namespace qzr::palisade
