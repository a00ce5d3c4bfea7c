// The pager: the per-file state of an open Palisade file (header image, the
// operating-system file, the page cache, the shadow map, the zones) and the
// page-level operations on it.
//
// Pages are read through GetPage and changed in memory only; nothing is
// written until Flush, which writes every changed page and commits the
// header. Page addresses therefore stay fixed while the tree works: pages
// the tree creates get negative (in-memory) addresses, and pages it frees
// are only queued. Flush is where the zones change, in this order:
//
//   dirty pages in memory
//     --(1: FreeQueued)-->    freed slots filled from their zone's end
//     --(2: PlacePages)-->    every dirty page encoded and moved to the zone
//                             of its size (ResizePage -> AllocatePage)
//     --(3: PackZones)-->     gaps between zones closed
//     --(4: WritePages)-->    images written at their addresses
//     --(5: CommitHeader)-->  header written and flushed; clean pages
//
// Invariants (CheckZones verifies 1-3; the tree keeps 4):
//   1. Zones ascend without overlap and each holds whole pages of its class.
//   2. Between Flushes every zone is dense: each slot holds a page that the
//      tree references, or a page queued for freeing.
//   3. On disk after Flush, every page lies in the zone of its stored size.
//   4. Every page but the root is referenced by exactly one inner-page
//      record; MovePage repairs that reference when a page moves.
//
// Steps 4 and 5 make the write-out atomic with shadow pages. Let CE be the
// file length at the last commit (nothing below it may be overwritten until
// the update is safely recorded):
//
//   4a. Every dirty page whose home lies at or past CE is written in place;
//       every other one is appended to the shadow area, which starts at S =
//       max(CE, new computed end), and carries its home offset in its first
//       4 bytes. The new header goes last, the same way, with home offset 0.
//   4b. fdatasync: the shadow images and the shadow header are durable.
//   4c. The mark: the header at offset 0 is rewritten with its old contents
//       except CommittedEnd = S and WorkingEnd = the end of the shadow area.
//   4d. fdatasync: from here on an open finishes the update (PrepareCommit
//       ends here; a transaction's commit point lies in its control file).
//   5a. Apply: every shadow image is copied to its home position.
//   5b. CommitHeader: fdatasync (homes durable), the new header at offset 0
//       with CommittedEnd = WorkingEnd = the computed end, fdatasync (header
//       durable), then the shadow area is truncated away.
//
// So a plain update costs four syncs. An update whose pages all lie past CE
// (the first pages of a new file, or a change of the header alone) needs no
// shadows: its pages go in place, then CommitHeader (two syncs).
//
// Recovery (LoadHeader): a header at offset 0 whose ends differ is a mark.
// The shadow area [CommittedEnd, WorkingEnd) is scanned block by block into
// the shadow map; it is complete when every block decodes, lies in the zone
// of its home under the new header, and the header block comes last and ends
// the area. A complete set is applied (5a, 5b) unless the new tree holds a
// transaction record (key 0xFF) whose control file says the transaction
// never reached its commit point; an incomplete set, or such a transaction,
// is discarded: CommitHeader over the old header (still at offset 0 under
// the mark) truncates the shadows away. A read-only file keeps the decision
// in memory (reads go through the shadow map, or ignore it).
//
// Encrypted files: every unit is enciphered for the offset where it is
// actually written, shadows included, so that the scan can decipher a
// shadow before it knows its home; applying deciphers a shadow image at its
// shadow offset and enciphers it again for home.
//
//   idle --Flush / PrepareCommit--> prepared --ApplyCommit--> idle
//                                   prepared --AbandonCommit--> idle (old state)
//   any --Rollback--> idle (last committed state)
//
// One thread at a time (the driver serialises calls). Between processes the
// caller holds the file's writer byte around changes; recovery at open takes
// it through PagerOptions::recovery_guard.

#ifndef QZR_DRIVERS_PALISADE_PAGER_H_
#define QZR_DRIVERS_PALISADE_PAGER_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "drivers/palisade/child_search.h"
#include "drivers/palisade/file_io.h"
#include "drivers/palisade/header.h"
#include "drivers/palisade/leaf_search.h"
#include "drivers/palisade/page_cache.h"

