#include "drivers/palisade/page_tree.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::CheckNumberOf;
using test::S;
using test::V;
using Key = std::vector<uint8_t>;
using Model = std::map<Key, std::vector<uint8_t>, std::less<>>;

struct Limits {
  const char* name;
  PagerOptions options;
  size_t max_key;
  size_t max_record;
  int operations;
  int min_depth;  // the load is large enough to grow the tree this deep
};

PagerOptions Tiny() {
  PagerOptions o;
  o.cache.min_pages = 2;
  o.cache.max_pages = 4;
  o.max_dirty_pages = 8;
  o.page_limit = 1024;
  return o;
}

class PageTreeTest : public ::testing::Test {
 protected:
  void Open(const PagerOptions& options) {
    tree_.reset();
    pager_.reset();
    ASSERT_EQ(Pager::Open(path_, true, true, options, &pager_), 0);
    tree_ = std::make_unique<PageTree>(pager_.get());
  }

  // Every record in order, forward and backward, against the model.
  void ExpectContents(const Model& model) {
    TreeCursor cursor(tree_.get());
    auto it = model.begin();
    for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next(), ++it) {
      ASSERT_NE(it, model.end());
      ASSERT_EQ(Key(cursor.key().begin(), cursor.key().end()), it->first);
      ASSERT_EQ(Key(cursor.record().payload().begin(), cursor.record().payload().end()),
                it->second);
    }
    ASSERT_EQ(it, model.end());
    auto rit = model.rbegin();
    for (bool ok = cursor.SeekLast(); ok; ok = cursor.Prev(), ++rit) {
      ASSERT_NE(rit, model.rend());
      ASSERT_EQ(Key(cursor.key().begin(), cursor.key().end()), rit->first);
    }
    ASSERT_EQ(rit, model.rend());
  }

  void ExpectSound() {
    EXPECT_EQ(tree_->CheckInvariants(), std::vector<std::string>());
    ASSERT_EQ(pager_->Flush(), 0);
    CheckReport report = CheckFile(path_);
    EXPECT_EQ(report.problems, std::vector<std::string>());
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("tree.plx");
  std::unique_ptr<Pager> pager_;
  std::unique_ptr<PageTree> tree_;
};

PlxRecord Rec(const Key& key, const std::vector<uint8_t>& payload) {
  return MakeRecord(V(key), V(payload));
}

TEST_F(PageTreeTest, EmptyTreeFindsNothing) {
  Open(PagerOptions());
  EXPECT_EQ(tree_->Find(V(S("a"))), nullptr);
  EXPECT_FALSE(tree_->Delete(V(S("a"))));
  TreeCursor cursor(tree_.get());
  EXPECT_FALSE(cursor.SeekFirst());
  EXPECT_FALSE(cursor.SeekLast());
  ExpectSound();
}

TEST_F(PageTreeTest, InsertFindReplaceDelete) {
  Open(PagerOptions());
  EXPECT_TRUE(tree_->Insert(Rec(S("b"), S("2"))));
  EXPECT_TRUE(tree_->Insert(Rec(S("a"), S("1"))));
  EXPECT_FALSE(tree_->Insert(Rec(S("a"), S("x"))));
  ASSERT_NE(tree_->Find(V(S("a"))), nullptr);
  EXPECT_EQ(tree_->Find(V(S("a")))->payload(), V(S("1")));
  tree_->Put(Rec(S("a"), S("one")));
  EXPECT_EQ(tree_->Find(V(S("a")))->payload(), V(S("one")));
  EXPECT_TRUE(tree_->Delete(V(S("b"))));
  EXPECT_EQ(tree_->Find(V(S("b"))), nullptr);
  ExpectSound();
}

