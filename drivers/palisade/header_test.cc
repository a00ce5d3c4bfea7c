#include "drivers/palisade/header.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qzr::palisade {
namespace {

TEST(PlxHeaderTest, EncodesGoldenBytes) {
  PlxHeader h = PlxHeader::Fresh();
  h.CommittedEnd = 0x00001234;
  h.WorkingEnd = 0x00005678;
  h.LastIssued[3] = 0x2A;
  h.ChangeCount = 0x01020304;
  h.RootPage = 3;
  h.ZoneStart[1] = 0;
  h.ZoneEnd[1] = 3;
  h.ZoneStart[2] = 3;
  h.ZoneEnd[2] = 7;
  for (int i = 3; i < kZoneCount; ++i) h.ZoneStart[i] = h.ZoneEnd[i] = 7;
  uint8_t b[kHeaderBytes];
  h.Encode(b);
  const uint8_t expected_head[] = {
      0x00, 0x00, 0x00, 0x00,  // HomeOffset
      0x00, 0x02,              // HeaderSize 0x200
      0x34, 0x12, 0x00, 0x00,  // CommittedEnd
      0x78, 0x56, 0x00, 0x00,  // WorkingEnd
      'p',  'A',  'l',  'I',   // magic
      0x00, 0x00,              // reserved
      0x00, 0x00, 0x00, 0x2A,  // LastIssued, big-endian
      0x04, 0x03, 0x02, 0x01,  // ChangeCount
      0x03, 0x00, 0x00, 0x00,  // RootPage
      0x00, 0x00, 0x00, 0x00,  // ZoneStart[0]
      0x00, 0x00, 0x00, 0x00,  // ZoneStart[1]
      0x03, 0x00, 0x00, 0x00,  // ZoneStart[2]
  };
  EXPECT_EQ(0, std::memcmp(b, expected_head, sizeof expected_head));
  EXPECT_EQ(b[272 + 4], 3);  // ZoneEnd[1]
  EXPECT_EQ(b[272 + 8], 7);  // ZoneEnd[2]
  EXPECT_EQ(b[511], 0);
  PlxHeader back;
  ASSERT_TRUE(PlxHeader::Decode(b, &back));
  EXPECT_EQ(back.ChangeCount, h.ChangeCount);
  EXPECT_EQ(back.LastIssuedValue(), 0x2Au);
  EXPECT_EQ(back.ZoneEnd[2], 7u);
}

TEST(PlxHeaderTest, RefusesForeignMagicAndBrokenZones) {
  uint8_t b[kHeaderBytes];
  PlxHeader::Fresh().Encode(b);
  PlxHeader h;
  EXPECT_TRUE(PlxHeader::Decode(b, &h));
  b[kHdrMagic] = 'P';
  EXPECT_FALSE(PlxHeader::Decode(b, &h));

  struct Case {
    const char* what;
    int zone;
    uint32_t start, end;
  } cases[] = {
      {"end before start", 3, 9, 6},
      {"partial page", 3, 0, 4},
      {"overlaps next zone", 58, 0, 58 * 2},
  };
  for (const Case& c : cases) {
    PlxHeader z = PlxHeader::Fresh();
    z.ZoneStart[c.zone] = c.start;
    z.ZoneEnd[c.zone] = c.end;
    if (c.zone == 58) z.ZoneStart[59] = z.ZoneEnd[59] = 10;
    for (int i = c.zone + 1; i < kZoneCount && c.zone != 58; ++i) {
      z.ZoneStart[i] = z.ZoneEnd[i] = std::max(c.start, c.end);
    }
    EXPECT_FALSE(z.ZonesValid()) << c.what;
  }
}

TEST(PlxHeaderTest, ClassOfFollowsTheZones) {
  PlxHeader h = PlxHeader::Fresh();
  h.ZoneStart[1] = 0;
  h.ZoneEnd[1] = 2;
  h.ZoneStart[3] = 4;
  h.ZoneEnd[3] = 10;
  for (int i = 4; i < kZoneCount; ++i) h.ZoneStart[i] = h.ZoneEnd[i] = 10;
  h.ZoneStart[2] = h.ZoneEnd[2] = 2;
  struct Case {
    int64_t address;
    int size_class;
  } cases[] = {{0, 1}, {1, 1}, {2, 0}, {3, 0}, {4, 3}, {5, 0}, {7, 3}, {10, 0}, {-1, 0}};
  for (const Case& c : cases) EXPECT_EQ(h.ClassOf(c.address), c.size_class) << c.address;
  EXPECT_EQ(h.HighestZone(), 3);
  EXPECT_EQ(h.ComputedEnd(), 10u * 256 + 512);
  EXPECT_EQ(PlxHeader::Fresh().ComputedEnd(), 512u);
}

TEST(PlxHeaderTest, IssueCarriesBigEndianAndStopsAtTheLimit) {
  struct Case {
    uint8_t before[4];
    bool ok;
    uint8_t after[4];
  } cases[] = {
      {{0, 0, 0, 0}, true, {0, 0, 0, 1}},
      {{0, 0, 0, 0xFF}, true, {0, 0, 1, 0}},
      {{0, 0xFF, 0xFF, 0xFF}, true, {1, 0, 0, 0}},
      {{0xFD, 0xFF, 0xFF, 0xFE}, true, {0xFD, 0xFF, 0xFF, 0xFF}},
      {{0xFD, 0xFF, 0xFF, 0xFF}, false, {0xFD, 0xFF, 0xFF, 0xFF}},
      {{0xFF, 0xFF, 0xFF, 0xFF}, false, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    PlxHeader h;
    std::memcpy(h.LastIssued, c.before, 4);
    uint32_t id = 0;
    EXPECT_EQ(h.Issue(&id), c.ok);
    EXPECT_EQ(0, std::memcmp(h.LastIssued, c.after, 4));
    if (c.ok) {
      EXPECT_EQ(id, h.LastIssuedValue());
    }
  }
}

}  // namespace
}  // namespace qzr::palisade
