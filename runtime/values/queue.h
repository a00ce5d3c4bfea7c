// QUEUE: an in-memory list of records with the layout of a record buffer.
//
// A QUEUE is the descriptor the program declares: the record buffer, the
// field list that describes it, and the internal list, created on first use.
// ADD stores a copy of the buffer as a new entry; GET copies an entry back
// into the buffer and makes it current; PUT and DELETE change or remove the
// current entry; SORT orders the list by key fields; FREE empties it.
//
// Orders. Besides the insertion sequence (the default order, which has no
// key and is never discarded) the list keeps up to kMaxQueueOrders - 1 keyed
// orders, each an array of references to the same entries sorted by its key
// fields, so that switching back to a key used before does not sort again.
// Positions (1-based) always refer to the current order. Every change is
// carried into every order at once: a sorted order gets a new entry at its
// key position, so a queue stays sorted while entries are added.
//
// Keys compare field by field through field objects (strings with the
// collating sequence, numbers numerically); a descending field reverses its
// result; the first field that differs decides.
//
// Errors. Each operation clears the thread's runtime error first and posts
// on failure: 30 "Entry Not Found" (position out of range, no match for a
// key, no current entry), 8 "Insufficient Memory", 76 "Invalid Index String"
// (a key naming no field of the record), 47 "Invalid Record Declaration" (no
// descriptor), 75 "Invalid Field Type Descriptor" (a field that does not fit
// the record). A failed operation changes nothing.
//
// Threads: a QUEUE belongs to one thread at a time; it has no lock of its
// own, and callers that share one (the process-wide error history) guard it
// themselves. The allocation fault hook is per thread.
//
// Declaring a queue in C++: either describe an existing buffer with
// QueueFields, or let Queue<Rec> hold a trivially copyable struct as its
// buffer and name its members:
//
//   struct Sector { char FAMILY[100]; char ITEM[100]; int32_t COUNT; };
//   Queue<Sector> q;
//   q.Field("FAMILY", &Sector::FAMILY, TypeCode::CSTRING);
//   q.Field("COUNT", &Sector::COUNT);           // LONG, from the member type
//   std::strcpy(q.record.FAMILY, "Browse"); q.record.COUNT = 3; ADD(&q);
//   SORT(&q, "-COUNT,+FAMILY");

#ifndef QZR_RUNTIME_QUEUE_H_
#define QZR_RUNTIME_QUEUE_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/values/types.h"
#include "runtime/values/ufo.h"

namespace qzr {

// Errors posted: kEntryNotFound, kInsufficientMemory, kInvalidRecordDeclaration,
// kInvalidFieldType, kInvalidIndexString (runtime/runtime_error.h).

// Orders a list keeps at most, the default order included.
inline constexpr int kMaxQueueOrders = 16;

// Type code of a field that holds a reference (a C++ pointer: to a manager
// object, another queue, a string kept elsewhere). It has no field object;
// as a key it compares by address, which is what a lookup such as "the entry
// for this component" needs.
inline constexpr TypeCode kQueueReference = TypeCode::CLASS;

// One field of a queue's record.
struct QueueField {
  std::string name;  // "ID", "FUN:NAME"; key texts match it ignoring case
  TypeCode type = TypeCode::STRING;
  uint32_t offset = 0;  // from the start of the record buffer
  uint32_t size = 0;    // bytes the field takes in the record
  uint8_t places = 0;   // decimal places of DECIMAL and PDECIMAL
};

// A key: the fields an order is sorted by, or that GET and POSITION match.
//
// Numbers are 1-based field numbers, negative for a descending field:
// QueueKey{2, -1}. Text names the fields, separated by commas, each with an
// optional "+" (ascending, the default) or "-" (descending): "-COUNT,+NAME".
// A name matches a field's whole name or, for a prefixed name like
// "FUN:NAME", the part after the colon, ignoring case. The empty key is the
// insertion sequence. Texts are resolved when an operation uses them; one
// that names no field makes that operation post 76.
class QueueKey {
 public:
  QueueKey() = default;
  explicit QueueKey(std::initializer_list<int> fields) : numbers_(fields) {}
  explicit QueueKey(std::vector<int> fields) : numbers_(std::move(fields)) {}
  QueueKey(const char* text) : text_(text), is_text_(true) {}       // NOLINT(runtime/explicit)
  QueueKey(std::string_view text) : text_(text), is_text_(true) {}  // NOLINT

