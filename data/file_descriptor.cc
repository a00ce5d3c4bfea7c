// FileDescriptor helpers and the FileDeclaration builder.

#include "data/file_descriptor.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "runtime/core/text.h"

namespace qzr {
namespace {

// Matches `label` against `wanted`, which may be given with or without the
// prefix ("FUN:ID" or "ID").
bool LabelMatches(std::string_view label, std::string_view wanted) {
  if (EqualNoCase(label, wanted)) return true;
  if (wanted.find(':') != std::string_view::npos) return false;
  size_t colon = label.find(':');
  return colon != std::string_view::npos && EqualNoCase(label.substr(colon + 1), wanted);
}

template <typename List>
int FindLabel(const List& list, std::string_view label) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (LabelMatches(list[i].label, label)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

uint32_t FieldDesc::ElementCount() const {
  uint64_t n = 1;
  for (uint32_t d : dims) {
    n *= d;
    // Saturate: an absurd DIM is the declaration check's to report, not a
    // reason to wrap around.
    if (n > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(n);
}

uint64_t FieldDesc::TotalSize() const {
  return static_cast<uint64_t>(size) * ElementCount();
}

FileDescriptor FileDescriptor::CopyDeclaration() const {
  FileDescriptor copy;
  copy.label = label;
  copy.prefix = prefix;
  copy.driver = driver;
  copy.driver_string = driver_string;
  copy.name = name;
  copy.owner = owner;
  copy.attributes = attributes;
  copy.fields = fields;
  copy.memos = memos;
  copy.keys = keys;
  copy.record.assign(record.size(), 0);
  copy.memo_values.assign(memos.size(), std::string());
  return copy;
}

uint64_t FileDescriptor::DeclaredRecordLength() const {
  uint64_t length = 0;
  for (const FieldDesc& f : fields) length = std::max<uint64_t>(length, f.offset + f.TotalSize());
  return length;
}

int FileDescriptor::FieldIndex(std::string_view l) const {
  return FindLabel(fields, l);
}
int FileDescriptor::MemoIndex(std::string_view l) const {
  return FindLabel(memos, l);
}
int FileDescriptor::KeyIndex(std::string_view l) const {
  return FindLabel(keys, l);
}

FileDeclaration::FileDeclaration(std::string label, std::string prefix) {
  file_.label = std::move(label);
  file_.prefix = std::move(prefix);
}

std::string FileDeclaration::Qualify(std::string label) const {
  if (file_.prefix.empty() || label.find(':') != std::string::npos) return label;
  return file_.prefix + ":" + label;
}

FileDeclaration& FileDeclaration::Driver(std::string driver, std::string driver_string) {
  file_.driver = std::move(driver);
  file_.driver_string = std::move(driver_string);
  return *this;
}

FileDeclaration& FileDeclaration::Name(std::string name) {
  file_.name = std::move(name);
  return *this;
}

FileDeclaration& FileDeclaration::Owner(std::string owner) {
  file_.owner = std::move(owner);
  return *this;
}

FileDeclaration& FileDeclaration::Attributes(uint32_t attributes) {
  file_.attributes = attributes;
  return *this;
}

FileDeclaration& FileDeclaration::Field(std::string label, TypeCode type, uint32_t size) {
  FieldDesc f;
  f.label = Qualify(std::move(label));
  f.type = type;
  f.size = size != 0 ? size : FixedTypeSize(type);
  file_.fields.push_back(std::move(f));
  over_labels_.emplace_back();
  return *this;
}

FileDeclaration& FileDeclaration::String(std::string label, TypeCode type, uint32_t size,
                                         std::string picture) {
  Field(std::move(label), type, size);
  file_.fields.back().picture = std::move(picture);
  return *this;
}

FileDeclaration& FileDeclaration::Decimal(std::string label, TypeCode type, uint8_t digits,
                                          uint8_t places) {
  Field(std::move(label), type, static_cast<uint32_t>(digits / 2 + 1));
  file_.fields.back().digits = digits;
  file_.fields.back().places = places;
  return *this;
}

FileDeclaration& FileDeclaration::Group(std::string label, uint16_t members) {
  Field(std::move(label), TypeCode::GROUP, 0);
  file_.fields.back().group_fields = members;
  return *this;
}

FileDeclaration& FileDeclaration::Dim(std::vector<uint32_t> dims) {
  if (!file_.fields.empty()) file_.fields.back().dims = std::move(dims);
  return *this;
}

FileDeclaration& FileDeclaration::Over(std::string target_label) {
  if (!over_labels_.empty()) over_labels_.back() = std::move(target_label);
  return *this;
}

FileDeclaration& FileDeclaration::Picture(std::string picture) {
  if (!file_.fields.empty()) file_.fields.back().picture = std::move(picture);
  return *this;
}

FileDeclaration& FileDeclaration::ExternalName(std::string name) {
  if (!file_.fields.empty()) file_.fields.back().name = std::move(name);
  return *this;
}

FileDeclaration& FileDeclaration::Memo(std::string label, uint32_t size, uint16_t flags,
                                       std::string name) {
  MemoDesc m;
  m.label = Qualify(std::move(label));
  m.size = size;
  m.flags = static_cast<uint16_t>(flags & ~kMemoBlob);
  m.name = std::move(name);
  file_.memos.push_back(std::move(m));
  return *this;
}

FileDeclaration& FileDeclaration::Blob(std::string label, uint16_t flags, std::string name) {
  MemoDesc m;
  m.label = Qualify(std::move(label));
  m.flags = static_cast<uint16_t>(flags | kMemoBlob);
  m.name = std::move(name);
  file_.memos.push_back(std::move(m));
  return *this;
}

FileDeclaration& FileDeclaration::Key(std::string label, std::vector<Component> components,
                                      uint16_t flags, std::string name) {
  KeyDesc k;
  k.label = Qualify(std::move(label));
  k.flags = flags;
  k.name = std::move(name);
  file_.keys.push_back(std::move(k));
  key_components_.push_back(std::move(components));
  return *this;
}

FileDescriptor FileDeclaration::Build() const {
  FileDescriptor out = file_.CopyDeclaration();
  auto& fields = out.fields;

  // Resolve OVER targets. An unknown or later target is recorded as the
  // field itself, which the declaration check reports as "must be over a
  // field defined before the field".
  for (size_t i = 0; i < fields.size(); ++i) {
    if (over_labels_[i].empty()) continue;
    int target = out.FieldIndex(over_labels_[i]);
    fields[i].over =
        (target < 0 || static_cast<size_t>(target) >= i) ? static_cast<int>(i) : target;
  }

  // Lay the fields out back to back. A GROUP's members (the next
  // group_fields fields, nested members included) lie inside it; its size is
  // what they span, and a DIM on the group repeats that span. A field with
  // OVER starts at its target and does not move the layout on.
  struct OpenGroup {
    size_t index;
    uint32_t remaining;
    uint64_t start;
    uint64_t resume;  // the layout position to return to when the group is OVER another
    bool is_over;
  };
  std::vector<OpenGroup> open;
  uint64_t cursor = 0;
  auto close_finished = [&]() {
    while (!open.empty() && open.back().remaining == 0) {
      OpenGroup g = open.back();
      open.pop_back();
      FieldDesc& group = fields[g.index];
      group.size = static_cast<uint32_t>(std::min<uint64_t>(cursor - g.start, UINT32_MAX));
      uint64_t end = g.start + group.TotalSize();
      cursor = g.is_over ? g.resume : end;
    }
  };
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDesc& f = fields[i];
    for (auto& g : open) --g.remaining;
    bool is_over = f.over != kNoField && static_cast<size_t>(f.over) < i;
    uint64_t start = is_over ? fields[static_cast<size_t>(f.over)].offset : cursor;
    f.offset = static_cast<uint32_t>(std::min<uint64_t>(start, UINT32_MAX));
    if (f.type == TypeCode::GROUP && f.group_fields > 0) {
      open.push_back({i, f.group_fields, start, cursor, is_over});
      cursor = start;
    } else if (!is_over) {
      cursor += f.TotalSize();
    }
    close_finished();
  }
  // Groups declared with more members than follow end with the record.
  for (auto& g : open) g.remaining = 0;
  close_finished();

  for (size_t k = 0; k < out.keys.size(); ++k) {
    for (const Component& c : key_components_[k]) {
      int field = out.FieldIndex(c.field);
      // An unknown field becomes a position past the field list.
      out.keys[k].components.push_back(
          {field < 0 ? static_cast<int>(fields.size()) : field, c.descending});
    }
  }

  uint64_t length = out.DeclaredRecordLength();
  // The buffer is capped well above any valid record; the check reports the
  // oversize declaration.
  out.record.assign(static_cast<size_t>(std::min<uint64_t>(length, 1u << 23)), 0);
  out.memo_values.assign(out.memos.size(), std::string());
  return out;
}

}  // namespace qzr
