// Damaged files: every truncation and byte flip of a small file must end in
// an error code, a numbered corruption check, or a clean read; never in a
// crash or a sanitizer report.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/pager.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/fatal.h"
#include "testing/fatal_guard.h"

namespace qzr::palisade {
namespace {

using test::CheckNumberOf;
using test::ReadAll;
using test::S;
using test::V;
using test::WriteAll;

// Opens the file and reads every record both ways, then runs the check.
// Returns "open error", "check <n>" or "read".
std::string Exercise(const std::string& path) {
  std::unique_ptr<Pager> pager;
  PagerOptions options;
  options.cache.min_pages = 1;
  options.cache.max_pages = 2;
  if (Pager::Open(path, false, false, options, &pager) != 0) return "open error";
  try {
    PageTree tree(pager.get());
    TreeCursor cursor(&tree);
    size_t guard = 0;
    for (bool ok = cursor.SeekFirst(); ok && guard < 100000; ok = cursor.Next()) ++guard;
    for (bool ok = cursor.SeekLast(); ok && guard < 200000; ok = cursor.Prev()) ++guard;
    tree.Find(V(S("key00042")));
  } catch (const testing::FatalErrorThrown& e) {
    EXPECT_EQ(e.code, kDataCorruption);
    return "check";
  }
  CheckFile(path);  // must not crash either
  return "read";
}

class DamagedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PagerOptions options;
    options.page_limit = 1024;  // several small pages in a small file
    std::unique_ptr<Pager> pager;
    ASSERT_EQ(Pager::Open(path_, true, true, options, &pager), 0);
    PageTree tree(pager.get());
    for (int i = 0; i < 60; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "key%05d", i);
      tree.Insert(MakeRecord(V(S(key)), V(std::vector<uint8_t>(i * 5, static_cast<uint8_t>(i)))));
    }
    ASSERT_EQ(pager->Flush(), 0);
    good_ = ReadAll(path_);
    ASSERT_EQ(CheckFile(path_).problems, std::vector<std::string>());
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("damaged.plx");
  std::vector<uint8_t> good_;
};

// Rewrites one byte of the file in place.
void PokeByte(const std::string& path, size_t pos, uint8_t value) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(pos)), 1);
  ::close(fd);
}

TEST_F(DamagedFileTest, EveryTruncationIsRefusedOrRead) {
  ASSERT_GT(good_.size(), 1024u);
  // Longest first, so each step only cuts the file further.
  for (size_t len = good_.size(); len-- > 0;) {
    ASSERT_EQ(::truncate(path_.c_str(), static_cast<off_t>(len)), 0);
    std::string outcome = Exercise(path_);
    if (len == 0) {
      EXPECT_EQ(outcome, "read");  // an empty file is an empty database
    } else {
      // Any cut removes pages the header counts on.
      EXPECT_EQ(outcome, "open error") << len;
    }
  }
}

TEST_F(DamagedFileTest, FlippedBytesNeverCrash) {
  std::mt19937 rng(17);
  int checks = 0, errors = 0;
  for (size_t pos = 0; pos < good_.size(); ++pos) {
    PokeByte(path_, pos, good_[pos] ^ static_cast<uint8_t>(1 + rng() % 255));
    std::string outcome = Exercise(path_);
    PokeByte(path_, pos, good_[pos]);
    checks += outcome == "check";
    errors += outcome == "open error";
  }
  EXPECT_GT(checks, 0);
  EXPECT_GT(errors, 0);
}

TEST_F(DamagedFileTest, ChangingADamagedFileNeverCrashes) {
  // Writes move pages and walk the tree to repair references: on damaged
  // pages that must end in a check or an error too.
  std::mt19937 rng(23);
  int outcomes = 0;
  for (size_t pos = 0; pos < good_.size(); pos += 11) {
    std::vector<uint8_t> bad = good_;
    bad[pos] ^= static_cast<uint8_t>(1 + rng() % 255);
    WriteAll(path_, bad);
    PagerOptions options;
    options.page_limit = 1024;
    std::unique_ptr<Pager> pager;
    if (Pager::Open(path_, true, false, options, &pager) != 0) continue;
    try {
      PageTree tree(pager.get());
      tree.set_debug_checks(false);
      for (int i = 0; i < 60; i += 4) {
        char key[16];
        std::snprintf(key, sizeof key, "key%05d", i);
        tree.Delete(V(S(key)));
        tree.Put(MakeRecord(V(S(std::string(key) + "x")), V(std::vector<uint8_t>(300, 1))));
      }
      pager->Flush();
      ++outcomes;
    } catch (const testing::FatalErrorThrown& e) {
      EXPECT_EQ(e.code, kDataCorruption);
      ++outcomes;
    }
  }
  EXPECT_GT(outcomes, 0);
}

