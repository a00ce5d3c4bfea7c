// The 64-byte block layer of the Palisade driver.

#include "drivers/palisade/file_io.h"

#include <cstring>
#include <vector>

#include "drivers/palisade/format.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {
namespace {

constexpr uint64_t kMaxFileOffset = uint64_t{1} << 32;

}  // namespace

size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
                 uint64_t home_offset) {
  if (length % kBlockUnit != 0) Corruption(kCheckReadMultiple);
  if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file == nullptr) return 0;
  size_t got = 0;
  if (!file->ReadAt(offset, buffer, length, &got).ok()) Corruption(kCheckReadFailed);
  if (const UnitCipher* cipher = file->cipher()) {
    size_t whole = got / kBlockUnit * kBlockUnit;
    if (whole > 0) cipher->Decrypt(buffer, whole, home_offset);
  }
  return got;
}

void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
               uint64_t home_offset) {
  if (ReadBlock(file, offset, length, buffer, home_offset) != length) {
    Corruption(kCheckShortTransfer);
  }
}

const uint8_t* ReadBlockView(OsFile* file, uint64_t offset, size_t length,
                             std::vector<uint8_t>* scratch) {
  if (length % kBlockUnit != 0) Corruption(kCheckReadMultiple);
  if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file != nullptr && file->cipher() == nullptr) {
    const uint8_t* view = nullptr;
    if (!file->ReadView(offset, length, &view).ok()) Corruption(kCheckReadFailed);
    if (view != nullptr) return view;
  }
  if (scratch->size() < length) scratch->resize(length);
  if (ReadBlock(file, offset, length, scratch->data()) != length) return nullptr;
  return scratch->data();
}

bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer,
                uint64_t home_offset) {
  if (length % kBlockUnit != 0) Corruption(kCheckWriteMultiple);
  if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file->failed_errno() != 0) return false;
  const uint8_t* data = buffer;
  std::vector<uint8_t> enciphered;
  if (const UnitCipher* cipher = file->cipher()) {
    enciphered.assign(buffer, buffer + length);
    cipher->Encrypt(enciphered.data(), length, home_offset);
    data = enciphered.data();
  }
  if (const OsStatus s = file->WriteAt(offset, data, length); !s.ok()) {
    file->set_failed(s.error());
    return false;
  }
  return true;
}

bool WriteBlocks(OsFile* file, uint64_t offset, const BlockPiece* pieces, size_t count) {
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    if (pieces[i].length % kBlockUnit != 0) Corruption(kCheckWriteMultiple);
    total += pieces[i].length;
  }
  if (offset > kMaxFileOffset || total > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file->failed_errno() != 0) return false;
  if (count == 0) return true;
  // The run in the form it is written: the caller's blocks, or enciphered
  // copies of them side by side (the cipher's tweak runs on unit by unit).
  thread_local std::vector<OsWritePiece> out;
  thread_local std::vector<uint8_t> enciphered;
  out.resize(count);
  if (const UnitCipher* cipher = file->cipher()) {
    enciphered.resize(total);
    uint8_t* at = enciphered.data();
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(at, pieces[i].data, pieces[i].length);
      out[i] = {at, pieces[i].length};
      at += pieces[i].length;
    }
    cipher->Encrypt(enciphered.data(), total, offset);
  } else {
    for (size_t i = 0; i < count; ++i) out[i] = {pieces[i].data, pieces[i].length};
  }
  if (const OsStatus s = file->WriteAtv(offset, out.data(), count); !s.ok()) {
    file->set_failed(s.error());
    return false;
  }
  return true;
}

bool FlushBuffers(OsFile* file) {
  if (file->failed_errno() != 0) return false;
  if (const OsStatus s = file->Sync(); !s.ok()) {
    file->set_failed(s.error());
    return false;
  }
  return true;
}

}  // namespace qzr::palisade
