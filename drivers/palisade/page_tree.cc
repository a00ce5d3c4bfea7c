// The page tree: search, insert, replace, delete, splits, merges, cursors
// and the invariant check.

#include "drivers/palisade/page_tree.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "drivers/palisade/format.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {
namespace {

// No tree over a 4 GiB file is this deep: a walk that goes further is
// following a cycle in damaged pages.
constexpr size_t kMaxDepth = 48;

#ifdef NDEBUG
constexpr bool kDebugChecks = false;
#else
constexpr bool kDebugChecks = true;
#endif

// A separator: key bytes only, paired with a child address.
PlxRecord SeparatorRecord(Bytes key, int32_t child) {
  PlxRecord rec;
  rec.bytes.assign(key.begin(), key.end());
  rec.key_length = static_cast<uint16_t>(key.size());
  rec.child = child;
  return rec;
}

const PlxRecord& EmptyRecord() {
  static const PlxRecord empty;
  return empty;
}

// The shortest key s with a < s <= b. REQUIRES: a < b.
std::vector<uint8_t> ShortestSeparator(Bytes a, Bytes b) {
  size_t common = 0;
  const size_t n = std::min(a.size(), b.size());
  while (common < n && a[common] == b[common]) ++common;
  const size_t len = std::min(common + 1, b.size());
  return std::vector<uint8_t>(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(len));
}

// Plain size of a page holding `records` in this order.
size_t SequenceSize(bool inner, const std::vector<const PlxRecord*>& records) {
  size_t size = kPageHeaderBytes;
  const PlxRecord* prev = nullptr;
  for (const PlxRecord* rec : records) {
    size += EncodedSize(*rec, prev) + (inner ? kChildBytes : 0);
    prev = rec;
  }
  return size;
}

}  // namespace

// ---- Search ---------------------------------------------------------------

bool PageTree::Descend(Bytes key, std::vector<Step>* path, LeafRun* run, bool* in_place) {
  if (in_place != nullptr) *in_place = false;
  path->clear();
  if (!pager_->has_root()) return false;
  int32_t address = pager_->root();
  for (;;) {
    if (path->size() > kMaxDepth) Corruption(kCheckTreeShape);
    // Inner pages not cached are searched in place (Pager::DescendThrough);
    // the depth of the last leaf reached says where the leaves are, which
    // holds until the root splits or collapses (a wrong guess costs one
    // read).
    size_t i = 0;
    int32_t child = 0;
    const bool leaf = path->size() == leaf_depth_;
    PageNode* node = pager_->DescendThrough(address, key, leaf, &i, &child, run);
    if (node == nullptr) {
      path->push_back({address, i});
      if (leaf && run != nullptr) {
        // A leaf searched in place: its records wanted are in `run`.
        *in_place = true;
        return true;
      }
      address = child;
      continue;
    }
    if (!node->IsInner()) {
      path->push_back({address, node->LowerBound(key)});
      leaf_depth_ = path->size() - 1;
      return true;
    }
    if (node->empty()) Corruption(kCheckTreeShape);
    i = node->ChildIndex(key);
    path->push_back({address, i});
    address = node->ChildAt(i);
  }
}

const RecordView* PageTree::Find(Bytes key) {
  std::vector<Step>& path = find_path_;
  if (!Descend(key, &path)) return nullptr;
  PageNode* leaf = pager_->GetPage(path.back().address);
  const size_t i = path.back().index;
  if (i < leaf->RecordCount() && CompareKeys(leaf->KeyAt(i), key) == 0) {
    found_ = leaf->At(i);
    return &found_;
  }
  return nullptr;
}

// ---- Insert and replace ---------------------------------------------------

void PageTree::CheckRecordFits(const PlxRecord& rec) const {
  const size_t limit = page_limit();
  if (rec.Length() >= kRecordLengthBound || kPageHeaderBytes + 5 + rec.Length() > limit ||
      rec.KeyLength() + 9 > (limit - kPageHeaderBytes) / 2) {
    Corruption(kCheckRecordTooLong);
  }
}