  bool is_text() const { return is_text_; }
  const std::vector<int>& numbers() const { return numbers_; }
  const std::string& text() const { return text_; }

 private:
  std::vector<int> numbers_;
  std::string text_;
  bool is_text_ = false;
};

struct QueueList;  // the internal list (queue.cc)

// The queue descriptor. Not copyable: it owns its entries.
class QUEUE {
 public:
  // A queue over the `size` bytes at `buffer`, which the caller owns and
  // keeps alive as long as the queue. Fields that do not fit are dropped
  // with error 75 (see AddField).
  QUEUE(void* buffer, uint32_t size, std::vector<QueueField> fields = {});
  // A queue that owns a zeroed buffer of `size` bytes.
  explicit QUEUE(uint32_t size, std::vector<QueueField> fields = {});
  ~QUEUE();

  QUEUE(const QUEUE&) = delete;
  QUEUE& operator=(const QUEUE&) = delete;

  uint8_t* buffer() const { return buffer_; }
  uint32_t record_size() const { return size_; }
  const std::vector<QueueField>& fields() const { return fields_; }

  // Appends a field and returns its 1-based number. A field whose bytes lie
  // outside the record, whose size does not suit its type, or whose type has
  // no value (END, MEMO, BLOB, QUEUE, ...) is refused: 0, error 75.
  // Numbers of fields already declared never change.
  int AddField(QueueField field);

  // The 1-based number of the field named `name` (matched as key texts
  // are), or 0.
  int FieldNumber(std::string_view name) const;

  // A field object over field `number` of the record buffer, made in
  // `slot`; nullptr for a reference field or a number out of range. Lets
  // code that only has the field list (storing a queue as text, filling a
  // list row) read and write the buffer's values.
  UFO* FieldUfo(int number, UfoSlot* slot) const;

 private:
  friend QueueList* Internal(QUEUE* q, bool create);

  uint8_t* buffer_;
  uint32_t size_;
  std::vector<QueueField> fields_;
  std::unique_ptr<uint8_t[]> owned_buffer_;
  QueueList* list_ = nullptr;  // created on first use, freed with the queue
};

// A queue whose record buffer is the struct `record`.
//
//   Queue<Row> q;  q.Field("ID", &Row::ID);  q.record.ID = 7;  ADD(&q);
//
// Field() deduces the type from the member: uint8_t BYTE, int16_t SHORT,
// uint16_t USHORT, int32_t LONG, uint32_t ULONG, float SREAL, double REAL,
// char[n] STRING(n), any pointer a reference. Other members (DATE and TIME
// as uint8_t[4], DECIMAL bytes, a CSTRING or PSTRING char array) name their
// type explicitly.
template <typename Rec>
class Queue : public QUEUE {
  static_assert(std::is_trivially_copyable_v<Rec>, "queue entries are byte copies of the record");

 public:
  Queue() : QUEUE(&record, sizeof(Rec)) {}

  Rec record{};

  template <typename M>
  int Field(std::string_view name, M Rec::*member) {
    return Field(name, member, DeducedType<M>());
  }
  template <typename M>
  int Field(std::string_view name, M Rec::*member, TypeCode type, uint8_t places = 0) {
    auto offset = static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(&(record.*member)) -
                                        reinterpret_cast<const uint8_t*>(&record));
    return AddField(QueueField{std::string(name), type, offset, sizeof(M), places});
  }

