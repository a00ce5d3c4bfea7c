// Encoding and zone arithmetic of the Palisade file header.

#include "drivers/palisade/header.h"

#include <cstring>

namespace qzr::palisade {

void PlxHeader::Encode(uint8_t out[kHeaderBytes]) const {
  std::memset(out, 0, kHeaderBytes);
  StoreU32(out + kHdrHomeOffset, HomeOffset);
  StoreU16(out + kHdrHeaderSize, HeaderSize);
  StoreU32(out + kHdrCommittedEnd, CommittedEnd);
  StoreU32(out + kHdrWorkingEnd, WorkingEnd);
  std::memcpy(out + kHdrMagic, kMagic, 4);
  StoreU16(out + kHdrReserved, Reserved);
  std::memcpy(out + kHdrLastIssued, LastIssued, 4);
  StoreU32(out + kHdrChangeCount, ChangeCount);
  StoreU32(out + kHdrRootPage, RootPage);
  for (int i = 0; i < kZoneCount; ++i) {
    StoreU32(out + kHdrZoneStart + 4 * i, ZoneStart[i]);
    StoreU32(out + kHdrZoneEnd + 4 * i, ZoneEnd[i]);
  }
}

bool PlxHeader::Decode(const uint8_t in[kHeaderBytes], PlxHeader* out) {
  out->HomeOffset = LoadU32(in + kHdrHomeOffset);
  out->HeaderSize = LoadU16(in + kHdrHeaderSize);
  out->CommittedEnd = LoadU32(in + kHdrCommittedEnd);
  out->WorkingEnd = LoadU32(in + kHdrWorkingEnd);
  out->Reserved = LoadU16(in + kHdrReserved);
  std::memcpy(out->LastIssued, in + kHdrLastIssued, 4);
  out->ChangeCount = LoadU32(in + kHdrChangeCount);
  out->RootPage = LoadU32(in + kHdrRootPage);
  for (int i = 0; i < kZoneCount; ++i) {
    out->ZoneStart[i] = LoadU32(in + kHdrZoneStart + 4 * i);
    out->ZoneEnd[i] = LoadU32(in + kHdrZoneEnd + 4 * i);
  }
  if (std::memcmp(in + kHdrMagic, kMagic, 4) != 0) return false;
  return out->ZonesValid();
}

bool PlxHeader::ZonesValid(std::string* why) const {
  // Checked at every operation bracket of a shared file: the reason is
  // written out only when there is one.
  auto fail = [why](int zone, const char* text, int other = 0) {
    if (why != nullptr) {
      *why = "zone " + std::to_string(zone) + text;
      if (other != 0) *why += std::to_string(other);
    }
    return false;
  };
  for (int i = 1; i <= kMaxClass; ++i) {
    if (ZoneStart[i] > ZoneEnd[i]) return fail(i, " ends before it starts");
    if ((ZoneEnd[i] - ZoneStart[i]) % static_cast<uint32_t>(i) != 0) {
      return fail(i, " does not hold whole pages");
    }
    if (ZoneEnd[i] > kMaxAddress) return fail(i, " lies beyond the addressable file");
    if (i < kMaxClass && ZoneEnd[i] > ZoneStart[i + 1]) {
      return fail(i, " overlaps zone ", i + 1);
    }
  }
  if (!NoPages() && ClassOf(RootPage) == 0) {
    if (why != nullptr) *why = "the root page lies in no zone";
    return false;
  }
  return true;
}

int PlxHeader::ClassOf(int64_t address) const {
  if (address < 0) return 0;
  for (int i = 1; i <= kMaxClass; ++i) {
    if (address < ZoneStart[i]) return 0;  // zones ascend: no later zone holds it
    if (address < ZoneEnd[i]) {
      return (address - ZoneStart[i]) % i == 0 ? i : 0;
    }
  }
  return 0;
}

int PlxHeader::HighestZone() const {
  for (int i = kMaxClass; i >= 1; --i) {
    if (!ZoneEmpty(i)) return i;
  }
  return 0;
}

uint32_t PlxHeader::ComputedEnd() const {
  int k = HighestZone();
  if (k == 0) return kHeaderBytes;
  return static_cast<uint32_t>(PageOffset(ZoneEnd[k]));
}

bool PlxHeader::Issue(uint32_t* id) {
  uint8_t next[4];
  std::memcpy(next, LastIssued, 4);
  for (int i = 3; i >= 0; --i) {
    if (++next[i] != 0) break;  // no carry into the byte before
  }
  uint32_t value = LoadBigU32(next);
  // A wrap to zero is past the limit as well.
  if (value >= kIssueLimit || value == 0) return false;
  std::memcpy(LastIssued, next, 4);
  *id = value;
  return true;
}

}  // namespace qzr::palisade
