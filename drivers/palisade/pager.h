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
// Shadow paging fits in at step 4: a page whose home lies below the
// committed end is written at WorkingEnd instead and recorded in the shadow
// map, which GetPage already consults; the header goes last the same way.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_PAGER_H_
#define QZR_DRIVERS_PALISADE_PAGER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "drivers/palisade/file_io.h"
#include "drivers/palisade/header.h"
#include "drivers/palisade/page_cache.h"

namespace qzr::palisade {

struct PagerOptions {
  CacheLimits cache;
  // Changed pages kept in memory before Flush is forced at the end of an
  // operation (bounds memory during bulk loads).
  size_t max_dirty_pages = 4096;
  // Largest plain page the tree builds; lower only in small-limit tests so
  // that splits and merges run on small data.
  size_t page_limit = kMaxPageBytes;
  // The unit cipher of an encrypted file (not owned; nullptr for none). It
  // must be known before the header is read.
  const UnitCipher* cipher = nullptr;
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

  // Re-reads the header. Returns 0, or 1 when the file holds no valid
  // header (too short, wrong magic, damaged zone table, or pages beyond the
  // end of the file). An empty file gets a fresh header. When the ChangeCount
  // read is newer than the one held, every cached page is dropped.
  int LoadHeader();
  // Flushes, sets CommittedEnd = WorkingEnd = the computed end, increments
  // ChangeCount, writes the header and flushes again; a file longer than the
  // computed end is cut back to it. Returns 0 or errno.
  int CommitHeader();
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
  // A new empty page at a fresh negative address, already dirty.
  PageNode* NewPage(uint8_t node_flag);
  void MarkDirty(PageNode* node) { cache_.MarkDirty(node); }
  // Drops a page the tree no longer references; its slot is freed at Flush.
  void DiscardPage(PageNode* node);

  // Encodes the node (PutPage mode 0: moving it to the zone of its new size)
  // and, with mode 1, writes it at its address. Returns false when the write
  // failed (the file is then in the failed state).
  bool PutPage(PageNode* node, int mode);

  // Writes out every change and commits the header. Returns 0, or a posted
  // error code (90 with the operating-system error) after which the caller
  // must Rollback().
  int Flush();
  // Flush when more than max_dirty_pages are waiting.
  int MaybeSpill();
  // Forgets every unwritten change: drops the cache, re-reads the header.
  // When the header can no longer be read, the pager shows no pages and
  // refuses to write from then on.
  void Rollback();
  bool HasChanges() const {
    return header_dirty_ || cache_.dirty_count() > 0 || !free_queue_.empty();
  }

  // ---- Zones (zones.cc)

  // A page address in zone `size_class`, made by moving other zones as
  // needed. Zones may grow past kMaxAddress; Flush checks and refuses.
  int32_t AllocatePage(int size_class);
  // Fills slot `address` with the last page of its zone and shrinks the zone.
  void FreePage(int32_t address);
  // Moves the page at `from` to `to` and repairs its one reference.
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

  // Test access: the shadow map (home offset -> actual offset).
  std::unordered_map<uint32_t, uint32_t>& shadow_map() { return shadow_map_; }

 private:
  Pager(std::unique_ptr<OsFile> file, const PagerOptions& options);

  void MakeRoomAbove(int zone, uint32_t units);
  // Some key inside `node`'s range, to find its parent from the root.
  std::vector<uint8_t> KeyInside(PageNode* node, int depth);
  void FreeQueued();
  bool PlacePages();  // false: the file would pass 4 GiB
  bool WritePages();
  int FailFlush(int err);

  std::unique_ptr<OsFile> file_;
  PagerOptions options_;
  PlxHeader header_;
  bool header_valid_ = false;
  bool header_dirty_ = false;
  PageCache cache_;
  std::unordered_map<uint32_t, uint32_t> shadow_map_;
  std::vector<int32_t> free_queue_;
  int32_t next_negative_ = 0;
  int32_t root_ = 0;
  bool has_root_ = false;
  bool broken_ = false;  // the header vanished under a rollback
  uint64_t layout_version_ = 0;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PAGER_H_