namespace qzr::palisade {

struct PagerOptions {
  CacheLimits cache;
  // Changed pages kept in memory before Flush is forced at the end of an
  // operation (bounds memory during bulk loads).
  size_t max_dirty_pages = 4096;
  // Changed pages a transaction keeps in memory before SpillHeld writes
  // those it may (past the committed end) to the file ahead of the commit.
  // A load fills its pages (up to 15 KB of records each), and what it holds
  // is memory touched anew after every spill: 256 pages keep that to about
  // 4 MB.
  size_t max_held_pages = 256;
  // The most changed pages a transaction holds before it writes early,
  // however much it reads back of what it wrote (SpillHeld): a bound on its
  // memory (pages of up to 15 KB, with their records).
  size_t most_held_pages = 8192;
  // Pages read with pread before the file is mapped for reading (see
  // ReadCommitted); 0 maps from the first read.
  uint64_t plain_read_pages = 64;
  // Largest plain page the tree builds; lower only in small-limit tests so
  // that splits and merges run on small data.
  size_t page_limit = kMaxPageBytes;
  // The unit cipher of an encrypted file (not owned; nullptr for none). It
  // must be known before the header is read. A PageCipher also stamps its
  // password check into every header written.
  const UnitCipher* cipher = nullptr;
  // Called with true before an interrupted update is recovered, and with
  // false afterwards; the owner takes the file's writer byte (waiting; a
  // shared lock on a read-only descriptor) so that two processes never
  // recover at once, nor one reads through shadows another is moving home. A non-zero
  // return (the lock could not be had) leaves the file alone and LoadHeader
  // returns 5. Unset: no locking (a file not shared).
  std::function<int(bool begin)> recovery_guard;
  // Counts every header this pager commits (not owned; nullptr for none).
  // File objects of one process share a counter per file, so that a reader
  // holding rows read ahead knows at once when another one committed.
  std::atomic<uint64_t>* commit_counter = nullptr;
};

// What the last LoadHeader found.
enum class Recovery {
  kNone,       // the header was consistent
  kApplied,    // an interrupted update was completed
  kDiscarded,  // an interrupted update was dropped
};

// Counts of the last write-out, for tests and benchmarks.
struct CommitStats {
  int in_place_pages = 0;
  int shadow_pages = 0;
  int syncs = 0;  // fdatasync calls made by the pager for it
  int runs = 0;   // vectored writes that carried the pages (homes and shadows)
};

class Pager {
 public:
  // Opens `path` (read-only unless `writable`; created when missing if
  // `create`) and loads its header. Returns 0 or a posted runtime error
  // code: 2 not found, 3 path not found, 4 too many open files, 5 access
  // denied, 36 not a Palisade file, 90 another operating-system error.
  static int Open(const std::string& path, bool writable, bool create, const PagerOptions& options,
                  std::unique_ptr<Pager>* out);
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  // ---- Header

  // Re-reads the header. Returns 0, 1 when the file holds no valid header
  // (too short, wrong magic, damaged zone table, or pages beyond the end of
  // the file), or 5 when recovery_guard refused. An empty file gets a fresh
  // header. When the ChangeCount read is newer than the one held, every
  // cached page is dropped. A mark (ends that differ) is recovered (see the
  // file comment) whatever the ChangeCount says. Does nothing while an
  // update is prepared.
  int LoadHeader();
  // Flushes, sets CommittedEnd = WorkingEnd = the computed end, increments
  // ChangeCount, writes the header and flushes again; a file longer than the
  // computed end is cut back to it. Returns 0 or errno.
  int CommitHeader();
  Recovery last_recovery() const { return last_recovery_; }
  // The next identifier from LastIssued (check 1163 on a read-only file,
  // 1164 without a valid header, 1173 at the limit). Marks the header dirty.
  uint32_t IssueNumber();

