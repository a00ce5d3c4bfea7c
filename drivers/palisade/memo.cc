// Memo and BLOB values between descriptors and memo pieces.

#include "drivers/palisade/memo.h"

#include <algorithm>

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

int ReadRowMemos(PlxTables* tables, uint32_t table, uint32_t row, FileDescriptor* file) {
  file->memo_values.resize(file->memos.size());
  int rc = 0;
  std::vector<uint8_t> value;
  for (size_t i = 0; i < file->memos.size(); ++i) {
    if (int err = tables->ReadMemo(table, row, static_cast<uint8_t>(i), &value); err != 0) {
      rc = err;
      file->memo_values[i].clear();
      continue;
    }
    std::string& out = file->memo_values[i];
    out.assign(value.begin(), value.end());
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
