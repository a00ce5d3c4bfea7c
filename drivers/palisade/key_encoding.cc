// The sortable key encoding: one routine per storage form, and the key-entry
// records built from the values. Pure functions; safe from any thread.

#include "drivers/palisade/key_encoding.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/fatal.h"
#include "runtime/settings/locale_data.h"

namespace qzr::palisade {
namespace {

void Invert(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
}

void CopyReversed(const uint8_t* src, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) out[i] = src[n - 1 - i];
}

// The nibble at position k (0 = high nibble of byte 0).
uint8_t Nibble(const uint8_t* p, size_t k) {
  return (k % 2 == 0) ? static_cast<uint8_t>(p[k / 2] >> 4) : static_cast<uint8_t>(p[k / 2] & 0x0F);
}
void SetNibble(uint8_t* p, size_t k, uint8_t v) {
  if (k % 2 == 0) {
    p[k / 2] = static_cast<uint8_t>((p[k / 2] & 0x0F) | (v << 4));
  } else {
    p[k / 2] = static_cast<uint8_t>((p[k / 2] & 0xF0) | (v & 0x0F));
  }
}

// A real whose bytes (already most significant first) are -0.0 becomes 0.0:
// the two compare equal, so a unique key must not tell them apart.
void NormaliseNegativeZero(uint8_t* p, size_t n) {
  if (p[0] != 0x80) return;
  for (size_t i = 1; i < n; ++i) {
    if (p[i] != 0) return;
  }
  p[0] = 0;
}

// The real rule on bytes already in most-significant-first order: a negative
// value toggles the inversion, a positive one gets its sign bit set, so all
// negatives sort below all positives and larger magnitudes move outwards.
void SortableReal(uint8_t* out, size_t n, bool* invert) {
  NormaliseNegativeZero(out, n);
  if (out[0] & 0x80) {
    *invert = !*invert;
  } else {
    out[0] |= 0x80;
  }
}

// The decimal rule on DECIMAL-layout bytes (sign nibble first): the sign
// nibble is cleared and, for a negative value, the inversion toggled; then
// the top bit of the first byte is flipped so positives sort above
// negatives. A zero with a sign (F0 00 .. or the clear value's 8 nibble on an
// all-zero field) is taken as positive zero: it equals 0.
void SortableDecimal(uint8_t* out, size_t n, bool* invert) {
  bool negative = (out[0] & 0xF0) != 0;
  if (negative) {
    bool all_zero = (out[0] & 0x0F) == 0;
    for (size_t i = 1; i < n && all_zero; ++i) all_zero = out[i] == 0;
    out[0] &= 0x0F;
    if (!all_zero) *invert = !*invert;
  }
  out[0] ^= 0x80;
}

// Undoes SortableDecimal on bytes whose descending inversion was already
// undone; writes DECIMAL-layout bytes (negative sign nibble F).
void UnsortDecimal(uint8_t* p, size_t n) {
  if (p[0] & 0x80) {
    p[0] ^= 0x80;
  } else {
    Invert(p, n);
    p[0] ^= 0x80;
    p[0] |= 0xF0;
  }
}

// PDECIMAL (digits first, sign in the last nibble) into the DECIMAL layout
// (sign nibble first, then the digits): the same 2n nibbles rotated by one.
// Hex D in the sign nibble is negative; anything else reads as positive.
void PDecimalToDecimal(const uint8_t* src, size_t n, uint8_t* out) {
  const size_t nibbles = 2 * n;
  const bool negative = Nibble(src, nibbles - 1) == 0x0D;
  SetNibble(out, 0, negative ? 0x0F : 0x00);
  for (size_t k = 1; k < nibbles; ++k) SetNibble(out, k, Nibble(src, k - 1));
}
void DecimalToPDecimal(const uint8_t* src, size_t n, uint8_t* out) {
  const size_t nibbles = 2 * n;
  const bool negative = Nibble(src, 0) != 0;
  for (size_t k = 1; k < nibbles; ++k) SetNibble(out, k - 1, Nibble(src, k));
  SetNibble(out, nibbles - 1, negative ? 0x0D : 0x0F);
}

// BFLOAT (exponent in the last byte, sign in the top bit of the byte below,
// mantissa in the rest, little-endian) as an integer laid out sign, exponent,
// mantissa from the top bit down: the layout the real rule sorts. An exponent
// of 0 is 0.0 whatever the other bits hold, so it becomes the single zero.
uint64_t BFloatBits(const uint8_t* src, size_t n) {
  const uint8_t exponent = src[n - 1];
  if (exponent == 0) return 0;
  const uint64_t sign = src[n - 2] >> 7;
  uint64_t mantissa = src[n - 2] & 0x7F;
  for (size_t i = n - 2; i-- > 0;) mantissa = (mantissa << 8) | src[i];
  const unsigned mantissa_bits = static_cast<unsigned>(n * 8 - 9);
  return (sign << (n * 8 - 1)) | (uint64_t{exponent} << mantissa_bits) | mantissa;
}
void BFloatFromBits(uint64_t bits, size_t n, uint8_t* out) {
  const unsigned mantissa_bits = static_cast<unsigned>(n * 8 - 9);
  const uint8_t exponent = static_cast<uint8_t>(bits >> mantissa_bits);
  const uint8_t sign = static_cast<uint8_t>((bits >> (n * 8 - 1)) & 1);
  uint64_t mantissa = bits & ((uint64_t{1} << mantissa_bits) - 1);
  for (size_t i = 0; i + 2 < n; ++i) {
    out[i] = static_cast<uint8_t>(mantissa);
    mantissa >>= 8;
  }
  out[n - 2] = static_cast<uint8_t>((sign << 7) | (mantissa & 0x7F));
  out[n - 1] = exponent;
}
bool IsBFloat(const KeyComponentLayout& c) {
  return (c.type == TypeCode::BFLOAT4 && c.size == 4) ||
         (c.type == TypeCode::BFLOAT8 && c.size == 8);
}

void CheckFits(const KeyComponentLayout& c, size_t record_size) {
  if (uint64_t{c.offset} + c.size > record_size) Corruption(kCheckKeyOutsideRecord);
}

void EncodeComponent(const KeyComponentLayout& c, bool nocase, const KeyCollation& collation,
                     const uint8_t* src, uint8_t* out) {
  const size_t n = c.size;
  if (n == 0) return;
  bool invert = c.descending;
  switch (c.type) {
    case TypeCode::STRING:
    case TypeCode::GROUP:
      std::memcpy(out, src, n);
      break;
    case TypeCode::CSTRING: {
      const void* zero = std::memchr(src, 0, n);
      const size_t len = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - src) : n;
      std::memcpy(out, src, len);
      std::memset(out + len, 0, n - len);
      break;
    }
    case TypeCode::PSTRING: {
      // A length byte larger than the field holds (a damaged or foreign
      // buffer) is cut to the n - 1 characters the field can carry, so the
      // copy never reads past the field.
      const size_t len = std::min<size_t>(src[0], n - 1);
      std::memcpy(out, src + 1, len);
      std::memset(out + len, 0, n - len);
      break;
    }
    case TypeCode::USHORT:
    case TypeCode::ULONG:
    case TypeCode::DATE:
    case TypeCode::TIME:
      CopyReversed(src, n, out);
      break;
    case TypeCode::SHORT:
    case TypeCode::LONG:
      CopyReversed(src, n, out);
      out[0] ^= 0x80;
      break;
    case TypeCode::SREAL:
    case TypeCode::REAL:
      CopyReversed(src, n, out);
      SortableReal(out, n, &invert);
      break;
    case TypeCode::DECIMAL:
      std::memcpy(out, src, n);
      SortableDecimal(out, n, &invert);
      break;
    case TypeCode::PDECIMAL:
      // Stored digits-first with a trailing sign, a PDECIMAL copied as it
      // stands would sort negatives by magnitude among the positives; moved
      // into the DECIMAL layout it sorts by value.
      PDecimalToDecimal(src, n, out);
      SortableDecimal(out, n, &invert);
      break;
    case TypeCode::BFLOAT4:
    case TypeCode::BFLOAT8:
      // The exponent lies in the last byte, so the stored bytes do not sort;
      // rearranged as sign, exponent, mantissa they sort as a real does.
      if (IsBFloat(c)) {
        const uint64_t bits = BFloatBits(src, n);
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * (n - 1 - i)));
        SortableReal(out, n, &invert);
      } else {
        std::memcpy(out, src, n);
      }
      break;
    default:
      std::memcpy(out, src, n);
      break;
  }
  if (IsTextType(c.type)) {
    if (nocase) {
      for (size_t i = 0; i < n; ++i) out[i] = collation.upper[out[i]];
    }
    for (size_t i = 0; i < n; ++i) out[i] = collation.weight[out[i]];
  }
  if (invert) Invert(out, n);
}

}  // namespace

