// AES-256-XTS page cipher over libcrypto, its key derivation and password
// check. Key material is immutable after construction and wiped on
// destruction; any thread may use a cipher. libcrypto is reached through
// CryptoLibrary(), loaded when the first cipher is made: a cipher exists
// only when the library is there.

#include "drivers/palisade/cipher.h"

#include <string.h>  // explicit_bzero

#include <cstring>
#include <memory>

#include "drivers/palisade/crypto_library.h"
#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

constexpr size_t kHeaderBytes = 512;
constexpr size_t kMagicOffset = 14;
constexpr uint8_t kMagic[4] = {'p', 'A', 'l', 'I'};

// Corruption checks shared with the block layer: a transfer that is not a
// whole number of units.
constexpr int kCheckWriteNotUnits = 2286;
constexpr int kCheckReadNotUnits = 2272;

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { CryptoLibrary()->cipher_ctx_free(c); }
};

// Wipes key material; the compiler may not drop it as a dead store.
void Wipe(void* data, size_t len) {
  explicit_bzero(data, len);
}

// libcrypto fails here only when it cannot allocate; carrying on would write
// plain or half-enciphered units, so the process stops instead.
[[noreturn]] void CipherFailure() {
  Fatal(8, "page cipher");
}

// HMAC-SHA256(secret, label): one labelled 32-byte piece of the key material.
void Expand(const CryptoFunctions& crypto, const uint8_t* secret, size_t secret_len,
            const char* label, uint8_t out[32]) {
  unsigned int len = 0;
  if (!crypto.hmac(crypto.sha256(), secret, static_cast<int>(secret_len),
                   reinterpret_cast<const unsigned char*>(label), std::strlen(label), out, &len) ||
      len != 32) {
    CipherFailure();
  }
}

}  // namespace

std::unique_ptr<PageCipher> PageCipher::FromPassword(std::string_view password) {
  if (password.empty()) return nullptr;
  const CryptoFunctions* crypto = CryptoLibrary();
  if (crypto == nullptr) return nullptr;
  uint8_t master[32];
  if (!crypto->pbkdf2_hmac(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(kKeySalt.data()),
                           static_cast<int>(kKeySalt.size()), kPbkdf2Iterations, crypto->sha256(),
                           sizeof master, master)) {
    CipherFailure();
  }
  std::unique_ptr<PageCipher> cipher(new PageCipher);
  uint8_t check[32];
  Expand(*crypto, master, sizeof master, "xts key 1", cipher->key_.data());
  Expand(*crypto, master, sizeof master, "xts key 2", cipher->key_.data() + 32);
  Expand(*crypto, master, sizeof master, "password check", check);
  std::memcpy(cipher->verifier_.data(), check, kVerifierSize);
  Wipe(master, sizeof master);
  Wipe(check, sizeof check);
  return cipher;
}

std::unique_ptr<PageCipher> PageCipher::FromKey(std::span<const uint8_t, kKeySize> key,
                                                std::array<uint8_t, kVerifierSize> verifier) {
  if (CryptoLibrary() == nullptr) return nullptr;
  std::unique_ptr<PageCipher> cipher(new PageCipher);
  std::memcpy(cipher->key_.data(), key.data(), kKeySize);
  cipher->verifier_ = verifier;
  return cipher;
}

PageCipher::~PageCipher() {
  Wipe(key_.data(), key_.size());
  Wipe(verifier_.data(), verifier_.size());
}

void PageCipher::Encrypt(uint8_t* data, size_t len, uint64_t home_offset) const {
  Transform(data, len, home_offset, true);
}

void PageCipher::Decrypt(uint8_t* data, size_t len, uint64_t home_offset) const {
  Transform(data, len, home_offset, false);
}

void PageCipher::Transform(uint8_t* data, size_t len, uint64_t home_offset, bool encrypt) const {
  if (len % kCipherUnit != 0) Corruption(encrypt ? kCheckWriteNotUnits : kCheckReadNotUnits);
  if (len == 0) return;
  // Loaded when this cipher was made.
  const CryptoFunctions& crypto = *CryptoLibrary();
  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(crypto.cipher_ctx_new());
  const int enc = encrypt ? 1 : 0;
  // The key schedule is set once per call; each unit only changes the tweak.
  if (!ctx ||
      !crypto.cipher_init_ex(ctx.get(), crypto.aes_256_xts(), nullptr, key_.data(), nullptr, enc)) {
    CipherFailure();
  }
  for (size_t done = 0; done < len; done += kCipherUnit) {
    uint8_t tweak[16] = {};
    const uint64_t offset = home_offset + done;
    for (int i = 0; i < 8; ++i) tweak[i] = static_cast<uint8_t>(offset >> (8 * i));
    int out_len = 0;
    if (!crypto.cipher_init_ex(ctx.get(), nullptr, nullptr, nullptr, tweak, enc) ||
        !crypto.cipher_update(ctx.get(), data + done, &out_len, data + done,
                              static_cast<int>(kCipherUnit)) ||
        out_len != static_cast<int>(kCipherUnit)) {
      CipherFailure();
    }
  }
}

void PageCipher::StampHeader(uint8_t* header) const {
  std::memcpy(header + kVerifierOffset, verifier_.data(), kVerifierSize);
  std::memcpy(header + kVerifierCopyOffset, verifier_.data(), kVerifierSize);
}

HeaderCheck PageCipher::CheckHeader(const uint8_t* raw_header) const {
  if (std::memcmp(raw_header + kMagicOffset, kMagic, sizeof kMagic) == 0) {
    return HeaderCheck::kNotEncrypted;
  }
  uint8_t plain[kHeaderBytes];
  std::memcpy(plain, raw_header, kHeaderBytes);
  Decrypt(plain, kHeaderBytes, 0);
  const bool ok = std::memcmp(plain + kMagicOffset, kMagic, sizeof kMagic) == 0 &&
                  std::memcmp(plain + kVerifierOffset, verifier_.data(), kVerifierSize) == 0 &&
                  std::memcmp(plain + kVerifierCopyOffset, verifier_.data(), kVerifierSize) == 0;
  Wipe(plain, sizeof plain);
  return ok ? HeaderCheck::kMatches : HeaderCheck::kWrongPassword;
}

int PostWrongPassword() {
  PostOsError(kInvalidPasswordOsError);
  return kFileSystemError;
}

}  // namespace qzr::palisade