  const PlxHeader& header() const { return header_; }
  bool read_only() const { return !file_->writable(); }
  OsFile* file() { return file_.get(); }
  PageCache& cache() { return cache_; }
  const PagerOptions& options() const { return options_; }

  // ---- Pages

  bool has_root() const { return has_root_; }
  int32_t root() const { return root_; }
  void SetRoot(int32_t address);

  // The page at `address`, read and decoded on first use. Checks: 1735 the
  // address is in no zone (or names an in-memory page that is gone); 1477,
  // 1602, 522, 530, 824 the block is damaged; 2172 the file is too short.
  PageNode* GetPage(int32_t address);
  // For a descent through `address` toward `key`: the cached page, else
  // nullptr with *index and *child set as ChildIndex(key) and that record's
  // child would set them, found by searching the page's block in place
  // (FindChildInBlock) without caching it; else (a leaf, an inner page
  // searched in place a short while ago, a block the search refuses) the
  // page as GetPage reads it. A lookup that passes once through inner pages
  // of a thousand separators then decodes none of them, while a page
  // passed through again is decoded and cached as before. With `leaf`, the
  // page is expected to be a leaf: it is read by GetPage at once, unless
  // `run` is given; then a leaf not cached, and not searched in place
  // lately (see leaves_seen_), is searched in place (FindInLeafBlock) into
  // `run`,
  // nullptr is returned with *index = run->index, and the leaf is not
  // cached. A lookup of one row reads its record without decoding the
  // leaf, while a leaf read again soon (rows looked up in ascending order)
  // is decoded and cached as before.
  PageNode* DescendThrough(int32_t address, Bytes key, bool leaf, size_t* index, int32_t* child,
                           LeafRun* run = nullptr);
  // Inner pages searched in place since the pager opened.
  uint64_t pages_searched() const { return pages_searched_; }
  // Leaves searched in place since the pager opened.
  uint64_t leaves_searched() const { return leaves_searched_; }

  // A new empty page at a fresh negative address, already dirty.
  PageNode* NewPage(uint8_t node_flag);
  void MarkDirty(PageNode* node) { cache_.MarkDirty(node); }
  // Drops a page the tree no longer references; its slot is freed at Flush.
  void DiscardPage(PageNode* node);

  // Encodes the node (PutPage mode 0: moving it to the zone of its new size)
  // and, with mode 1, writes it: a protected write, in place when its home
  // lies at or past the committed end, else appended to the shadow area
  // (4a). Returns false when the write failed (the file is then in the
  // failed state).
  bool PutPage(PageNode* node, int mode);
  // The size class of the node's encoding, encoded (its block not kept)
  // unless the node holds a current one.
  int SizeClassOf(PageNode* node);

  // Writes out every change as one atomic update and commits it (steps 1-5).
  // Returns 0, or a posted error code (90 with the operating-system error)
  // after which the caller must Rollback(). While changes are held for a
  // transaction, does nothing and returns 0.
  int Flush();

  // The two halves of Flush, for a transaction over several files.
  // PrepareCommit runs steps 1-4 (always with a mark, even when no page
  // needs a shadow). REQUIRES: HasChanges(). Returns 0 or a posted 90.
  int PrepareCommit();
  // Step 5 of a prepared update. Returns 0 or a posted 90; on failure the
  // mark stays, and the next open completes the update.
  int ApplyCommit();
  // Drops a prepared update: CommitHeader over the old header truncates the
  // shadows away, then the cache is dropped. Returns 0 or a posted 90 (the
  // mark stays, and the next open decides again).
  int AbandonCommit();
  bool prepared() const { return prepared_; }
  const CommitStats& last_commit() const { return stats_; }

