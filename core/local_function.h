// A small pseudo-Boolean function over at most 32 local variables, used by both reductions to
// examine one term of the big function together with the terms around it.
//
// Local variable k is bit count-1-k of a mask, so vars[0] is the most significant bit in use; an
// assignment of the local variables is a number below 2^count read the same way. The value at an
// assignment y is `constant` plus the coefficients of all entries whose mask lies within y.
//
// Neither the order of `entries` nor which variable gets which bit can change a result of either
// reduction, so each gatherer picks the order that is cheapest for it. Every use sums entries
// (wrapping, so in any order), unites their masks, counts them, or takes extremes over all
// assignments, which a renaming of the variables only permutes; the configurations themselves
// are numbered by the term's own id order, whatever the bits. The one order-dependent step, the
// greedy climb of the dominance proof, only decides whether a cheap proof succeeds, never what
// the search returns.
//
// Both reductions keep one LocalFunction for all the terms they visit: Clear keeps the storage of
// `taken` and `entries`, so once they have grown a term costs no allocation.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "parity_tables.h"
#include "pbf.h"
#include "pbf_limits.h"

namespace pbf {

struct LocalEntry {
  uint32_t mask = 0;
  int32_t coef = 0;
};

struct LocalFunction {
  std::array<int32_t, kMaxLocalVariables> vars{};
  int32_t constant = 0;
  int32_t count = 0;
  std::vector<LocalEntry> entries;
  // The terms gathered from the big function before ResolveTakenTerms turns them into entries:
  // a term is taken once for each of its variables that the gathering meets. The exact
  // reduction's gathering keeps here only the terms it may meet twice in one list.
  std::vector<Occurrence> taken;
  // The exact reduction's gathering: the local index of every variable of the big function, -1
  // for those not gathered (all of them between two gatherings), grown to cover the largest id.
  std::vector<int8_t> local_index;
  int32_t min_start = kLargest;
  int32_t max_start = kSmallest;

  struct Extremes {
    int32_t largest;
    int32_t smallest;
  };

  // Empties the function for the next term, keeping the storage.
  void Clear() {
    constant = 0;
    count = 0;
    entries.clear();
    taken.clear();
  }

  // Appends the taken terms to `entries` sorted by degree, then index, each once, as its mask
  // mask_of(ids, degree) and its current coefficient; leaves `taken` sorted and without repeats.
  template <typename MaskOf>
  void ResolveTakenTerms(const TermStore& terms, MaskOf mask_of);

  // The largest and smallest value over all 2^count assignments; count <= kMaxFreeVariables.
  Extremes MinMax() const;

  // Approximate reduction: among the assignments of the target parity (odd when `odd` is set) of
  // a function filled by PBF::GatherSubterms, the first one with the greatest value, or -1 when
  // none beats max_start. `parity` must cover `count` bits.
  int32_t FindBestAssignment(bool odd, const ParityTables& parity) const;
};

template <typename MaskOf>
void LocalFunction::ResolveTakenTerms(const TermStore& terms, MaskOf mask_of) {
  // Degree and index are both non-negative, so one 64-bit key orders them.
  const auto key = [](const Occurrence& o) {
    return uint64_t{static_cast<uint32_t>(o.degree)} << 32 | static_cast<uint32_t>(o.index);
  };
  std::sort(taken.begin(), taken.end(),
            [&key](const Occurrence& a, const Occurrence& b) { return key(a) < key(b); });
  taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
  for (const Occurrence& occ : taken) {
    const TermTable& table = terms.Table(occ.degree);
    entries.push_back({mask_of(table.Ids(occ.index), occ.degree), table.Coef(occ.index)});
  }
}

}  // namespace pbf
