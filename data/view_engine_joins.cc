// The view engine's joins: for each joined file, the records that match the
// current parent (its domain), the record of the current row among them,
// and stepping through the combinations a parent gives, the later files
// varying fastest. See view_engine.h for what a row of the view is.

#include <algorithm>
#include <string>
#include <vector>

#include "data/view_engine.h"
#include "runtime/core/string_compare.h"
#include "runtime/settings/locale_data.h"

namespace qzr {

namespace {

// True iff the two stored values of field `f` are equal, as a key with or
// without NOCASE compares them.
bool SameValue(const FieldDesc& f, uint8_t* a, uint8_t* b, bool nocase) {
  UfoSlot sa, sb;
  UFO* ua = sa.Make(f.type, a, f.size, f.places);
  UFO* ub = sb.Make(f.type, b, f.size, f.places);
  if (ua->ComputeClass() != ValueClass::String) return ua->Compare(*ub) == 0;
  std::string ta = ua->Text(), tb = ub->Text();
  if (nocase) {
    const auto& upper = Locale().upper;
    for (char& c : ta) c = static_cast<char>(upper[static_cast<uint8_t>(c)]);
    for (char& c : tb) c = static_cast<char>(upper[static_cast<uint8_t>(c)]);
  }
  return CompareText(ta, tb) == 0;
}

}  // namespace

int ViewEngine::DomainRead(int file, bool* nomemo) {
  // The domain keeps positions; the record that joins is read again whole
  // (LoadJoin), so the records read here need no memos. A driver that
  // cannot leave them out reads them.
  if (*nomemo) {
    FileArgs args;
    if (Call(FileOp::NOMEMO, file, args) != 0) {
      *nomemo = false;
      ClearError();
    }
  }
  return Call(FileOp::NEXT, file);
}

int ViewEngine::BuildDomain(int file) {
  JoinSlot& slot = joins_[static_cast<size_t>(file)];
  slot.domain.clear();
  const ViewLevel* level = view_->Level(file);
  bool nomemo = !File(file).memos.empty();
  int rc = 0;
  if (level->join_by_expression) {
    rc = Call(FileOp::SETfile, file);
    if (rc != 0) return rc;
    while (true) {
      rc = DomainRead(file, &nomemo);
      if (rc == kRecordNotAvailable) break;
      if (rc == kRecordNotFound) continue;
      if (rc != 0) return rc;
      RefreshBindings();
      if (!slot.expression->EvaluateBool()) continue;
      uint32_t position = 0;
      rc = ReadPosition(file, &position);
      if (rc != 0) return rc;
      slot.domain.push_back(position);
    }
    ClearError();
    return 0;
  }

  FileDescriptor& secondary = File(file);
  FileDescriptor& parent = File(level->parent);
  const int key = view_->JoinKey(file);
  const KeyDesc& k = secondary.keys[static_cast<size_t>(key)];
  const size_t links = level->link_fields.size();
  // The linked components take the parent's values; the others their first
  // value in key order, so the read starts at the first match.
  std::vector<std::vector<uint8_t>> wanted(links);
  for (size_t i = 0; i < k.components.size(); ++i) {
    const KeyComponent& comp = k.components[i];
    UfoSlot dst_slot;
    UFO* dst = MakeFieldUfo(&dst_slot, secondary, comp.field);
    if (i < links) {
      UfoSlot src_slot;
      dst->SetUfo(*MakeFieldUfo(&src_slot, parent, level->link_fields[i] - 1));
      const FieldDesc& f = secondary.fields[static_cast<size_t>(comp.field)];
      wanted[i].assign(secondary.record.begin() + f.offset,
                       secondary.record.begin() + f.offset + f.size);
    } else {
      dst->Clear(comp.descending ? 1 : -1);
    }
  }
  FileArgs set;
  set.key = key;
  rc = Call(FileOp::SETkeykey, file, set);
  if (rc != 0) return rc;
  const bool nocase = (k.flags & kKeyNocase) != 0;
  while (true) {
    rc = DomainRead(file, &nomemo);
    if (rc == kRecordNotAvailable) break;
    if (rc == kRecordNotFound) continue;
    if (rc != 0) return rc;
    bool match = true;
    for (size_t i = 0; match && i < links; ++i) {
      const int field = k.components[i].field;
      const FieldDesc& f = secondary.fields[static_cast<size_t>(field)];
      match = SameValue(f, secondary.FieldData(field), wanted[i].data(), nocase);
    }
    if (!match) break;
    uint32_t position = 0;
    rc = ReadPosition(file, &position);
    if (rc != 0) return rc;
    slot.domain.push_back(position);
  }
  ClearError();
  return 0;
}

int ViewEngine::LoadJoin(int file) {
  JoinSlot& slot = joins_[static_cast<size_t>(file)];
  while (!slot.domain.empty()) {
    slot.index = std::clamp(slot.index, 0, static_cast<int>(slot.domain.size()) - 1);
    const int rc = GetByPosition(file, slot.domain[static_cast<size_t>(slot.index)]);
    if (rc != kRecordNotFound) return rc;
    slot.domain.erase(slot.domain.begin() + slot.index);  // deleted meanwhile
  }
  if (view_->IsInner(file)) return kNoCombination;
  slot.index = -1;
  ClearBuffer(file);
  return 0;
}

int ViewEngine::FillJoins(int from, bool forward, const std::vector<uint32_t>* targets) {
  for (int j = from; j <= static_cast<int>(files_.size()); ++j) {
    int rc = BuildDomain(j);
    if (rc != 0) return rc;
    JoinSlot& slot = joins_[static_cast<size_t>(j)];
    slot.index = forward ? 0 : static_cast<int>(slot.domain.size()) - 1;
    if (targets != nullptr) {
      const uint32_t want = (*targets)[static_cast<size_t>(j - 1)];
      const auto it = std::find(slot.domain.begin(), slot.domain.end(), want);
      if (want != 0 && it != slot.domain.end()) {
        slot.index = static_cast<int>(it - slot.domain.begin());
      }
    }
    rc = LoadJoin(j);
    if (rc != 0) return rc;
  }
  return 0;
}

int ViewEngine::AdvanceJoins(bool forward) {
  int j = static_cast<int>(files_.size());
  while (j >= 2) {
    JoinSlot& slot = joins_[static_cast<size_t>(j)];
    const int next = slot.index + (forward ? 1 : -1);
    if (slot.index < 0 || next < 0 || next >= static_cast<int>(slot.domain.size())) {
      --j;
      continue;
    }
    slot.index = next;
    int rc = LoadJoin(j);
    if (rc == kNoCombination) {
      --j;
      continue;
    }
    if (rc != 0) return rc;
    rc = FillJoins(j + 1, forward, nullptr);
    if (rc != kNoCombination) return rc;
    // Nothing below this record: try this file's next match.
  }
  return kNoCombination;
}

bool ViewEngine::HasInnerJoin() const {
  for (int j = 2; j <= static_cast<int>(files_.size()); ++j) {
    if (view_->IsInner(j)) return true;
  }
  return false;
}

}  // namespace qzr