TEST_F(PageTreeTest, CursorSeeksAroundKeys) {
  Open(Tiny());
  Model model;
  for (int i = 0; i < 300; i += 3) {
    Key k = S("k" + std::to_string(1000 + i));
    tree_->Insert(Rec(k, std::vector<uint8_t>(50, 1)));
    model[k] = std::vector<uint8_t>(50, 1);
  }
  struct Case {
    std::string key;
    std::string seek, after, before;  // "" when none
  } cases[] = {
      {"k1000", "k1000", "k1003", ""}, {"k1001", "k1003", "k1003", "k1000"},
      {"k1297", "k1297", "", "k1294"}, {"k2", "", "", "k1297"},
      {"a", "k1000", "k1000", ""},
  };
  TreeCursor cursor(tree_.get());
  auto at = [&]() {
    return cursor.Valid() ? std::string(cursor.key().begin(), cursor.key().end()) : "";
  };
  for (const Case& c : cases) {
    cursor.Seek(V(S(c.key)));
    EXPECT_EQ(at(), c.seek) << c.key;
    cursor.SeekAfter(V(S(c.key)));
    EXPECT_EQ(at(), c.after) << c.key;
    cursor.SeekBefore(V(S(c.key)));
    EXPECT_EQ(at(), c.before) << c.key;
  }
  // A cursor finds its place again after the tree changes under it.
  cursor.Seek(V(S("k1150")));
  tree_->Delete(V(S("k1153")));
  tree_->Insert(Rec(S("k1151"), S("x")));
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(at(), "k1151");
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(at(), "k1156");
  ASSERT_TRUE(cursor.Prev());
  EXPECT_EQ(at(), "k1151");
  // Reading the record after its page changed finds it again.
  for (int i = 3; i < 300; i += 3) tree_->Delete(V(S("k" + std::to_string(1000 + i))));
  EXPECT_EQ(cursor.record().key(), V(S("k1151")));
  tree_->Delete(V(S("k1151")));
  EXPECT_EQ(cursor.record().key(), Bytes());  // nothing at or after it
}

// A kept cursor's SeekNear lands where a fresh Seek does, whether the key
// is in its leaf, the next one or far away, and whether or not the pages it
// stood on are still cached (a cache of four pages lets most of them go).
TEST_F(PageTreeTest, SeekNearLandsWhereSeekDoes) {
  Open(Tiny());
  for (int i = 0; i < 3000; i += 2) {
    tree_->Insert(Rec(S("k" + std::to_string(10000 + i)), std::vector<uint8_t>(40, 1)));
  }
  ASSERT_EQ(pager_->Flush(), 0);
  std::mt19937 rng(7);
  TreeCursor kept(tree_.get());
  int key = 9990;
  for (int step = 0; step < 4000; ++step) {
    // Mostly small steps forward (a scan), now and then a jump either way.
    key =
        rng() % 8 == 0 ? 9990 + static_cast<int>(rng() % 3020) : key + static_cast<int>(rng() % 5);
    if (key > 13010) key = 9990;
    const Key k = S("k" + std::to_string(key));
    TreeCursor fresh(tree_.get());
    const bool found = fresh.Seek(V(k));
    ASSERT_EQ(kept.SeekNear(V(k)), found) << key;
    if (found) {
      ASSERT_EQ(kept.key(), fresh.key()) << key;
    }
  }
}