PageNode* PageTree::WriteLeaf(Bytes key, size_t* index) {
  const uint64_t shape = pager_->shape_version();
  const uint64_t layout = pager_->layout_version();
  for (WriteHint& h : hints_) {
    if (h.shape != shape || h.layout != layout) continue;
    if (h.has_low && CompareKeys(Bytes(h.low.data(), h.low.size()), key) > 0) continue;
    if (h.has_high && CompareKeys(key, Bytes(h.high.data(), h.high.size())) >= 0) continue;
    PageNode* leaf = pager_->GetPage(h.leaf);
    if (leaf->IsInner()) break;  // damage: a descent reports it
    // Most writes append (ascending numbers): the last key says so at once.
    const size_t n = leaf->RecordCount();
    *index = n == 0 || CompareKeys(leaf->KeyAt(n - 1), key) < 0 ? n : leaf->LowerBound(key);
    return leaf;
  }
  std::vector<Step>& path = write_path_;
  Descend(key, &path);
  RememberLeaf(path);
  *index = path.back().index;
  return pager_->GetPage(path.back().address);
}

void PageTree::RememberLeaf(const std::vector<Step>& path) {
  // The leaf's range is the intersection of the ranges its ancestors give
  // the children on the path: child i of a page holds [separator i,
  // separator i+1), separator 0 and the end open. Ancestors searched in
  // place are not cached; their separators are not at hand, and the leaf
  // is not remembered.
  WriteHint* slot = nullptr;
  for (WriteHint& h : hints_) {
    if (h.leaf == path.back().address) slot = &h;
  }
  if (slot == nullptr) {
    slot = &hints_[next_hint_];
    next_hint_ = (next_hint_ + 1) % kWriteHints;
  }
  WriteHint& h = *slot;
  h.shape = UINT64_MAX;  // invalid until complete
  h.has_low = h.has_high = false;
  for (size_t level = 0; level + 1 < path.size(); ++level) {
    const PageNode* node = pager_->cache().Find(path[level].address);
    if (node == nullptr || !node->IsInner()) return;
    const size_t i = path[level].index;
    if (i > 0) {
      const Bytes low = node->KeyAt(i);
      if (!h.has_low || CompareKeys(low, Bytes(h.low.data(), h.low.size())) > 0) {
        h.low.assign(low.begin(), low.end());
        h.has_low = true;
      }
    }
    if (i + 1 < node->RecordCount()) {
      const Bytes high = node->KeyAt(i + 1);
      if (!h.has_high || CompareKeys(high, Bytes(h.high.data(), h.high.size())) < 0) {
        h.high.assign(high.begin(), high.end());
        h.has_high = true;
      }
    }
  }
  h.leaf = path.back().address;
  h.shape = pager_->shape_version();
  h.layout = pager_->layout_version();
}

bool PageTree::Insert(PlxRecord rec) {
  CheckRecordFits(rec);
  if (!pager_->has_root()) pager_->SetRoot(pager_->NewPage(0)->Address);
  size_t pos;
  PageNode* leaf = WriteLeaf(rec.key(), &pos);
  if (pos < leaf->RecordCount() && CompareKeys(leaf->KeyAt(pos), rec.key()) == 0) {
    return false;
  }
  pager_->MarkDirty(leaf);
  leaf->Insert(pos, std::move(rec));
  ++version_;
  if (leaf->PlainSize() > page_limit()) {
    const Bytes k = leaf->KeyAt(pos);
    std::vector<uint8_t> key(k.begin(), k.end());
    FixOverflow(Bytes(key.data(), key.size()));
  }
  return true;
}

void PageTree::Put(PlxRecord rec) {
  CheckRecordFits(rec);
  if (!pager_->has_root()) pager_->SetRoot(pager_->NewPage(0)->Address);
  size_t pos;
  PageNode* leaf = WriteLeaf(rec.key(), &pos);
  pager_->MarkDirty(leaf);
  if (pos < leaf->RecordCount() && CompareKeys(leaf->KeyAt(pos), rec.key()) == 0) {
    leaf->Replace(pos, std::move(rec));
  } else {
    leaf->Insert(pos, std::move(rec));
  }
  ++version_;
  const size_t plain = leaf->PlainSize();
  if (plain <= page_limit() && plain >= page_limit() / 4) return;
  // Copied: fixing the page moves its records.
  const Bytes k = leaf->KeyAt(pos);
  std::vector<uint8_t> key(k.begin(), k.end());
  if (plain > page_limit()) {
    FixOverflow(Bytes(key.data(), key.size()));
  } else {
    // A record that shrank can leave its page underfull.
    std::vector<Step> again;
    Descend(Bytes(key.data(), key.size()), &again);
    Rebalance(std::move(again));
  }
}

