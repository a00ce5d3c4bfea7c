// The per-unit cipher hook of block I/O (an OsFile carries one for the block
// layer above it; the Palisade driver provides the implementation).
//
// Every transfer to and from a block file is a whole number of 64-byte
// units. When a file is encrypted, each unit is enciphered on its way out and
// deciphered on its way in; the tweak of a unit is the file offset at which
// it is actually written. A shadow copy is therefore enciphered for its
// shadow offset, and applying it deciphers it there and enciphers it again
// for its home, so recovery can read a shadow before it knows the shadow's
// home. Implementations hold only immutable key material and are safe to use
// from several threads at once.

#ifndef QZR_RUNTIME_OS_UNIT_CIPHER_H_
#define QZR_RUNTIME_OS_UNIT_CIPHER_H_

#include <cstddef>
#include <cstdint>

namespace qzr {

inline constexpr size_t kCipherUnit = 64;

class UnitCipher {
 public:
  virtual ~UnitCipher() = default;
  // REQUIRES: len is a multiple of kCipherUnit. `home_offset` is the file
  // offset at which data[0] is written or was read; unit i uses
  // home_offset + 64 * i.
  virtual void Encrypt(uint8_t* data, size_t len, uint64_t home_offset) const = 0;
  virtual void Decrypt(uint8_t* data, size_t len, uint64_t home_offset) const = 0;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_UNIT_CIPHER_H_
