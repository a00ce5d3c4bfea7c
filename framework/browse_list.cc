// The standard list queue of a browse (see browse_list.h).

#include "framework/browse_list.h"

#include <algorithm>

#include "data/order_text.h"
#include "runtime/values/ufo.h"

namespace qzr {

BrowseListRows::BrowseListRows(QUEUE* queue, int position_field, std::vector<FileDescriptor*> files)
    : queue_(queue), position_field_(position_field), files_(std::move(files)) {}

BrowseListRows::~BrowseListRows() = default;

void BrowseListRows::AddField(FileDescriptor* file, int field, int queue_field) {
  fields_.push_back({file, field, false, queue_field});
}

void BrowseListRows::AddMemo(FileDescriptor* file, int memo, int queue_field) {
  fields_.push_back({file, memo, true, queue_field});
}

int32_t BrowseListRows::Records() {
  return RECORDS(queue_);
}

BrowseListRows::Snapshot BrowseListRows::Take(std::string_view position) const {
  Snapshot s;
  s.position = std::string(position);
  s.records.reserve(files_.size());
  s.memos.reserve(files_.size());
  for (const FileDescriptor* f : files_) {
    s.records.push_back(f->record);
    s.memos.push_back(f->memo_values);
  }
  return s;
}

void BrowseListRows::FillRow(std::string_view position) {
  for (const BrowseFieldPair& p : fields_) {
    if (p.file == nullptr) continue;
    UfoSlot dst_slot;
    UFO* dst = queue_->FieldUfo(p.queue_field, &dst_slot);
    if (dst == nullptr) continue;
    if (p.memo) {
      if (p.field < 0 || static_cast<size_t>(p.field) >= p.file->memo_values.size()) continue;
      dst->SetText(p.file->memo_values[static_cast<size_t>(p.field)]);
    } else {
      if (p.field < 0 || static_cast<size_t>(p.field) >= p.file->fields.size()) continue;
      UfoSlot src_slot;
      const UFO* src = MakeFieldUfo(&src_slot, *p.file, p.field);
      if (src != nullptr) dst->SetUfo(*src);
    }
  }
  if (position_field_ > 0) {
    UfoSlot slot;
    if (UFO* pos = queue_->FieldUfo(position_field_, &slot); pos != nullptr) {
      pos->SetText(position);
    }
  }
  pending_ = Take(position);
}

void BrowseListRows::Add() {
  ADD(queue_);
  if (ERRORCODE() != 0) return;
  rows_.push_back(pending_);
  current_ = static_cast<int32_t>(rows_.size());
}

void BrowseListRows::AddAt(int32_t row) {
  ADD(queue_, row);
  if (ERRORCODE() != 0) return;
  rows_.insert(rows_.begin() + (row - 1), pending_);
  current_ = row;
}

void BrowseListRows::Get(int32_t row) {
  GET(queue_, row);
  current_ = ERRORCODE() == 0 ? row : 0;
}

void BrowseListRows::Delete() {
  if (current_ < 1 || static_cast<size_t>(current_) > rows_.size()) return;
  DELETE(queue_, current_);
  if (ERRORCODE() != 0) return;
  rows_.erase(rows_.begin() + (current_ - 1));
  current_ = 0;
}

void BrowseListRows::Free() {
  FREE(queue_);
  rows_.clear();
  current_ = 0;
}

std::string BrowseListRows::ViewPosition() {
  if (current_ < 1 || static_cast<size_t>(current_) > rows_.size()) return {};
  return rows_[static_cast<size_t>(current_ - 1)].position;
}

bool BrowseListRows::RestoreRecords() {
  if (current_ < 1 || static_cast<size_t>(current_) > rows_.size()) return false;
  const Snapshot& s = rows_[static_cast<size_t>(current_ - 1)];
  for (size_t i = 0; i < files_.size() && i < s.records.size(); ++i) {
    FileDescriptor* f = files_[i];
    // A buffer whose shape changed since (a file reopened under another
    // declaration) is not written into.
    if (f->record.size() != s.records[i].size() || f->memo_values.size() != s.memos[i].size()) {
      return false;
    }
  }
  for (size_t i = 0; i < files_.size() && i < s.records.size(); ++i) {
    std::copy(s.records[i].begin(), s.records[i].end(), files_[i]->record.begin());
    files_[i]->memo_values = s.memos[i];
  }
  return true;
}

}  // namespace qzr