void PageTree::FixOverflow(Bytes key) {
  // Each round splits the deepest over-full page on the key's path. All the
  // pieces of a split fit, so only the parent can be left over-full, and it
  // is on the path too.
  std::vector<Step> path;
  for (;;) {
    Descend(key, &path);
    size_t level = path.size();
    bool split = false;
    while (level-- > 0) {
      if (pager_->GetPage(path[level].address)->PlainSize() > page_limit()) {
        Split(path, level);
        split = true;
        break;
      }
    }
    if (!split) break;
  }
  DebugCheck();
}

size_t PageTree::ChooseSplit(const std::vector<PlxRecord>& records, bool inner, size_t hot) const {
  // Returns the split index m (1..n-1) whose two halves both fit, or 0.
  const size_t n = records.size();
  const size_t limit = page_limit();
  const size_t child = inner ? kChildBytes : 0;
  std::vector<size_t> normal(n);  // in-place cost of each record
  for (size_t j = 0; j < n; ++j) {
    normal[j] = EncodedSize(records[j], j == 0 ? nullptr : &records[j - 1]) + child;
  }
  std::vector<size_t> suffix(n + 1, 0);
  for (size_t j = n; j-- > 0;) suffix[j] = suffix[j + 1] + normal[j];
  auto right_size = [&](size_t m) {
    // The right half's first record is written whole; an inner page's first
    // separator moves up and is left empty.
    size_t size = kPageHeaderBytes;
    if (inner) {
      size += EncodedSize(EmptyRecord(), nullptr) + child;
      if (m + 1 < n) size += EncodedSize(records[m + 1], &EmptyRecord()) + child + suffix[m + 2];
    } else {
      size += EncodedSize(records[m], nullptr) + suffix[m + 1];
    }
    return size;
  };
  size_t best = 0;
  size_t best_max = std::numeric_limits<size_t>::max();
  size_t left = kPageHeaderBytes + normal[0];
  for (size_t m = 1; m < n; ++m) {
    const size_t right = right_size(m);
    if (left <= limit && right <= limit) {
      // A page growing at one end splits off just that end, so ascending
      // (or descending) loads leave full pages behind.
      if ((hot == n - 1 && m == n - 1) || (hot == 0 && m == 1)) return m;
      const size_t worst = std::max(left, right);
      if (worst < best_max) {
        best_max = worst;
        best = m;
      }
    }
    left += normal[m];
  }
  return best;
}

