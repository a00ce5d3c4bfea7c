// The page cipher of password-protected Palisade files: AES-256-XTS on every
// 64-byte unit, keyed from the OWNER password, with a password check kept in
// the file header.
//
// Each unit is one XTS data unit; its tweak is the unit's file offset as a
// 64-bit little-endian number in the first 8 of the 16 tweak bytes (the rest
// zero), so equal plaintext at two offsets enciphers differently and a unit
// can be deciphered on its own. XTS is length-preserving, as the block layer
// needs; it does not authenticate (a damaged unit deciphers to noise, which
// the page checks then catch).
//
// Key: PBKDF2-HMAC-SHA256 over the password with kPbkdf2Iterations rounds and
// the fixed salt kKeySalt gives a 32-byte master secret; HMAC-SHA256 of it
// under three labels expands it into the two 256-bit XTS keys and the 4-byte
// password check. The salt is fixed, not per file, because a Palisade file
// has no clear-text byte to keep one in: every unit, the header included, is
// enciphered, and the key must be known before the first unit is read.
//
// Password check: the 4-byte verifier is written into the two header words
// that no zone uses (ZoneStart[0] at offset 32 and ZoneEnd[0] at 272, equal,
// so zone 0 still reads as empty). On open, CheckHeader deciphers the raw
// header and accepts the key only when the magic and both verifier copies
// come out right; otherwise the password is wrong, and the open reports
// ERRORCODE 90 with FILEERRORCODE 86 ("Invalid Password") through
// PostWrongPassword(), rather than reading the file as noise.
//
// Threads: a PageCipher holds only immutable key material; Encrypt and
// Decrypt use a fresh libcrypto context per call and may run on several
// threads at once.

#ifndef QZR_DRIVERS_PALISADE_CIPHER_H_
#define QZR_DRIVERS_PALISADE_CIPHER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "runtime/os/unit_cipher.h"

namespace qzr::palisade {

inline constexpr int kPbkdf2Iterations = 200000;
inline constexpr std::string_view kKeySalt = "qzr/palisade/page-cipher/v1";

// Where the password check lives in the (deciphered) 512-byte header.
inline constexpr size_t kVerifierOffset = 32;       // ZoneStart[0]
inline constexpr size_t kVerifierCopyOffset = 272;  // ZoneEnd[0]
inline constexpr size_t kVerifierSize = 4;

// The operating-system error number reported for a wrong password: its text
// is the runtime string 386, "Invalid Password".
inline constexpr int kInvalidPasswordOsError = 86;

// What the raw header says about the password.
enum class HeaderCheck {
  kMatches,        // deciphers to a valid header carrying this key's verifier
  kWrongPassword,  // deciphers to anything else
  kNotEncrypted,   // the header is readable without deciphering: a plain file
};

class PageCipher final : public UnitCipher {
 public:
  static constexpr size_t kKeySize = 64;  // the two AES-256 keys of XTS

  // The cipher of `password`, or nullptr for an empty password (a file
  // without a password has no cipher) and when libcrypto cannot be loaded.
  // Slow on purpose: one PBKDF2 run.
  static std::unique_ptr<PageCipher> FromPassword(std::string_view password);
  // A cipher with the given XTS key (key 1 then key 2) and verifier; for
  // known-answer tests and tools. nullptr when libcrypto cannot be loaded.
  static std::unique_ptr<PageCipher> FromKey(std::span<const uint8_t, kKeySize> key,
                                             std::array<uint8_t, kVerifierSize> verifier);

  ~PageCipher() override;
  PageCipher(const PageCipher&) = delete;
  PageCipher& operator=(const PageCipher&) = delete;

  // REQUIRES: len is a multiple of kCipherUnit (checks 2286 and 2272).
  void Encrypt(uint8_t* data, size_t len, uint64_t home_offset) const override;
  void Decrypt(uint8_t* data, size_t len, uint64_t home_offset) const override;

  // Writes the verifier into a plain header image of at least 512 bytes.
  // Every header written to an encrypted file must carry it.
  void StampHeader(uint8_t* header) const;

  // Judges the first 512 bytes of a file as read from disk, before any
  // deciphering.
  HeaderCheck CheckHeader(const uint8_t* raw_header) const;

  const std::array<uint8_t, kVerifierSize>& verifier() const { return verifier_; }

 private:
  PageCipher() = default;
  void Transform(uint8_t* data, size_t len, uint64_t home_offset, bool encrypt) const;

  std::array<uint8_t, kKeySize> key_{};
  std::array<uint8_t, kVerifierSize> verifier_{};
};

// Posts the wrong-password error (ERRORCODE 90, FILEERRORCODE 86, FILEERROR
// "Invalid Password") and returns 90, for the open to return.
int PostWrongPassword();

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_CIPHER_H_
