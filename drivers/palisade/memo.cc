// Memo and BLOB values between descriptors and memo pieces.

#include "drivers/palisade/memo.h"

#include <algorithm>

#include "drivers/palisade/format.h"
#include "runtime/ufo_codepage.h"

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
    std::string value = i < file.memo_values.size() ? file.memo_values[i] : std::string();
    size_t limit = memo.IsBlob() ? kMaxMemoValue : std::min<size_t>(memo.size, kMaxMemoValue);
    if (value.size() > limit) value.resize(limit);
    if (IsOemText(file, memo)) {
      AnsiToOemBuffer(reinterpret_cast<uint8_t*>(value.data()), value.size());
    }
    // Cannot fail: the value is within the piece limit.
    tables->WriteMemo(table, row, static_cast<uint8_t>(i), AsBytes(value));
  }
}

int ReadRowMemos(PageTree* tree, uint32_t table, uint32_t row, FileDescriptor* file) {
  const size_t count = file->memos.size();
  file->memo_values.assign(count, std::string());
  if (count == 0) return 0;
  // One walk over the row's pieces (memo by memo, piece by piece, in key
  // order) instead of a lookup per piece.
  std::vector<uint8_t> prefix = MemoKey(table, row, 0, 0);
  prefix.resize(9);  // table, kind, row
  std::vector<bool> damaged(count, false);
  std::vector<uint32_t> total(count, 0);
  std::vector<uint32_t> next_piece(count, 0);
  TreeCursor cursor(tree);
  for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
       ok && cursor.key().size() >= prefix.size() &&
       std::equal(prefix.begin(), prefix.end(), cursor.key().begin());
       ok = cursor.Next()) {
    Bytes key = cursor.key();
    if (key.size() != 12) continue;
    const uint8_t memo = key[9];
    const uint16_t piece = LoadBigU16(key.data() + 10);
    if (memo >= count || damaged[memo]) continue;
    Bytes payload = cursor.record().payload();
    std::string& out = file->memo_values[memo];
    if (piece != next_piece[memo]) {
      damaged[memo] = true;
      continue;
    }
    if (piece == 0) {
      if (payload.size() < 4) {
        damaged[memo] = true;
        continue;
      }
      total[memo] = LoadU32(payload.data());
      out.reserve(std::min<size_t>(total[memo], kMaxMemoValue));
      payload.remove_prefix(4);
    }
    out.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    ++next_piece[memo];
  }
  int rc = 0;
  for (size_t i = 0; i < count; ++i) {
    std::string& out = file->memo_values[i];
    if (damaged[i] || out.size() != total[i]) {
      out.clear();
      rc = kInvalidMemoFile;
      continue;
    }
    if (IsOemText(*file, file->memos[i])) {
      OemToAnsiBuffer(reinterpret_cast<uint8_t*>(out.data()), out.size());
    }
  }
  return rc;
}

void ClearMemoValues(FileDescriptor* file) {
  file->memo_values.assign(file->memos.size(), std::string());
}

}  // namespace qzr::palisade