TEST_F(PageTreeTest, RandomizedAgainstAMapAcrossReopens) {
  const Limits limits[] = {
      {"tiny pages and cache", Tiny(), 120, 1006, 3000, 3},
      {"full-size pages", PagerOptions(), 300, kMaxRecordLength, 700, 2},
  };
  for (const Limits& l : limits) {
    SCOPED_TRACE(l.name);
    std::remove(path_.c_str());
    Open(l.options);
    tree_->set_debug_checks(false);
    Model model;
    std::mt19937 rng(42);
    auto random_key = [&]() {
      // Small alphabet and shared prefixes exercise prefix compression.
      Key k(1 + rng() % l.max_key, 'p');
      size_t varied = std::min<size_t>(k.size(), 1 + rng() % 6);
      for (size_t i = k.size() - varied; i < k.size(); ++i)
        k[i] = static_cast<uint8_t>('a' + rng() % 4);
      return k;
    };
    auto random_payload = [&](size_t key_len) {
      size_t room = l.max_record - key_len;
      size_t len = rng() % 8 == 0 ? rng() % (room + 1) : rng() % std::min<size_t>(room + 1, 400);
      std::vector<uint8_t> p(len, 0);
      // Mostly zero padding, with an incompressible stretch now and then.
      size_t noisy = rng() % 4 == 0 ? len : std::min<size_t>(len, 16);
      for (size_t i = 0; i < noisy; ++i) p[i] = static_cast<uint8_t>(rng());
      return p;
    };
    for (int op = 0; op < l.operations; ++op) {
      const int what = static_cast<int>(rng() % 10);
      if (what < 5) {
        Key k = random_key();
        std::vector<uint8_t> p = random_payload(k.size());
        EXPECT_EQ(tree_->Insert(Rec(k, p)), model.emplace(k, p).second);
      } else if (what < 7 && !model.empty()) {
        auto it = model.lower_bound(random_key());
        if (it == model.end()) it = model.begin();
        std::vector<uint8_t> p = random_payload(it->first.size());
        tree_->Put(Rec(it->first, p));
        it->second = p;
      } else {
        Key k = random_key();
        auto it = model.lower_bound(k);
        if (it != model.end() && rng() % 2) k = it->first;
        EXPECT_EQ(tree_->Delete(V(k)), model.erase(k) == 1);
      }
      ASSERT_EQ(pager_->MaybeSpill(), 0);
      if (op % 997 == 0) {
        // Pages of every size placed in one write-out: the zones stay dense.
        ASSERT_EQ(pager_->Flush(), 0);
        ASSERT_EQ(pager_->CheckZones(), std::vector<std::string>()) << op;
        ASSERT_EQ(CheckFile(path_).problems, std::vector<std::string>()) << op;
      }
      if (op % 400 == 0) {
        Key k = random_key();
        const RecordView* found = tree_->Find(V(k));
        auto it = model.find(k);
        ASSERT_EQ(found != nullptr, it != model.end());
        if (found != nullptr) {
          ASSERT_EQ(Key(found->payload().begin(), found->payload().end()), it->second);
        }
      }
    }
    ExpectContents(model);
    ExpectSound();
    CheckReport grown = CheckFile(path_);
    EXPECT_GE(grown.depth, l.min_depth);
    EXPECT_EQ(grown.records, model.size());
    Open(l.options);
    ExpectContents(model);
    // Empty it again: pages merge away down to an empty root.
    for (auto it = model.begin(); it != model.end();) {
      ASSERT_TRUE(tree_->Delete(V(it->first)));
      it = model.erase(it);
      if (model.size() % 7 == 0) {
        ASSERT_EQ(pager_->MaybeSpill(), 0);
      }
    }
    ExpectSound();
    Open(l.options);
    ExpectContents(model);
    EXPECT_EQ(CheckFile(path_).pages, 1u);
  }
}

TEST_F(PageTreeTest, AscendingLoadFillsPages) {
  Open(PagerOptions());
  for (uint32_t i = 0; i < 2000; ++i) {
    Key k(9, 0);
    StoreBigU32(k.data() + 5, i);
    std::vector<uint8_t> p(300);
    for (size_t j = 0; j < p.size(); ++j) p[j] = static_cast<uint8_t>(i * 31 + j * 7);
    ASSERT_TRUE(tree_->Insert(Rec(k, p)));
  }
  ASSERT_EQ(pager_->Flush(), 0);
  CheckReport report = CheckFile(path_);
  EXPECT_EQ(report.problems, std::vector<std::string>());
  EXPECT_EQ(report.records, 2000u);
  // 2000 records of ~310 bytes in pages of 15104: about 42 leaves when full.
  EXPECT_LT(report.pages, 50u);
}

// A write hint names a leaf by the range of keys its ancestors give it. A
// split made through another tree object over the same pager (as the
// transaction record is written) moves keys out of that range: the hint
// must not send a write to the old leaf.
TEST_F(PageTreeTest, WriteHintsForgetLeavesSplitThroughAnotherTree) {
  // Given a tree of several leaves whose last leaf this tree has written,
  Open(Tiny());
  Model model;
  auto put = [&](PageTree* tree, uint32_t n, size_t size) {
    Key k = S("k");
    k.resize(5);
    StoreBigU32(k.data() + 1, n);
    const std::vector<uint8_t> payload(size, static_cast<uint8_t>(n));
    model[k] = payload;
    tree->Put(Rec(k, payload));
  };
  for (uint32_t n = 0; n < 40; n += 2) put(tree_.get(), n * 10, 100);
  // when another tree object splits that leaf with records in its range,
  PageTree other(pager_.get());
  for (uint32_t n = 381; n < 390; ++n) put(&other, n, 200);
  // then this tree's writes around the split land where a search finds
  // them, and the tree stays sound.
  for (uint32_t n = 379; n < 400; n += 2) put(tree_.get(), n, 60);
  for (const auto& [k, v] : model) {
    const RecordView* found = tree_->Find(Bytes(k.data(), k.size()));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Key(found->payload().begin(), found->payload().end()), v);
  }
  ExpectContents(model);
  ExpectSound();
}

