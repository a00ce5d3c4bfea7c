// The part of libcrypto the page cipher uses, loaded when a cipher is first
// made rather than when the program starts.
//
// Most runs never open an encrypted file, and linking libcrypto would make
// every start of the program map and relocate the whole library. Instead
// CryptoLibrary() opens it with dlopen on first use and resolves the few
// functions the cipher calls; later calls return the same table. When the
// library or one of its functions is missing, it returns nullptr (and keeps
// returning it): the caller refuses the password-protected open instead of
// reading or writing the file without its cipher.
//
// CryptoLibraryCalls() counts the calls of CryptoLibrary(), so that a test
// can tell that opening and using a plain file never asked for the library.
//
// Threads: the first call loads under a once-flag; the table is immutable
// afterwards and any thread may use it.

#ifndef QZR_DRIVERS_PALISADE_CRYPTO_LIBRARY_H_
#define QZR_DRIVERS_PALISADE_CRYPTO_LIBRARY_H_

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace qzr::palisade {

struct CryptoFunctions {
  decltype(&::EVP_CIPHER_CTX_new) cipher_ctx_new;
  decltype(&::EVP_CIPHER_CTX_free) cipher_ctx_free;
  decltype(&::EVP_CipherInit_ex) cipher_init_ex;
  decltype(&::EVP_CipherUpdate) cipher_update;
  decltype(&::EVP_aes_256_xts) aes_256_xts;
  decltype(&::EVP_sha256) sha256;
  decltype(&::HMAC) hmac;
  decltype(&::PKCS5_PBKDF2_HMAC) pbkdf2_hmac;
};

// The loaded functions, or nullptr when libcrypto cannot be loaded.
const CryptoFunctions* CryptoLibrary();

// How many times CryptoLibrary() was called in this process.
long CryptoLibraryCalls();

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_CRYPTO_LIBRARY_H_
