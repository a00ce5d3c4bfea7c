// The page cache of one open Palisade file: page nodes found through a hash
// table of 128 buckets and trimmed in least-recently-used order. An address
// is spread over the buckets by multiplying (the top bits of address times
// 2^32/phi): the pages of one zone lie a size class apart, and an address
// modulo the bucket count filed the pages of a class sharing a factor with
// it into a fraction of the buckets. Changed pages stay until they are
// written, so a large transaction can hold thousands: the table then grows
// (by four, rehashed)
// whenever it holds four times as many pages as buckets, so that a lookup
// stays short; it keeps its size until the cache is cleared.
//
// Every cached node is in the hash table. Clean, unpinned nodes are also in
// the LRU list, oldest first; only they can be dropped. Dirty nodes (changed
// since last written) and pinned nodes (held across a call that may load
// other pages) stay off the list until they are clean and unpinned again,
// so that trimming never loses a change and never frees a node in use.
// Writing dirty pages out is the Pager's job, at operation boundaries.
//
// Trimming (before a page is loaded): while at least `min_pages` clean pages
// are cached, take the least recently used one; below `max_pages` keep it,
// and stop, unless (clock - its last use) >= 4 * ((clock - its creation) /
// clean count); otherwise drop it. The clock advances on every access.
//
// Nodes the cache lets go (trimmed, removed, cleared) are kept as spares,
// records and all, up to kMaxSpareNodes: a page loaded into a spare decodes
// into storage that is already there, so a steady scan allocates nothing.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_PAGE_CACHE_H_
#define QZR_DRIVERS_PALISADE_PAGE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/palisade/page.h"

namespace qzr::palisade {

struct CacheLimits {
  size_t min_pages = 20;   // trimming leaves at least this many clean pages
  size_t max_pages = 100;  // above this many clean pages, the oldest always go
};

class PageCache {
 public:
  static constexpr int kBucketBits = 7;  // 2^7 buckets in a table that has not grown
  static constexpr size_t kBuckets = size_t{1} << kBucketBits;

  static constexpr size_t kMaxSpareNodes = 32;

  explicit PageCache(CacheLimits limits = {}) : limits_(limits) {}
  ~PageCache();
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // The node at `address`, or nullptr. A hit counts as an access (the clock
  // advances, the node becomes the most recently used).
  PageNode* Find(int32_t address);
  // Takes ownership of `node` (its Address set) and returns it; counts as an
  // access. REQUIRES: no node with that address is cached.
  PageNode* Add(std::unique_ptr<PageNode> node);
  // Re-files `node` under `address`. REQUIRES: none cached there.
  void Rekey(PageNode* node, int32_t address);
  // Removes `node` (a page freed by the tree); it becomes a spare.
  void Remove(PageNode* node);
  // A node for a page about to be loaded or made: a spare (holding the
  // records of the page it was, for DecodePage to reuse) or a new one. Its
  // cache bookkeeping is reset. With `empty`, its records go to the spare
  // records first.
  std::unique_ptr<PageNode> TakeNode(bool empty);
  // Records whose storage a decode may reuse.
  RecordPool* spare_records() { return &spare_records_; }

  void MarkDirty(PageNode* node);
  void MarkClean(PageNode* node);
  void Pin(PageNode* node);
  void Unpin(PageNode* node);

  // Drops clean, unpinned pages by the trimming rule.
  void Trim();
  // Drops every node, dirty ones included (after a failed write-out or
  // when another process changed the file).
  void Clear();

  // The dirty nodes, in no particular order.
  std::vector<PageNode*> DirtyNodes() const;

  size_t size() const { return count_; }
  size_t clean_count() const { return lru_count_; }
  size_t dirty_count() const { return dirty_count_; }
  uint64_t clock() const { return clock_; }
  const CacheLimits& limits() const { return limits_; }

 private:
  size_t Bucket(int32_t address) const {
    return (static_cast<uint32_t>(address) * 0x9E3779B1u) >> (32 - bucket_bits_);
  }
  void Grow();
  void Touch(PageNode* node);
  void LinkLru(PageNode* node);  // at the most recent end
  void UnlinkLru(PageNode* node);
  void Unhash(PageNode* node);
  // Keeps the node on the LRU list iff clean and unpinned.
  void Refile(PageNode* node);
  // Keeps an unlinked node as a spare, or destroys it.
  void Recycle(PageNode* node);

  CacheLimits limits_;
  std::vector<PageNode*> buckets_ = std::vector<PageNode*>(kBuckets, nullptr);
  int bucket_bits_ = kBucketBits;   // buckets_.size() == 2^bucket_bits_
  PageNode* lru_head_ = nullptr;    // least recently used
  PageNode* lru_tail_ = nullptr;    // most recently used
  PageNode* last_found_ = nullptr;  // what Find returned last, while it is cached
  size_t count_ = 0;
  size_t lru_count_ = 0;
  size_t dirty_count_ = 0;
  uint64_t clock_ = 0;
  std::vector<std::unique_ptr<PageNode>> spare_nodes_;
  RecordPool spare_records_;
};

// Pins a node for the lifetime of the guard.
class PinGuard {
 public:
  PinGuard(PageCache* cache, PageNode* node) : cache_(cache), node_(node) { cache_->Pin(node_); }
  ~PinGuard() { cache_->Unpin(node_); }
  PinGuard(const PinGuard&) = delete;
  PinGuard& operator=(const PinGuard&) = delete;

 private:
  PageCache* cache_;
  PageNode* node_;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PAGE_CACHE_H_
