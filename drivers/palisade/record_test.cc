#include "drivers/palisade/record.h"

#include <gtest/gtest.h>

#include <set>

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

TEST(RecordTest, ARecordAsReadEncodesToTheSameBytesAsItsCopy) {
  // Pairs of records (prev, rec) where the shared prefix ends in the key,
  // at its end, inside the payload, at the 63-byte bound, and where one
  // record is a prefix of the other; keys and payloads empty or not.
  const std::string long_key(70, 'k');
  const std::string long_payload(90, 'p');
  struct Case {
    std::string prev_key, prev_payload, key, payload;
  } cases[] = {
      {"ab", "XY", "ac", "XY"},
      {"ab", "XY", "abc", "XY"},
      {"abc", "XYZ", "abd", "XYZ"},
      {"a", "bcdef", "ab", "cdeg"},   // shared bytes cross from key into payload
      {"a", "bcdefg", "ab", "cdeh"},  // a longer key inside the shared bytes
      {"a", long_payload, "a" + std::string(40, 'p'),
       std::string(60, 'p') + "q"},              // the bound in both payloads
      {long_key + "1", "", long_key + "2", ""},  // the bound inside the key
      {"", "abc", "a", "bd"},
      {"key", "", "key0", ""},
      {"key01234567", "payload", "key01234568", "payload"},
      {"same_length", "01234567", "same_lengti", "01234567"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + "/" + c.payload);
    const PlxRecord prev = MakeRecord(V(S(c.prev_key)), V(S(c.prev_payload)));
    const PlxRecord rec = MakeRecord(V(S(c.key)), V(S(c.payload)));
    // The views' keys and payloads lie apart, as in a page's read form.
    auto bytes = [](const std::string& text) {
      return std::vector<uint8_t>(text.begin(), text.end());
    };
    const std::vector<uint8_t> prev_key = bytes(c.prev_key), prev_payload = bytes(c.prev_payload);
    const std::vector<uint8_t> key = bytes(c.key), payload = bytes(c.payload);
    const RecordView prev_view{Bytes(prev_key.data(), prev_key.size()),
                               Bytes(prev_payload.data(), prev_payload.size()), 0};
    const RecordView view{Bytes(key.data(), key.size()), Bytes(payload.data(), payload.size()), 0};
    EXPECT_EQ(SharedPrefix(view, prev_view), SharedPrefix(rec, prev));
    for (bool first : {true, false}) {
      std::vector<uint8_t> a(EncodedSize(rec, first ? nullptr : &prev));
      std::vector<uint8_t> b(EncodedSize(view, first ? nullptr : &prev_view));
      ASSERT_EQ(a.size(), b.size());
      ASSERT_EQ(EncodeRecord(rec, first ? nullptr : &prev, a.data()), a.size());
      ASSERT_EQ(EncodeRecord(view, first ? nullptr : &prev_view, b.data()), b.size());
      EXPECT_EQ(a, b);
      // And the bytes decode back to the record.
      std::vector<uint8_t> both = EncodeAll({prev});
      if (!first) both.insert(both.end(), a.begin(), a.end());
      std::vector<PlxRecord> back;
      if (!first) {
        ASSERT_EQ(DecodeRecords(both.data(), both.size(), 2, &back), 0);
        EXPECT_EQ(back[1].bytes, rec.bytes);
        EXPECT_EQ(back[1].KeyLength(), rec.KeyLength());
      }
    }
  }
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

// A kept record serves a length its storage holds when it is filed under
// that length's class or the next (where records made for it are filed); a
// far larger one is left for the records it was made for, so that short keys
// do not use up the storage of rows. A record taken always holds the length
// asked for.
TEST(RecordPoolTest, AKeptRecordServesTheLengthsNearItsRoom) {
  const struct {
    size_t capacity;
    size_t length;
    bool reused;
  } cases[] = {
      {100, 100, true},  // not a power of two: filed under 64..127
      {100, 70, true},  {100, 101, false}, {128, 128, true}, {128, 100, true},
      {128, 20, false}, {16, 0, true},     {16, 13, true},   {2048, 1423, true},
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

// Lists of records move between pages through the pool: a page of many
// records gets a kept list that holds them, and a page of a few gives up a
// much larger list for a kept one of about its size.
TEST(RecordPoolTest, ListsGoToThePagesOfTheirSize) {
  RecordPool pool;
  std::vector<PlxRecord> keys;  // a node that held a page of 1000 keys
  pool.FitList(&keys, 1000);
  ASSERT_GE(keys.capacity(), 1000u);
  const PlxRecord* large = keys.data();

  std::vector<PlxRecord> rows;  // a node that held a page of 20 rows
  pool.FitList(&rows, 20);
  const PlxRecord* small = rows.data();

  // The large list now serves a page of 20 rows: it is kept, and a list of
  // about 20 serves instead.
  pool.FitList(&keys, 20);
  EXPECT_GE(keys.capacity(), 20u);
  EXPECT_NE(keys.data(), large);
  // A page of 900 keys lands on the small list: the large one comes back.
  pool.FitList(&rows, 900);
  EXPECT_EQ(rows.data(), large);
  // And the next page of 30 rows gets the small list kept meanwhile.
  std::vector<PlxRecord> other;
  other.reserve(2000);
  pool.FitList(&other, 30);
  EXPECT_EQ(other.data(), small);
}

// Pages of a file decoded in turn into recycled nodes find their records'
// storage and lists in the pool once it holds what they need: the second
// round of decodes reuses the storage of the first.
TEST(RecordPoolTest, ASecondRoundOfDecodesReusesTheFirstRoundsStorage) {
  auto page = [](size_t count, size_t length) {
    std::vector<PlxRecord> recs;
    for (size_t i = 0; i < count; ++i) {
      PlxRecord r = MakeRecord(4, length - 4);
      r.bytes[0] = static_cast<uint8_t>(i >> 8);
      r.bytes[1] = static_cast<uint8_t>(i);
      r.bytes[length - 1] = static_cast<uint8_t>(i * 7);
      recs.push_back(std::move(r));
    }
    std::vector<uint8_t> out;
    const PlxRecord* prev = nullptr;
    for (const PlxRecord& r : recs) {
      const size_t at = out.size();
      out.resize(at + EncodedSize(r, prev));
      EncodeRecord(r, prev, out.data() + at);
      prev = &r;
    }
    return std::make_pair(out, recs);
  };
  const auto keys = page(600, 13);
  const auto rows = page(12, 1423);
  RecordPool pool;
  std::vector<PlxRecord> a, b;
  auto decode = [&](std::vector<PlxRecord>* node, const auto& p) {
    ASSERT_EQ(DecodeRecordsInto(p.first.data(), p.first.size(), p.second.size(), node, &pool), 0);
    ASSERT_EQ(node->size(), p.second.size());
    for (size_t i = 0; i < node->size(); ++i) ASSERT_EQ((*node)[i].bytes, p.second[i].bytes);
  };
  // A round: node a holds keys, then rows; node b rows, then keys. The first
  // two rounds fill the pool (the second is the first to start from the
  // state every later round starts from); a third finds every record's
  // storage and every list among those made before.
  std::set<const void*> seen;
  enum Mode { kRecord, kCheck };
  auto round = [&](Mode mode) {
    for (int step = 0; step < 4; ++step) {
      std::vector<PlxRecord>* node = step % 2 == 0 ? &a : &b;
      decode(node, (step == 0 || step == 3) ? keys : rows);
      std::vector<const void*> used = {node->data()};
      for (const PlxRecord& r : *node) used.push_back(r.bytes.data());
      for (const void* p : used) {
        if (mode == kRecord) {
          seen.insert(p);
        } else {
          EXPECT_TRUE(seen.count(p)) << "new storage at step " << step;
        }
      }
    }
  };
  round(kRecord);
  round(kRecord);
  round(kCheck);
}

}  // namespace
}  // namespace qzr::palisade
