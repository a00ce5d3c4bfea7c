// Tests of the view position format: the bytes it writes, reading them back,
// what it refuses, and the placement it leaves out to stay within the
// longest position a list row keeps.

#include "data/view_position.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qzr {
namespace {

ViewPosition TwoFiles() {
  ViewPosition p;
  p.records = {0x01020304, 0};
  p.access = 1;
  p.key = 2;
  p.placement = {{3, "AB"}};
  return p;
}

TEST(ViewPositionTest, EncodesTheTaggedLittleEndianLayout) {
  const std::string golden(
      "V\x01\x02\x00"
      "\x04\x03\x02\x01"
      "\x00\x00\x00\x00"
      "\x01\x02"
      "\x01\x00"
      "\x03\x00\x02\x00"
      "AB",
      22);
  EXPECT_EQ(EncodeViewPosition(TwoFiles()), golden);
}

TEST(ViewPositionTest, DecodesWhatItEncodes) {
  const std::string text = EncodeViewPosition(TwoFiles());
  ViewPosition back;
  ASSERT_TRUE(DecodeViewPosition(text, 2, &back));
  EXPECT_EQ(back.records, TwoFiles().records);
  EXPECT_EQ(back.access, 1);
  EXPECT_EQ(back.key, 2);
  ASSERT_EQ(back.placement.size(), 1u);
  EXPECT_EQ(back.placement[0].field, 3);
  EXPECT_EQ(back.placement[0].bytes, "AB");

  std::vector<uint32_t> records;
  ASSERT_TRUE(DecodeViewPositionRecords(text, 2, &records));
  EXPECT_EQ(records, TwoFiles().records);
}

TEST(ViewPositionTest, RefusesWhatIsNotAPositionOfTheView) {
  const std::string good = EncodeViewPosition(TwoFiles());
  ViewPosition out;
  std::vector<uint32_t> records;
  // Every truncation is refused; the records alone decode once complete.
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(DecodeViewPosition(good.substr(0, n), 2, &out)) << n;
    EXPECT_EQ(DecodeViewPositionRecords(good.substr(0, n), 2, &records), n >= 12) << n;
  }
  EXPECT_FALSE(DecodeViewPosition(good, 1, &out));
  EXPECT_FALSE(DecodeViewPosition(good + "x", 2, &out));
  EXPECT_TRUE(DecodeViewPositionRecords(good + "x", 2, &records));
  std::string bad = good;
  bad[0] = 'W';
  EXPECT_FALSE(DecodeViewPosition(bad, 2, &out));
  bad = good;
  bad[1] = 2;
  EXPECT_FALSE(DecodeViewPosition(bad, 2, &out));
  ViewPosition none = TwoFiles();
  none.records[0] = 0;
  EXPECT_FALSE(DecodeViewPosition(EncodeViewPosition(none), 2, &out));
  EXPECT_FALSE(DecodeViewPositionRecords(EncodeViewPosition(none), 2, &records));
}

TEST(ViewPositionTest, PlacementThatWouldNotFitIsLeftOut) {
  const std::string wide(kMaxViewPosition, 'x');
  for (size_t size : {kMaxViewPosition - 20, kMaxViewPosition - 19}) {
    ViewPosition p = TwoFiles();
    p.placement = {{0, std::string_view(wide).substr(0, size)}};
    const std::string text = EncodeViewPosition(p);
    EXPECT_LE(text.size(), kMaxViewPosition);
    ViewPosition back;
    ASSERT_TRUE(DecodeViewPosition(text, 2, &back));
    // Header 4, records 8, access and key 2, count 2, field header 4.
    EXPECT_EQ(back.placement.size(), size + 20 <= kMaxViewPosition ? 1u : 0u) << size;
  }
}

}  // namespace
}  // namespace qzr
