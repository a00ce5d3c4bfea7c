// FileManager: saved record buffers, saved file states, positions and the
// operation callback.

#include <algorithm>
#include <cstring>

#include "framework/file_manager.h"
#include "framework/file_manager_internal.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace internal {

void ClearRecord(FileDescriptor* file) {
  if (file == nullptr) return;
  std::fill(file->record.begin(), file->record.end(), uint8_t{0});
  for (const FieldDesc& f : file->fields) {
    if (f.type != TypeCode::STRING || f.over != kNoField) continue;
    uint64_t end = f.offset + f.TotalSize();
    if (end > file->record.size()) continue;
    std::fill(file->record.begin() + f.offset, file->record.begin() + static_cast<ptrdiff_t>(end),
              static_cast<uint8_t>(' '));
  }
  for (std::string& m : file->memo_values) m.clear();
}

std::string PositionText(const FileArgs& answer) {
  if (!answer.value.empty()) return answer.value;
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) {
    s[static_cast<size_t>(i)] = static_cast<char>((answer.result >> (8 * i)) & 0xFF);
  }
  return s;
}

void SetRegetPosition(const std::string& position, FileArgs* args) {
  uint32_t pointer = 0;
  for (size_t i = 0; i < 4 && i < position.size(); ++i) {
    pointer |= static_cast<uint32_t>(static_cast<uint8_t>(position[i])) << (8 * i);
  }
  args->value = position;
  args->position = pointer;
}

}  // namespace internal

namespace {

constexpr size_t kPositionSize = 1024;

}  // namespace

// Handles are 1..65535. A new one is one above the highest in use, or, once
// that reaches the top, the lowest free one: a long-running program that
// saves and releases buffers never runs out while fewer than 65535 are kept.
uint16_t FileManager::NextHandle(bool for_buffers) const {
  std::vector<uint16_t> used;
  if (for_buffers) {
    for (const SavedBufferEntry& e : BUFFERS) used.push_back(e.ID);
  } else {
    for (const SavedStateEntry& e : SAVED) used.push_back(e.ID);
  }
  uint16_t top = used.empty() ? 0 : *std::max_element(used.begin(), used.end());
  if (top < 0xFFFF) return static_cast<uint16_t>(top + 1);
  std::sort(used.begin(), used.end());
  uint16_t candidate = 1;
  for (uint16_t u : used) {
    if (u == candidate) ++candidate;
    if (u > candidate) break;
  }
  return candidate;
}

uint16_t FileManager::SaveRecordBuffer() {
  SavedBufferEntry e;
  e.ID = NextHandle(true);
  if (BUFFER != nullptr) e.BUFFER = *BUFFER;
  // Memo contents are kept with the BLOBs: the record a user edits is the
  // buffer and its memos together, and a copy without the memo would lose
  // the memo's edits when the copy is put back.
  if (FILE != nullptr) {
    e.MEMOS = FILE->memo_values;
    if (FILE->IsOpen() && !nulls_unsupported_) {
      RuntimeErrorKeeper keep;
      FileArgs a;
      int code = Op(FileOp::GETNULLS, a);
      if (code == 0) {
        e.NULLS = a.value;
        e.HAS_NULLS = true;
      } else if (code == kUnsupportedFunction) {
        nulls_unsupported_ = true;  // a driver without null maps: not asked again
      }
    }
  }
  uint16_t id = e.ID;
  BUFFERS.push_back(std::move(e));
  return id;
}

void FileManager::RestoreRecordBuffer(uint16_t handle, bool restore) {
  auto it = std::find_if(BUFFERS.begin(), BUFFERS.end(),
                         [&](const SavedBufferEntry& e) { return e.ID == handle; });
  if (it == BUFFERS.end()) return;
  if (restore) {
    if (BUFFER != nullptr && BUFFER->size() == it->BUFFER.size()) *BUFFER = it->BUFFER;
    if (FILE != nullptr && FILE->memo_values.size() == it->MEMOS.size())
      FILE->memo_values = it->MEMOS;
    if (it->HAS_NULLS && FILE != nullptr && FILE->IsOpen()) {
      RuntimeErrorKeeper keep;
      FileArgs a;
      a.value = it->NULLS;
      Op(FileOp::SETNULLS, a);
    }
  }
  BUFFERS.erase(it);
}

bool FileManager::CompareToSaved(uint16_t handle) {
  if (BLOBCHANGED) return true;
  auto it = std::find_if(BUFFERS.begin(), BUFFERS.end(),
                         [&](const SavedBufferEntry& e) { return e.ID == handle; });
  if (it == BUFFERS.end()) return true;
  if (BUFFER != nullptr && *BUFFER != it->BUFFER) return true;
  if (FILE != nullptr && FILE->memo_values != it->MEMOS) return true;
  return false;
}

