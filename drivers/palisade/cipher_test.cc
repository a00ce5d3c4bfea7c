#include "drivers/palisade/cipher.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"
#include "testing/fatal_guard.h"

namespace qzr::palisade {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::unique_ptr<PageCipher> CountingKeyCipher() {
  std::array<uint8_t, PageCipher::kKeySize> key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
  return PageCipher::FromKey(key, {1, 2, 3, 4});
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

// A plain header image as the header code writes it: size, magic, some zones.
Bytes PlainHeader() {
  Bytes h(512, 0);
  h[4] = 0x00;
  h[5] = 0x02;
  std::memcpy(h.data() + 14, "pAlI", 4);
  h[24] = 9;   // ChangeCount
  h[36] = 1;   // ZoneStart[1]
  h[276] = 3;  // ZoneEnd[1]
  return h;
}

// Known answers computed outside this code with another binding of the same
// library: AES-256-XTS, tweak = offset as 64-bit little-endian, one 64-byte
// data unit each.
TEST(PageCipherTest, MatchesKnownAnswers) {
  auto cipher = CountingKeyCipher();
  Bytes two_units = Pattern(64);
  const Bytes plain = Pattern(64);
  two_units.insert(two_units.end(), plain.begin(), plain.end());
  cipher->Encrypt(two_units.data(), two_units.size(), 512);
  EXPECT_EQ(Bytes(two_units.begin(), two_units.begin() + 64),
            FromHex("dfc57d151cc231d465de53a758b5e26b993b977a1dc8f0de80303f33460e203d"
                    "ab3436cb1f57cb27b8ca7b6248ef283a010a6ab6fdf7c020f2242eb6c0edb512"));
  // The second unit of a transfer is enciphered for offset + 64.
  EXPECT_EQ(Bytes(two_units.begin() + 64, two_units.end()),
            FromHex("bf248704d7b76c4d2b09db2577d802e42c3dfae6768a32ffe33a102847f1651a"
                    "b4736ba1e493c8f10c39f70b8630d3292de0d62b950d3a3e63e05715c2516a0b"));
}

// Pins the key derivation (PBKDF2-HMAC-SHA256, 200000 rounds, the fixed salt,
// then the labelled HMAC expansion): files written today must open tomorrow.
TEST(PageCipherTest, PasswordDerivationIsStable) {
  auto cipher = PageCipher::FromPassword("secret");
  ASSERT_NE(cipher, nullptr);
  Bytes zeros(64, 0);
  cipher->Encrypt(zeros.data(), zeros.size(), 512);
  EXPECT_EQ(zeros, FromHex("05a44c0421d09ccc2c2326330864e08ab8270208c458528feacc17fc791fe441"
                           "51ff0621c4d0abbe7337fbb25b39b99d5da7a642a0aadcc564e455bf15b6c843"));
  EXPECT_EQ(cipher->verifier(), (std::array<uint8_t, 4>{0x9b, 0x46, 0x63, 0xda}));
  EXPECT_EQ(PageCipher::FromPassword(""), nullptr);
}

TEST(PageCipherTest, RoundTripsEveryUnitCount) {
  auto cipher = CountingKeyCipher();
  std::mt19937 rng(3);
  for (size_t units : {0, 1, 2, 4, 59 * 4}) {
    Bytes data(units * kCipherUnit);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const Bytes original = data;
    const uint64_t offset = 512 + 256 * (rng() % 1000);
    cipher->Encrypt(data.data(), data.size(), offset);
    if (units > 0) {
      EXPECT_NE(data, original);
    }
    cipher->Decrypt(data.data(), data.size(), offset);
    EXPECT_EQ(data, original) << units;
  }
}

TEST(PageCipherTest, TweakTiesAUnitToItsOffset) {
  auto cipher = CountingKeyCipher();
  Bytes at_512 = Pattern(64), at_768 = Pattern(64), high = Pattern(64);
  cipher->Encrypt(at_512.data(), 64, 512);
  cipher->Encrypt(at_768.data(), 64, 768);
  cipher->Encrypt(high.data(), 64, 512 + (uint64_t{1} << 32));
  EXPECT_NE(at_512, at_768);
  EXPECT_NE(at_512, high);  // the tweak carries all 64 bits of the offset
  // Deciphered for the wrong offset, a unit is noise.
  cipher->Decrypt(at_768.data(), 64, 512);
  EXPECT_NE(at_768, Pattern(64));
}

TEST(PageCipherTest, PartialUnitsAreRefused) {
  auto cipher = CountingKeyCipher();
  Bytes data(100);
  EXPECT_FATAL(cipher->Encrypt(data.data(), data.size(), 0), kDataCorruption);
  EXPECT_FATAL(cipher->Decrypt(data.data(), data.size(), 0), kDataCorruption);
}

TEST(PageCipherTest, HeaderCheckTellsRightWrongAndPlain) {
  auto right = PageCipher::FromPassword("right horse");
  auto wrong = PageCipher::FromPassword("wrong horse");
  ASSERT_TRUE(right && wrong);

  // Given a header written by the right password's cipher...
  Bytes header = PlainHeader();
  right->StampHeader(header.data());
  EXPECT_EQ(std::memcmp(header.data() + 32, header.data() + 272, 4), 0);  // zone 0 stays empty
  Bytes raw = header;
  right->Encrypt(raw.data(), raw.size(), 0);

  // ...only that password opens it.
  EXPECT_EQ(right->CheckHeader(raw.data()), HeaderCheck::kMatches);
  EXPECT_EQ(wrong->CheckHeader(raw.data()), HeaderCheck::kWrongPassword);
  // A plain file opened with a password is recognised as such.
  EXPECT_EQ(right->CheckHeader(PlainHeader().data()), HeaderCheck::kNotEncrypted);

  // An enciphered header without the verifier (or with a damaged copy of it)
  // is not accepted, though its magic deciphers right.
  Bytes unstamped = PlainHeader();
  right->Encrypt(unstamped.data(), unstamped.size(), 0);
  EXPECT_EQ(right->CheckHeader(unstamped.data()), HeaderCheck::kWrongPassword);
  Bytes damaged = header;
  damaged[272] ^= 1;
  right->Encrypt(damaged.data(), damaged.size(), 0);
  EXPECT_EQ(right->CheckHeader(damaged.data()), HeaderCheck::kWrongPassword);
}

TEST(PageCipherTest, WrongPasswordIsReportedAsInvalidPassword) {
  ClearError();
  EXPECT_EQ(PostWrongPassword(), 90);
  EXPECT_EQ(ERRORCODE(), 90);
  EXPECT_EQ(FILEERRORCODE(), "86");
  EXPECT_EQ(FILEERROR(), "Invalid Password");
  ClearError();
}

}  // namespace
}  // namespace qzr::palisade
