// String comparison through the collating sequence, and integer comparison.
//
// Two texts are compared as if the shorter one were continued with spaces,
// so trailing spaces never matter. Equal bytes are skipped; at a pair of
// different bytes their weights in the 256-entry collating table decide.
// Bytes of different weight decide the order; bytes of equal weight (a
// table that folds case gives 'a' and 'A' one weight) do not, and the
// comparison goes on to the next pair, so the result never depends on which
// of two equally weighted bytes happened to come first.
//
// Digraphs, when on: each digraph is three bytes c, x, y and makes the
// single byte c collate as the two bytes x y (a ligature or a letter that
// sorts as two letters). Both texts are expanded on the fly and the
// expansions compared as above.
//
// Collation objects are immutable after construction; DefaultCollation() is
// built once from the process locale and is safe from any thread.

#ifndef QZR_RUNTIME_STRING_COMPARE_H_
#define QZR_RUNTIME_STRING_COMPARE_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace qzr {

class Collation {
 public:
  // The identity order, no digraphs.
  Collation();
  // `weights`: 256 entries. `digraphs`: `count` entries of three bytes
  // (count at most 16; only counted when `digraph_on`).
  Collation(const std::array<uint8_t, 256>& weights, bool digraph_on,
            const std::array<std::array<uint8_t, 3>, 16>& digraphs, int count);

  // Negative, zero or positive as a sorts before, with or after b.
  int Compare(std::string_view a, std::string_view b) const;

  bool identity() const { return identity_; }

  // The first eight weights of `s` as Compare sees them (digraphs expanded,
  // then the space's weight past the end), the first in the top byte: when
  // two prefixes differ they order the texts as Compare does. *whole: every
  // weight after those eight is the space's, so texts whose prefixes are
  // equal and both whole compare equal. A sort compares the prefixes first.
  uint64_t SortPrefix(std::string_view s, bool* whole) const;

 private:
  int CompareWithDigraphs(std::string_view a, std::string_view b) const;

  std::array<uint8_t, 256> weights_;
  bool identity_ = true;  // identity weights and no digraphs: plain bytes
  // Expansion of each byte: expand_[c][0] is 0 when c has none.
  std::array<std::array<uint8_t, 2>, 256> expand_{};
  bool digraphs_ = false;
};

// The collation of the process locale (its collating sequence and digraphs).
const Collation& DefaultCollation();

// -1, 0 or 1 through DefaultCollation().
int CompareText(std::string_view a, std::string_view b);

// -1, 0 or 1 from the signed values.
inline int CompareLongs(int32_t a, int32_t b) {
  return (a > b) - (a < b);
}

}  // namespace qzr

#endif  // QZR_RUNTIME_STRING_COMPARE_H_
