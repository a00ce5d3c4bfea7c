#include "drivers/palisade/child_search.h"

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

// An inner page over `keys` (sorted and unique, the first empty as the tree
// makes it), child i at address 1000 + 7i, encoded.
PageNode Inner(const std::vector<std::string>& keys) {
  PageNode node;
  node.NodeFlag = 1;
  node.ResetPlainSize();
  for (size_t i = 0; i < keys.size(); ++i) {
    PlxRecord r = MakeRecord(V(S(keys[i])), Bytes());
    r.child = static_cast<int32_t>(1000 + 7 * i);
    node.Insert(node.RecordCount(), std::move(r));
  }
  EncodePage(&node);
  return node;
}

// Sorted, unique separators of one of several shapes: short, sharing more
// than a record may share (63 bytes), or with runs that compress.
std::vector<std::string> Separators(int shape, std::mt19937* rng) {
  std::vector<std::string> keys = {""};
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string((*rng)() % 100000);
    switch (shape) {
      case 0:
        keys.push_back("k" + n);
        break;
      case 1:
        keys.push_back(std::string(70, 'p') + n);
        break;
      case 2:
        keys.push_back(n + std::string(40, 'z'));
        break;
      default:
        keys.push_back(n.substr(0, 1 + (*rng)() % n.size()));
        break;
    }
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

TEST(ChildSearchTest, FindsTheChildThatDecodingFinds) {
  std::mt19937 rng(11);
  ChildSearch scratch;
  for (int shape = 0; shape < 4; ++shape) {
    const std::vector<std::string> keys = Separators(shape, &rng);
    PageNode node = Inner(keys);
    // Each separator, just below and just above it, and keys before and
    // after them all.
    std::vector<std::string> probes = {"", std::string(1, '\0'), "\xff\xff"};
    for (const std::string& k : keys) {
      probes.push_back(k);
      probes.push_back(k + std::string(1, '\0'));
      if (!k.empty()) probes.push_back(k.substr(0, k.size() - 1));
      // Differing from it in its last byte, either way.
      if (!k.empty()) {
        std::string up = k, down = k;
        ++up.back();
        --down.back();
        probes.push_back(up);
        probes.push_back(down);
      }
    }
    for (const std::string& p : probes) {
      size_t index = 99999;
      int32_t child = -1;
      ASSERT_TRUE(
          FindChildInBlock(node.Image.data(), node.Image.size(), V(S(p)), &scratch, &index, &child))
          << shape;
      const size_t want = node.ChildIndex(V(S(p)));
      ASSERT_EQ(index, want) << shape << " " << p;
      ASSERT_EQ(child, node.ChildAt(want));
    }
  }
}

TEST(ChildSearchTest, AcceptsExactlyTheInnerBlocksDecodingAccepts) {
  // Given sound blocks (one compressed, one not), every truncation and
  // every byte changed: the search answers iff the block decodes to an
  // inner page with records, and then as that page answers.
  std::mt19937 rng(5);
  ChildSearch scratch;
  for (int shape : {0, 2}) {
    const PageNode node = Inner(Separators(shape, &rng));
    const std::vector<uint8_t>& sound = node.Image;
    const std::string probe = "5";
    auto agree = [&](const std::vector<uint8_t>& block, const std::string& what) {
      PageNode decoded;
      const int check = DecodePage(block.data(), block.size(), &decoded);
      size_t index = 0;
      int32_t child = 0;
      const bool found =
          FindChildInBlock(block.data(), block.size(), V(S(probe)), &scratch, &index, &child);
      const bool usable = check == 0 && decoded.IsInner() && !decoded.empty();
      ASSERT_EQ(found, usable) << what << " check " << check;
      if (found) {
        ASSERT_EQ(index, decoded.ChildIndex(V(S(probe)))) << what;
        ASSERT_EQ(child, decoded.ChildAt(index)) << what;
      }
    };
    agree(sound, "sound");
    for (size_t len = 0; len < sound.size(); len += 64) {
      agree(std::vector<uint8_t>(sound.begin(), sound.begin() + len), "cut " + std::to_string(len));
    }
    for (size_t at = 0; at < sound.size(); ++at) {
      for (uint8_t flip : {0x01, 0x40, 0xFF}) {
        std::vector<uint8_t> block = sound;
        block[at] ^= flip;
        agree(block, "byte " + std::to_string(at) + " ^ " + std::to_string(flip));
      }
    }
  }
}

TEST(ChildSearchTest, LeavesAndEmptyPagesAreLeftToDecoding) {
  PageNode leaf;
  leaf.Insert(0, MakeRecord(V(S("a")), V(S("payload"))));
  EncodePage(&leaf);
  PageNode empty;
  empty.NodeFlag = 1;
  empty.ResetPlainSize();
  EncodePage(&empty);
  ChildSearch scratch;
  size_t index = 0;
  int32_t child = 0;
  EXPECT_FALSE(
      FindChildInBlock(leaf.Image.data(), leaf.Image.size(), V(S("a")), &scratch, &index, &child));
  EXPECT_FALSE(FindChildInBlock(empty.Image.data(), empty.Image.size(), V(S("a")), &scratch, &index,
                                &child));
}

}  // namespace
}  // namespace qzr::palisade
