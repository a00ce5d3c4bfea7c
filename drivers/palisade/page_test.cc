#include "drivers/palisade/page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "drivers/palisade/format.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::B;
using test::CheckNumberOf;
using test::S;
using test::V;

PageNode Leaf(const std::vector<PlxRecord>& records) {
  PageNode node;
  for (const PlxRecord& r : records) node.Insert(node.RecordCount(), r);
  return node;
}

TEST(PageTest, SmallLeafIsStoredUncompressedWithGoldenBytes) {
  PageNode node = Leaf({MakeRecord(V(S("ab")), V(S("XY")))});
  EXPECT_EQ(node.PlainSize(), 13u + 9);
  EXPECT_EQ(EncodePage(&node), 1);
  ASSERT_EQ(node.Image.size(), 256u);
  PatchImage(&node, 0x1234);
  std::vector<uint8_t> head(node.Image.begin(), node.Image.begin() + 22);
  EXPECT_EQ(head, B({0x34, 0x12, 0, 0,  // HomeOffset
                     22,   0,           // StoredSize
                     22,   0,           // PlainSize
                     22,   0,           // Capacity
                     1,    0,           // RecordCount
                     0,                 // NodeFlag
                     0xC0, 4,    0, 2, 0, 'a', 'b', 'X', 'Y'}));
  for (size_t i = 22; i < 256; ++i) ASSERT_EQ(node.Image[i], kPadByte) << i;
}

TEST(PageTest, CompressesOnlyWhenAUnitIsSaved) {
  // 1000 zero bytes of payload compress from four units to one.
  PageNode zeros = Leaf({MakeRecord(V(S("k")), V(std::vector<uint8_t>(1000, 0)))});
  EXPECT_EQ(EncodePage(&zeros), 1);
  EXPECT_LT(LoadU16(zeros.Image.data() + kPgStoredSize),
            LoadU16(zeros.Image.data() + kPgPlainSize));

  // A run that saves bytes but no unit leaves the page stored plain.
  std::vector<uint8_t> payload(200);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  payload[10] = payload[11] = payload[12] = payload[13] = 0;
  PageNode mixed = Leaf({MakeRecord(V(S("k")), V(payload))});
  EXPECT_EQ(EncodePage(&mixed), 1);
  EXPECT_EQ(LoadU16(mixed.Image.data() + kPgStoredSize),
            LoadU16(mixed.Image.data() + kPgPlainSize));
}

TEST(PageTest, ReadsKeysAroundTheBoundsOfTheirWordCopies) {
  // Keys sharing 0 to 40 bytes with the one before and holding 1 to 40 of
  // their own (a key of at most 16 of each is put together in words that
  // reach past it), with and without payloads, read into one node again
  // and again so that each read lands on what the one before left.
  std::vector<std::string> keys;
  for (size_t shared : {0, 1, 7, 8, 9, 15, 16, 17, 30, 40}) {
    for (size_t own : {1, 2, 8, 15, 16, 17, 40}) {
      const std::string prefix = std::string(shared, 'p') + std::to_string(shared % 10);
      keys.push_back(prefix + std::string(own, 'a'));
      keys.push_back(prefix + std::string(own, 'b'));
    }
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  PageNode back;
  for (size_t payload : {0, 3, 20}) {
    PageNode node;
    for (size_t i = 0; i < keys.size(); ++i) {
      node.Insert(node.RecordCount(),
                  MakeRecord(V(S(keys[i])), V(std::vector<uint8_t>(payload, uint8_t(i)))));
    }
    EncodePage(&node);
    ASSERT_EQ(DecodePage(node.Image.data(), node.Image.size(), &back), 0);
    ASSERT_EQ(back.RecordCount(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      ASSERT_EQ(back.KeyAt(i), V(S(keys[i]))) << payload << " " << i;
      ASSERT_EQ(back.At(i).payload(), V(std::vector<uint8_t>(payload, uint8_t(i))));
    }
  }
}

TEST(PageTest, RoundTripsLeafAndInnerPages) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 40; ++trial) {
    PageNode node;
    node.NodeFlag = trial % 2;
    node.ResetPlainSize();
    std::vector<std::string> keys;
    for (int i = 0; i < 30; ++i) keys.push_back("k" + std::to_string(rng() % 100000));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (const std::string& k : keys) {
      PlxRecord r = MakeRecord(
          V(S(k)), node.IsInner() ? Bytes() : V(std::vector<uint8_t>(rng() % 300, 0x20)));
      r.child = static_cast<int32_t>(rng() % 1000);
      node.Insert(node.RecordCount(), std::move(r));
    }
    ASSERT_EQ(node.PlainSize(), node.ComputePlainSize());
    int size_class = EncodePage(&node);
    ASSERT_EQ(node.Image.size(), size_class * kUnit);
    PageNode back;
    ASSERT_EQ(DecodePage(node.Image.data(), node.Image.size(), &back), 0);
    ASSERT_EQ(back.RecordCount(), node.RecordCount());
    EXPECT_EQ(back.NodeFlag, node.NodeFlag);
    // As read, and once turned into owning records.
    ASSERT_TRUE(back.in_read_form());
    EXPECT_EQ(back.PlainSize(), node.PlainSize());
    EXPECT_EQ(back.ComputePlainSize(), node.PlainSize());
    for (size_t i = 0; i < back.RecordCount(); ++i) {
      EXPECT_EQ(back.At(i).key(), node.Records()[i].key());
      EXPECT_EQ(back.At(i).payload(), node.Records()[i].payload());
      if (node.IsInner()) {
        EXPECT_EQ(back.ChildAt(i), node.Records()[i].child);
      }
    }
    const std::vector<PlxRecord>& owned = back.Records();
    ASSERT_FALSE(back.in_read_form());
    for (size_t i = 0; i < owned.size(); ++i) {
      EXPECT_EQ(owned[i].bytes, node.Records()[i].bytes);
      if (node.IsInner()) {
        EXPECT_EQ(owned[i].child, node.Records()[i].child);
      }
    }
    EXPECT_EQ(back.PlainSize(), node.PlainSize());
  }
}

