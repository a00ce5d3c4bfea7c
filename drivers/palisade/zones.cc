// Zone management of the pager: allocating, freeing, moving and resizing
// pages so that every zone stays dense, ordered and sized by its class.
//
// Zone i holds pages of i units. A page is allocated in the gap just below
// its zone when that gap is wide enough, otherwise at the zone's end after
// room has been made above it by shifting the zones above upward (a zone of
// several pages shifts by one page: its first page moves to its end; a zone
// of at most one page shifts by exactly the missing units). Freeing fills
// the slot with the zone's last page. PackZones closes the gaps again.
// Every move goes through MovePage, which repairs the page's one reference.

#include <algorithm>
#include <string>

#include "drivers/palisade/format.h"
#include "drivers/palisade/pager.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {
namespace {

// Deeper than any tree of 15104-byte pages over a 4 GiB file: a walk that
// goes further is following a cycle.
constexpr int kMaxDepth = 48;

}  // namespace

int32_t Pager::AllocatePage(int c) {
  if (c < 1 || c > kMaxClass) Corruption(kCheckShiftTooLarge);
  const uint32_t units = static_cast<uint32_t>(c);
  header_dirty_ = true;
  if (c > 1 && header_.ZoneStart[c] - header_.ZoneEnd[c - 1] >= units) {
    header_.ZoneStart[c] -= units;
    return static_cast<int32_t>(header_.ZoneStart[c]);
  }
  MakeRoomAbove(c, units);
  const uint32_t address = header_.ZoneEnd[c];
  header_.ZoneEnd[c] += units;
  return static_cast<int32_t>(address);
}

void Pager::MakeRoomAbove(int k, uint32_t n) {
  if (n > static_cast<uint32_t>(k)) Corruption(kCheckShiftTooLarge);
  if (k == kMaxClass) return;
  const int j = k + 1;
  const uint32_t gap = header_.ZoneStart[j] - header_.ZoneEnd[k];
  if (gap >= n) return;
  const uint32_t jj = static_cast<uint32_t>(j);
  if (header_.PagesIn(j) > 1) {
    // Shift by one whole page: the first page moves to the end.
    MakeRoomAbove(j, jj);
    MovePage(static_cast<int32_t>(header_.ZoneStart[j]), static_cast<int32_t>(header_.ZoneEnd[j]));
    header_.ZoneStart[j] += jj;
    header_.ZoneEnd[j] += jj;
  } else {
    const uint32_t d = n - gap;
    MakeRoomAbove(j, d);
    if (header_.PagesIn(j) == 1) {
      MovePage(static_cast<int32_t>(header_.ZoneStart[j]),
               static_cast<int32_t>(header_.ZoneStart[j] + d));
    }
    header_.ZoneStart[j] += d;
    header_.ZoneEnd[j] += d;
  }
}

void Pager::FreePage(int32_t address) {
  const int c = header_.ClassOf(address);
  if (c == 0) Corruption(kCheckAddress);
  const uint32_t units = static_cast<uint32_t>(c);
  const int32_t last = static_cast<int32_t>(header_.ZoneEnd[c] - units);
  if (last != address) MovePage(last, address);
  header_.ZoneEnd[c] -= units;
  header_dirty_ = true;
}

std::vector<uint8_t> Pager::KeyInside(PageNode* node, int depth) {
  if (depth > kMaxDepth) Corruption(kCheckParentNotFound);
  PinGuard pin(&cache_, node);
  if (node->empty()) Corruption(kCheckParentNotFound);
  if (!node->IsInner()) {
    Bytes k = node->KeyAt(0);
    return std::vector<uint8_t>(k.begin(), k.end());
  }
  if (node->RecordCount() >= 2) {
    Bytes k = node->KeyAt(1);
    return std::vector<uint8_t>(k.begin(), k.end());
  }
  // A single-entry inner page: its separator may be empty, so take a key
  // from below it.
  return KeyInside(GetPage(node->ChildAt(0)), depth + 1);
}

void Pager::MovePage(int32_t from, int32_t to) {
  PageNode* node = GetPage(from);
  PinGuard pin(&cache_, node);
  if (has_root_ && root_ == from) {
    root_ = to;
    header_dirty_ = true;
  } else {
    if (!has_root_) Corruption(kCheckParentNotFound);
    std::vector<uint8_t> key_bytes = KeyInside(node, 0);
    const Bytes key(key_bytes.data(), key_bytes.size());
    int32_t address = root_;
    for (int depth = 0;; ++depth) {
      if (depth > kMaxDepth) Corruption(kCheckParentNotFound);
      PageNode* parent = GetPage(address);
      if (!parent->IsInner()) Corruption(kCheckParentNotInner);
      if (parent->empty()) Corruption(kCheckParentNotFound);
      const size_t entry = parent->ChildIndex(key);
      if (parent->ChildAt(entry) == from) {
        // Only the child array changes: the encoded records stay valid.
        parent->SetChild(entry, to);
        cache_.MarkDirty(parent);
        break;
      }
      address = parent->ChildAt(entry);
    }
  }
  cache_.Rekey(node, to);
  cache_.MarkDirty(node);
  ++layout_version_;
}

void Pager::ResizePage(PageNode* node, int size_class) {
  PinGuard pin(&cache_, node);
  if (node->Address >= 0) {
    if (header_.ClassOf(node->Address) == size_class) return;
    const int32_t old = node->Address;
    MovePage(old, --next_negative_);
    FreePage(old);
  }
  MovePage(node->Address, AllocatePage(size_class));
}

void Pager::PackZones() {
  for (int i = 2; i <= kMaxClass; ++i) {
    const uint32_t units = static_cast<uint32_t>(i);
    if (header_.PagesIn(i) <= 1) {
      const uint32_t target = header_.ZoneEnd[i - 1];
      if (header_.ZoneStart[i] == target) continue;
      if (header_.PagesIn(i) == 1) {
        MovePage(static_cast<int32_t>(header_.ZoneStart[i]), static_cast<int32_t>(target));
      }
      header_.ZoneEnd[i] = target + (header_.ZoneEnd[i] - header_.ZoneStart[i]);
      header_.ZoneStart[i] = target;
      header_dirty_ = true;
    } else {
      while (header_.ZoneStart[i] - header_.ZoneEnd[i - 1] >= units) {
        MovePage(static_cast<int32_t>(header_.ZoneEnd[i] - units),
                 static_cast<int32_t>(header_.ZoneStart[i] - units));
        header_.ZoneStart[i] -= units;
        header_.ZoneEnd[i] -= units;
        header_dirty_ = true;
      }
    }
  }
}

std::vector<std::string> Pager::CheckZones() const {
  std::vector<std::string> problems;
  std::string why;
  if (!header_.ZonesValid(&why)) problems.push_back("header: " + why);
  for (int i = 2; i <= kMaxClass; ++i) {
    if (header_.ZoneStart[i] != header_.ZoneEnd[i - 1] && header_.PagesIn(i) > 0 &&
        header_.ZoneStart[i] - header_.ZoneEnd[i - 1] >= static_cast<uint32_t>(i)) {
      problems.push_back("zone " + std::to_string(i) + " is not packed down");
    }
  }
  return problems;
}

}  // namespace qzr::palisade