  // While held, Flush and MaybeSpill keep every change in memory: a
  // transaction's changes go out together at its commit.
  void HoldChanges(bool hold) { hold_changes_ = hold; }
  bool holding_changes() const { return hold_changes_; }
  // Flush when more than max_dirty_pages are waiting.
  int MaybeSpill();
  // While changes are held, and more than max_held_pages of them wait (over
  // those that had to stay at the last spill): places every changed page in
  // the zones of its size, as a commit would (steps 1-3), and writes those
  // whose homes lie at or past the committed end in place (4a), where
  // nothing committed lives; they are clean from then on and may leave the
  // cache, to be read back from there. The header on disk still describes
  // the committed file, so a reader, a rollback or a death before the
  // commit never sees them; the commit's first sync makes them durable
  // with the rest. Pages below the committed end stay in memory for the
  // commit's shadows. A failed write leaves the file in its failed state
  // (the commit then fails and rolls back) and loses nothing held. A
  // transaction that reads back as many as half the pages a spill wrote
  // (an index filled at random places) holds four times as many before it
  // writes early again, up to most_held_pages (or max_held_pages when that
  // is larger).
  void SpillHeld();
  // Pages read from the file and decoded since the pager opened.
  uint64_t pages_loaded() const { return pages_loaded_; }
  // Pages moved as stored blocks (MoveBlock) since the pager opened.
  uint64_t blocks_moved() const { return blocks_moved_; }
  // Pages SpillHeld has written since the pager opened.
  uint64_t spilled_pages() const { return spilled_pages_; }
  // Changed pages the current transaction holds before SpillHeld writes
  // early (max_held_pages until reading back made it hold more).
  size_t held_limit() const { return held_limit_ == 0 ? options_.max_held_pages : held_limit_; }
  // Forgets every unwritten change: drops the cache, re-reads the header.
  // When the header can no longer be read, the pager shows no pages and
  // refuses to write from then on.
  void Rollback();
  // The header could not be read back by a rollback: no pages, no writes.
  bool broken() const { return broken_; }
  bool HasChanges() const {
    return header_dirty_ || cache_.dirty_count() > 0 || !free_queue_.empty();
  }

  // ---- Zones (zones.cc)

  // A page address in zone `size_class`, made by moving other zones as
  // needed. Zones may grow past kMaxAddress; Flush checks and refuses.
  int32_t AllocatePage(int size_class);
  // Fills slot `address` with the last page of its zone and shrinks the zone.
  void FreePage(int32_t address);
  // Moves the page at `from` to `to` and repairs its one reference: as its
  // stored block when it holds no change and `to` lies at or past the
  // committed end (MoveBlock), else in memory, where it becomes dirty.
  // Checks: 1891 no parent found, 1894 the walk met a leaf.
  void MovePage(int32_t from, int32_t to);
  // Moves the page to zone `size_class` unless it is there already.
  void ResizePage(PageNode* node, int size_class);
  // Closes the gaps below zones 2..59 by moving them down.
  void PackZones();
  // Problems with the zone table and the in-memory placement (for checks).
  std::vector<std::string> CheckZones() const;

  // Advances whenever pages change address or the cache is dropped, so that
  // a cursor holding page addresses knows to find its place again.
  uint64_t layout_version() const { return layout_version_; }
  // Advances whenever a tree over this pager changes which page holds which
  // range of keys (a split, a merge, a new or collapsed root), so that a
  // tree that remembers leaves by their ranges (PageTree's write hints)
  // forgets them, whichever tree made the change.
  uint64_t shape_version() const { return shape_version_; }
  void NoteShapeChange() { ++shape_version_; }

  // Test access: the shadow map (home offset -> actual offset).
  std::unordered_map<uint32_t, uint32_t>& shadow_map() { return shadow_map_; }

 private:
  struct Shadow {
    uint32_t home;
    uint32_t actual;
    uint32_t size;
  };
  struct ShadowSet {
    PlxHeader header;  // the new header, read through the map
    std::vector<Shadow> blocks;
  };

  Pager(std::unique_ptr<OsFile> file, const PagerOptions& options);