// Writes that take turns between a few regions of the key space (a row's
// key entries, the row, its memo pieces, the counters), with deletes and
// shrinking replacements among them, and flushes that move pages: every
// write lands where a search finds it.
TEST_F(PageTreeTest, InterleavedWritesThroughHintsMatchAMap) {
  Open(Tiny());
  tree_->set_debug_checks(false);
  Model model;
  std::mt19937 rng(5);
  uint32_t next[4] = {0, 0, 0, 0};
  for (int op = 0; op < 6000; ++op) {
    const uint8_t region = static_cast<uint8_t>(rng() % 4);
    Key k = {region, 0, 0, 0, 0};
    const uint32_t r = rng() % 10;
    uint32_t n;
    if (r < 6) {
      n = next[region]++;  // appended
    } else {
      n = next[region] == 0 ? 0 : static_cast<uint32_t>(rng() % next[region]);  // anywhere
    }
    StoreBigU32(k.data() + 1, n);
    if (r == 9) {
      EXPECT_EQ(tree_->Delete(Bytes(k.data(), k.size())), model.erase(k) == 1);
    } else {
      const std::vector<uint8_t> payload(r == 8 ? 1 : 20 + rng() % 120, static_cast<uint8_t>(op));
      model[k] = payload;
      tree_->Put(Rec(k, payload));
    }
    if (op % 1500 == 1499) {
      ASSERT_EQ(pager_->Flush(), 0);
    }
  }
  EXPECT_EQ(tree_->CheckInvariants(), std::vector<std::string>());
  ExpectContents(model);
  ExpectSound();
}

TEST_F(PageTreeTest, RefusesRecordsThatCannotFitAPage) {
  Open(Tiny());
  EXPECT_EQ(CheckNumberOf([&] { tree_->Insert(Rec(S("k"), std::vector<uint8_t>(1010, 0))); }),
            kCheckRecordTooLong);
  EXPECT_EQ(CheckNumberOf([&] { tree_->Insert(Rec(Key(500, 'k'), {})); }), kCheckRecordTooLong);
  EXPECT_EQ(CheckNumberOf([&] { tree_->Insert(Rec(S("k"), std::vector<uint8_t>(1005, 0))); }), 0);
}

// A record read from a page is a view into that page: what a caller keeps
// (a copy) stays right after the page is dropped and its node decodes
// other pages, and the record read again is the same. A view taken before
// its page changes still reads the bytes it had.
TEST_F(PageTreeTest, RecordsKeptFromAPageOutliveItsEviction) {
  // Given a tree of many pages flushed to the file, read back through a
  // cache of at most four pages.
  Open(Tiny());
  Model model;
  auto key_of = [](const std::string& text) { return Key(S(text)); };
  for (int i = 0; i < 400; ++i) {
    const Key k = key_of("row" + std::to_string(100000 + i));
    std::vector<uint8_t> payload(40 + i % 50, static_cast<uint8_t>(i));
    model[k] = payload;
    ASSERT_TRUE(tree_->Insert(Rec(k, payload)));
  }
  ASSERT_EQ(pager_->Flush(), 0);
  Open(Tiny());

  // When a record is kept and every other page is read after it,
  const Key wanted_key = key_of("row100007");
  const Bytes wanted(wanted_key.data(), wanted_key.size());
  const RecordView* found = tree_->Find(wanted);
  ASSERT_NE(found, nullptr);
  const PlxRecord kept = found->ToRecord();
  ExpectContents(model);

  // then the copy is whole, and the page decoded again gives the same.
  EXPECT_EQ(kept.key(), wanted);
  EXPECT_EQ(Key(kept.payload().begin(), kept.payload().end()), model[wanted_key]);
  found = tree_->Find(wanted);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->payload(), kept.payload());

  // A view taken before its page changes reads what it read before.
  std::vector<PageTree::Step> path;
  ASSERT_TRUE(tree_->Descend(wanted, &path));
  PageNode* leaf = pager_->GetPage(path.back().address);
  ASSERT_TRUE(leaf->in_read_form());
  const RecordView before = leaf->At(path.back().index);
  leaf->Replace(path.back().index, Rec(wanted_key, {1, 2, 3}));
  EXPECT_FALSE(leaf->in_read_form());
  EXPECT_EQ(before.payload(), kept.payload());
  EXPECT_EQ(leaf->At(path.back().index).payload(), V(std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace qzr::palisade
