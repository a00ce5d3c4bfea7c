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
// Leaves a cursor has read past (PassedLeaf: a scan moved on to the next
// leaf) are seldom wanted again: they leave the LRU list for a list of their
// own, oldest first, which keeps at most kMaxPassed of them and lets the
// oldest go past that, whatever room the cache has. A passed leaf asked for
// again goes back to the LRU list as the most recently used. So a one-pass
// scan of a large file holds a few dozen decoded pages instead of filling
// the cache with pages read once (and the heap with their records), while
// what a lookup needs again stays: inner pages, leaves reached by a descent
// (the rows a key order reads out of row order), and the leaves a scan
// started again soon (the next page of a browse) finds on the passed list.
//
// Nodes the cache lets go (trimmed, removed, cleared) are kept as spares,
// records and all, up to kMaxSpareNodes: a page loaded into a spare decodes
// into storage that is already there, so a steady scan allocates nothing.
// A page read from the file takes the spare by the storage it holds
// (TakeNodeToRead): the one that reads the page without growing and holds
// the least, else the one that holds the most. A spare that has held a page
// of many records (kManyRecords and more: a key page, an inner page) is
// about ten times the size of one that has held rows, and a page of an
// eighth as many records never takes it: that page gets a new node, once,
// and the large storage waits for the next page that needs it. Without
// that rule a scan through a key's entries, which loads a key page now and
// then between row and memo pages, lent the key page's storage to the next
// row page and grew a row page's node for the next key page (about 170 KB
// in two allocations, 17 allocations a pass over 20,000 rows).
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
  // A spare whose record index holds this many records or more is kept from
  // pages of an eighth as many (see above).
  static constexpr size_t kManyRecords = 256;
  // Passed leaves kept: what a few scans interleaved (a key's entries, the
  // rows, their memo pieces) and a browse's page of rows read again need.
  static constexpr size_t kMaxPassed = 32;

  explicit PageCache(CacheLimits limits = {}) : limits_(limits) {
    spare_nodes_.reserve(kMaxSpareNodes);
  }
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
  // With `empty` it is the spare holding the least storage.
  std::unique_ptr<PageNode> TakeNode(bool empty);
  // A node to decode a page of `size` into: a spare chosen by the storage
  // it holds (see above), or a new one. Its cache bookkeeping is reset.
  std::unique_ptr<PageNode> TakeNodeToRead(const ReadFormSize& size);
  size_t spare_count() const { return spare_nodes_.size(); }
  // Records whose storage a decode may reuse.
  RecordPool* spare_records() { return &spare_records_; }

  void MarkDirty(PageNode* node);
  void MarkClean(PageNode* node);
  void Pin(PageNode* node);
  void Unpin(PageNode* node);
  // A cursor has moved on past the leaf `node`: unless it is dirty or
  // pinned, it goes to the passed list (the oldest passed leaf beyond
  // kMaxPassed is dropped; never `node` itself). Does not count as an access.
  void PassedLeaf(PageNode* node);

  // Drops clean, unpinned pages by the trimming rule.
  void Trim();
  // Drops every node, dirty ones included (after a failed write-out or
  // when another process changed the file).
  void Clear();

  // The dirty nodes, in no particular order.
  std::vector<PageNode*> DirtyNodes() const;

  size_t size() const { return count_; }
  // Clean, unpinned pages: on the LRU list or the passed list.
  size_t clean_count() const { return lru_.count + passed_.count; }
  size_t passed_count() const { return passed_.count; }
  size_t dirty_count() const { return dirty_count_; }
  uint64_t clock() const { return clock_; }
  const CacheLimits& limits() const { return limits_; }

 private:
  size_t Bucket(int32_t address) const {
    return (static_cast<uint32_t>(address) * 0x9E3779B1u) >> (32 - bucket_bits_);
  }
  // A list of nodes through their lru_prev/lru_next links, oldest first.
  struct NodeList {
    PageNode* head = nullptr;  // least recently used (or passed)
    PageNode* tail = nullptr;  // most recently
    size_t count = 0;
  };
  void Grow();
  void Touch(PageNode* node);
  static void Link(NodeList* list, PageNode* node);  // at the tail
  static void Unlink(NodeList* list, PageNode* node);
  // Takes the node off whichever list holds it.
  void Unlist(PageNode* node);
  void Unhash(PageNode* node);
  // Keeps the node on a list iff clean and unpinned (a node newly listed
  // goes to the LRU list).
  void Refile(PageNode* node);
  // Keeps an unlinked node as a spare, or destroys it.
  void Recycle(PageNode* node);
  // Takes spare i out of the spares, its bookkeeping reset.
  std::unique_ptr<PageNode> TakeSpare(size_t i);

  CacheLimits limits_;
  std::vector<PageNode*> buckets_ = std::vector<PageNode*>(kBuckets, nullptr);
  int bucket_bits_ = kBucketBits;   // buckets_.size() == 2^bucket_bits_
  NodeList lru_;                    // clean, unpinned pages (in_lru)
  NodeList passed_;                 // clean, unpinned leaves read past (in_passed)
  PageNode* last_found_ = nullptr;  // what Find returned last, while it is cached
  size_t count_ = 0;
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
