// The file's single sorted page tree: every record of a Palisade file, in
// key order, in leaf pages under inner pages of separator keys.
//
// Invariants (CheckInvariants verifies them; debug builds run it after
// every structural change):
//   1. Keys are unique, and strictly ascending within every page.
//   2. An inner page's record i is a separator (key only) paired with the
//      address of child i. Separator 0 is empty; for i > 0, every key under
//      child i-1 is < separator i <= every key under child i. A search takes
//      the last child whose separator is <= the key.
//   3. All leaves are at the same depth.
//   4. Every page's PlainSize stays within the page limit (15104 bytes), so
//      its stored form fits the largest zone however it compresses.
//   5. No page but the root is empty; an inner root has at least two
//      children (a root with one child is replaced by it).
//
// Splits keep 4: an over-full page splits into two at the point that
// balances their sizes, except that a record appended at a page's end (or
// prepended at its start) is split off alone, so ascending loads fill pages
// completely. When no single split point leaves both halves within the
// limit, the page splits just past the changed record and the loop splits
// again; a prefix or suffix of a page that fitted always fits. Deletes merge
// a page that falls below a quarter of the limit into a sibling when the
// two fit in one page, and remove empty pages.
//
// Writes find their leaf through write hints (WriteLeaf): a few leaves
// written lately, each with the range of keys it holds as its ancestors'
// separators give it. A split, a merge, a new root (the pager's shape
// version) or a page moved or dropped from the cache (its layout version)
// makes every hint stale; a write outside the hints descends from the root.
//
// Cursors remember the path of page addresses to their record and the tree
// and page-layout versions; after any change they find their place again by
// key.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_PAGE_TREE_H_
#define QZR_DRIVERS_PALISADE_PAGE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/palisade/pager.h"
#include "drivers/palisade/record.h"

namespace qzr::palisade {

class PageTree {
 public:
  explicit PageTree(Pager* pager) : pager_(pager) {}

  // The record whose key is exactly `key`, or nullptr. The view (and what it
  // points into) is valid until the next call into the tree or the pager.
  const RecordView* Find(Bytes key);
  // Inserts `rec`; returns false, changing nothing, when its key exists.
  // Check 824 when the record cannot fit a page of this tree.
  bool Insert(PlxRecord rec);
  // Inserts `rec` or replaces the record with its key.
  void Put(PlxRecord rec);
  // Deletes the record with `key`; false when there is none.
  bool Delete(Bytes key);

  // Advances on every change of the records.
  uint64_t version() const { return version_; }
  Pager* pager() { return pager_; }
  size_t page_limit() const { return pager_->options().page_limit; }
  // Debug builds check every invariant after each split or merge; large
  // randomized tests turn that off and check once at the end.
  void set_debug_checks(bool on) { debug_checks_ = on; }

  // Walks the whole tree and returns every broken invariant (empty when
  // sound). Reads pages through the cache: it sees unwritten changes.
  std::vector<std::string> CheckInvariants();

  struct Step {
    int32_t address;
    size_t index;  // record index (leaf) or child index (inner page)
  };
  // The path from the root to the leaf position of `key` (the leaf's index
  // is the first record >= key). False when the tree has no pages. With
  // `run` (and `in_place`), a leaf not cached may be searched in place
  // (Pager::DescendThrough): then *in_place is set, and the run holds the
  // record at the leaf index and those after it that share run->prefix
  // bytes with `key`; the leaf's count is run->count.
  bool Descend(Bytes key, std::vector<Step>* path, LeafRun* run = nullptr,
               bool* in_place = nullptr);

 private:
  // The leaf `key` belongs in and the index of the first record >= key,
  // for a write: through a write hint when one holds the key's range, else
  // by a descent, whose leaf becomes a hint.
  PageNode* WriteLeaf(Bytes key, size_t* index);
  // Remembers the leaf at the end of `path` with the range of keys its
  // ancestors give it, when every ancestor is cached.
  void RememberLeaf(const std::vector<Step>& path);
  void CheckRecordFits(const PlxRecord& rec) const;
  void FixOverflow(Bytes key);
  void Split(const std::vector<Step>& path, size_t level);
  size_t ChooseSplit(const std::vector<PlxRecord>& records, bool inner, size_t hot) const;
  void Rebalance(std::vector<Step> path);
  void CollapseRoot();
  void DebugCheck();

