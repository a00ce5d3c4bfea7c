// Order texts: parsing, writing, and per-row sort values. Stateless; see
// the header for the syntax.

#include "data/order_text.h"

#include <cctype>

#include "runtime/core/string_compare.h"
#include "runtime/core/text.h"
#include "runtime/settings/locale_data.h"

namespace qzr {

namespace {

bool IsLabelChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}

// Finds `label` among the files: a prefixed label in the file with that
// prefix, a bare one in the primary file. Returns false when none has it.
bool FindField(std::string_view label, std::span<FileDescriptor* const> files, int* file,
               int* field) {
  if (label.empty() || files.empty()) return false;
  const size_t colon = label.find(':');
  for (size_t i = 0; i < files.size(); ++i) {
    const FileDescriptor* f = files[i];
    if (f == nullptr) continue;
    if (colon == std::string_view::npos) {
      if (i != 0) break;
    } else if (!EqualNoCase(label.substr(0, colon), f->prefix)) {
      continue;
    }
    const int index = f->FieldIndex(label);
    if (index >= 0) {
      *file = static_cast<int>(i) + 1;
      *field = index;
      return true;
    }
  }
  return false;
}

bool ParseItem(std::string_view text, std::span<FileDescriptor* const> files, OrderItem* item) {
  text = Trim(text, kWhiteSpace);
  *item = OrderItem();
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    item->descending = text.front() == '-';
    text = Trim(text.substr(1), kWhiteSpace);
  }
  std::string_view label = text;
  const size_t open = text.find('(');
  if (open != std::string_view::npos) {
    const std::string_view function = Trim(text.substr(0, open), kWhiteSpace);
    if (EqualNoCase(function, "UPPER")) {
      item->fold = OrderFold::kUpper;
    } else if (EqualNoCase(function, "LOWER")) {
      item->fold = OrderFold::kLower;
    } else {
      return false;
    }
    if (text.back() != ')') return false;
    label = Trim(text.substr(open + 1, text.size() - open - 2), kWhiteSpace);
  }
  for (char c : label) {
    if (!IsLabelChar(c)) return false;
  }
  return FindField(label, files, &item->file, &item->field);
}

}  // namespace

int ParseOrderText(std::string_view text, std::span<FileDescriptor* const> files,
                   std::vector<OrderItem>* items, std::string* bad) {
  items->clear();
  if (Trim(text, kWhiteSpace).empty()) return 0;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string_view piece = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    OrderItem item;
    if (!ParseItem(piece, files, &item)) {
      items->clear();
      if (bad != nullptr) *bad = std::string(Trim(piece, kWhiteSpace));
      return kInvalidOrderText;
    }
    items->push_back(item);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return 0;
}

std::string WriteOrderText(std::span<const OrderItem> items,
                           std::span<FileDescriptor* const> files) {
  std::string out;
  for (const OrderItem& item : items) {
    if (item.file < 1 || static_cast<size_t>(item.file) > files.size()) continue;
    const FileDescriptor* f = files[static_cast<size_t>(item.file - 1)];
    if (f == nullptr || item.field < 0 || static_cast<size_t>(item.field) >= f->fields.size()) {
      continue;
    }
    if (!out.empty()) out += ',';
    out += item.descending ? '-' : '+';
    const std::string& label = f->fields[static_cast<size_t>(item.field)].label;
    switch (item.fold) {
      case OrderFold::kNone:
        out += label;
        break;
      case OrderFold::kUpper:
        out += "UPPER(" + label + ")";
        break;
      case OrderFold::kLower:
        out += "LOWER(" + label + ")";
        break;
    }
  }
  return out;
}

UFO* MakeFieldUfo(UfoSlot* slot, FileDescriptor& file, int field) {
  const FieldDesc& f = file.fields[static_cast<size_t>(field)];
  uint8_t* address = file.FieldData(field);
  return slot->Make(f.type, address, f.size, f.places);
}

void ReadOrderValue(const OrderItem& item, std::span<FileDescriptor* const> files,
                    OrderValue* out) {
  FileDescriptor& file = *files[static_cast<size_t>(item.file - 1)];
  UfoSlot slot;
  const UFO* ufo = MakeFieldUfo(&slot, file, item.field);
  out->cls = ufo->ComputeClass();
  switch (out->cls) {
    case ValueClass::Integer:
      out->l = ufo->GetLong();
      break;
    case ValueClass::Real:
      out->r = ufo->GetReal();
      break;
    case ValueClass::Decimal:
      out->d = ufo->GetDecimal();
      break;
    default: {
      out->cls = ValueClass::String;
      out->s = ufo->Text();
      if (item.fold != OrderFold::kNone) {
        const auto& table = item.fold == OrderFold::kUpper ? Locale().upper : Locale().lower;
        for (char& c : out->s) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
      }
      break;
    }
  }
}

int CompareOrderValues(const OrderItem& item, const OrderValue& a, const OrderValue& b) {
  int c = 0;
  switch (a.cls) {
    case ValueClass::Integer:
      c = (a.l > b.l) - (a.l < b.l);
      break;
    case ValueClass::Real:
      c = (a.r > b.r) - (a.r < b.r);
      break;
    case ValueClass::Decimal:
      c = Decimal::Compare(a.d, b.d);
      break;
    default:
      c = CompareText(a.s, b.s);
      break;
  }
  return item.descending ? -c : c;
}

int CompareOrderKeys(std::span<const OrderItem> items, std::span<const OrderValue> a,
                     std::span<const OrderValue> b) {
  for (size_t i = 0; i < items.size(); ++i) {
    const int c = CompareOrderValues(items[i], a[i], b[i]);
    if (c != 0) return c;
  }
  return 0;
}

}  // namespace qzr
