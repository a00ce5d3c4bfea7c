// Memo and BLOB values between descriptors and memo pieces.

#include "drivers/palisade/memo.h"

#include <algorithm>

#include "drivers/palisade/format.h"
#include "runtime/values/ufo_codepage.h"

namespace qzr::palisade {
namespace {

constexpr int kInvalidMemoFile = 57;

bool IsOemText(const FileDescriptor& file, const MemoDesc& memo) {
  return file.Has(kFileOem) && !memo.IsBlob() && !memo.IsBinary();
}

}  // namespace

int CheckMemoValues(const FileDescriptor& file) {
  for (size_t i = 0; i < file.memos.size() && i < file.memo_values.size(); ++i) {
    if (file.memos[i].IsBlob() && file.memo_values[i].size() > kMaxMemoValue) {
      return kInvalidMemoFile;
    }
  }
  return 0;
}

void WriteRowMemos(PlxTables* tables, uint32_t table, uint32_t row, const FileDescriptor& file) {
  for (size_t i = 0; i < file.memos.size(); ++i) {
    const MemoDesc& memo = file.memos[i];
    std::string_view value;
    if (i < file.memo_values.size()) value = file.memo_values[i];
    const size_t limit = memo.IsBlob() ? kMaxMemoValue : std::min<size_t>(memo.size, kMaxMemoValue);
    if (value.size() > limit) value = value.substr(0, limit);
    std::string converted;  // a copy only when the text must change
    if (IsOemText(file, memo)) {
      converted.assign(value);
      AnsiToOemBuffer(reinterpret_cast<uint8_t*>(converted.data()), converted.size());
      value = converted;
    }
    // Cannot fail: the value is within the piece limit.
    tables->WriteMemo(table, row, static_cast<uint8_t>(i), AsBytes(value));
  }
}

int ReadRowMemos(PageTree* tree, uint32_t table, uint32_t row, FileDescriptor* file,
                 TreeCursor* keep) {
  return ReadRowMemosInto(tree, table, row, *file, &file->memo_values, keep);
}

int ReadRowMemosInto(PageTree* tree, uint32_t table, uint32_t row, const FileDescriptor& file,
                     std::vector<std::string>* values, TreeCursor* keep) {
  const size_t count = file.memos.size();
  // Emptied, not replaced: the values keep their storage from row to row.
  values->resize(count);
  for (std::string& value : *values) value.clear();
  if (count == 0) return 0;
  // One walk over the row's pieces (memo by memo, piece by piece, in key
  // order) instead of a lookup per piece.
  uint8_t prefix[9];  // table, kind, row
  StoreBigU32(prefix, table);
  prefix[4] = kKindMemo;
  StoreBigU32(prefix + 5, row);
  const Bytes row_prefix(prefix, sizeof prefix);
  // Per memo: damaged, total length, next piece expected. Tables have few
  // memos; the array form keeps the common case off the heap.
  struct Progress {
    bool damaged = false;
    uint32_t total = 0;
    uint32_t next_piece = 0;
  };
  constexpr size_t kInline = 8;
  Progress inline_progress[kInline];
  std::vector<Progress> heap_progress;
  Progress* progress = inline_progress;
  if (count > kInline) {
    heap_progress.resize(count);
    progress = heap_progress.data();
  }
  TreeCursor local(tree);
  TreeCursor& cursor = keep != nullptr ? *keep : local;
  // A memo leaf not cached is searched for this row's pieces alone.
  cursor.ReadInPlace(sizeof prefix);
  for (bool ok = keep != nullptr ? cursor.SeekNear(row_prefix) : cursor.Seek(row_prefix);
       ok && cursor.key().substr(0, sizeof prefix) == row_prefix; ok = cursor.Next()) {
    Bytes key = cursor.key();
    if (key.size() != 12) continue;
    const uint8_t memo = key[9];
    const uint16_t piece = LoadBigU16(key.data() + 10);
    if (memo >= count || progress[memo].damaged) continue;
    Bytes payload = cursor.record().payload();
    std::string& out = (*values)[memo];
    if (piece != progress[memo].next_piece) {
      progress[memo].damaged = true;
      continue;
    }
    if (piece == 0) {
      if (payload.size() < 4) {
        progress[memo].damaged = true;
        continue;
      }
      progress[memo].total = LoadU32(payload.data());
      out.reserve(std::min<size_t>(progress[memo].total, kMaxMemoValue));
      payload.remove_prefix(4);
    }
    out.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    ++progress[memo].next_piece;
    // The last memo whole: no piece of this row can follow, so the walk
    // stops here rather than step on to the next row's piece, which may lie
    // in the next leaf (read, and decoded, only to be passed by). Pieces
    // past a memo's length are left unread, as a lookup of the memo by its
    // pieces would leave them.
    if (memo + 1u == count && out.size() >= progress[memo].total) break;
  }
  int rc = 0;
  for (size_t i = 0; i < count; ++i) {
    std::string& out = (*values)[i];
    if (progress[i].damaged || out.size() != progress[i].total) {
      out.clear();
      rc = kInvalidMemoFile;
      continue;
    }
    if (IsOemText(file, file.memos[i])) {
      OemToAnsiBuffer(reinterpret_cast<uint8_t*>(out.data()), out.size());
    }
  }
  return rc;
}

void ClearMemoValues(FileDescriptor* file) {
  file->memo_values.assign(file->memos.size(), std::string());
}

}  // namespace qzr::palisade