  // Reads and decodes the header at offset 0; 1 when there is none valid.
  int ReadHeader(PlxHeader* out, int64_t* size);
  // The committed block of `len` bytes at `offset` (nullptr when the file
  // is shorter): read with pread into read_buffer_ until this pager has
  // loaded options_.plain_read_pages pages, through the file's mapping from
  // then on.
  // Mapping a file, making its page tables and unmapping it cost more than
  // the few reads of a lookup; a scan soon pays for them.
  const uint8_t* ReadCommitted(uint64_t offset, size_t len);
  // The stored block of the page at `address` (`len` bytes), read as
  // GetPage reads it: committed, or through the shadow map.
  const uint8_t* ReadPageBlock(int32_t address, size_t len);
  // Takes `loaded` over as the committed state (LoadHeader's common path).
  int TakeOver(const PlxHeader& loaded, int64_t size);
  void Install(const PlxHeader& header);
  void EncodeHeader(const PlxHeader& header, uint8_t out[kHeaderBytes]) const;
  bool Sync();
  int Prepare(bool transactional);
  // recovery.cc
  int Recover(const PlxHeader& mark, int64_t size);
  bool ScanShadows(const PlxHeader& mark, int64_t size, ShadowSet* set);
  bool ReadRaw(uint64_t offset, size_t len, uint8_t* buf);
  bool CopyHome(const Shadow& shadow);
  bool TransactionWasCommitted();

  void MakeRoomAbove(int zone, uint32_t units);
  // Points the one inner-page reference to `from` (found from the root by
  // `key`, a key inside the page's range) at `to`. Checks: 1891, 1894.
  void RepairParent(int32_t from, int32_t to, Bytes key);
  // MovePage for a page with no change in memory (`cached` is its clean
  // node, or nullptr): its stored block is copied to `to` with its home
  // offset set, and its parent repaired, without decoding it or making it
  // dirty. Only when `to` lies at or past the committed end; false (nothing
  // done) otherwise, for an inner page not cached, or when the copy could
  // not be written.
  bool MoveBlock(int32_t from, int32_t to, PageNode* cached);
  // True iff a stored block may be copied to `to` now: it lies at or past
  // the committed end, and the file is writable and sound.
  bool CanMoveBlockTo(int32_t to) const;
  // Moves the `count` pages of `units` units at `from`, `from + units`, ...
  // to `to`, `to + units`, ... as MovePage would, one after another, but
  // the stored blocks of those that move as blocks are read and written a
  // chunk at a time. REQUIRES: the two ranges do not overlap, and nothing
  // lives in the second.
  void MovePages(uint32_t from, uint32_t to, uint32_t count, uint32_t units);
  // Some key inside `node`'s range, to find its parent from the root.
  std::vector<uint8_t> KeyInside(PageNode* node, int depth);
  void FreeQueued();
  bool PlacePages();  // false: the file would pass 4 GiB
  // Gives every page of `pages` (in memory only, with the size class it
  // needs) a slot, moving the zones above as needed.
  void PlaceAll(const std::vector<std::pair<PageNode*, int>>& pages);
  bool WritePages();
  int FailFlush(int err);
  // Steps 1-3: FreeQueued, then PlacePages and PackZones until every dirty
  // page lies in the zone of its size. False: the file would pass 4 GiB.
  bool PlaceAndPack();
  // Forgets the spilling state of a transaction (at its end).
  void ResetSpill();
  // Writes an empty file's header, durably, before any page goes past it.
  bool WriteFirstHeader();

  // Blocks bound for consecutive offsets, written in one vectored write
  // (WriteBlocks). `written` are the dirty nodes whose blocks the run holds
  // in place: they turn clean once the run is on disk.
  struct Run {
    uint64_t end = 0;
    uint64_t start = 0;
    std::vector<BlockPiece> pieces;
    std::vector<PageNode*> written;
  };
  // Queues the block of `size` bytes for `offset` on `run`, writing what the
  // run held first when it does not end at `offset`. REQUIRES: the block
  // stays as it is until the run is written. False: a write failed.
  bool Queue(Run* run, uint64_t offset, const uint8_t* data, size_t size, PageNode* written);
  // The block SizeClassOf kept for the node's current encoding, or nullptr.
  const uint8_t* SizedBlock(const PageNode* node) const;
  // Writes the run, if it holds anything, and empties it.
  bool WriteRun(Run* run);

