// The page cache: hash table, LRU list and the trimming rule.

#include "drivers/palisade/page_cache.h"

namespace qzr::palisade {

PageCache::~PageCache() {
  Clear();
}

void PageCache::Recycle(PageNode* node) {
  std::unique_ptr<PageNode> owned(node);
  if (spare_nodes_.size() >= kMaxSpareNodes) {
    node->GiveRecords(&spare_records_);
    return;  // destroyed with `owned`
  }
  spare_nodes_.push_back(std::move(owned));
}

std::unique_ptr<PageNode> PageCache::TakeSpare(size_t i) {
  std::unique_ptr<PageNode> node = std::move(spare_nodes_[i]);
  spare_nodes_[i] = std::move(spare_nodes_.back());
  spare_nodes_.pop_back();
  node->Address = 0;
  node->NodeFlag = 0;
  node->Capacity = 13;
  node->Image.clear();
  node->image_valid = false;
  node->image_class = 0;
  node->dirty = false;
  node->pins = 0;
  node->created = node->last_use = 0;
  node->uses = 0;
  node->hash_next = node->lru_prev = node->lru_next = nullptr;
  node->in_lru = false;
  node->in_passed = false;
  return node;
}

std::unique_ptr<PageNode> PageCache::TakeNode(bool empty) {
  if (spare_nodes_.empty()) return std::make_unique<PageNode>();
  size_t least = 0;
  for (size_t i = 1; i < spare_nodes_.size(); ++i) {
    if (spare_nodes_[i]->read_form_bytes() < spare_nodes_[least]->read_form_bytes()) least = i;
  }
  std::unique_ptr<PageNode> node = TakeSpare(least);
  if (empty) node->GiveRecords(&spare_records_);
  return node;
}

std::unique_ptr<PageNode> PageCache::TakeNodeToRead(const ReadFormSize& size) {
  constexpr size_t kNone = SIZE_MAX;
  size_t fit = kNone;   // fits, holding the least
  size_t grow = kNone;  // does not fit, holding the most
  for (size_t i = 0; i < spare_nodes_.size(); ++i) {
    const PageNode& spare = *spare_nodes_[i];
    const size_t records = spare.read_form_records();
    if (records >= kManyRecords && size.count * 8 < records) continue;  // kept for a larger page
    const size_t bytes = spare.read_form_bytes();
    if (spare.ReadFormFits(size.area, size.count)) {
      if (fit == kNone || bytes < spare_nodes_[fit]->read_form_bytes()) fit = i;
    } else if (grow == kNone || bytes > spare_nodes_[grow]->read_form_bytes()) {
      grow = i;
    }
  }
  if (fit != kNone) return TakeSpare(fit);
  if (grow != kNone) return TakeSpare(grow);
  return std::make_unique<PageNode>();
}

PageNode* PageCache::Find(int32_t address) {
  // A scan asks for the same page many times running.
  if (last_found_ != nullptr && last_found_->Address == address) {
    Touch(last_found_);
    return last_found_;
  }
  for (PageNode* n = buckets_[Bucket(address)]; n != nullptr; n = n->hash_next) {
    if (n->Address == address) {
      Touch(n);
      last_found_ = n;
      return n;
    }
  }
  return nullptr;
}

void PageCache::Grow() {
  std::vector<PageNode*> old(buckets_.size() * 4, nullptr);
  old.swap(buckets_);
  bucket_bits_ += 2;
  for (PageNode* head : old) {
    while (head != nullptr) {
      PageNode* n = head;
      head = n->hash_next;
      const size_t b = Bucket(n->Address);
      n->hash_next = buckets_[b];
      buckets_[b] = n;
    }
  }
}

PageNode* PageCache::Add(std::unique_ptr<PageNode> owned) {
  if (count_ >= 4 * buckets_.size()) Grow();
  PageNode* node = owned.release();
  const size_t b = Bucket(node->Address);
  node->hash_next = buckets_[b];
  buckets_[b] = node;
  ++count_;
  node->created = clock_;
  node->uses = 0;
  if (node->dirty) ++dirty_count_;
  Touch(node);
  Refile(node);
  return node;
}

void PageCache::Unhash(PageNode* node) {
  if (node == last_found_) last_found_ = nullptr;
  PageNode** link = &buckets_[Bucket(node->Address)];
  while (*link != node) link = &(*link)->hash_next;
  *link = node->hash_next;
  node->hash_next = nullptr;
}

void PageCache::Rekey(PageNode* node, int32_t address) {
  Unhash(node);
  node->Address = address;
  const size_t b = Bucket(address);
  node->hash_next = buckets_[b];
  buckets_[b] = node;
}

void PageCache::Remove(PageNode* node) {
  Unhash(node);
  Unlist(node);
  if (node->dirty) --dirty_count_;
  --count_;
  Recycle(node);
}

void PageCache::MarkDirty(PageNode* node) {
  if (node->dirty) return;
  node->dirty = true;
  ++dirty_count_;
  Refile(node);
}

void PageCache::MarkClean(PageNode* node) {
  if (!node->dirty) return;
  node->dirty = false;
  --dirty_count_;
  Refile(node);
}

void PageCache::Pin(PageNode* node) {
  ++node->pins;
  Refile(node);
}

void PageCache::Unpin(PageNode* node) {
  --node->pins;
  Refile(node);
}

void PageCache::PassedLeaf(PageNode* node) {
  // Dirty and pinned pages are on no list; a leaf passed twice stays where
  // it was first filed.
  if (!node->in_lru) return;
  Unlink(&lru_, node);
  node->in_lru = false;
  Link(&passed_, node);
  node->in_passed = true;
  while (passed_.count > kMaxPassed) Remove(passed_.head);
}

void PageCache::Touch(PageNode* node) {
  ++clock_;
  node->last_use = clock_;
  ++node->uses;
  if (node->in_passed) {
    // Read again after all: back among the pages in use.
    Unlink(&passed_, node);
    node->in_passed = false;
    Link(&lru_, node);
    node->in_lru = true;
  } else if (node->in_lru && node != lru_.tail) {
    Unlink(&lru_, node);
    Link(&lru_, node);
  }
}

void PageCache::Refile(PageNode* node) {
  const bool want = !node->dirty && node->pins == 0;
  if (!want) {
    Unlist(node);
  } else if (!node->in_lru && !node->in_passed) {
    Link(&lru_, node);
    node->in_lru = true;
  }
}

void PageCache::Unlist(PageNode* node) {
  if (node->in_lru) Unlink(&lru_, node);
  if (node->in_passed) Unlink(&passed_, node);
  node->in_lru = node->in_passed = false;
}

void PageCache::Link(NodeList* list, PageNode* node) {
  node->lru_prev = list->tail;
  node->lru_next = nullptr;
  if (list->tail != nullptr) {
    list->tail->lru_next = node;
  } else {
    list->head = node;
  }
  list->tail = node;
  ++list->count;
}

void PageCache::Unlink(NodeList* list, PageNode* node) {
  if (node->lru_prev != nullptr) {
    node->lru_prev->lru_next = node->lru_next;
  } else {
    list->head = node->lru_next;
  }
  if (node->lru_next != nullptr) {
    node->lru_next->lru_prev = node->lru_prev;
  } else {
    list->tail = node->lru_prev;
  }
  node->lru_prev = node->lru_next = nullptr;
  --list->count;
}

void PageCache::Trim() {
  // Passed leaves are bounded on their own (PassedLeaf); the rule is for
  // the pages in use.
  while (lru_.count >= limits_.min_pages && lru_.head != nullptr) {
    PageNode* victim = lru_.head;
    if (lru_.count < limits_.max_pages) {
      // Keep a page that is still being used about as often as the average.
      uint64_t idle = clock_ - victim->last_use;
      uint64_t life = clock_ - victim->created;
      if (idle < 4 * (life / lru_.count)) break;
    }
    Remove(victim);
  }
}

void PageCache::Clear() {
  for (PageNode*& head : buckets_) {
    while (head != nullptr) {
      PageNode* n = head;
      head = n->hash_next;
      Recycle(n);
    }
  }
  if (buckets_.size() != kBuckets) {
    buckets_.assign(kBuckets, nullptr);
    bucket_bits_ = kBucketBits;
  }
  lru_ = NodeList();
  passed_ = NodeList();
  last_found_ = nullptr;
  count_ = dirty_count_ = 0;
}

std::vector<PageNode*> PageCache::DirtyNodes() const {
  std::vector<PageNode*> out;
  out.reserve(dirty_count_);
  for (PageNode* head : buckets_) {
    for (PageNode* n = head; n != nullptr; n = n->hash_next) {
      if (n->dirty) out.push_back(n);
    }
  }
  return out;
}

}  // namespace qzr::palisade