KeyCollation KeyCollation::Identity() {
  KeyCollation c;
  for (int b = 0; b < 256; ++b) {
    c.weight[b] = static_cast<uint8_t>(b);
    c.upper[b] = static_cast<uint8_t>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
  }
  return c;
}

KeyCollation CollationFromLocale(const LocaleData& locale) {
  KeyCollation c;
  for (int b = 0; b < 256; ++b) {
    c.weight[b] = locale.collating_sequence[b];
    // Only a lower-case letter with a partner folds; a byte without a
    // partner (0 in the table) keeps itself.
    const bool lower = (locale.char_class[b] & 2) != 0 && locale.upper[b] != 0;
    c.upper[b] = lower ? locale.upper[b] : static_cast<uint8_t>(b);
  }
  return c;
}

KeyCollation OemCollation(const KeyCollation& ansi, const std::array<uint8_t, 256>& oem_to_ansi,
                          const std::array<uint8_t, 256>& ansi_to_oem) {
  KeyCollation c;
  for (int b = 0; b < 256; ++b) {
    c.upper[b] = ansi_to_oem[ansi.upper[oem_to_ansi[b]]];
    c.weight[b] = ansi.weight[oem_to_ansi[b]];
  }
  return c;
}

int KeyLayoutFromDescriptor(const FileDescriptor& file, size_t key_index, KeyLayout* layout,
                            std::string* attribute) {
  const KeyDesc& key = file.keys.at(key_index);
  layout->flags = key.flags;
  layout->components.clear();
  for (const KeyComponent& c : key.components) {
    if (c.field < 0 || static_cast<size_t>(c.field) >= file.fields.size()) {
      if (attribute) *attribute = "FIELD";
      return 47;
    }
    const FieldDesc& field = file.fields[static_cast<size_t>(c.field)];
    layout->components.push_back({field.type, field.offset, field.size, c.descending});
  }
  return 0;
}

