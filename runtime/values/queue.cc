// The internal list of a queue: entries, orders, the change counter, and the
// operations over them.
//
// Invariants of a QueueList, kept by every operation:
//   1. orders[0] is the default order: no key, never discarded.
//   2. Every order holds every entry exactly once; the entries are owned by
//      the list and freed through orders[0].
//   3. An order marked sorted is in key order (each entry not greater than
//      the next); binary searches are made only in sorted orders. An order
//      with no key is always sorted.
//   4. An order's position is -1 or a valid index into its entries.
// An operation that needs memory takes all of it (the new entry, room in
// every order's array, a sort buffer) before it changes anything, so a
// failure (error 8) leaves the queue as it was.
//
// Threads: see queue.h; the allocation fault hook is thread-local.

#include "runtime/values/queue.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <new>
#include <optional>

#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/string_compare.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/date_builtins.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/decimal.h"
#include "runtime/values/queue_sort.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

// Runtime error 7, "Memory Corrupted": an order lost track of an entry.
constexpr int kMemoryCorrupted = 7;

// The change counter starts from the clock (the standard time when the
// list was made) times this factor, so counters of different queues (and of
// one queue before and after it is freed and made again) are unlikely to
// coincide.
constexpr uint32_t kChangeSeedFactor = 25781083;

thread_local int64_t t_allocation_budget = -1;

// The fault-injection seam every queue allocation passes.
bool MayAllocate() {
  if (t_allocation_budget < 0) return true;
  if (t_allocation_budget == 0) return false;
  --t_allocation_budget;
  return true;
}

bool ValidField(const QueueField& f, uint32_t record_size) {
  if (static_cast<uint64_t>(f.offset) + f.size > record_size || f.size == 0) return false;
  if (f.type == kQueueReference) return f.size == sizeof(void*);
  if (uint32_t fixed = FixedTypeSize(f.type)) return f.size == fixed;
  switch (f.type) {
    case TypeCode::DECIMAL:
    case TypeCode::PDECIMAL:
      // 2n - 1 digits in n bytes; at most 31 digits, the places among them.
      return f.size <= 16 && f.places <= 2 * f.size - 1;
    case TypeCode::STRING:
    case TypeCode::CSTRING:
    case TypeCode::PSTRING:
    case TypeCode::GROUP:
      return true;
    default:
      return false;  // no value a queue can hold (END, MEMO, BLOB, QUEUE, ...)
  }
}

