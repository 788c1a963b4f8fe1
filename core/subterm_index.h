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

  // For every subset s (1 ... 2^d - 1, u_k at bit d-1-k) of the ids of `term` (distinct,
  // ascending, d <= kMaxApproxDegree): found[s] = Find on the ids that s selects, in their order
  // (a term of degree popcount(s)). found[0] is not written. Cheaper than 2^d - 1 calls of Find:
  // the subsets' hashes share their prefixes, and all the lookups' memory reads are started
  // before the first one is needed.
  void FindSubsets(TermRef term, int32_t* found);

 private:
  void Insert(int32_t degree, int32_t index);
  void Grow();
  // The slot holding the term of these ids with this hash, starting the probe at `slot`; -1.
  int32_t Probe(size_t slot, uint64_t hash, int32_t degree, const int32_t* ids) const;

  const TermStore& store_;
  // Per slot 0 when empty, else the term: its index in bits 0-31, its degree in bits 32-36 and
  // the top bits of its hash above, which tell most other terms apart without reading its ids.
  std::vector<uint64_t> slots_;
  size_t used_ = 0;
  std::array<int32_t, kMaxApproxDegree + 1> indexed_{};  // per degree, the terms taken in so far
  bool exact_ = true;
  // FindSubsets' scratch, per subset: the hash of its ids before their number is mixed in, then
  // its full hash; the first slot that may hold it.
  std::vector<uint64_t> prefix_;
  std::vector<size_t> candidate_;
};

// PBF::AddIndicator with every term it adds to found through `index` instead of the occurrence
// lists. The index must be exact and caught up, and `term`'s ids distinct (then the supersets
// added in one call are distinct id lists, so a term appended by the call is never looked up
// again within it).
void AddIndicatorIndexed(PBF& f, TermRef term, int32_t s, int32_t amount,
                         const SubtermIndex& index);

// PBF::AddIndicator with the term of each superset i of s already known: found[i] is its index in
// the table of degree popcount(i), or -1 when it does not exist (as SubtermIndex::FindSubsets
// leaves it, the store unchanged since). `term`'s ids must be distinct.
void AddIndicatorFound(PBF& f, TermRef term, int32_t s, int32_t amount, const int32_t* found);

}  // namespace pbf