size_t KeyValueSize(const KeyLayout& layout) {
  size_t total = 0;
  for (const KeyComponentLayout& c : layout.components) total += c.size;
  return total;
}

int CheckKeyLayout(const KeyLayout& layout, size_t record_length, std::string* attribute,
                   std::string* message) {
  auto refuse = [&](const char* text) {
    if (attribute) *attribute = "SIZE";
    if (message) *message = text;
    return 47;
  };
  if (KeyValueSize(layout) > kMaxKeyValueSize) return refuse(kKeyTooLongMessage);
  for (const KeyComponentLayout& c : layout.components) {
    if (uint64_t{c.offset} + c.size > record_length) {
      return refuse("Component does not match physical file structure");
    }
  }
  return 0;
}

bool IsEmptyKey(const KeyLayout& layout, std::span<const uint8_t> record) {
  for (const KeyComponentLayout& c : layout.components) {
    CheckFits(c, record.size());
    if (c.size == 0) continue;
    const uint8_t* p = record.data() + c.offset;
    switch (c.type) {
      case TypeCode::STRING:
      case TypeCode::GROUP:
        if (!std::all_of(p, p + c.size, [](uint8_t b) { return b == ' '; })) return false;
        break;
      case TypeCode::CSTRING:
      case TypeCode::PSTRING:
        if (p[0] != 0) return false;
        break;
      default:
        if (!std::all_of(p, p + c.size, [](uint8_t b) { return b == 0; })) return false;
        break;
    }
  }
  return true;
}

void EncodeKeyValue(const KeyLayout& layout, const KeyCollation& collation,
                    std::span<const uint8_t> record, uint8_t* out) {
  for (const KeyComponentLayout& c : layout.components) {
    CheckFits(c, record.size());
    EncodeComponent(c, layout.nocase(), collation, record.data() + c.offset, out);
    out += c.size;
  }
}

std::vector<uint8_t> EncodeKeyValue(const KeyLayout& layout, const KeyCollation& collation,
                                    std::span<const uint8_t> record) {
  std::vector<uint8_t> out(KeyValueSize(layout));
  EncodeKeyValue(layout, collation, record, out.data());
  return out;
}

