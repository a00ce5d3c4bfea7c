// Collation: string comparison through the collating sequence and digraphs.

#include "runtime/core/string_compare.h"

#include <cstring>

#include "runtime/settings/locale_data.h"

namespace qzr {

Collation::Collation() {
  for (int i = 0; i < 256; ++i) weights_[i] = static_cast<uint8_t>(i);
}

Collation::Collation(const std::array<uint8_t, 256>& weights, bool digraph_on,
                     const std::array<std::array<uint8_t, 3>, 16>& digraphs, int count)
    : weights_(weights) {
  for (int i = 0; i < 256; ++i) {
    if (weights_[i] != i) identity_ = false;
  }
  if (digraph_on) {
    if (count > 16) count = 16;
    for (int i = 0; i < count; ++i) {
      const auto& g = digraphs[i];
      // A digraph expanding to nothing, or to a 0 byte, is ignored: 0 marks
      // "no expansion" in expand_.
      if (g[1] == 0 || g[2] == 0) continue;
      expand_[g[0]] = {g[1], g[2]};
      digraphs_ = true;
    }
    if (digraphs_) identity_ = false;
  }
}

namespace {

inline int Sign(int v) {
  return (v > 0) - (v < 0);
}

// Yields the bytes of a text with its digraph expansions, then spaces.
class Expander {
 public:
  Expander(std::string_view s, const std::array<std::array<uint8_t, 2>, 256>& expand)
      : s_(s), expand_(expand) {}
  bool done() const { return i_ >= s_.size() && !pending_; }
  uint8_t Next() {
    if (pending_) {
      uint8_t c = pending_;
      pending_ = 0;
      return c;
    }
    if (i_ >= s_.size()) return ' ';
    uint8_t c = static_cast<uint8_t>(s_[i_++]);
    if (expand_[c][0] != 0) {
      pending_ = expand_[c][1];
      return expand_[c][0];
    }
    return c;
  }

 private:
  std::string_view s_;
  const std::array<std::array<uint8_t, 2>, 256>& expand_;
  size_t i_ = 0;
  uint8_t pending_ = 0;
};

}  // namespace

int Collation::Compare(std::string_view a, std::string_view b) const {
  if (digraphs_) return CompareWithDigraphs(a, b);
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const auto* pa = reinterpret_cast<const uint8_t*>(a.data());
  const auto* pb = reinterpret_cast<const uint8_t*>(b.data());
  if (identity_) {
    int c = n ? std::memcmp(pa, pb, n) : 0;
    if (c != 0) return Sign(c);
  } else {
    for (size_t i = 0; i < n; ++i) {
      if (pa[i] != pb[i]) {
        int d = weights_[pa[i]] - weights_[pb[i]];
        if (d != 0) return Sign(d);
      }
    }
  }
  // The shorter text goes on as spaces.
  const uint8_t space_weight = weights_[' '];
  if (a.size() > n) {
    for (size_t i = n; i < a.size(); ++i) {
      if (pa[i] != ' ') {
        int d = weights_[pa[i]] - space_weight;
        if (d != 0) return Sign(d);
      }
    }
  } else {
    for (size_t i = n; i < b.size(); ++i) {
      if (pb[i] != ' ') {
        int d = space_weight - weights_[pb[i]];
        if (d != 0) return Sign(d);
      }
    }
  }
  return 0;
}

int Collation::CompareWithDigraphs(std::string_view a, std::string_view b) const {
  Expander ea(a, expand_), eb(b, expand_);
  while (!ea.done() || !eb.done()) {
    uint8_t ca = ea.Next();
    uint8_t cb = eb.Next();
    if (ca == cb) continue;
    int d = weights_[ca] - weights_[cb];
    if (d != 0) return Sign(d);
  }
  return 0;
}

uint64_t Collation::SortPrefix(std::string_view s, bool* whole) const {
  static const std::array<std::array<uint8_t, 2>, 256> kNoExpansion{};
  Expander e(s, digraphs_ ? expand_ : kNoExpansion);
  uint64_t prefix = 0;
  for (int i = 0; i < 8; ++i) prefix = prefix << 8 | weights_[e.Next()];
  const uint8_t space_weight = weights_[' '];
  *whole = true;
  while (!e.done()) {
    if (weights_[e.Next()] != space_weight) {
      *whole = false;
      break;
    }
  }
  return prefix;
}

const Collation& DefaultCollation() {
  static const Collation collation = [] {
    const LocaleData& l = Locale();
    return Collation(l.collating_sequence, l.digraph_on, l.digraphs, l.digraph_count);
  }();
  return collation;
}

int CompareText(std::string_view a, std::string_view b) {
  return DefaultCollation().Compare(a, b);
}

}  // namespace qzr