  std::unique_ptr<OsFile> file_;
  PagerOptions options_;
  PlxHeader header_;
  bool header_valid_ = false;
  bool header_dirty_ = false;
  PageCache cache_;
  std::unordered_map<uint32_t, uint32_t> shadow_map_;
  std::vector<int32_t> free_queue_;
  std::vector<uint8_t> read_buffer_;  // the block of the page being loaded
  uint64_t pages_loaded_ = 0;
  uint64_t pages_searched_ = 0;
  // The inner pages searched in place last (a ring; -1 unused): the next
  // descent through one of them decodes and caches it.
  static constexpr size_t kSearchedKept = 32;
  int32_t searched_[kSearchedKept];
  size_t searched_next_ = 0;
  ChildSearch child_search_;
  // The leaves searched in place, by address (a table of 2^kLeafSlotBits
  // slots, each address in one slot, a later one taking it over), with the
  // count of leaf searches when each was: a leaf searched again before as
  // many others as the cache holds pages (CacheLimits::max_pages) were is
  // read often enough that caching it pays (rows read in ascending order, a
  // page of rows read again), and is decoded and cached. A ring of the last
  // few leaves would forget a page of forty leaves read again and again
  // before it came round; the slots are a few times the leaves a browse's
  // page reads (two a row, and the rows read ahead), so that few share one.
  static constexpr int kLeafSlotBits = 11;
  struct LeafSeen {
    int32_t address = -1;
    uint32_t when = 0;  // leaves_searched_ then, modulo 2^32
  };
  LeafSeen leaves_seen_[size_t{1} << kLeafSlotBits];
  uint64_t leaves_searched_ = 0;
  LeafSearch leaf_search_;
  std::vector<uint8_t> block_;  // the block being sized or written
  // MoveBlock's block, expanded record area and parent key.
  std::vector<uint8_t> move_block_;
  std::vector<uint8_t> move_area_;
  std::vector<uint8_t> move_key_;
  uint64_t blocks_moved_ = 0;
  // The in-place blocks of home_run_ encoded side by side (kRunBytes and
  // room for one more block, made once and never moved, so that the run's
  // pieces may point into it; bytes are touched only as they are used).
  std::unique_ptr<uint8_t[]> run_blocks_;
  size_t run_used_ = 0;
  // Blocks SizeClassOf built while placing the pages of a write-out, kept
  // for the write (kSizedBytes, made once like run_blocks_), and where each
  // node's lies. An entry counts only while its node's image_valid holds
  // (SizedBlock).
  std::unique_ptr<uint8_t[]> sized_blocks_;
  size_t sized_used_ = 0;
  std::unordered_map<const PageNode*, size_t> sized_at_;
  Run home_run_;                                    // blocks going to their home offsets
  Run shadow_run_;                                  // blocks appended to the shadow area
  std::vector<std::pair<PageNode*, int>> placing_;  // PlacePages' pages and classes
  int32_t next_negative_ = 0;
  int32_t root_ = 0;
  bool has_root_ = false;
  bool broken_ = false;  // the header vanished under a rollback
  uint64_t layout_version_ = 0;
  uint64_t shape_version_ = 0;

  // The header as last committed (what offset 0 holds under a mark).
  PlxHeader committed_;
  bool prepared_ = false;
  bool hold_changes_ = false;
  size_t spill_floor_ = 0;  // dirty pages SpillHeld had to leave in memory
  // Whether writing early pays: pages the last spill wrote, pages read back
  // from past the committed end since, and the changed pages the
  // transaction holds before it writes early (0: max_held_pages).
  size_t last_spill_ = 0;
  uint64_t held_reloads_ = 0;
  size_t held_limit_ = 0;
  uint64_t spilled_pages_ = 0;
  uint64_t shadow_start_ = 0;  // S of the update being written
  uint64_t working_end_ = 0;   // where the next shadow goes
  std::vector<Shadow> shadows_;
  CommitStats stats_;
  Recovery last_recovery_ = Recovery::kNone;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PAGER_H_