uint32_t HashBytes(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

// ---------------------------------------------------------------------------
// Key comparison.

// Compares two records (entries or the buffer) under a key: one field object
// pair per key field, rebound to the two records on each comparison, so a
// comparison never allocates.
class KeyComparer {
 public:
  // Builds the comparer for `numbers` (already checked against the field
  // list). nullptr when memory runs out.
  static std::unique_ptr<KeyComparer> Make(const QUEUE& q, const std::vector<int>& numbers) {
    if (!MayAllocate()) return nullptr;
    std::unique_ptr<KeyComparer> c(new (std::nothrow) KeyComparer);
    if (!c) return nullptr;
    if (!numbers.empty()) {
      if (!MayAllocate()) return nullptr;
      c->parts_.reset(new (std::nothrow) Part[numbers.size()]);
      if (!c->parts_) return nullptr;
    }
    c->count_ = numbers.size();
    c->numbers_ = numbers;
    for (size_t i = 0; i < numbers.size(); ++i) {
      const QueueField& f = q.fields()[static_cast<size_t>(std::abs(numbers[i])) - 1];
      Part& p = c->parts_[i];
      p.offset = f.offset;
      p.descending = numbers[i] < 0;
      p.reference = f.type == kQueueReference;
      if (!p.reference) {
        // Bound to the buffer for now; Rebind points them at each record.
        p.x.Make(f.type, q.buffer() + f.offset, f.size, f.places);
        p.y.Make(f.type, q.buffer() + f.offset, f.size, f.places);
      }
    }
    return c;
  }

  size_t size() const { return count_; }
  const std::vector<int>& numbers() const { return numbers_; }

  // Negative, 0 or positive as `x` sorts before, with or after `y` under the
  // first `parts` key fields.
  int Compare(const uint8_t* x, const uint8_t* y, size_t parts) const {
    for (size_t i = 0; i < parts; ++i) {
      const Part& p = parts_[i];
      int r;
      if (p.reference) {
        uintptr_t a, b;
        std::memcpy(&a, x + p.offset, sizeof a);
        std::memcpy(&b, y + p.offset, sizeof b);
        r = (a > b) - (a < b);
      } else {
        p.x->Rebind(const_cast<uint8_t*>(x + p.offset));
        p.y->Rebind(const_cast<uint8_t*>(y + p.offset));
        r = p.x->Compare(*p.y);
        r = (r > 0) - (r < 0);
      }
      if (r != 0) return p.descending ? -r : r;
    }
    return 0;
  }
  int Compare(const uint8_t* x, const uint8_t* y) const { return Compare(x, y, count_); }

  // The key hash of record `r`.
  uint32_t Hash(const uint8_t* r) const {
    uint32_t hash = 0;
    for (size_t i = 0; i < count_; ++i) hash = FieldHash(parts_[i], r) ^ std::rotr(hash, 1);
    return hash;
  }

 private:
  struct Part {
    uint32_t offset = 0;
    bool descending = false;
    bool reference = false;
    mutable UfoSlot x;
    mutable UfoSlot y;
  };

  KeyComparer() = default;

  // A hash that agrees with the field comparison: values that compare equal
  // hash alike. Integers hash their LONG value; decimals (and ULONG) their
  // canonical text, so 1.50 and 1.5 agree; reals their bits, with -0.0 as
  // 0.0; references their address. Strings hash their text without
  // trailing spaces, through the collating weights when the collating
  // sequence is not the identity (digraph expansions are not followed).
  static uint32_t FieldHash(const Part& p, const uint8_t* r) {
    if (p.reference) {
      uintptr_t a;
      std::memcpy(&a, r + p.offset, sizeof a);
      return static_cast<uint32_t>(a) ^ static_cast<uint32_t>(static_cast<uint64_t>(a) >> 32);
    }
    UFO& f = *p.x;
    f.Rebind(const_cast<uint8_t*>(r + p.offset));
    switch (f.ComputeClass()) {
      case ValueClass::Integer:
        return static_cast<uint32_t>(f.GetLong());
      case ValueClass::Real: {
        double d = f.GetReal();
        if (d == 0.0) d = 0.0;
        auto bits = std::bit_cast<uint64_t>(d);
        return static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32);
      }
      case ValueClass::Decimal: {
        char text[Decimal::kMaxText];
        size_t n = std::min(f.GetDecimal().ToText(text, sizeof text), sizeof text);
        return HashBytes(reinterpret_cast<const uint8_t*>(text), n);
      }
      default: {
        std::string_view text = static_cast<const UfoString&>(f).TextView();
        const Collation& collation = DefaultCollation();
        if (collation.identity()) {
          while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
          return HashBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        }
        const auto& weights = Locale().collating_sequence;
        auto weight = [&](char c) { return weights[static_cast<unsigned char>(c)]; };
        while (!text.empty() && weight(text.back()) == weight(' ')) text.remove_suffix(1);
        uint32_t h = 2166136261u;
        for (char c : text) h = (h ^ weight(c)) * 16777619u;
        return h;
      }
    }
  }

  std::unique_ptr<Part[]> parts_;
  size_t count_ = 0;
  std::vector<int> numbers_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The internal list.

struct QueueOrder {
  std::unique_ptr<KeyComparer> key;  // the key definition; no fields in the default order
  std::vector<uint8_t*> entries;     // position n is entries[n - 1]
  int32_t position = -1;             // index of the current entry; -1 when none
  bool sorted = true;                // false: must be sorted before it is used by key
  uint64_t last_used = 0;            // for choosing which order to discard

  uint8_t* current() const {
    return position < 0 ? nullptr : entries[static_cast<size_t>(position)];
  }
};

struct QueueList {
  ~QueueList() {
    for (uint8_t* e : orders[0]->entries) delete[] e;
  }

  // The change counter is seed() + changes. The seed is the standard time
  // at which the list was made; its moment is taken then (cheaply) and
  // turned into local time only when the counter is first read, as reading
  // the time-zone rules is the dearest part of starting a program that never
  // asks.
  uint32_t changes = 0;
  ClockStamp made = ClockStamp::Now();
  std::optional<uint32_t> seed_value;
  uint32_t seed() {
    if (!seed_value) {
      seed_value = static_cast<uint32_t>(StandardTimeOf(made.Local())) * kChangeSeedFactor;
    }
    return *seed_value;
  }
  std::vector<std::unique_ptr<QueueOrder>> orders;  // orders[0]: the insertion sequence
  size_t current = 0;
  uint64_t use_clock = 0;
  // The comparer of the last key used by GET, POSITION or ADD that was not
  // the current order's, kept so a loop of lookups builds it once.
  std::unique_ptr<KeyComparer> scratch;

  QueueOrder& cur() { return *orders[current]; }
  size_t count() const { return orders[0]->entries.size(); }
};

// Returns the internal list, creating it when `create` is set; nullptr when
// there is none (or it cannot be made).
QueueList* Internal(QUEUE* q, bool create) {
  if (q->list_ || !create) return q->list_;
  if (!MayAllocate() || !MayAllocate()) return nullptr;
  std::unique_ptr<QueueList> list(new (std::nothrow) QueueList);
  if (!list) return nullptr;
  try {
    list->orders.reserve(kMaxQueueOrders);
    auto order = std::make_unique<QueueOrder>();
    order->key = KeyComparer::Make(*q, {});
    if (!order->key) return nullptr;
    list->orders.push_back(std::move(order));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  q->list_ = list.release();
  return q->list_;
}

namespace {

// Clears the runtime error and returns the list, or posts and returns
// nullptr.
QueueList* Prepare(QUEUE* q) {
  if (q == nullptr) {
    PostError(kInvalidRecordDeclaration);
    return nullptr;
  }
  ClearError();
  QueueList* list = Internal(q, true);
  if (!list) PostError(kInsufficientMemory);
  return list;
}

// The queue's list and its current entry, for the operations on that
// entry; nullptr (an error posted) when there is none.
uint8_t* PrepareCurrent(QUEUE* q, QueueList** list) {
  *list = Prepare(q);
  if (!*list) return nullptr;
  uint8_t* entry = (*list)->cur().current();
  if (!entry) PostError(kEntryNotFound);
  return entry;
}

// Turns a key into field numbers; false (error 76 posted) when it names no
// field.
bool ResolveKey(const QUEUE& q, const QueueKey& key, std::vector<int>* out) {
  out->clear();
  auto field_count = static_cast<int>(q.fields().size());
  if (!key.is_text()) {
    for (int n : key.numbers()) {
      if (n == 0 || std::abs(n) > field_count) {
        PostError(kInvalidIndexString);
        return false;
      }
      out->push_back(n);
    }
    return true;
  }
  std::string_view text = Trim(key.text());
  if (text.empty()) return true;
  while (true) {
    size_t comma = text.find(',');
    std::string_view item = Trim(text.substr(0, comma));
    int sign = 1;
    if (!item.empty() && (item[0] == '+' || item[0] == '-')) {
      sign = item[0] == '-' ? -1 : 1;
      item = Trim(item.substr(1));
    }
    int n = item.empty() ? 0 : q.FieldNumber(item);
    if (n == 0) {
      PostError(kInvalidIndexString, item);
      return false;
    }
    out->push_back(sign * n);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return true;
}

// A comparer for `numbers`: the current order's when the key is the same,
// else the kept scratch comparer, rebuilt when the key differs. nullptr when
// memory runs out (error 8 posted).
const KeyComparer* ComparerFor(QUEUE* q, QueueList* list, const std::vector<int>& numbers) {
  if (list->cur().key->numbers() == numbers) return list->cur().key.get();
  if (!list->scratch || list->scratch->numbers() != numbers) {
    list->scratch.reset();
    list->scratch = KeyComparer::Make(*q, numbers);
    if (!list->scratch) {
      PostError(kInsufficientMemory);
      return nullptr;
    }
  }
  return list->scratch.get();
}

// First index whose entry is greater than `record` (after all equal ones).
size_t UpperBound(const QueueOrder& o, const KeyComparer& key, const uint8_t* record,
                  size_t parts) {
  size_t lo = 0, hi = o.entries.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (key.Compare(record, o.entries[mid], parts) < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// First index whose entry is not less than `record`.
size_t LowerBound(const QueueOrder& o, const KeyComparer& key, const uint8_t* record,
                  size_t parts) {
  size_t lo = 0, hi = o.entries.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (key.Compare(o.entries[mid], record, parts) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// The index of `entry` in `o`.
size_t IndexOf(const QueueOrder& o, const uint8_t* entry) {
  if (o.position >= 0 && o.entries[static_cast<size_t>(o.position)] == entry) {
    return static_cast<size_t>(o.position);
  }
  if (o.sorted && o.key->size() > 0) {
    for (size_t i = LowerBound(o, *o.key, entry, o.key->size());
         i < o.entries.size() && o.key->Compare(o.entries[i], entry) == 0; ++i) {
      if (o.entries[i] == entry) return i;
    }
  }
  // Unsorted, or a collating sequence whose comparisons do not chain: scan.
  auto it = std::find(o.entries.begin(), o.entries.end(), entry);
  if (it == o.entries.end()) Fatal(kMemoryCorrupted, "a queue order lost an entry");
  return static_cast<size_t>(it - o.entries.begin());
}

void InsertAt(QueueOrder& o, size_t index, uint8_t* entry) {
  o.entries.insert(o.entries.begin() + static_cast<ptrdiff_t>(index), entry);
  if (o.position >= static_cast<int32_t>(index)) ++o.position;
}

void RemoveAt(QueueOrder& o, size_t index) {
  o.entries.erase(o.entries.begin() + static_cast<ptrdiff_t>(index));
  auto i = static_cast<int32_t>(index);
  if (o.position == i) {
    o.position = -1;
  } else if (o.position > i) {
    --o.position;
  }
}

// True when the entry at `index` is not out of order with its neighbours.
bool InPlace(const QueueOrder& o, size_t index) {
  const KeyComparer& key = *o.key;
  if (key.size() == 0) return true;
  uint8_t* e = o.entries[index];
  if (index > 0 && key.Compare(o.entries[index - 1], e) > 0) return false;
  if (index + 1 < o.entries.size() && key.Compare(e, o.entries[index + 1]) > 0) return false;
  return true;
}

// Room for `n` entries in every order's array; false when memory runs out.
// Growing one array and failing on the next leaves only spare capacity.
bool ReserveAll(QueueList* list, size_t n) {
  for (auto& o : list->orders) {
    if (o->entries.capacity() >= n) continue;
    if (!MayAllocate()) return false;
    try {
      o->entries.reserve(std::max({n, o->entries.capacity() * 2, size_t{8}}));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return true;
}

// Sorts `o` by its key. False (error 8 posted, the order untouched) when the
// sort buffer cannot be had.
bool SortOrder(QueueOrder& o) {
  if (o.sorted) return true;
  size_t n = o.entries.size();
  std::unique_ptr<uint8_t*[]> temp;
  if (n > 1) {
    if (MayAllocate()) temp.reset(new (std::nothrow) uint8_t*[n]);
    if (!temp) {
      PostError(kInsufficientMemory);
      return false;
    }
  }
  uint8_t* current = o.current();
  const KeyComparer& key = *o.key;
  MergeInsertionSort(o.entries.data(), n, temp.get(),
                     [&key](const uint8_t* a, const uint8_t* b) { return key.Compare(a, b); });
  o.sorted = true;
  if (current) o.position = static_cast<int32_t>(IndexOf(o, current));
  return true;
}

// Stores a copy of the buffer at `index` of the current order (SIZE_MAX: at
// its key position) and at its key position in every other order.
void AddEntry(QUEUE* q, QueueList* list, size_t index) {
  if (!ReserveAll(list, list->count() + 1)) {
    PostError(kInsufficientMemory);
    return;
  }
  uint8_t* entry =
      MayAllocate() ? new (std::nothrow) uint8_t[std::max(q->record_size(), 1u)] : nullptr;
  if (!entry) {
    PostError(kInsufficientMemory);
    return;
  }
  std::memcpy(entry, q->buffer(), q->record_size());
  for (size_t i = 0; i < list->orders.size(); ++i) {
    QueueOrder& o = *list->orders[i];
    size_t at;
    if (i == list->current && index != SIZE_MAX) {
      at = index;
    } else if (o.sorted) {
      at = UpperBound(o, *o.key, entry, o.key->size());
    } else {
      at = o.entries.size();  // sorted on its next use
    }
    InsertAt(o, at, entry);
    if (i == list->current) {
      o.position = static_cast<int32_t>(at);
      if (o.sorted && !InPlace(o, at)) o.sorted = false;
    }
  }
  ++list->changes;
}

// Removes `entry` from every order and frees it.
void RemoveEntry(QueueList* list, uint8_t* entry) {
  for (auto& o : list->orders) RemoveAt(*o, IndexOf(*o, entry));
  delete[] entry;
  ++list->changes;
}

// Where the entries equal to the buffer under `numbers` are looked for.
// When the current order is sorted by those fields (the same fields, in the
// same order, possibly followed by more) a binary search in it, else a scan.
// Returns the index of the first equal entry, or -1; with `insert_point`,
// a sorted search returns where the key would go instead of -1.
int64_t Find(QUEUE* q, QueueList* list, const std::vector<int>& numbers, bool insert_point) {
  QueueOrder& o = list->cur();
  const std::vector<int>& order_key = o.key->numbers();
  bool prefix = o.sorted && numbers.size() <= order_key.size();
  for (size_t i = 0; prefix && i < numbers.size(); ++i) {
    prefix = std::abs(numbers[i]) == std::abs(order_key[i]);
  }
  const uint8_t* buffer = q->buffer();
  if (prefix) {
    size_t at = LowerBound(o, *o.key, buffer, numbers.size());
    if (at < o.entries.size() && o.key->Compare(o.entries[at], buffer, numbers.size()) == 0) {
      return static_cast<int64_t>(at);
    }
    return insert_point ? static_cast<int64_t>(at) : -1;
  }
  const KeyComparer* key = ComparerFor(q, list, numbers);
  if (!key) return -2;
  for (size_t i = 0; i < o.entries.size(); ++i) {
    if (key->Compare(o.entries[i], buffer) == 0) return static_cast<int64_t>(i);
  }
  return -1;
}

bool InRange(QueueList* list, int32_t position) {
  return position >= 1 && static_cast<size_t>(position) <= list->count();
}

}  // namespace

// ---------------------------------------------------------------------------
// The descriptor.

QUEUE::QUEUE(void* buffer, uint32_t size, std::vector<QueueField> fields)
    : buffer_(static_cast<uint8_t*>(buffer)), size_(size) {
  if (!buffer_) {
    owned_buffer_.reset(new uint8_t[std::max(size, 1u)]());
    buffer_ = owned_buffer_.get();
  }
  for (QueueField& f : fields) AddField(std::move(f));
}

QUEUE::QUEUE(uint32_t size, std::vector<QueueField> fields)
    : QUEUE(nullptr, size, std::move(fields)) {}

QUEUE::~QUEUE() {
  delete list_;
}

int QUEUE::AddField(QueueField field) {
  if (!ValidField(field, size_)) {
    PostError(kInvalidFieldType, field.name);
    return 0;
  }
  fields_.push_back(std::move(field));
  return static_cast<int>(fields_.size());
}

int QUEUE::FieldNumber(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    std::string_view full = fields_[i].name;
    if (EqualNoCase(full, name)) return static_cast<int>(i + 1);
  }
  // "NAME" also finds "FUN:NAME" when no field is called "NAME" outright.
  for (size_t i = 0; i < fields_.size(); ++i) {
    std::string_view full = fields_[i].name;
    size_t colon = full.find(':');
    if (colon != std::string_view::npos && EqualNoCase(full.substr(colon + 1), name)) {
      return static_cast<int>(i + 1);
    }
  }
  return 0;
}

UFO* QUEUE::FieldUfo(int number, UfoSlot* slot) const {
  if (number < 1 || static_cast<size_t>(number) > fields_.size()) return nullptr;
  const QueueField& f = fields_[static_cast<size_t>(number) - 1];
  if (f.type == kQueueReference) return nullptr;
  return slot->Make(f.type, buffer_ + f.offset, f.size, f.places);
}

// ---------------------------------------------------------------------------
// Operations.

void ADD(QUEUE* q) {
  if (QueueList* list = Prepare(q)) AddEntry(q, list, SIZE_MAX);
}

void ADD(QUEUE* q, int32_t position) {
  QueueList* list = Prepare(q);
  if (!list) return;
  // RECORDS + 1 appends.
  if (position < 1 || static_cast<size_t>(position) > list->count() + 1) {
    PostError(kEntryNotFound);
    return;
  }
  AddEntry(q, list, static_cast<size_t>(position) - 1);
}

void ADD(QUEUE* q, const QueueKey& key) {
  QueueList* list = Prepare(q);
  std::vector<int> numbers;
  if (!list || !ResolveKey(*q, key, &numbers)) return;
  const KeyComparer* comparer = ComparerFor(q, list, numbers);
  if (!comparer) return;
  AddEntry(q, list, UpperBound(list->cur(), *comparer, q->buffer(), comparer->size()));
}

void GET(QUEUE* q, int32_t position) {
  QueueList* list = Prepare(q);
  if (!list) return;
  if (!InRange(list, position)) {
    PostError(kEntryNotFound);
    return;
  }
  QueueOrder& o = list->cur();
  o.position = position - 1;
  std::memcpy(q->buffer(), o.current(), q->record_size());
}

void GET(QUEUE* q, const QueueKey& key) {
  QueueList* list = Prepare(q);
  std::vector<int> numbers;
  if (!list || !ResolveKey(*q, key, &numbers)) return;
  int64_t at = Find(q, list, numbers, false);
  if (at == -2) return;
  if (at < 0) {
    PostError(kEntryNotFound);
    return;
  }
  QueueOrder& o = list->cur();
  o.position = static_cast<int32_t>(at);
  std::memcpy(q->buffer(), o.current(), q->record_size());
}

void PUT(QUEUE* q) {
  QueueList* list = nullptr;
  uint8_t* entry = PrepareCurrent(q, &list);
  if (!entry) return;
  // Find the entry in the sorted orders while its old key still leads there.
  size_t where[kMaxQueueOrders];
  for (size_t i = 0; i < list->orders.size(); ++i) {
    const QueueOrder& o = *list->orders[i];
    where[i] = o.sorted && o.key->size() > 0 ? IndexOf(o, entry) : SIZE_MAX;
  }
  std::memcpy(entry, q->buffer(), q->record_size());
  for (size_t i = 0; i < list->orders.size(); ++i) {
    QueueOrder& o = *list->orders[i];
    if (where[i] == SIZE_MAX || InPlace(o, where[i])) continue;
    // Out of order now: move it to its new key position. The array keeps its
    // size, so this needs no memory. An order that had it current keeps it.
    bool was_current = o.position == static_cast<int32_t>(where[i]);
    RemoveAt(o, where[i]);
    size_t at = UpperBound(o, *o.key, entry, o.key->size());
    InsertAt(o, at, entry);
    if (was_current) o.position = static_cast<int32_t>(at);
  }
  ++list->changes;
}

void DELETE(QUEUE* q) {
  QueueList* list = nullptr;
  uint8_t* entry = PrepareCurrent(q, &list);
  if (!entry) return;
  RemoveEntry(list, entry);
}

void DELETE(QUEUE* q, int32_t position) {
  QueueList* list = Prepare(q);
  if (!list) return;
  if (!InRange(list, position)) {
    PostError(kEntryNotFound);
    return;
  }
  RemoveEntry(list, list->cur().entries[static_cast<size_t>(position) - 1]);
}

void FREE(QUEUE* q) {
  QueueList* list = Prepare(q);
  if (!list) return;
  for (uint8_t* e : list->orders[0]->entries) delete[] e;
  list->orders.resize(1);
  QueueOrder& o = *list->orders[0];
  std::vector<uint8_t*>().swap(o.entries);
  o.position = -1;
  list->current = 0;
  list->scratch.reset();
  ++list->changes;
}

void SORT(QUEUE* q, const QueueKey& key) {
  QueueList* list = Prepare(q);
  std::vector<int> numbers;
  if (!list || !ResolveKey(*q, key, &numbers)) return;
  uint8_t* current_entry = list->cur().current();

  size_t chosen = list->orders.size();
  for (size_t i = 0; i < list->orders.size(); ++i) {
    if (list->orders[i]->key->numbers() == numbers) chosen = i;
  }
  if (chosen < list->orders.size()) {
    if (!SortOrder(*list->orders[chosen])) return;
  } else {
    // A new order starts from the insertion sequence, so entries with equal
    // keys keep the order they were added in.
    std::unique_ptr<QueueOrder> o;
    if (MayAllocate()) o.reset(new (std::nothrow) QueueOrder);
    if (o) o->key = KeyComparer::Make(*q, numbers);
    bool ok = o && o->key && MayAllocate();
    if (ok) {
      try {
        o->entries = list->orders[0]->entries;
      } catch (const std::bad_alloc&) {
        ok = false;
      }
    }
    if (!ok) {
      PostError(kInsufficientMemory);
      return;
    }
    o->sorted = numbers.empty();
    if (!SortOrder(*o)) return;
    // All orders in use: the new one takes the place of the one used least
    // recently (never the default order, never the current one).
    if (list->orders.size() == static_cast<size_t>(kMaxQueueOrders)) {
      size_t victim = 0;
      for (size_t i = 1; i < list->orders.size(); ++i) {
        if (i == list->current) continue;
        if (victim == 0 || list->orders[i]->last_used < list->orders[victim]->last_used) victim = i;
      }
      list->orders[victim] = std::move(o);
      chosen = victim;
    } else {
      list->orders.push_back(std::move(o));
      chosen = list->orders.size() - 1;
    }
  }
  // The entry last read stays current in the order now in force.
  QueueOrder& o = *list->orders[chosen];
  o.position = current_entry ? static_cast<int32_t>(IndexOf(o, current_entry)) : -1;
  o.last_used = ++list->use_clock;
  list->current = chosen;
}

int32_t RECORDS(QUEUE* q) {
  QueueList* list = Prepare(q);
  return list ? static_cast<int32_t>(list->count()) : 0;
}

int32_t POINTER(QUEUE* q) {
  QueueList* list = Prepare(q);
  return list ? list->cur().position + 1 : 0;
}

int32_t POSITION(QUEUE* q, const QueueKey& key) {
  QueueList* list = Prepare(q);
  std::vector<int> numbers;
  if (!list || !ResolveKey(*q, key, &numbers)) return 0;
  int64_t at = Find(q, list, numbers, true);
  return at < 0 ? 0 : static_cast<int32_t>(at + 1);
}

uint32_t CHANGES(QUEUE* q) {
  QueueList* list = Prepare(q);
  return list ? list->seed() + list->changes : 0;
}

uint32_t KeyHash(QUEUE* q, const QueueKey& key) {
  QueueList* list = Prepare(q);
  std::vector<int> numbers;
  if (!list || !ResolveKey(*q, key, &numbers)) return 0;
  const KeyComparer* comparer = ComparerFor(q, list, numbers);
  return comparer ? comparer->Hash(q->buffer()) : 0;
}

void SetQueueAllocationFailure(int64_t successes) {
  t_allocation_budget = successes;
}

}  // namespace qzr
