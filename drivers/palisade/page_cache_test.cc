#include "drivers/palisade/page_cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::S;
using test::V;

// The stored block of a leaf of `count` records, keys "r000000".. and
// `payload` bytes of varied payload each: a key page (many short records)
// or a row page (a few long ones).
std::vector<uint8_t> LeafBlock(size_t count, size_t payload, int first_key) {
  PageNode node;
  std::vector<uint8_t> bytes(payload);
  for (size_t i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "r%06zu", first_key + i);
    for (size_t j = 0; j < payload; ++j) bytes[j] = static_cast<uint8_t>(i * 7 + j * 13);
    node.Insert(node.RecordCount(), MakeRecord(V(S(key)), V(bytes)));
  }
  std::vector<uint8_t> block;
  EncodeBlock(node, &block);
  return block;
}

// Decodes `block` into a node the cache chooses, as the pager loads a page.
PageNode* Load(PageCache* cache, const std::vector<uint8_t>& block, int32_t address) {
  std::unique_ptr<PageNode> node =
      cache->TakeNodeToRead(ReadFormSizeOf(block.data(), block.size()));
  node->Address = address;
  EXPECT_EQ(DecodePage(block.data(), block.size(), node.get(), cache->spare_records()), 0);
  return cache->Add(std::move(node));
}

TEST(PageCacheSparesTest, APageTakesTheSpareThatFitsItAndLargeStorageWaitsForALargePage) {
  // Given a key page of 1,000 records and a row page of 20, each decoded
  // and let go,
  const std::vector<uint8_t> keys = LeafBlock(1000, 0, 0);
  const std::vector<uint8_t> rows = LeafBlock(20, 500, 0);
  const ReadFormSize key_size = ReadFormSizeOf(keys.data(), keys.size());
  const ReadFormSize row_size = ReadFormSizeOf(rows.data(), rows.size());
  ASSERT_EQ(key_size.count, 1000u);
  ASSERT_EQ(row_size.count, 20u);
  PageCache cache;
  cache.Remove(Load(&cache, keys, 1));
  cache.Remove(Load(&cache, rows, 2));
  ASSERT_EQ(cache.spare_count(), 2u);

  // a row page takes the spare that held rows,
  std::unique_ptr<PageNode> row_node = cache.TakeNodeToRead(row_size);
  EXPECT_TRUE(row_node->ReadFormFits(row_size.area, row_size.count));
  EXPECT_LT(row_node->read_form_records(), PageCache::kManyRecords);
  // the next one a new node rather than the key page's storage,
  std::unique_ptr<PageNode> fresh = cache.TakeNodeToRead(row_size);
  EXPECT_EQ(fresh->read_form_bytes(), 0u);
  EXPECT_EQ(cache.spare_count(), 1u);
  // and a key page finds that storage and reads into it without growing it.
  std::unique_ptr<PageNode> key_node = cache.TakeNodeToRead(key_size);
  EXPECT_TRUE(key_node->ReadFormFits(key_size.area, key_size.count));
  const size_t held = key_node->read_form_bytes();
  ASSERT_EQ(DecodePage(keys.data(), keys.size(), key_node.get(), cache.spare_records()), 0);
  EXPECT_EQ(key_node->read_form_bytes(), held);
  EXPECT_EQ(cache.spare_count(), 0u);
  // With no spare at all, a node is new.
  EXPECT_EQ(cache.TakeNodeToRead(key_size)->read_form_bytes(), 0u);
}

TEST(PageCacheSparesTest, AScanThroughKeyPagesBetweenRowPagesStopsGrowingNodes) {
  // Given row pages of 30 rows, memo pages of 6 and, every 25 pages, a key
  // page of 1,250 entries (a scan in a key's order reading each entry's
  // row and memo),
  const std::vector<uint8_t> key_page = LeafBlock(1250, 2, 0);
  const std::vector<uint8_t> row_page = LeafBlock(30, 400, 0);
  const std::vector<uint8_t> memo_page = LeafBlock(6, 2000, 0);
  PageCache cache;
  int32_t address = 1;
  size_t grown = 0;
  // when the cursor reads each page through and passes it (the cache keeps
  // kMaxPassed of them),
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) grown = 0;  // the first pass builds the storage
    for (int i = 0; i < 400; ++i) {
      const std::vector<uint8_t>& block =
          i % 25 == 0 ? key_page : (i % 2 == 0 ? row_page : memo_page);
      const ReadFormSize size = ReadFormSizeOf(block.data(), block.size());
      std::unique_ptr<PageNode> node = cache.TakeNodeToRead(size);
      const size_t before = node->read_form_bytes();
      node->Address = address++;
      ASSERT_EQ(DecodePage(block.data(), block.size(), node.get(), cache.spare_records()), 0);
      if (node->read_form_bytes() != before) ++grown;
      cache.PassedLeaf(cache.Add(std::move(node)));
    }
  }
  // then once it has run, no page grows the storage of the node it is read
  // into (a key page lent to a row page's node grew it every time).
  EXPECT_EQ(grown, 0u);
  EXPECT_LE(cache.size(), PageCache::kMaxPassed);
}

}  // namespace
}  // namespace qzr::palisade