bool DecodeComponent(const KeyComponentLayout& c, const uint8_t* encoded, uint8_t* field) {
  if (IsTextType(c.type)) return false;
  const size_t n = c.size;
  if (n == 0) return true;
  std::vector<uint8_t> x(encoded, encoded + n);
  // The descending encoding is the ascending one inverted byte by byte.
  if (c.descending) Invert(x.data(), n);
  switch (c.type) {
    case TypeCode::USHORT:
    case TypeCode::ULONG:
    case TypeCode::DATE:
    case TypeCode::TIME:
      CopyReversed(x.data(), n, field);
      break;
    case TypeCode::SHORT:
    case TypeCode::LONG:
      x[0] ^= 0x80;
      CopyReversed(x.data(), n, field);
      break;
    case TypeCode::SREAL:
    case TypeCode::REAL:
      if (x[0] & 0x80) {
        x[0] &= 0x7F;
      } else {
        Invert(x.data(), n);
      }
      CopyReversed(x.data(), n, field);
      break;
    case TypeCode::DECIMAL:
      UnsortDecimal(x.data(), n);
      std::memcpy(field, x.data(), n);
      break;
    case TypeCode::PDECIMAL:
      UnsortDecimal(x.data(), n);
      DecimalToPDecimal(x.data(), n, field);
      break;
    case TypeCode::BFLOAT4:
    case TypeCode::BFLOAT8:
      if (IsBFloat(c)) {
        if (x[0] & 0x80) {
          x[0] &= 0x7F;
        } else {
          Invert(x.data(), n);
        }
        uint64_t bits = 0;
        for (size_t i = 0; i < n; ++i) bits = (bits << 8) | x[i];
        if (bits == 0) {
          std::memset(field, 0, n);
        } else {
          BFloatFromBits(bits, n, field);
        }
      } else {
        std::memcpy(field, x.data(), n);
      }
      break;
    default:
      std::memcpy(field, x.data(), n);
      break;
  }
  return true;
}

std::optional<KeyEntry> MakeKeyEntry(uint32_t table, uint8_t key_number, const KeyLayout& layout,
                                     const KeyCollation& collation, std::span<const uint8_t> record,
                                     uint32_t row) {
  if (layout.opt() && IsEmptyKey(layout, record)) return std::nullopt;
  const size_t value_size = KeyValueSize(layout);
  // A value beyond the limit would overflow the record's 16-bit key length.
  if (value_size > kMaxKeyValueSize) Corruption(kCheckKeyOutsideRecord);
  KeyEntry entry;
  entry.bytes.resize(kKeyEntryHeadSize + value_size + kRowNumberSize);
  uint8_t* p = entry.bytes.data();
  PutBigEndian32(p, table);
  p[4] = key_number;
  EncodeKeyValue(layout, collation, record, p + kKeyEntryHeadSize);
  PutBigEndian32(p + kKeyEntryHeadSize + value_size, row);
  entry.key_length =
      static_cast<uint16_t>(kKeyEntryHeadSize + value_size + (layout.dup() ? kRowNumberSize : 0));
  return entry;
}

bool KeyMaintainedForRow(uint16_t flags, uint32_t build_mark, uint32_t row) {
  if (flags & kKeyNotMaintained) return false;
  if ((flags & kKeyBuildMark) && row - 1u >= build_mark - 1u) return false;
  return true;
}

KeyChange PlanKeyChange(uint32_t table, uint8_t key_number, const KeyLayout& layout,
                        const KeyCollation& collation, std::span<const uint8_t> old_image,
                        std::span<const uint8_t> new_image, uint32_t row, uint32_t build_mark) {
  KeyChange change;
  if (!KeyMaintainedForRow(layout.flags, build_mark, row)) return change;
  if (!old_image.empty()) {
    change.remove = MakeKeyEntry(table, key_number, layout, collation, old_image, row);
  }
  if (!new_image.empty()) {
    change.insert = MakeKeyEntry(table, key_number, layout, collation, new_image, row);
  }
  if (change.remove && change.insert) {
    const KeyEntry& a = *change.remove;
    const KeyEntry& b = *change.insert;
    if (std::equal(a.bytes.begin(), a.bytes.begin() + a.key_length, b.bytes.begin(),
                   b.bytes.begin() + b.key_length)) {
      change.remove.reset();
      change.insert.reset();
    }
  }
  return change;
}

uint32_t KeyEntryRow(std::span<const uint8_t> entry) {
  if (entry.size() < kKeyEntryHeadSize + kRowNumberSize) Corruption(kCheckKeyOutsideRecord);
  return GetBigEndian32(entry.data() + entry.size() - kRowNumberSize);
}

}  // namespace qzr::palisade