void PageTree::Split(const std::vector<Step>& path, size_t level) {
  pager_->NoteShapeChange();
  PageCache& cache = pager_->cache();
  PageNode* node = pager_->GetPage(path[level].address);
  PinGuard pin(&cache, node);
  pager_->MarkDirty(node);
  const std::vector<PlxRecord>& records = node->Records();
  const size_t n = records.size();
  if (n < 2) Corruption(kCheckPageTooLarge);  // a single record never overflows
  const bool inner = node->IsInner();
  const size_t limit = page_limit();

  // Cut points: one balanced cut when it works, otherwise greedy pieces.
  std::vector<size_t> cuts;
  if (size_t m = ChooseSplit(records, inner, path[level].index); m != 0) {
    cuts.push_back(m);
  } else {
    size_t start = 0;
    size_t size = kPageHeaderBytes;
    for (size_t j = 0; j < n; ++j) {
      size_t cost;
      const size_t child = inner ? kChildBytes : 0;
      if (j == start) {
        cost = (inner && j > 0 ? EncodedSize(EmptyRecord(), nullptr)
                               : EncodedSize(records[j], nullptr)) +
               child;
      } else if (inner && start > 0 && j == start + 1) {
        cost = EncodedSize(records[j], &EmptyRecord()) + child;
      } else {
        cost = EncodedSize(records[j], &records[j - 1]) + child;
      }
      if (j > start && size + cost > limit) {
        cuts.push_back(j);
        start = j;
        size = kPageHeaderBytes;
        --j;  // cost the record again as the first of its piece
        continue;
      }
      size += cost;
    }
  }

  // Move the pieces out, last first, keeping each piece's separator.
  std::vector<PageNode*> pieces(cuts.size());
  std::vector<std::vector<uint8_t>> separators(cuts.size());
  std::vector<std::unique_ptr<PinGuard>> pins;
  for (size_t t = cuts.size(); t-- > 0;) {
    PageNode* piece = pager_->NewPage(node->NodeFlag);
    pins.push_back(std::make_unique<PinGuard>(&cache, piece));
    node->MoveTailTo(cuts[t], piece);
    pieces[t] = piece;
  }
  for (size_t t = 0; t < pieces.size(); ++t) {
    PageNode* piece = pieces[t];
    if (inner) {
      Bytes first = piece->KeyAt(0);
      separators[t].assign(first.begin(), first.end());
      piece->Replace(0, SeparatorRecord(Bytes(), piece->ChildAt(0)));
    } else {
      const PageNode* before = t == 0 ? node : pieces[t - 1];
      separators[t] = ShortestSeparator(before->KeyAt(before->RecordCount() - 1), piece->KeyAt(0));
    }
  }

  if (level == 0) {
    PageNode* root = pager_->NewPage(1);
    root->Insert(0, SeparatorRecord(Bytes(), node->Address));
    for (size_t t = 0; t < pieces.size(); ++t) {
      root->Insert(t + 1, SeparatorRecord(Bytes(separators[t].data(), separators[t].size()),
                                          pieces[t]->Address));
    }
    pager_->SetRoot(root->Address);
  } else {
    PageNode* parent = pager_->GetPage(path[level - 1].address);
    pager_->MarkDirty(parent);
    const size_t at = path[level - 1].index + 1;
    for (size_t t = 0; t < pieces.size(); ++t) {
      parent->Insert(at + t, SeparatorRecord(Bytes(separators[t].data(), separators[t].size()),
                                             pieces[t]->Address));
    }
  }
  ++version_;
}

// ---- Delete and merge -----------------------------------------------------

bool PageTree::Delete(Bytes key) {
  std::vector<Step> path;
  if (!Descend(key, &path)) return false;
  PageNode* leaf = pager_->GetPage(path.back().address);
  const size_t pos = path.back().index;
  if (pos >= leaf->RecordCount() || CompareKeys(leaf->KeyAt(pos), key) != 0) return false;
  pager_->MarkDirty(leaf);
  leaf->Erase(pos);
  ++version_;
  if (leaf->PlainSize() < page_limit() / 4) Rebalance(std::move(path));
  return true;
}

namespace {

// Removes child entry i of an inner page, keeping separator 0 empty.
void RemoveEntry(PageNode* parent, size_t i) {
  parent->Erase(i);
  if (i == 0 && !parent->empty() && !parent->KeyAt(0).empty()) {
    parent->Replace(0, SeparatorRecord(Bytes(), parent->ChildAt(0)));
  }
}

}  // namespace

void PageTree::Rebalance(std::vector<Step> path) {
  // The page and its parent are pinned while a sibling is loaded, and
  // unpinned before either can be discarded.
  pager_->NoteShapeChange();
  PageCache& cache = pager_->cache();
  const size_t quarter = page_limit() / 4;
  const uint64_t before = version_;
  for (size_t level = path.size() - 1; level > 0; --level) {
    PageNode* node = pager_->GetPage(path[level].address);
    if (!node->empty() && node->PlainSize() >= quarter) break;
    cache.Pin(node);
    PageNode* parent = pager_->GetPage(path[level - 1].address);
    PinGuard pin_parent(&cache, parent);
    const size_t idx = path[level - 1].index;
    if (node->empty()) {
      pager_->MarkDirty(parent);
      RemoveEntry(parent, idx);
      cache.Unpin(node);
      pager_->DiscardPage(node);
      ++version_;
      continue;
    }
    size_t sibling_idx;
    if (idx + 1 < parent->RecordCount()) {
      sibling_idx = idx + 1;
    } else if (idx > 0) {
      sibling_idx = idx - 1;
    } else {
      cache.Unpin(node);
      continue;  // an only child: its parent is small too, look there
    }
    PageNode* sibling = pager_->GetPage(parent->ChildAt(sibling_idx));
    cache.Unpin(node);
    const size_t right_idx = std::max(idx, sibling_idx);
    PageNode* left = sibling_idx < idx ? sibling : node;
    PageNode* right = sibling_idx < idx ? node : sibling;
    const bool inner = node->IsInner();
    if (left->IsInner() != right->IsInner()) Corruption(kCheckTreeShape);
    PlxRecord pulled;  // an inner right page's first separator comes down
    if (inner) {
      pulled = SeparatorRecord(parent->KeyAt(right_idx), right->ChildAt(0));
    }
    const std::vector<PlxRecord>& left_records = left->Records();
    const std::vector<PlxRecord>& right_records = right->Records();
    std::vector<const PlxRecord*> merged;
    merged.reserve(left_records.size() + right_records.size());
    for (const PlxRecord& rec : left_records) merged.push_back(&rec);
    for (size_t j = 0; j < right_records.size(); ++j) {
      merged.push_back(inner && j == 0 ? &pulled : &right_records[j]);
    }
    if (SequenceSize(inner, merged) > page_limit()) break;
    pager_->MarkDirty(left);
    pager_->MarkDirty(right);
    pager_->MarkDirty(parent);
    if (inner) right->Replace(0, std::move(pulled));
    right->MoveTailTo(0, left);
    RemoveEntry(parent, right_idx);
    pager_->DiscardPage(right);
    ++version_;
  }
  CollapseRoot();
  if (version_ != before) DebugCheck();
}