TEST_F(DamagedFileTest, CheckReportsDamageInsteadOfFailing) {
  // A cycle: the root's first child pointer aimed at the root itself.
  std::unique_ptr<Pager> pager;
  ASSERT_EQ(Pager::Open(path_, false, false, {}, &pager), 0);
  ASSERT_TRUE(pager->GetPage(pager->root())->IsInner());
  const uint64_t root_offset = PageOffset(pager->root());
  std::vector<uint8_t> bad = good_;
  StoreU32(bad.data() + root_offset + kPageHeaderBytes, static_cast<uint32_t>(pager->root()));
  WriteAll(path_, bad);
  CheckReport report = CheckFile(path_);
  ASSERT_FALSE(report.problems.empty());
  EXPECT_EQ(Exercise(path_), "check");
}

// A record whose key falls out of order in the middle of a page (its bytes
// otherwise sound) is found when its page is read, whichever record of the
// page is asked for, and the check reports the page.
TEST_F(DamagedFileTest, AKeyOutOfOrderMidPageIsFoundWhenThePageIsRead) {
  // Given a leaf whose middle record's key is made smaller than the one
  // before it, re-encoded in place at the same size.
  std::unique_ptr<Pager> pager;
  ASSERT_EQ(Pager::Open(path_, false, false, {}, &pager), 0);
  PageTree tree(pager.get());
  std::vector<PageTree::Step> path;
  ASSERT_TRUE(tree.Descend(V(S("key00030")), &path));
  PageNode* leaf = pager->GetPage(path.back().address);
  ASSERT_TRUE(leaf->in_read_form());
  const size_t n = leaf->RecordCount();
  ASSERT_GE(n, 3u);
  const size_t mid = n / 2;
  const std::vector<uint8_t> last_key(leaf->KeyAt(n - 1).begin(), leaf->KeyAt(n - 1).end());
  const std::vector<uint8_t> first_key(leaf->KeyAt(0).begin(), leaf->KeyAt(0).end());
  PageNode damaged;
  damaged.NodeFlag = leaf->NodeFlag;
  for (size_t i = 0; i < n; ++i) damaged.Records().push_back(leaf->At(i).ToRecord());
  damaged.Records()[mid].bytes[3] = '!';  // "key" + '!' sorts before "key0"
  damaged.ResetPlainSize();
  damaged.Capacity = static_cast<uint32_t>(damaged.PlainSize());
  const int size_class = EncodePage(&damaged);
  ASSERT_EQ(size_class, pager->header().ClassOf(leaf->Address));
  PatchImage(&damaged, PageOffset(leaf->Address));
  std::vector<uint8_t> bad = good_;
  std::copy(damaged.Image.begin(), damaged.Image.end(), bad.begin() + PageOffset(leaf->Address));
  pager.reset();
  WriteAll(path_, bad);

  // When any record of that page is read, its first or its last: the page
  // is refused whole (check 1602), never handed out with the bad key.
  for (const std::vector<uint8_t>* key : {&first_key, &last_key}) {
    std::unique_ptr<Pager> again;
    ASSERT_EQ(Pager::Open(path_, false, false, {}, &again), 0);
    PageTree read(again.get());
    EXPECT_EQ(CheckNumberOf([&] { read.Find(Bytes(key->data(), key->size())); }),
              kCheckParseLength);
  }
  // The check names the page's damage.
  const CheckReport report = CheckFile(path_);
  ASSERT_FALSE(report.problems.empty());
  const bool named =
      std::any_of(report.problems.begin(), report.problems.end(),
                  [](const std::string& p) { return p.find("check 1602") != std::string::npos; });
  EXPECT_TRUE(named) << report.problems.front();
}

}  // namespace
}  // namespace qzr::palisade