void FileManager::TakePosition(SavedStateEntry* into) {
  into->POS.clear();
  into->POSKIND = 0;
  if (FILE == nullptr || !FILE->IsOpen()) return;
  RuntimeErrorKeeper keep;
  FileArgs a;
  if (PRIMARYKEY != 0 && PRIMARYKEY <= KEYS.size()) {
    a.key = KEYS[PRIMARYKEY - 1].KEY;
    if (Op(FileOp::POSITIONkey, a) != 0) return;
    into->POS = internal::PositionText(a);
    into->POSKIND = 1;
    into->POSKEY = a.key;
  } else {
    if (Op(FileOp::POSITIONfile, a) != 0) return;
    into->POS = internal::PositionText(a);
    into->POSKIND = 2;
  }
  if (into->POS.size() > kPositionSize) into->POS.resize(kPositionSize);
}

int FileManager::RegetPosition(const SavedStateEntry& from) {
  if (from.POSKIND == 0) return kRecordNotFound;
  FileArgs a;
  internal::SetRegetPosition(from.POS, &a);
  if (from.POSKIND == 1) {
    a.key = from.POSKEY;
    return Op(FileOp::REGETkey, a);
  }
  return Op(FileOp::REGETfile, a);
}

uint16_t FileManager::SaveFileState() {
  RuntimeErrorKeeper keep;
  SavedStateEntry e;
  e.ID = NextHandle(false);
  e.BUFFER = SaveRecordBuffer();
  e.AUTOINCDONE = AUTOINCDONE;
  if (FILE != nullptr && FILE->IsOpen()) {
    FileArgs a;
    if (Op(FileOp::GETSTATE, a) == 0) e.STATE = a.result;
  }
  TakePosition(&e);
  uint16_t id = e.ID;
  SAVED.push_back(std::move(e));
  return id;
}

void FileManager::RestoreFileState(uint16_t handle, bool restore) {
  auto it = std::find_if(SAVED.begin(), SAVED.end(),
                         [&](const SavedStateEntry& e) { return e.ID == handle; });
  if (it == SAVED.end()) return;
  SavedStateEntry e = std::move(*it);
  SAVED.erase(it);
  RuntimeErrorKeeper keep;
  uint8_t was_restoring = INRESTORE;
  INRESTORE = 1;
  if (FILE != nullptr && FILE->IsOpen()) {
    if (e.STATE != 0) {
      FileArgs a;
      a.position = static_cast<uint32_t>(e.STATE);
      Op(FileOp::RESTORESTATE, a);
    }
    if (!e.POS.empty()) RegetPosition(e);
  }
  RestoreRecordBuffer(e.BUFFER, restore);
  // AUTOINCDONE speaks of the record in the buffer, so it comes back with
  // the buffer.
  if (restore) AUTOINCDONE = e.AUTOINCDONE;
  if (e.STATE != 0 && FILE != nullptr && FILE->IsOpen()) {
    FileArgs a;
    a.position = static_cast<uint32_t>(e.STATE);
    Op(FileOp::FREESTATE, a);
  }
  INRESTORE = was_restoring;
}

// ---------------------------------------------------------------------------
// The operation callback.

namespace {

bool IsAdd(FileOp op) {
  return op == FileOp::ADD || op == FileOp::APPEND || op == FileOp::ADDfilelen ||
         op == FileOp::APPENDlen;
}
bool IsPut(FileOp op) {
  return op == FileOp::PUT || op == FileOp::PUTfileptr || op == FileOp::PUTfileptrlen;
}

}  // namespace

void FileManager::FunctionCalled(FileOp op, FileDescriptor& file, FileArgs& args) {
  // A view's operation runs the triggers once; the file operations it
  // makes inside (INVIEW set) do not run them again.
  bool owns_view = args.view != 0 && !INVIEW;
  if (owns_view) INVIEW = 1;
  call_owns_view_.push_back(owns_view);
  bool triggers = owns_view || !INVIEW;

  if (op == FileOp::BLOB_SET_PROP) BLOBCHANGED = 1;
  if (op == FileOp::DELETE || IsAdd(op) || IsPut(op)) BLOBCHANGED = 0;
  if (ReadsRecordIntoBuffer(op) && SAVEPREVIOUSBUFFER) PREVIOUSBUFFER = file.record;

  if (triggers) {
    if (IsAdd(op)) BeforeInsert();
    if (IsPut(op)) BeforeUpdate();
    if (op == FileOp::DELETE) BeforeDelete();
  }
}

void FileManager::FunctionDone(FileOp op, FileDescriptor& file, FileArgs& /*args*/, int code) {
  bool owns_view = false;
  if (!call_owns_view_.empty()) {
    owns_view = call_owns_view_.back();
    call_owns_view_.pop_back();
  }
  bool triggers = owns_view || !INVIEW;
  // The "after" triggers follow a change that happened; a failed add,
  // write or delete changed nothing.
  if (triggers && code == 0) {
    if (IsAdd(op)) AfterInsert();
    if (IsPut(op)) AfterUpdate();
    if (op == FileOp::DELETE) AfterDelete();
  }
  if (owns_view) INVIEW = 0;

  if (op == FileOp::CLOSE && INRESTORE && OPENED > 0) {
    // Putting a state back closed the file: it no longer counts as open.
    OPENED = 0;
    USED = 0;
  }
  if (op == FileOp::DESTROY && &file == FILE) {
    ++INCALLBACK;
    CleanUpRegistry();
    --INCALLBACK;
  }
}

}  // namespace qzr
