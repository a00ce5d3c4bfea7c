// libcrypto loaded on first use: one dlopen, a handful of dlsym.

#include "drivers/palisade/crypto_library.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace qzr::palisade {
namespace {

std::atomic<long> calls{0};

// Resolves `name` into *fn; false when the library lacks it.
template <typename Fn>
bool Resolve(void* library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(dlsym(library, name));
  return *fn != nullptr;
}

const CryptoFunctions* Load() {
  // The library stays loaded until the process ends: ciphers made from it
  // may live as long.
  void* library = dlopen(QZR_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  static CryptoFunctions f;
  const bool ok = Resolve(library, "EVP_CIPHER_CTX_new", &f.cipher_ctx_new) &&
                  Resolve(library, "EVP_CIPHER_CTX_free", &f.cipher_ctx_free) &&
                  Resolve(library, "EVP_CipherInit_ex", &f.cipher_init_ex) &&
                  Resolve(library, "EVP_CipherUpdate", &f.cipher_update) &&
                  Resolve(library, "EVP_aes_256_xts", &f.aes_256_xts) &&
                  Resolve(library, "EVP_sha256", &f.sha256) && Resolve(library, "HMAC", &f.hmac) &&
                  Resolve(library, "PKCS5_PBKDF2_HMAC", &f.pbkdf2_hmac);
  return ok ? &f : nullptr;
}

}  // namespace

const CryptoFunctions* CryptoLibrary() {
  calls.fetch_add(1, std::memory_order_relaxed);
  static std::once_flag once;
  static const CryptoFunctions* functions = nullptr;
  std::call_once(once, [] { functions = Load(); });
  return functions;
}

long CryptoLibraryCalls() {
  return calls.load();
}

}  // namespace qzr::palisade