  Pager* pager_;
  std::vector<Step> find_path_;   // Find's path, kept for its storage
  RecordView found_;              // what Find returned last
  std::vector<Step> write_path_;  // Insert's and Put's
  // Write hints: leaves written lately, each with the range of keys that
  // belong to it, [low, high) (no bound: that side is open), valid while
  // the pager's shape and layout versions are those it was taken under. A
  // row's writes go to a few leaves in turn (its key entries, the row, its
  // memo pieces, the table's counters), each written several times; with
  // a hint per leaf they descend from the root about once a leaf instead
  // of once a record.
  struct WriteHint {
    int32_t leaf = 0;
    uint64_t shape = UINT64_MAX;
    uint64_t layout = UINT64_MAX;
    bool has_low = false, has_high = false;
    std::vector<uint8_t> low, high;
  };
  static constexpr size_t kWriteHints = 4;
  WriteHint hints_[kWriteHints];
  size_t next_hint_ = 0;
  uint64_t version_ = 0;
  bool debug_checks_ = true;
  size_t leaf_depth_ = SIZE_MAX;  // steps above the leaf a descent last reached
};

// Walks the records of a tree in key order, forward and backward.
class TreeCursor {
 public:
  explicit TreeCursor(PageTree* tree) : tree_(tree) {}

  // Each positions the cursor and returns Valid().
  bool SeekFirst();
  bool SeekLast();
  bool Seek(Bytes key);  // first record with a key >= key
  // Seek, starting from where the cursor stands when nothing changed since
  // it moved and the key lies in its leaf or the next: a scan that looks up
  // ascending keys one after another descends from the root about once a
  // leaf instead of once a key.
  bool SeekNear(Bytes key);
  bool SeekAfter(Bytes key);   // first record with a key > key
  bool SeekBefore(Bytes key);  // last record with a key < key
  bool Next();
  bool Prev();

  // From now on, Seek and SeekNear may search a leaf that is not cached in
  // place (PageTree::Descend) instead of decoding it: the cursor then
  // holds a copy of the record it lands on and of those after it whose
  // keys begin with the first `prefix` bytes of the key sought, and Next
  // walks through them without the leaf; any other move, or Next past
  // them, reads the leaf as usual. For lookups of one row (prefix: its
  // key) or of one row's memo pieces (prefix: the row's part of their
  // keys) in a file too large for the cache. 0 (the default): leaves are
  // always decoded.
  void ReadInPlace(size_t prefix) { in_place_prefix_ = prefix; }

  bool Valid() const { return valid_; }
  // The current record, as it lies in its page: valid until the next call
  // into the tree or pager. When the tree changed since the cursor moved,
  // it first finds its key again (landing on the next record if that key
  // was deleted). An invalid cursor yields an empty record.
  RecordView record();
  // The current key (a copy held by the cursor). REQUIRES: Valid().
  Bytes key() const { return Bytes(key_.data(), key_.size()); }

 private:
  bool Stale() const;
  // Fixes an index past either end of its leaf. With `reading`, the cursor
  // has read its leaf to that end (a scan), and a leaf it leaves is passed
  // to the cache as one it may let go early.
  bool Settle(bool forward, bool reading = false);
  bool Edge(bool forward);  // descend from the path's last step to the first/last leaf record
  bool Finish();            // records the current key and versions
  bool SeekEnd(bool forward);
  // Leaves the copied records for the leaf itself (before a move they do
  // not serve).
  void LeaveRun() { in_place_ = false; }

  PageTree* tree_;
  size_t in_place_prefix_ = 0;
  // While in_place_, the cursor stands on record run_at_ of run_ (a copy
  // of records of its leaf, which path_ names, from run_.index on).
  bool in_place_ = false;
  size_t run_at_ = 0;
  LeafRun run_;
  std::vector<PageTree::Step> path_;
  std::vector<uint8_t> key_;
  std::vector<uint8_t> after_;  // SeekAfter's copy of its key
  bool valid_ = false;
  uint64_t tree_version_ = 0;
  uint64_t layout_version_ = 0;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PAGE_TREE_H_