void PageTree::CollapseRoot() {
  pager_->NoteShapeChange();
  for (;;) {
    PageNode* root = pager_->GetPage(pager_->root());
    if (!root->IsInner()) return;
    if (root->empty()) {
      pager_->MarkDirty(root);
      root->NodeFlag = 0;
      root->Clear();
      ++version_;
      return;
    }
    if (root->RecordCount() > 1) return;
    const int32_t child = root->ChildAt(0);
    pager_->DiscardPage(root);
    pager_->SetRoot(child);
    ++version_;
  }
}

// ---- Invariants -----------------------------------------------------------

void PageTree::DebugCheck() {
  if (!kDebugChecks || !debug_checks_) return;
  std::vector<std::string> problems = CheckInvariants();
  if (!problems.empty()) Fatal(kDataCorruption, "page tree: " + problems.front());
}

namespace {

struct Walk {
  Pager* pager;
  size_t limit;
  std::vector<std::string> problems;
  size_t leaf_depth = SIZE_MAX;

  void Problem(int32_t address, const std::string& text) {
    problems.push_back("page " + std::to_string(address) + ": " + text);
  }

  // Checks the subtree at `address`, whose keys must lie in [lower, upper)
  // (absent bounds are open).
  void Visit(int32_t address, size_t depth, const std::vector<uint8_t>* lower,
             const std::vector<uint8_t>* upper, bool is_root) {
    if (depth > kMaxDepth) {
      Problem(address, "tree deeper than possible (a cycle?)");
      return;
    }
    PageNode* node = pager->GetPage(address);
    const size_t n = node->RecordCount();
    if (node->PlainSize() != node->ComputePlainSize()) Problem(address, "size bookkeeping is off");
    if (node->PlainSize() > limit && n > 1) Problem(address, "larger than the page limit");
    if (n == 0 && !is_root) Problem(address, "empty page below the root");
    for (size_t i = 1; i < n; ++i) {
      if (CompareKeys(node->KeyAt(i - 1), node->KeyAt(i)) >= 0) {
        Problem(address, "keys out of order at record " + std::to_string(i));
      }
    }
    auto as_bytes = [](const std::vector<uint8_t>* v) { return Bytes(v->data(), v->size()); };
    if (!node->IsInner()) {
      if (leaf_depth == SIZE_MAX) leaf_depth = depth;
      if (depth != leaf_depth) Problem(address, "leaf at another depth");
      if (n > 0 && lower != nullptr && CompareKeys(node->KeyAt(0), as_bytes(lower)) < 0) {
        Problem(address, "key below its separator");
      }
      if (n > 0 && upper != nullptr && CompareKeys(node->KeyAt(n - 1), as_bytes(upper)) >= 0) {
        Problem(address, "key at or above the next separator");
      }
      return;
    }
    if (is_root && n < 2) Problem(address, "inner root with fewer than two children");
    if (n > 0 && node->KeyAt(0).size() != 0) Problem(address, "first separator not empty");
    // Copy what the children need: loading them may drop this page.
    std::vector<std::vector<uint8_t>> keys;
    std::vector<int32_t> children;
    for (size_t i = 0; i < n; ++i) {
      const RecordView rec = node->At(i);
      if (rec.Length() != rec.KeyLength()) Problem(address, "separator with a payload");
      keys.emplace_back(rec.key().begin(), rec.key().end());
      children.push_back(rec.child);
    }
    for (size_t i = 0; i < n; ++i) {
      const std::vector<uint8_t>* lo = i == 0 ? lower : &keys[i];
      const std::vector<uint8_t>* hi = i + 1 < n ? &keys[i + 1] : upper;
      if (i > 0 && lower != nullptr && CompareKeys(as_bytes(&keys[i]), as_bytes(lower)) < 0) {
        Problem(address, "separator below the page's range");
      }
      if (upper != nullptr && i > 0 && CompareKeys(as_bytes(&keys[i]), as_bytes(upper)) >= 0) {
        Problem(address, "separator above the page's range");
      }
      Visit(children[i], depth + 1, lo, hi, false);
    }
  }
};

}  // namespace

