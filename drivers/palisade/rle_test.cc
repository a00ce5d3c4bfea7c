#include "drivers/palisade/rle.h"

#include <gtest/gtest.h>

#include <random>

#include "drivers/palisade/format.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::B;

TEST(RleTest, EncodesPinnedStreams) {
  struct Case {
    const char* what;
    std::vector<uint8_t> in;
    bool compressed;
    std::vector<uint8_t> out;
  } cases[] = {
      {"no run of four", B({1, 2, 2, 2, 3}), false, {}},
      {"empty input", {}, false, {}},
      {"exactly four", B({7, 7, 7, 7}), true, B({1, 7, 3, 0})},
      {"four after a literal", B({1, 2, 9, 9, 9, 9, 5}), true, B({3, 1, 2, 9, 3, 1, 5})},
      {"short runs join the literal", B({4, 4, 4, 8, 8, 8, 8}), true, B({4, 4, 4, 4, 8, 3, 0})},
      {"two runs", B({0, 0, 0, 0, 0, 1, 1, 1, 1}), true, B({1, 0, 4, 1, 1, 3, 0})},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    EXPECT_EQ(RleEncode(c.in.data(), c.in.size(), &out), c.compressed) << c.what;
    EXPECT_EQ(out, c.out) << c.what;
  }
}

TEST(RleTest, CountsOf128AndMoreTakeTwoBytes) {
  std::vector<uint8_t> in(129, 0xAA);  // repeat count 128
  std::vector<uint8_t> out;
  ASSERT_TRUE(RleEncode(in.data(), in.size(), &out));
  EXPECT_EQ(out, B({1, 0xAA, 0x80, 0x01, 0}));
  std::vector<uint8_t> literal(200);
  for (size_t i = 0; i < literal.size(); ++i) literal[i] = static_cast<uint8_t>(i);
  literal.insert(literal.end(), {5, 5, 5, 5});
  ASSERT_TRUE(RleEncode(literal.data(), literal.size(), &out));
  EXPECT_EQ(out[0], 0xC9);  // 201 = 0x49 | 0x80, then 0x01
  EXPECT_EQ(out[1], 0x01);
}

TEST(RleTest, DecoderStopsWhenFullAndNeverReadsTheTrailingCount) {
  // The final literal count (0) is missing: the output is full before it.
  std::vector<uint8_t> stream = B({1, 7, 3});
  uint8_t out[4];
  EXPECT_EQ(RleDecode(stream.data(), stream.size(), out, 4), 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), B({7, 7, 7, 7}));
}

TEST(RleTest, RoundTripsRandomInput) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> in(rng() % 3000);
    for (size_t i = 0; i < in.size();) {
      size_t run = rng() % 3 == 0 ? rng() % 300 + 1 : 1;
      uint8_t b = static_cast<uint8_t>(rng() % 4);
      for (size_t k = 0; k < run && i < in.size(); ++k) in[i++] = b;
    }
    std::vector<uint8_t> packed;
    if (!RleEncode(in.data(), in.size(), &packed)) continue;
    EXPECT_LE(packed.size(), in.size() + 10);
    std::vector<uint8_t> back(in.size());
    ASSERT_EQ(RleDecode(packed.data(), packed.size(), back.data(), back.size()), 0);
    EXPECT_EQ(back, in);
  }
}

// The encoder as first written, a byte at a time: the stream is pinned to
// it.
bool ByteAtATimeEncode(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) {
  out->clear();
  size_t literal_start = 0;
  bool emitted = false;
  for (size_t p = 0; p < in.size();) {
    size_t q = p + 1;
    while (q < in.size() && in[q] == in[p]) ++q;
    if (q - p >= kMinRun) {
      PutCount(p + 1 - literal_start, out);
      out->insert(out->end(), in.begin() + static_cast<std::ptrdiff_t>(literal_start),
                  in.begin() + static_cast<std::ptrdiff_t>(p + 1));
      PutCount(q - p - 1, out);
      literal_start = q;
      emitted = true;
    }
    p = q;
  }
  if (!emitted) {
    out->clear();
    return false;
  }
  PutCount(in.size() - literal_start, out);
  out->insert(out->end(), in.begin() + static_cast<std::ptrdiff_t>(literal_start), in.end());
  return true;
}