TEST(PageTest, SizeBookkeepingFollowsEdits) {
  PageNode node;
  std::mt19937 rng(11);
  std::vector<std::string> keys;
  for (int i = 0; i < 200; ++i) {
    std::string k = "prefix-shared-" + std::to_string(rng() % 500);
    size_t pos = node.LowerBound(V(S(k)));
    if (pos < node.RecordCount() && node.KeyAt(pos) == V(S(k))) {
      if (rng() % 2) {
        node.Erase(pos);
      } else {
        node.Replace(pos, MakeRecord(V(S(k)), V(std::vector<uint8_t>(rng() % 40, 1))));
      }
    } else {
      node.Insert(pos, MakeRecord(V(S(k)), V(std::vector<uint8_t>(rng() % 40, 2))));
    }
    ASSERT_EQ(node.PlainSize(), node.ComputePlainSize()) << i;
  }
}

TEST(PageTest, DamagedBlocksEndInTheirCheck) {
  PageNode node = Leaf({MakeRecord(V(S("k")), V(std::vector<uint8_t>(1000, 0)))});
  EncodePage(&node);
  const std::vector<uint8_t> good = node.Image;
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    int check;
  } cases[] = {
      {"stored size of another zone", kPgStoredSize, B({0x00, 0x02}), kCheckStoredSize},
      {"plain size below the header", kPgPlainSize, B({5, 0}), kCheckParseLength},
      {"stored larger than plain", kPgPlainSize, B({20, 0}), kCheckParseLength},
      {"plain size too large", kPgPlainSize, B({0xFF, 0x7F}), kCheckRepeatOverrun},
      {"record count too high", kPgRecordCount, B({2, 0}), kCheckParseLength},
      {"inner page: area shifted by the child array", kPgNodeFlag, B({1}), kCheckRepeatOverrun},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = good;
    std::copy(c.bytes.begin(), c.bytes.end(),
              block.begin() + static_cast<std::ptrdiff_t>(c.offset));
    PageNode out;
    EXPECT_EQ(DecodePage(block.data(), block.size(), &out), c.check) << c.what;
  }
  PageNode out;
  EXPECT_EQ(DecodePage(good.data(), 512, &out), kCheckStoredSize);
}

TEST(PageTest, EncodingRefusesPagesBeyondTheLargestZone) {
  // Incompressible records over 15104 bytes in one page.
  PageNode node;
  std::mt19937 rng(5);
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> payload(6000);
    for (auto& b : payload) b = static_cast<uint8_t>(rng());
    node.Insert(node.RecordCount(), MakeRecord(V(S("k" + std::to_string(i))), V(payload)));
  }
  EXPECT_EQ(CheckNumberOf([&] { EncodePage(&node); }), kCheckPageTooLarge);
  node.Capacity = 100;
  EXPECT_EQ(CheckNumberOf([&] { EncodePage(&node); }), kCheckOverCapacity);
}

// Records whose shared leading bytes run past a key into the record
// before's payload, or past their own key into their payload, read back
// the same in the read form as in owning records.
TEST(PageTest, ReadFormPutsTogetherPayloadsThatBeginInSharedBytes) {
  PageNode node;
  // "ab"+"cdefgh" then "abc"+"defgh!": the second shares "abcdefgh" (8
  // bytes), more than its key of 3 and more than the first's key of 2.
  const std::vector<std::pair<std::string, std::string>> recs = {
      {"ab", "cdefgh"}, {"abc", "defgh!"}, {"abcd", "efgh!?"}, {"b", ""}, {"ba", "x"}};
  for (const auto& [k, p] : recs) node.Insert(node.RecordCount(), MakeRecord(V(S(k)), V(S(p))));
  EncodePage(&node);
  PageNode back;
  ASSERT_EQ(DecodePage(node.Image.data(), node.Image.size(), &back), 0);
  ASSERT_TRUE(back.in_read_form());
  ASSERT_EQ(back.RecordCount(), recs.size());
  for (size_t i = 0; i < recs.size(); ++i) {
    EXPECT_EQ(back.At(i).key(), V(S(recs[i].first))) << i;
    EXPECT_EQ(back.At(i).payload(), V(S(recs[i].second))) << i;
  }
  EXPECT_EQ(back.PlainSize(), node.PlainSize());
  EXPECT_EQ(back.LowerBound(V(S("abc"))), 1u);
  EXPECT_EQ(back.LowerBound(V(S("abcc"))), 2u);
  // A change turns it into owning records with the same bytes.
  back.Insert(3, MakeRecord(V(S("abd")), V(S("z"))));
  ASSERT_FALSE(back.in_read_form());
  EXPECT_EQ(back.PlainSize(), back.ComputePlainSize());
  EXPECT_EQ(back.At(2).payload(), V(S("efgh!?")));
  EXPECT_EQ(back.At(3).key(), V(S("abd")));
}

}  // namespace
}  // namespace qzr::palisade
