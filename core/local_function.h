// A small pseudo-Boolean function over at most 32 local variables, used by both reductions to
// examine one term of the big function together with the terms around it.
//
// Local variable k is bit count-1-k of a mask, so vars[0] is the most significant bit in use; an
// assignment of the local variables is a number below 2^count read the same way. The value at an
// assignment y is `constant` plus the coefficients of all entries whose mask lies within y.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "pbf.h"
#include "pbf_limits.h"

namespace pbf {

struct LocalEntry {
  uint32_t mask = 0;
  int32_t coef = 0;
};

// While a neighbourhood is gathered, its entries hold the taken terms as (degree, index) in
// (mask, coef); a term is taken once for each of its variables that the scan meets. This sorts
// them by degree, then index (both non-negative, so one 64-bit key orders them), drops the repeats
// and turns each into its mask, mask_of(ids, degree), and its current coefficient.
template <typename MaskOf>
void ResolveTakenTerms(const TermStore& terms, std::vector<LocalEntry>& taken, MaskOf mask_of) {
  const auto key = [](const LocalEntry& e) {
    return uint64_t{e.mask} << 32 | static_cast<uint32_t>(e.coef);
  };
  const auto less = [&](const LocalEntry& a, const LocalEntry& b) { return key(a) < key(b); };
  const auto same = [&](const LocalEntry& a, const LocalEntry& b) { return key(a) == key(b); };
  std::sort(taken.begin(), taken.end(), less);
  taken.erase(std::unique(taken.begin(), taken.end(), same), taken.end());
  for (LocalEntry& entry : taken) {
    const TermTable& table = terms.Table(static_cast<int32_t>(entry.mask));
    const int32_t index = entry.coef;
    entry = {mask_of(table.Ids(index), table.degree), table.Coef(index)};
  }
}

struct LocalFunction {
  std::array<int32_t, kMaxLocalVariables> vars{};
  int32_t constant = 0;
  int32_t count = 0;
  std::vector<LocalEntry> entries;
  int32_t min_start = kLargest;
  int32_t max_start = kSmallest;

  struct Extremes {
    int32_t largest;
    int32_t smallest;
  };

  // Empties the function for the next term, keeping the entries' storage.
  void Clear() {
    constant = 0;
    count = 0;
    entries.clear();
  }

  // The largest and smallest value over all 2^count assignments; count <= 16.
  Extremes MinMax() const;

  // Exact reduction: for the function built by PBF::BuildNeighbourhood around `term`, a
  // configuration of the term's variables that is strictly worse than another one, preferring the
  // target parity (odd when `odd` is set). Returns -1 when there is none. When the
  // configuration comes from outside the target parity, `amount` is negated.
  int32_t FindDominatedConfiguration(TermRef term, bool odd, int32_t& amount) const;

  // Approximate reduction: among the assignments of the target parity (odd when `odd` is set) of
  // a function filled by PBF::GatherSubterms, the first one with the greatest value, or -1.
  int32_t FindBestAssignment(bool odd) const;
};

}  // namespace pbf