TEST(RleTest, StreamsMatchTheByteAtATimeEncoder) {
  // Runs of every length around four at every offset of an eight-byte
  // word, long runs, and random bytes over small and large alphabets.
  std::mt19937 rng(11);
  std::vector<std::vector<uint8_t>> inputs;
  for (size_t run = 1; run <= 40; ++run) {
    for (size_t at = 0; at < 40; ++at) {
      std::vector<uint8_t> in(at + run + 9);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + 1);
      for (size_t k = 0; k < run; ++k) in[at + k] = 0xEE;
      inputs.push_back(in);
    }
  }
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<uint8_t> in(rng() % 5000);
    const uint32_t alphabet = trial % 2 == 0 ? 3 : 256;
    for (size_t i = 0; i < in.size();) {
      size_t run = rng() % 5 == 0 ? rng() % 2000 + 1 : rng() % 6 + 1;
      uint8_t b = static_cast<uint8_t>(rng() % alphabet);
      for (size_t k = 0; k < run && i < in.size(); ++k) in[i++] = b;
    }
    inputs.push_back(in);
  }
  // Every length of input up to 40 bytes ending in a run of four to six
  // (the scans' last, shorter steps).
  for (size_t len = 4; len <= 40; ++len) {
    for (size_t run = 4; run <= 6 && run <= len; ++run) {
      std::vector<uint8_t> in(len);
      for (size_t i = 0; i < len; ++i) in[i] = static_cast<uint8_t>(i * 37 + 1);
      for (size_t k = len - run; k < len; ++k) in[k] = 0xEE;
      inputs.push_back(in);
    }
  }
  for (const std::vector<uint8_t>& in : inputs) {
    std::vector<uint8_t> expected, out;
    const bool compressed = ByteAtATimeEncode(in, &expected);
    ASSERT_EQ(RleEncode(in.data(), in.size(), &out), compressed) << in.size();
    ASSERT_EQ(out, expected) << in.size();
    // Into storage of the stated bound, exactly: the sanitizer sees a write
    // past it.
    std::vector<uint8_t> raw(RleEncodeBound(in.size()));
    const size_t n = RleEncodeInto(in.data(), in.size(), raw.data());
    ASSERT_EQ(n, expected.size()) << in.size();
    ASSERT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n)),
              expected);
  }
}

// The inputs that make the stream longest for their size: literals too long
// for a two-byte count, each followed by the shortest run, then a long last
// literal. The stream stays within RleEncodeBound.
TEST(RleTest, LongestStreamsStayWithinTheBound) {
  for (size_t literal : {16383, 16384, 20000}) {
    for (int runs : {1, 3, 8}) {
      std::vector<uint8_t> in;
      for (int r = 0; r < runs; ++r) {
        for (size_t i = 0; i < literal; ++i) in.push_back(static_cast<uint8_t>(i % 251 + (i & 1)));
        in.insert(in.end(), 4, 0xEE);
      }
      for (size_t i = 0; i < literal; ++i) in.push_back(static_cast<uint8_t>(i % 251 + (i & 1)));
      std::vector<uint8_t> expected;
      ASSERT_TRUE(ByteAtATimeEncode(in, &expected));
      EXPECT_LE(expected.size(), RleEncodeBound(in.size())) << literal << " " << runs;
      std::vector<uint8_t> raw(RleEncodeBound(in.size()));
      ASSERT_EQ(RleEncodeInto(in.data(), in.size(), raw.data()), expected.size());
      raw.resize(expected.size());
      EXPECT_EQ(raw, expected);
      std::vector<uint8_t> back(in.size());
      ASSERT_EQ(RleDecode(raw.data(), raw.size(), back.data(), back.size()), 0);
      EXPECT_EQ(back, in);
    }
  }
}

TEST(RleTest, DamagedStreamsEndInTheirCheck) {
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    size_t out_len;
    int check;
  } cases[] = {
      {"literal past the output", B({5, 1, 2, 3, 4, 5}), 4, kCheckLiteralOverrun},
      {"literal past the input", B({4, 1, 2}), 4, kCheckLiteralOverrun},
      {"stream ends early", B({1, 9}), 4, kCheckRepeatOverrun},
      {"empty stream", {}, 4, kCheckLiteralOverrun},
      {"repeat past the output", B({1, 9, 9}), 4, kCheckRepeatOverrun},
      {"repeat with nothing written", B({0, 3}), 3, kCheckRepeatOverrun},
      {"count that never ends", B({0x80, 0x80, 0x80, 0x80, 0x80, 0x80}), 4, kCheckLiteralOverrun},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.out_len);
    EXPECT_EQ(RleDecode(c.stream.data(), c.stream.size(), out.data(), out.size()), c.check)
        << c.what;
  }
}

}  // namespace
}  // namespace qzr::palisade
