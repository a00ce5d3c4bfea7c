// Order texts: the sort orders given to a view, parsed into items, written
// back, and turned into comparable per-row values for sorting.
//
// Syntax (blanks around any part are skipped; names without regard to case):
//
//   order  := "" | item { "," item }
//   item   := [ "+" | "-" ] target
//   target := label | "UPPER(" label ")" | "LOWER(" label ")"
//   label  := a field label, "PRE:NAME"; without a prefix the primary
//             (first) file's field of that name
//
// "+" or no sign sorts ascending, "-" descending. UPPER and LOWER compare a
// string field without regard to case (folded through the locale's case
// tables); on a number they change nothing. An empty order text means no
// order: rows come in the primary file's record order.
//
// Values compare as their value class does: integers and reals as numbers,
// decimals exactly, strings through the collating sequence (trailing blanks
// never matter). A DIM field is ordered by its first element.
//
// Threads: plain functions over the caller's data; the locale tables they
// read are initialised once and then shared read-only.

#ifndef QZR_DATA_ORDER_TEXT_H_
#define QZR_DATA_ORDER_TEXT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"
#include "runtime/values/decimal.h"
#include "runtime/values/types.h"
#include "runtime/values/ufo.h"

namespace qzr {

// Runtime error for an order text that cannot be parsed or names an unknown
// field ("Invalid Index String").
inline constexpr int kInvalidOrderText = 76;

enum class OrderFold : uint8_t { kNone, kUpper, kLower };

struct OrderItem {
  int file = 1;   // view file number, 1-based
  int field = 0;  // index in that file's fields
  bool descending = false;
  OrderFold fold = OrderFold::kNone;
  bool operator==(const OrderItem&) const = default;
};

// Parses `text` against `files` (view order, primary first). Returns 0 with
// the items, or kInvalidOrderText with the offending item in *bad (when
// given) and *items cleared.
int ParseOrderText(std::string_view text, std::span<FileDescriptor* const> files,
                   std::vector<OrderItem>* items, std::string* bad = nullptr);

// The canonical text of `items`: each "+" or "-", the field's label, wrapped
// as "UPPER(" label ")" or "LOWER(" label ")" when folded; joined by ",".
std::string WriteOrderText(std::span<const OrderItem> items,
                           std::span<FileDescriptor* const> files);

// One item's value in a row, in a form that compares without the record.
struct OrderValue {
  ValueClass cls = ValueClass::Integer;
  int64_t l = 0;
  double r = 0.0;
  Decimal d;
  std::string s;
};

// Makes in `slot` the field object of field `field` of `file` over its bytes
// in the record buffer (a GROUP reads as a STRING of its bytes, a DIM field
// as its first element). REQUIRES: the field lies inside the buffer.
UFO* MakeFieldUfo(UfoSlot* slot, FileDescriptor& file, int field);

// Reads item `item`'s value from the current record buffer of its file.
void ReadOrderValue(const OrderItem& item, std::span<FileDescriptor* const> files, OrderValue* out);

// Compares two values of the same item: negative, zero or positive in the
// item's direction.
int CompareOrderValues(const OrderItem& item, const OrderValue& a, const OrderValue& b);

// Compares two rows' values item by item (both hold one value per item).
int CompareOrderKeys(std::span<const OrderItem> items, std::span<const OrderValue> a,
                     std::span<const OrderValue> b);

}  // namespace qzr

#endif  // QZR_DATA_ORDER_TEXT_H_
