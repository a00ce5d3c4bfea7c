#include "drivers/palisade/leaf_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "drivers/palisade/format.h"
#include "drivers/palisade/page.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::S;
using test::V;

struct Entry {
  std::string key, payload;
};

// A leaf over `entries` (keys sorted and unique), encoded.
PageNode Leaf(const std::vector<Entry>& entries) {
  PageNode node;
  node.ResetPlainSize();
  for (const Entry& e : entries) {
    node.Insert(node.RecordCount(), MakeRecord(V(S(e.key)), V(S(e.payload))));
  }
  EncodePage(&node);
  return node;
}

std::string Big32(uint32_t v) {
  std::string s(4, '\0');
  StoreBigU32(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}

// Leaves of the shapes the tables make and of those the format allows:
// 0 rows (a 9-byte key; text then zeros, which compress); 1 memo pieces (a
// 12-byte key, 256 bytes that do not compress); 2 keys sharing more than a
// record may share (63 bytes); 3 keys that begin other keys, with payloads
// that continue them, so that records share bytes past their keys; 4 keys
// alone (key entries). Short records fill `bytes` of the page (a leaf of
// them all is slow to check under the sanitizers).
std::vector<Entry> Entries(int shape, std::mt19937* rng, size_t limit = 4000) {
  std::vector<Entry> out;
  size_t bytes = 0;
  auto text = [rng](size_t n) {
    std::string s(n, ' ');
    for (char& c : s) c = static_cast<char>('A' + (*rng)() % 50);
    return s;
  };
  if (shape < 2) limit = 14000;
  for (uint32_t i = 0; bytes < limit; ++i) {
    Entry e;
    const std::string n = std::to_string((*rng)() % 100000);
    switch (shape) {
      case 0:
        e.key = Big32(7) + std::string(1, '\xF3') + Big32(i * 3 + 1);
        e.payload = text(100 + (*rng)() % 100) + std::string(1000, '\0');
        break;
      case 1:
        e.key = Big32(7) + std::string(1, '\xFC') + Big32(i / 3 + 1) + std::string(1, '\0') +
                std::string(1, '\0') + std::string(1, static_cast<char>(i % 3));
        e.payload = text(i % 3 == 2 ? 40 : 256);
        break;
      case 2:
        e.key = std::string(70, 'p') + n;
        e.payload = text(20);
        break;
      case 3:
        e.key = n.substr(0, 1 + (*rng)() % n.size());
        e.payload = "0000" + text(3);
        break;
      default:
        e.key = "k" + n + text(5);
        break;
    }
    bytes += e.key.size() + e.payload.size() + 5;
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
  out.erase(std::unique(out.begin(), out.end(),
                        [](const Entry& a, const Entry& b) { return a.key == b.key; }),
            out.end());
  return out;
}

// Each key, just below and just above it, shorter and longer, and keys
// before and after them all.
std::vector<std::string> Probes(const std::vector<Entry>& entries) {
  std::vector<std::string> probes = {"", std::string(1, '\0'), "\xff\xff"};
  for (const Entry& e : entries) {
    const std::string& k = e.key;
    probes.push_back(k);
    probes.push_back(k + std::string(1, '\0'));
    probes.push_back(k.substr(0, k.size() - 1));
    std::string up = k, down = k;
    ++up.back();
    --down.back();
    probes.push_back(up);
    probes.push_back(down);
  }
  return probes;
}

// The search agrees with the decoded page: the first record >= probe, and
// those after it that begin with the probe's first `prefix` bytes.
void ExpectSameAsDecoded(const PageNode& decoded, const LeafRun& run, const std::string& probe,
                         const std::string& what) {
  const std::vector<uint8_t> key = S(probe);
  const size_t index = decoded.LowerBound(V(key));
  ASSERT_EQ(run.index, index) << what;
  ASSERT_EQ(run.count, decoded.RecordCount()) << what;
  const Bytes want_prefix = V(key).substr(0, run.prefix);
  size_t n = 0;
  for (size_t i = index; i < decoded.RecordCount(); ++i) {
    if (i > index && decoded.KeyAt(i).substr(0, want_prefix.size()) != want_prefix) break;
    ++n;
  }
  ASSERT_EQ(run.size(), n) << what;
  for (size_t j = 0; j < n; ++j) {
    const RecordView want = decoded.At(index + j);
    const RecordView got = run.At(j);
    ASSERT_EQ(got.key(), want.key()) << what << " record " << j;
    ASSERT_EQ(got.payload(), want.payload()) << what << " record " << j;
  }
}

TEST(LeafSearchTest, FindsTheRecordsThatDecodingFinds) {
  std::mt19937 rng(11);
  LeafSearch scratch;
  LeafRun run;
  for (int shape = 0; shape < 5; ++shape) {
    const std::vector<Entry> entries = Entries(shape, &rng);
    const PageNode node = Leaf(entries);
    PageNode decoded;
    ASSERT_EQ(DecodePage(node.Image.data(), node.Image.size(), &decoded), 0);
    for (const std::string& p : Probes(entries)) {
      for (size_t prefix : {size_t{0}, size_t{1}, size_t{5}, size_t{9}, p.size()}) {
        run.prefix = prefix;
        ASSERT_TRUE(FindInLeafBlock(node.Image.data(), node.Image.size(), V(S(p)), &scratch, &run))
            << shape;
        ExpectSameAsDecoded(decoded, run, p,
                            "shape " + std::to_string(shape) + " prefix " + std::to_string(prefix));
      }
    }
  }
}

TEST(LeafSearchTest, AcceptsExactlyTheLeafBlocksDecodingAccepts) {
  // Given sound leaves (rows, which compress; memo pieces, which do not;
  // records sharing past their keys), every truncation and every byte
  // changed: the search answers iff the block decodes to a leaf, and then
  // as that leaf answers.
  std::mt19937 rng(5);
  LeafSearch scratch;
  LeafRun run;
  run.prefix = 9;
  for (int shape : {0, 1, 3}) {
    const std::vector<Entry> entries = Entries(shape, &rng);
    const PageNode node = Leaf(entries);
    const std::vector<uint8_t>& sound = node.Image;
    const std::string probe = entries[entries.size() / 2].key;
    auto agree = [&](const std::vector<uint8_t>& block, const std::string& what) {
      PageNode decoded;
      const int check = DecodePage(block.data(), block.size(), &decoded);
      const bool found = FindInLeafBlock(block.data(), block.size(), V(S(probe)), &scratch, &run);
      ASSERT_EQ(found, check == 0 && !decoded.IsInner()) << what << " check " << check;
      if (found) ExpectSameAsDecoded(decoded, run, probe, what);
    };
    agree(sound, "sound");
    for (size_t len = 0; len < sound.size(); len += 64) {
      agree(std::vector<uint8_t>(sound.begin(), sound.begin() + len), "cut " + std::to_string(len));
    }
    for (size_t at = 0; at < sound.size(); ++at) {
      for (uint8_t flip : {0x01, 0x40, 0xFF}) {
        std::vector<uint8_t> block = sound;
        block[at] ^= flip;
        agree(block, "shape " + std::to_string(shape) + " byte " + std::to_string(at) + " ^ " +
                         std::to_string(flip));
      }
    }
  }
}

TEST(LeafSearchTest, InnerPagesAreLeftToDecodingAndEmptyLeavesAnswer) {
  PageNode inner;
  inner.NodeFlag = 1;
  inner.ResetPlainSize();
  inner.Insert(0, MakeRecord(Bytes(), Bytes()));
  EncodePage(&inner);
  PageNode empty;
  empty.ResetPlainSize();
  EncodePage(&empty);
  LeafSearch scratch;
  LeafRun run;
  EXPECT_FALSE(FindInLeafBlock(inner.Image.data(), inner.Image.size(), V(S("a")), &scratch, &run));
  ASSERT_TRUE(FindInLeafBlock(empty.Image.data(), empty.Image.size(), V(S("a")), &scratch, &run));
  EXPECT_EQ(run.index, 0u);
  EXPECT_EQ(run.count, 0u);
  EXPECT_EQ(run.size(), 0u);
}

}  // namespace
}  // namespace qzr::palisade
