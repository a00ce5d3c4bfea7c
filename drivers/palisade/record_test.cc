#include "drivers/palisade/record.h"

#include <gtest/gtest.h>

#include "drivers/palisade/format.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::B;
using test::CheckNumberOf;
using test::S;
using test::V;

std::vector<uint8_t> EncodeAll(const std::vector<PlxRecord>& records) {
  std::vector<uint8_t> out;
  const PlxRecord* prev = nullptr;
  for (const PlxRecord& r : records) {
    size_t at = out.size();
    out.resize(at + EncodedSize(r, prev));
    EXPECT_EQ(EncodeRecord(r, prev, out.data() + at), out.size() - at);
    prev = &r;
  }
  return out;
}

TEST(RecordTest, EncodesPinnedBytes) {
  // First record: flags 0xC0, both lengths, all bytes.
  PlxRecord a = MakeRecord(V(S("ab")), V(S("XY")));
  EXPECT_EQ(EncodeAll({a}), B({0xC0, 4, 0, 2, 0, 'a', 'b', 'X', 'Y'}));
  // Same lengths, two shared bytes: the flag byte is the shared count only.
  PlxRecord b = MakeRecord(V(S("ac")), V(S("XY")));
  EXPECT_EQ(EncodeAll({a, b}), B({0xC0, 4, 0, 2, 0, 'a', 'b', 'X', 'Y', 0x01, 'c', 'X', 'Y'}));
  // A different length sets 0x80, a different key length 0x40.
  PlxRecord c = MakeRecord(V(S("abc")), V(S("XY")));
  EXPECT_EQ(EncodeAll({a, c}),
            B({0xC0, 4, 0, 2, 0, 'a', 'b', 'X', 'Y', 0xC2, 5, 0, 3, 0, 'c', 'X', 'Y'}));
}

TEST(RecordTest, SharesAtMost63Bytes) {
  std::vector<uint8_t> key1(70, 'k'), key2(70, 'k');
  key1.back() = '1';
  key2.back() = '2';
  PlxRecord a = MakeRecord(V(key1), Bytes());
  PlxRecord b = MakeRecord(V(key2), Bytes());
  std::vector<uint8_t> bytes = EncodeAll({a, b});
  ASSERT_EQ(bytes.size(), 75u + 1 + 7);
  EXPECT_EQ(bytes[75], 0x3F);
  std::vector<PlxRecord> back;
  ASSERT_EQ(DecodeRecords(bytes.data(), bytes.size(), 2, &back), 0);
  EXPECT_EQ(back[1].bytes, b.bytes);
}

TEST(RecordTest, DecodesWhatItEncodes) {
  std::vector<PlxRecord> records;
  for (int i = 0; i < 50; ++i) {
    std::string key = "key" + std::to_string(1000 + i * 7);
    records.push_back(MakeRecord(V(S(key)), V(std::vector<uint8_t>(i % 5 * 10, uint8_t(i)))));
  }
  std::vector<uint8_t> bytes = EncodeAll(records);
  std::vector<PlxRecord> back;
  ASSERT_EQ(DecodeRecords(bytes.data(), bytes.size(), records.size(), &back), 0);
  ASSERT_EQ(back.size(), records.size());
  for (size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(back[i].bytes, records[i].bytes);
    EXPECT_EQ(back[i].KeyLength(), records[i].KeyLength());
  }
}

TEST(RecordTest, DamagedRecordsEndInTheirCheck) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t count;
    int check;
  } cases[] = {
      {"first record without lengths", B({0x00, 'a'}), 1, kCheckParseLength},
      {"shares with nothing", B({0xC1, 1, 0, 1, 0, 'a'}), 1, kCheckParseLength},
      {"key longer than record", B({0xC0, 1, 0, 2, 0, 'a'}), 1, kCheckParseLength},
      {"bytes run out", B({0xC0, 3, 0, 3, 0, 'a'}), 1, kCheckParseLength},
      {"lengths run out", B({0xC0, 3}), 1, kCheckParseLength},
      {"trailing bytes", B({0xC0, 1, 0, 1, 0, 'a', 0}), 1, kCheckParseLength},
      {"too few bytes for count", B({0xC0, 1, 0, 1, 0, 'a'}), 2, kCheckParseLength},
      {"keys not ascending", B({0xC0, 1, 0, 1, 0, 'b', 0x00, 'a'}), 2, kCheckParseLength},
      {"equal keys", B({0xC0, 1, 0, 1, 0, 'b', 0x01}), 2, kCheckParseLength},
      {"shares more than previous", B({0xC0, 1, 0, 1, 0, 'b', 0x82, 3, 0, 'c'}), 2,
       kCheckParseLength},
      {"record too long", B({0xC0, 0xF6, 0x3A, 0, 0}), 1, kCheckRecordTooLong},
  };
  for (const Case& c : cases) {
    std::vector<PlxRecord> out;
    EXPECT_EQ(DecodeRecords(c.bytes.data(), c.bytes.size(), c.count, &out), c.check) << c.what;
  }
}

TEST(RecordTest, MakeRecordEnforcesTheLimits) {
  EXPECT_EQ(CheckNumberOf([] { MakeRecord(9, kMaxRecordLength - 9); }), 0);
  EXPECT_EQ(CheckNumberOf([] { MakeRecord(9, kMaxRecordLength - 8); }), kCheckRecordTooLong);
  EXPECT_EQ(CheckNumberOf([] { MakeRecord(0, kRecordLengthBound); }), kCheckRecordTooLong);
  EXPECT_EQ(CheckNumberOf([] { MakeRecord(kMaxKeyLength, 0); }), 0);
  EXPECT_EQ(CheckNumberOf([] { MakeRecord(kMaxKeyLength + 1, 0); }), kCheckRecordTooLong);
}

TEST(RecordTest, KeysCompareBytewiseShorterPrefixFirst) {
  EXPECT_LT(CompareKeys(V(S("ab")), V(S("abc"))), 0);
  EXPECT_GT(CompareKeys(V(B({0x80})), V(B({0x7F, 0xFF}))), 0);
  EXPECT_EQ(CompareKeys(Bytes(), Bytes()), 0);
  EXPECT_LT(CompareKeys(Bytes(), V(B({0}))), 0);
}

// A kept record serves any length its storage holds, whatever the class it
// is filed under; a record taken always holds the length asked for.
TEST(RecordPoolTest, AKeptRecordServesEveryLengthItHolds) {
  const struct {
    size_t capacity;
    size_t length;
    bool reused;
  } cases[] = {
      {100, 100, true},  // not a power of two: filed under 64..127
      {100, 70, true},  {100, 101, false}, {128, 128, true}, {128, 20, true}, {16, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.capacity) + " for " + std::to_string(c.length));
    RecordPool pool;
    PlxRecord kept;
    kept.bytes.reserve(c.capacity);
    const uint8_t* storage = kept.bytes.data();
    pool.Give(std::move(kept));
    ASSERT_EQ(pool.size(), 1u);
    PlxRecord taken = pool.Take(c.length);
    EXPECT_GE(taken.bytes.capacity(), c.length);
    EXPECT_EQ(taken.bytes.data() == storage, c.reused);
  }
}

}  // namespace
}  // namespace qzr::palisade