std::vector<std::string> PageTree::CheckInvariants() {
  Walk walk{pager_, page_limit(), {}};
  if (pager_->has_root()) walk.Visit(pager_->root(), 0, nullptr, nullptr, true);
  return walk.problems;
}

// ---- Cursor ---------------------------------------------------------------

bool TreeCursor::Stale() const {
  return tree_version_ != tree_->version() || layout_version_ != tree_->pager()->layout_version();
}

bool TreeCursor::Finish() {
  in_place_ = false;
  PageNode* leaf = tree_->pager()->GetPage(path_.back().address);
  Bytes k = leaf->KeyAt(path_.back().index);
  key_.assign(k.begin(), k.end());
  tree_version_ = tree_->version();
  layout_version_ = tree_->pager()->layout_version();
  valid_ = true;
  return true;
}

bool TreeCursor::Edge(bool forward) {
  Pager* pager = tree_->pager();
  for (;;) {
    if (path_.size() > kMaxDepth) Corruption(kCheckTreeShape);
    PageNode* parent = pager->GetPage(path_.back().address);
    const int32_t address = parent->ChildAt(path_.back().index);
    PageNode* node = pager->GetPage(address);
    const size_t n = node->RecordCount();
    if (!node->IsInner()) {
      path_.push_back({address, forward ? 0 : n});
      return true;
    }
    if (n == 0) Corruption(kCheckTreeShape);
    path_.push_back({address, forward ? 0 : n - 1});
  }
}

bool TreeCursor::Settle(bool forward, bool reading) {
  // Forward: the leaf index may be past its last record. Backward: the
  // wanted record is the one before the leaf index.
  Pager* pager = tree_->pager();
  for (;;) {
    PageNode* leaf = pager->GetPage(path_.back().address);
    if (forward) {
      if (path_.back().index < leaf->RecordCount()) return Finish();
    } else if (path_.back().index > 0) {
      path_.back().index = std::min(path_.back().index, leaf->RecordCount());
      if (path_.back().index > 0) {
        --path_.back().index;
        return Finish();
      }
    }
    if (reading) pager->cache().PassedLeaf(leaf);
    path_.pop_back();
    while (!path_.empty()) {
      const size_t i = path_.back().index;
      if (forward ? i + 1 < pager->GetPage(path_.back().address)->RecordCount() : i > 0) break;
      path_.pop_back();
    }
    if (path_.empty()) {
      valid_ = false;
      return false;
    }
    path_.back().index += forward ? 1 : static_cast<size_t>(-1);
    Edge(forward);
  }
}

bool TreeCursor::Seek(Bytes key) {
  valid_ = false;
  in_place_ = false;
  if (in_place_prefix_ == 0) {
    if (!tree_->Descend(key, &path_)) return false;
    return Settle(true);
  }
  run_.prefix = in_place_prefix_;
  bool in_place = false;
  if (!tree_->Descend(key, &path_, &run_, &in_place)) return false;
  // A key past the leaf's last record goes on to the next leaf, as usual.
  if (!in_place || run_.size() == 0) return Settle(true);
  in_place_ = true;
  run_at_ = 0;
  const Bytes k = run_.At(0).key();
  key_.assign(k.begin(), k.end());
  tree_version_ = tree_->version();
  layout_version_ = tree_->pager()->layout_version();
  valid_ = true;
  return true;
}

