// The 512-byte Palisade file header (PlxHeader): its fields, encoding, zone
// arithmetic and the identifier counter.
//
// This is the header as a value: decoding validates the magic and the zone
// table; the zone queries answer which size class an address belongs to and
// where the file ends. Loading it from a file and committing it belong to
// the Pager. A value type; safe to copy and to use from any thread that owns
// the copy.

#ifndef QZR_DRIVERS_PALISADE_HEADER_H_
#define QZR_DRIVERS_PALISADE_HEADER_H_

#include <cstdint>
#include <string>

#include "drivers/palisade/format.h"

namespace qzr::palisade {

// CommittedEnd and WorkingEnd are equal in a consistent file. While an
// update is in progress the header at offset 0 is a mark: its zones are
// still the committed ones, CommittedEnd is where the shadow area begins and
// WorkingEnd where it ends (pager.h).
struct PlxHeader {
  uint32_t HomeOffset = 0;
  uint16_t HeaderSize = kHeaderSizeValue;
  uint32_t CommittedEnd = kHeaderBytes;
  uint32_t WorkingEnd = kHeaderBytes;
  uint16_t Reserved = 0;
  uint8_t LastIssued[4] = {0, 0, 0, 0};  // big-endian
  uint32_t ChangeCount = 0;
  uint32_t RootPage = 0;
  uint32_t ZoneStart[kZoneCount] = {};
  uint32_t ZoneEnd[kZoneCount] = {};

  // A header for an empty file: the magic, no pages, both ends at 512.
  static PlxHeader Fresh() { return PlxHeader(); }

  void Encode(uint8_t out[kHeaderBytes]) const;

  // Decodes 512 bytes. Returns false when the magic is not "pAlI" or the zone
  // table is not well formed (ZonesValid). The header is filled either way.
  static bool Decode(const uint8_t in[kHeaderBytes], PlxHeader* out);

  // True iff for every zone i in 1..59: ZoneStart[i] <= ZoneEnd[i], the zone
  // holds a whole number of pages of class i, ZoneEnd[i] <= ZoneStart[i+1],
  // every address stays below kMaxAddress; and, when any page exists, the
  // root is the address of one. On failure `why` (when given) says what.
  bool ZonesValid(std::string* why = nullptr) const;

  // The size class (1..59) of the page at `address`, or 0 when the address
  // is not the start of a page in any zone (negative addresses included).
  int ClassOf(int64_t address) const;

  // Pages in zone i.
  uint32_t PagesIn(int i) const { return (ZoneEnd[i] - ZoneStart[i]) / static_cast<uint32_t>(i); }
  bool ZoneEmpty(int i) const { return ZoneStart[i] == ZoneEnd[i]; }
  // True iff no zone holds a page.
  bool NoPages() const { return HighestZone() == 0; }
  // The highest zone holding a page, 0 when none.
  int HighestZone() const;
  // ZoneEnd of the highest non-empty zone * 256 + 512; 512 without pages.
  uint32_t ComputedEnd() const;

  uint32_t LastIssuedValue() const { return LoadBigU32(LastIssued); }
  // Advances LastIssued by one, big-endian with carry from the last byte to
  // the first, and returns the new value. Returns false, changing nothing,
  // when the new value would reach kIssueLimit (0xFE000000).
  bool Issue(uint32_t* id);
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_HEADER_H_