  // The number of the field declared over `member` (the first one, when
  // several share it), or 0.
  template <typename M>
  int FieldNumber(M Rec::*member) const {
    auto offset = static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(&(record.*member)) -
                                        reinterpret_cast<const uint8_t*>(&record));
    for (size_t i = 0; i < fields().size(); ++i) {
      if (fields()[i].offset == offset && fields()[i].size == sizeof(M))
        return static_cast<int>(i + 1);
    }
    return 0;
  }
  using QUEUE::FieldNumber;

 private:
  template <typename M>
  static constexpr TypeCode DeducedType() {
    if constexpr (std::is_pointer_v<M>)
      return kQueueReference;
    else if constexpr (std::is_same_v<M, uint8_t>)
      return TypeCode::BYTE;
    else if constexpr (std::is_same_v<M, int16_t>)
      return TypeCode::SHORT;
    else if constexpr (std::is_same_v<M, uint16_t>)
      return TypeCode::USHORT;
    else if constexpr (std::is_same_v<M, int32_t>)
      return TypeCode::LONG;
    else if constexpr (std::is_same_v<M, uint32_t>)
      return TypeCode::ULONG;
    else if constexpr (std::is_same_v<M, float>)
      return TypeCode::SREAL;
    else if constexpr (std::is_same_v<M, double>)
      return TypeCode::REAL;
    else if constexpr (std::is_array_v<M> && std::is_same_v<std::remove_extent_t<M>, char>)
      return TypeCode::STRING;
    else
      static_assert(sizeof(M) == 0, "name the field's type explicitly");
  }
};

// ---------------------------------------------------------------------------
// Operations. Each takes the descriptor (nullptr posts 47 and does nothing),
// creates the internal list on first use and clears the runtime error.

// Adds a copy of the buffer: at the end of the insertion sequence, and at
// its key position in every sorted order (after the entries with an equal
// key). The new entry becomes the current one.
void ADD(QUEUE* q);
// The same, but at `position` (1 to RECORDS + 1) of the current order;
// out of range posts 30.
void ADD(QUEUE* q, int32_t position);
// The same, but at the place in the current order that a binary search by
// `key` gives (after equal keys): keeps an order sorted by `key` sorted.
void ADD(QUEUE* q, const QueueKey& key);

// Copies entry `position` of the current order into the buffer and makes it
// current. 0, negative or above RECORDS posts 30 and leaves the buffer.
void GET(QUEUE* q, int32_t position);
// Reads the first entry of the current order whose `key` fields equal the
// buffer's; none posts 30 and leaves the buffer. A binary search when the
// current order is sorted by those fields, a scan otherwise.
void GET(QUEUE* q, const QueueKey& key);

// Replaces the current entry with the buffer; sorted orders move it to its
// new key position. No current entry posts 30.
void PUT(QUEUE* q);

// Removes the current entry from every order; afterwards no entry is
// current. No current entry posts 30.
void DELETE(QUEUE* q);
// Removes entry `position` of the current order (range as GET).
void DELETE(QUEUE* q, int32_t position);

// Removes every entry and every keyed order.
void FREE(QUEUE* q);

// Makes the order for `key` current, sorting it when needed. The entry that
// was current stays current. The empty key selects the insertion sequence.
void SORT(QUEUE* q, const QueueKey& key);

// The number of entries.
int32_t RECORDS(QUEUE* q);
// The position of the current entry in the current order; 0 when none.
int32_t POINTER(QUEUE* q);
// The position in the current order of the first entry whose `key` fields
// equal the buffer's. When none does and the current order is sorted by
// those fields, the position an entry with that key would take (RECORDS + 1
// past the end); otherwise 0.
int32_t POSITION(QUEUE* q, const QueueKey& key);

// The change counter: seeded from the clock when the internal list is made,
// then increased by one by every ADD, PUT, DELETE and FREE, so a saved value
// tells whether the queue changed since.
uint32_t CHANGES(QUEUE* q);

// The key hash of the buffer: starting from 0, for each key field in order,
// hash = (the field's value hash) XOR (hash rotated right by one bit).
// Equal values under the field comparison hash alike for integers, decimals,
// reals and references; strings hash their bytes without trailing spaces.
uint32_t KeyHash(QUEUE* q, const QueueKey& key);

// Fault injection for tests: the next `successes` allocations of queues on
// this thread succeed and every one after them fails (error 8), until the
// hook is reset with -1 (the default: never fail).
void SetQueueAllocationFailure(int64_t successes);

}  // namespace qzr

#endif  // QZR_RUNTIME_QUEUE_H_