bool TreeCursor::SeekNear(Bytes key) {
  if (!valid_ || Stale() || path_.empty()) return Seek(key);
  // A leaf searched in place is not cached (unless read since): a descent.
  LeaveRun();
  Pager* pager = tree_->pager();
  // Only pages still cached are looked at: loading a leaf let go since, or
  // the leaf after it, only to learn that the key lies elsewhere would cost
  // more than the descent it saves.
  PageNode* leaf = pager->cache().Find(path_.back().address);
  if (leaf == nullptr) return Seek(key);
  size_t n = leaf->RecordCount();
  if (n == 0 || CompareKeys(key, leaf->KeyAt(0)) < 0) return Seek(key);
  if (CompareKeys(key, leaf->KeyAt(n - 1)) > 0) {
    // Past this leaf: the first record of the next leaf may be the one,
    // when the parent sends the key there.
    if (path_.size() < 2) return Seek(key);
    const PageTree::Step& up = path_[path_.size() - 2];
    PageNode* parent = pager->cache().Find(up.address);
    if (parent == nullptr || parent->ChildIndex(key) != up.index + 1) return Seek(key);
    // Standing on the leaf's last record, the cursor has read it through
    // in order (rows looked up in ascending order); elsewhere the key only
    // happens to lie in the next leaf (rows looked up out of order).
    const bool reading = path_.back().index + 1 == n;
    path_.back().index = n;
    if (!Settle(true, reading)) return false;  // nothing at or after the key
    if (CompareKeys(key, this->key()) <= 0) return true;
    leaf = pager->GetPage(path_.back().address);
    n = leaf->RecordCount();
    if (CompareKeys(key, leaf->KeyAt(n - 1)) > 0) return Seek(key);
  }
  // Every record before this leaf is below the key, and its last is not.
  path_.back().index = leaf->LowerBound(key);
  return Finish();
}

bool TreeCursor::SeekAfter(Bytes key) {
  // `key` may be the cursor's own, which Seek replaces: kept aside in
  // storage the cursor reuses.
  after_.assign(key.begin(), key.end());
  const Bytes copy(after_.data(), after_.size());
  if (!Seek(copy)) return false;
  if (CompareKeys(this->key(), copy) == 0) return Next();
  return true;
}

bool TreeCursor::SeekBefore(Bytes key) {
  valid_ = false;
  LeaveRun();
  if (!tree_->Descend(key, &path_)) return false;
  return Settle(false);
}

bool TreeCursor::SeekFirst() {
  return Seek(Bytes());
}

bool TreeCursor::SeekLast() {
  valid_ = false;
  LeaveRun();
  path_.clear();
  Pager* pager = tree_->pager();
  if (!pager->has_root()) return false;
  PageNode* root = pager->GetPage(pager->root());
  const size_t n = root->RecordCount();
  if (!root->IsInner()) {
    path_.push_back({pager->root(), n});
  } else {
    if (n == 0) Corruption(kCheckTreeShape);
    path_.push_back({pager->root(), n - 1});
    Edge(false);
  }
  return Settle(false);
}

bool TreeCursor::Next() {
  if (!valid_) return false;
  if (Stale()) return SeekAfter(key());
  ++path_.back().index;
  if (in_place_) {
    if (run_at_ + 1 < run_.size()) {
      ++run_at_;
      const Bytes k = run_.At(run_at_).key();
      key_.assign(k.begin(), k.end());
      return true;
    }
    LeaveRun();
  }
  return Settle(true, true);
}

bool TreeCursor::Prev() {
  if (!valid_) return false;
  if (Stale()) return SeekBefore(key());
  LeaveRun();
  return Settle(false, true);
}

RecordView TreeCursor::record() {
  // After a change the remembered path may point anywhere: find the key
  // again (or the record after it, when it was deleted).
  if (valid_ && Stale()) {
    std::vector<uint8_t> key = key_;
    Seek(Bytes(key.data(), key.size()));
  }
  if (!valid_) return RecordView{};
  if (in_place_) return run_.At(run_at_);
  PageNode* leaf = tree_->pager()->GetPage(path_.back().address);
  if (path_.back().index >= leaf->RecordCount()) return RecordView{};
  return leaf->At(path_.back().index);
}

}  // namespace qzr::palisade
