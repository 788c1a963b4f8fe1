// An index of a store's terms by their ids, for the approximate reduction.
//
// The sub-terms of a term T are found by scanning the occurrence lists of T's variables, which
// costs the length of those lists for every T: quadratic on a variable shared by many terms, and
// slow once the rewrites of a reduction have lengthened every list (each rewrite leaves its
// cancelled terms listed until the final compaction). With this index, a T of degree d with
// distinct ascending ids finds them by looking up its 2^d - 1 subsets instead.
//
// That finds exactly the terms the scan takes as long as every stored term of degree 30 or less
// lists its ids strictly ascending: for such terms the scan's test takes exactly those whose ids
// are a subset of T's. Exact() tells whether this holds for every term indexed so far.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pbf.h"
#include "pbf_limits.h"

namespace pbf {

class SubtermIndex {
 public:
  explicit SubtermIndex(const TermStore& store) : store_(store) { CatchUp(); }

  // Takes in the terms appended to the store since the last call (terms never move or vanish
  // before the final compaction). Does nothing once the index is not exact.
  void CatchUp();

  bool Exact() const { return exact_; }

  // The index of the term of this degree (1 ... kMaxApproxDegree) with exactly these ids, or -1.
  int32_t Find(int32_t degree, const int32_t* ids) const;

 private:
  void Insert(int32_t degree, int32_t index);
  void Grow();

  const TermStore& store_;
  std::vector<uint64_t> slots_;  // 0 when empty, else (degree << 32 | index) + 1
  size_t used_ = 0;
  std::array<int32_t, kMaxApproxDegree + 1> indexed_{};  // per degree, the terms taken in so far
  bool exact_ = true;
};

// PBF::AddIndicator with every term it adds to found through `index` instead of the occurrence
// lists. The index must be exact and caught up, and `term`'s ids distinct (then the supersets
// added in one call are distinct id lists, so a term appended by the call is never looked up
// again within it).
void AddIndicatorIndexed(PBF& f, TermRef term, int32_t s, int32_t amount,
                         const SubtermIndex& index);

}  // namespace pbf
