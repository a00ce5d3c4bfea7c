// Recovery of an interrupted update at open: scanning the shadow area,
// deciding through a transaction's control file, and applying or discarding.
//
// Part of the Pager (see pager.h for the update protocol and the mark). A
// damaged shadow area must never end in a fatal check here: the update it
// held is simply discarded, so every block is read with plain calls and
// decoded before it is trusted.
//
// One thread at a time (the driver serialises calls); between processes the
// caller's recovery_guard holds the writer byte.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "drivers/palisade/format.h"
#include "drivers/palisade/page.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/pager.h"
#include "drivers/palisade/tcf.h"

namespace qzr::palisade {

bool Pager::ReadRaw(uint64_t offset, size_t len, uint8_t* buf) {
  size_t got = 0;
  if (!file_->ReadAt(offset, buf, len, &got).ok() || got != len) return false;
  if (const UnitCipher* cipher = file_->cipher()) cipher->Decrypt(buf, len, offset);
  return true;
}

bool Pager::CopyHome(const Shadow& shadow) {
  std::vector<uint8_t> block(shadow.size);
  if (!ReadRaw(shadow.actual, shadow.size, block.data())) {
    file_->set_failed(EIO);
    return false;
  }
  // Deciphered for its shadow offset above, enciphered for home here.
  return WriteBlock(file_.get(), shadow.home, shadow.size, block.data());
}

bool Pager::ScanShadows(const PlxHeader& mark, int64_t size, ShadowSet* set) {
  const uint64_t start = mark.CommittedEnd;
  const uint64_t end = mark.WorkingEnd;
  if (start < kHeaderBytes || end <= start || end > static_cast<uint64_t>(size) ||
      (start - kHeaderBytes) % kUnit != 0 || (end - start) % kUnit != 0) {
    return false;
  }
  bool have_header = false;
  std::vector<uint8_t> block(kMaxPageBytes);
  for (uint64_t pos = start; pos < end;) {
    // The header is the last block of a complete set.
    if (have_header) return false;
    if (!ReadRaw(pos, kUnit, block.data())) return false;
    const uint32_t home = LoadU32(block.data());
    if (home == 0) {
      if (pos + kHeaderBytes > end || !ReadRaw(pos, kHeaderBytes, block.data())) return false;
      if (!PlxHeader::Decode(block.data(), &set->header)) return false;
      if (set->header.HeaderSize != kHeaderSizeValue) return false;
      set->blocks.push_back({0, static_cast<uint32_t>(pos), static_cast<uint32_t>(kHeaderBytes)});
      have_header = true;
      pos += kHeaderBytes;
      continue;
    }
    const size_t len = RoundUpToUnit(LoadU16(block.data() + kPgStoredSize));
    if (len == 0 || len > kMaxPageBytes || pos + len > end) return false;
    if (home < kHeaderBytes || (home - kHeaderBytes) % kUnit != 0 || home >= start) return false;
    if (!ReadRaw(pos, len, block.data())) return false;
    PageNode scratch;
    if (DecodePage(block.data(), len, &scratch) != 0) return false;
    set->blocks.push_back({home, static_cast<uint32_t>(pos), static_cast<uint32_t>(len)});
    pos += len;
  }
  if (!have_header) return false;
  // The new header must describe the pages the set holds, and its own
  // pages must lie below the shadow area (those past the committed end
  // were written in place).
  const PlxHeader& h = set->header;
  if (h.CommittedEnd != mark.CommittedEnd || h.WorkingEnd != mark.WorkingEnd) return false;
  if (h.ComputedEnd() > start) return false;
  for (const Shadow& s : set->blocks) {
    if (s.home == 0) continue;
    const int64_t address = (static_cast<int64_t>(s.home) - kHeaderBytes) / kUnit;
    if (static_cast<size_t>(h.ClassOf(address)) * kUnit != s.size) return false;
  }
  return true;
}

bool Pager::TransactionWasCommitted() {
  PageTree tree(this);
  const uint8_t key[1] = {kKindTxn};
  const RecordView* rec = tree.Find(Bytes(key, 1));
  if (rec == nullptr) return true;  // a single-file update: always applied
  std::optional<TxnRecord> txn = ParseTxnRecord(rec->payload());
  // A record this code cannot read names no control file to ask: the
  // update cannot be known to have committed.
  if (!txn) return false;
  return AskControlFile(ResolveControlFile(txn->control_file, file_->path()), txn->id) ==
         TcfVerdict::kCommitted;
}

int Pager::Recover(const PlxHeader& mark, int64_t size) {
  ShadowSet set;
  bool apply = ScanShadows(mark, size, &set);
  if (apply) {
    // Read the new state through the map, as an interrupted writer left it.
    Install(set.header);
    for (const Shadow& s : set.blocks) shadow_map_[s.home] = s.actual;
    apply = TransactionWasCommitted();
  }
  if (!apply) {
    // The mark kept the committed header at offset 0, zones and all.
    Install(mark);
    committed_ = mark;
    last_recovery_ = Recovery::kDiscarded;
    if (!file_->writable()) return mark.ComputedEnd() > static_cast<uint64_t>(size) ? 1 : 0;
    if (CommitHeader() != 0) return 1;
    return 0;
  }
  last_recovery_ = Recovery::kApplied;
  if (!file_->writable()) {
    committed_ = set.header;
    return 0;  // reads go through the shadow map
  }
  for (const Shadow& s : set.blocks) {
    if (s.home != 0 && !CopyHome(s)) return 1;
  }
  shadow_map_.clear();
  cache_.Clear();
  ++layout_version_;
  if (CommitHeader() != 0) return 1;
  return 0;
}

}  // namespace qzr::palisade
