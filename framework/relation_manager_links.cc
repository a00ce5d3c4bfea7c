// LinkingFields: the field pairs that link a record to its related records,
// and their buffered values.
//
// Values move and compare through field objects over the record buffers, so
// a pair may join fields of different types or sizes. A buffered value is
// kept as the left field's stored bytes. Threads: a list belongs to its
// relation manager's thread, like the record buffers it points into.

#include <algorithm>
#include <cctype>
#include <string>

#include "framework/relation_manager.h"
#include "runtime/core/text.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

bool FieldFits(const FileDescriptor* file, int field) {
  if (file == nullptr || field < 0 || static_cast<size_t>(field) >= file->fields.size())
    return false;
  const FieldDesc& d = file->fields[static_cast<size_t>(field)];
  return d.size > 0 && d.offset + d.size <= file->record.size();
}

UFO* MakeField(UfoSlot& slot, FileDescriptor* file, int field) {
  const FieldDesc& d = file->fields[static_cast<size_t>(field)];
  return slot.Make(d.type, file->FieldData(field), d.size, d.places);
}

// A field object over a copy of `bytes` laid out as `file`'s field `field`.
UFO* MakeCopy(UfoSlot& slot, std::vector<uint8_t>& bytes, const FileDescriptor* file, int field) {
  const FieldDesc& d = file->fields[static_cast<size_t>(field)];
  return slot.Make(d.type, bytes.data(), d.size, d.places);
}

// Text as a case-insensitive key compares it: folded to upper case through
// the locale's table, as the key's encoding folds it, the trailing blanks of
// a fixed-length string not counting.
std::string Folded(const UFO& u) {
  return LocaleUpper(TrimRight(u.Text(), kSpaces));
}

// True iff both fields of the pair are declared as text (a GROUP counts:
// its value is the string of its bytes, and a NOCASE key folds it).
bool BothText(const LinkingFields::Pair& p) {
  const auto type = [](const FileDescriptor* file, int field) {
    return file->fields[static_cast<size_t>(field)].type;
  };
  return IsTextType(type(p.LEFTFILE, p.LEFT)) && IsTextType(type(p.RIGHTFILE, p.RIGHT));
}

bool Same(const UFO& a, const UFO& b, bool fold) {
  if (fold) return Folded(a) == Folded(b);
  return a.Compare(b) == 0;
}

}  // namespace

bool LinkingFields::AddPair(FileDescriptor* left, int left_field, FileDescriptor* right,
                            int right_field) {
  if (!FieldFits(left, left_field) || !FieldFits(right, right_field)) return false;
  Pair p;
  p.LEFTFILE = left;
  p.LEFT = left_field;
  p.RIGHTFILE = right;
  p.RIGHT = right_field;
  LIST.push_back(std::move(p));
  return true;
}

void LinkingFields::AssignLeftToRight() {
  for (Pair& p : LIST) {
    UfoSlot l, r;
    MakeField(r, p.RIGHTFILE, p.RIGHT)->SetUfo(*MakeField(l, p.LEFTFILE, p.LEFT));
  }
}

void LinkingFields::AssignBufferToRight() {
  for (Pair& p : LIST) {
    UfoSlot l, r;
    if (p.BUFFER.empty()) {
      MakeField(r, p.RIGHTFILE, p.RIGHT)->SetUfo(*MakeField(l, p.LEFTFILE, p.LEFT));
      continue;
    }
    std::vector<uint8_t> copy = p.BUFFER;
    MakeField(r, p.RIGHTFILE, p.RIGHT)->SetUfo(*MakeCopy(l, copy, p.LEFTFILE, p.LEFT));
  }
}

void LinkingFields::ClearRight() {
  for (Pair& p : LIST) {
    UfoSlot r;
    MakeField(r, p.RIGHTFILE, p.RIGHT)->Clear(0);
  }
}

bool LinkingFields::LeftEqualsRight(bool nocase) const {
  for (const Pair& p : LIST) {
    UfoSlot l, r;
    if (!Same(*MakeField(l, p.LEFTFILE, p.LEFT), *MakeField(r, p.RIGHTFILE, p.RIGHT),
              nocase && BothText(p)))
      return false;
  }
  return true;
}

bool LinkingFields::BufferEqualsRight(bool nocase) const {
  for (const Pair& p : LIST) {
    UfoSlot l, r;
    std::vector<uint8_t> copy = p.BUFFER;
    UFO* left =
        p.BUFFER.empty() ? MakeField(l, p.LEFTFILE, p.LEFT) : MakeCopy(l, copy, p.LEFTFILE, p.LEFT);
    if (!Same(*left, *MakeField(r, p.RIGHTFILE, p.RIGHT), nocase && BothText(p))) return false;
  }
  return true;
}

bool LinkingFields::Unchanged() const {
  for (const Pair& p : LIST) {
    if (p.BUFFER.empty()) continue;
    UfoSlot l, b;
    std::vector<uint8_t> copy = p.BUFFER;
    if (MakeField(l, p.LEFTFILE, p.LEFT)->Compare(*MakeCopy(b, copy, p.LEFTFILE, p.LEFT)) != 0)
      return false;
  }
  return true;
}

void LinkingFields::SaveLeft() {
  for (Pair& p : LIST) {
    const FieldDesc& d = p.LEFTFILE->fields[static_cast<size_t>(p.LEFT)];
    const uint8_t* data = p.LEFTFILE->FieldData(p.LEFT);
    p.BUFFER.assign(data, data + d.size);
  }
}

void LinkingFields::RestoreLeft() {
  for (Pair& p : LIST) {
    if (p.BUFFER.empty()) continue;
    std::copy(p.BUFFER.begin(), p.BUFFER.end(), p.LEFTFILE->FieldData(p.LEFT));
  }
}

void LinkingFields::ForgetBuffers() {
  for (Pair& p : LIST) p.BUFFER.clear();
}

}  // namespace qzr
