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
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <vector>

#include "pbf.h"
#include "pbf_limits.h"

namespace pbf {

class SubtermIndex {
 public:
  // `expected_terms`: how many terms of degree 2 and more the store is expected to hold by the
  // time the index is done with. The buckets are first made large enough for them, so that they
  // are refilled fewer times as the store grows; when that much memory is not to be had, they
  // start at the size the stored terms need.
  explicit SubtermIndex(const TermStore& store, size_t expected_terms = 0)
      : store_(store), expected_(expected_terms) {
    CatchUp();
  }

  // Takes in the terms appended to the store since the last call (terms never move or vanish
  // before the final compaction). Does nothing once the index is not exact.
  void CatchUp();

  bool Exact() const { return exact_; }

  // The index of the term of this degree (1 ... kMaxApproxDegree) with exactly these ids, or -1.
  int32_t Find(int32_t degree, const int32_t* ids) const;

  // For every subset s (1 ... 2^d - 1, u_k at bit d-1-k) of the ids of `term` (distinct,
  // ascending, d <= kMaxApproxDegree): found[s] = Find on the ids that s selects, in their order
  // (a term of degree popcount(s)). found[0] is not written. Cheaper than 2^d - 1 calls of Find:
  // the subsets' hashes share their prefixes, the subsets that begin with the same two ids share
  // one bucket, and all the buckets are requested before the first one is read. Afterwards
  // Degrees()[s] holds popcount(s) for every s < 2^d. A term known to be stored, at `stored_at`
  // in the table of degree d, answers its own subset (s = 2^d - 1) without a lookup: the
  // reduction's terms are, and for degree 3 that is a quarter of the lookups.
  void FindSubsets(TermRef term, int32_t* found, int32_t stored_at = -1);
  const uint8_t* Degrees() const { return degree_.data(); }

  // Requests the buckets that FindSubsets will read for a term with these ids (as FindSubsets
  // wants them), so that a term's misses can overlap the work on the one before it. Only a hint:
  // the answers of FindSubsets do not depend on it.
  void Prefetch(TermRef term) const;

  // Takes in, without reading them back from the store, terms that are subsets of the term last
  // passed to FindSubsets, as they are appended: their hashes are known from there. The index
  // must be caught up and exact. ReserveSubsets makes room for `count` of them and for the unary
  // terms of `term`'s ids (it may grow the index, and fail); then TakeInSubset(s, index), for the
  // term just appended at `index` to the table of degree popcount(s) with the ids that s
  // selects, cannot fail. The index stays caught up.
  void ReserveSubsets(TermRef term, size_t count);
  void TakeInSubset(uint32_t s, int32_t index);

 private:
  // 8 slots of 8 bytes, one cache line; a full bucket passes on to its partner, the other half
  // of the aligned 128 bytes, which the hardware tends to fetch with it.
  static constexpr int kSlots = 8;
  struct alignas(64) Bucket {
    uint64_t slots[kSlots];
  };

  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  void Insert(int32_t degree, int32_t index);
  void InsertHashed(size_t bucket, uint64_t entry, uint64_t hash);
  // Doubles the buckets (or more, to hold `terms` of degree 2 and more at half load, or
  // `hoped` when that much memory is to be had) and takes in every indexed term again, from the
  // tables.
  void Grow(size_t terms, size_t hoped = 0);
  void GrowSpill();
  // The index of the term of these ids with this hash (degree >= 2), whose first two ids lead to
  // `bucket`: its slots, its partner's while it is full, then the spill when it has spilled; -1.
  int32_t Lookup(size_t bucket, uint64_t hash, int32_t degree, const int32_t* ids) const;
  bool Spilled(size_t bucket) const { return (spilled_[bucket >> 6] >> (bucket & 63)) & 1; }
  // The first spill slot of a term with this hash: from the hash bits a slot keeps (bits 37 and
  // up) while they number enough, so that the spill grows without reading any ids.
  static constexpr size_t kSpillBySlot = size_t{1} << 27;
  size_t SpillSlot(uint64_t hash) const {
    const size_t mask = spill_.size() - 1;
    return spill_.size() <= kSpillBySlot ? (hash >> 37) & mask : hash & mask;
  }

  const TermStore& store_;
  // Terms of degree 1: unary_[v] is the index of the term (v), -1 when there is none.
  std::vector<int32_t> unary_;
  // Terms of degree 2 and more, each in the bucket of its first two ids. A slot is 0 when empty,
  // else the term: its index in bits 0-31, its degree in bits 32-36 and the top bits of its
  // hash above, which tell most other terms apart without reading its ids. A bucket's slots fill
  // from the first, then its partner's; a term that finds both full goes to the spill, a table
  // with linear probing by the term's own hash, and marks the bucket in `spilled_`.
  std::unique_ptr<void, Free> bucket_memory_;  // the block that holds the buckets
  Bucket* buckets_ = nullptr;
  size_t bucket_count_ = 0;  // a power of two, or 0 before the first term of degree 2 or more
  std::vector<uint64_t> spilled_;
  std::vector<uint64_t> spill_;
  size_t used_ = 0;        // terms of degree 2 and more taken in
  size_t spill_used_ = 0;  // of which in the spill
  size_t expected_;        // terms of degree 2 and more to size the first buckets for
  std::array<int32_t, kMaxApproxDegree + 1> indexed_{};  // per degree, the terms taken in so far
  bool exact_ = true;
  // FindSubsets' scratch, per subset: the hash of its ids before their number is mixed in; its
  // number of ids; the bucket of its first two ids; the slot that may hold it (null: certainly
  // absent).
  std::vector<uint64_t> prefix_;
  std::vector<uint8_t> degree_;
  std::vector<uint32_t> bucket_of_;
  std::vector<const uint64_t*> candidate_;
  TermRef searched_;  // the term of the last FindSubsets
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

// AddIndicatorFound without the occurrence lists: the terms it appends are listed nowhere, and
// the lists keep their entries until the caller rebuilds them (or drops those terms again).
// `found` is what index.FindSubsets(term, found) left, the store unchanged since; the index
// takes in the appended terms (SubtermIndex::TakeInSubset) and stays caught up.
void AddIndicatorFoundUnlisted(PBF& f, TermRef term, int32_t s, int32_t amount,
                               const int32_t* found, SubtermIndex& index);

}  // namespace pbf
