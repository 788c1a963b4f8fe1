// The quadratic function a quadratization writes, accumulated with 64-bit coefficients and handed
// over to a PBF only once every coefficient is known to fit int32.
//
// Every contribution is written on behalf of a source term of f (SetSource); each output term
// remembers the first source of degree >= 3 that contributed to it, so that a coefficient that ends
// up outside int32 can be blamed on a term whose rewrite needed it. A builder may also leave the
// sources aside (without them the random-monomial workloads' grouped and fewest take 8-9 % less
// time); it then only tells whether every coefficient fits, and the caller that needs a blame
// writes again with sources.
//
// Terms among f's own variables are found through a hash index of their pairs, or, for f's own
// pairwise terms (CopyPairsOf), through f's occurrence lists, which on a large image grid stay in
// cache where a hash index misses it at every lookup; a term with an auxiliary of the rule being
// written is created by the rule exactly once (AddNewPair), so it skips the index, and so do the
// auxiliaries' unary terms. Cost: O(1) expected per contribution, or the length of the shorter
// list of the two ids in f; Finish is linear in the output.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "pbf.h"
#include "quadratize.h"

namespace pbf {

class QuadraticBuilder {
 public:
  // Auxiliaries are numbered from `first_auxiliary` (>= 0; at 2^31 none is left). With `ordered`
  // the pairs (i, j) and (j, i) are two terms, as in a PBF; without, additions find either.
  // Without `sources`, SetSource does nothing and Finish blames {0, 0}.
  QuadraticBuilder(int64_t first_auxiliary, bool ordered, bool sources = true);

  // Room for this many pairwise and unary terms, `indexed` of the pairs among f's own variables:
  // a hint that spares the arrays their doubling steps.
  void Reserve(size_t pairs, size_t unary, size_t indexed);

  // Every contribution from here on is made for this term of f ({0, 0}: for f's constant).
  void SetSource(TermPosition term);

  int64_t AuxiliariesLeft() const { return kIdLimit - next_auxiliary_; }
  int64_t FirstAuxiliary() const { return first_auxiliary_; }
  // The next free id; at least one must be left.
  int32_t NewAuxiliary();

  void AddConstant(int64_t coef);
  void AddUnary(int64_t coef, int32_t var);
  void AddPair(int64_t coef, int32_t i, int32_t j);
  // A pair that no earlier or later addition names, in either order: one of its ids is an
  // auxiliary that the rule being written owns and names here once.
  void AddNewPair(int64_t coef, int32_t i, int32_t j);
  // f's pairwise terms, copied as stored in table order before any other pair is added: never
  // merged into one another, and later additions find the first of them with their ids (either
  // order when unordered). With `through_lists` they are found through f's occurrence lists, and
  // f must then outlive the builder, unchanged; otherwise through the index.
  void CopyPairsOf(const TermStore& f, bool through_lists);
  // Starts loading the index entry of the pair: lookups that a caller knows ahead (a group's
  // pairs) then wait for memory once instead of once each.
  void PrefetchPair(int32_t i, int32_t j) const;
  // The pairwise term with these ids (either order when unordered), -1 when there is none; and
  // additions to it by that handle, which stays valid.
  int32_t FindPair(int32_t i, int32_t j) const {
    if (base_) {
      const int32_t t = FindBasePair(i, j);
      if (t >= 0) return t;
    }
    return FindPair(Key(i, j));
  }
  int64_t PairCoef(int32_t pair) const { return pair_coefs_[static_cast<size_t>(pair)]; }
  void AddToPair(int64_t coef, int32_t pair);

  // Whether every coefficient so far fits int32.
  bool AllFit() const;
  // Writes the function into `out` (an empty PBF), terms in the order of their first
  // contribution. When a coefficient is outside int32 it writes nothing and returns the source
  // blamed for the first such coefficient (constant, then pairwise, then unary terms).
  std::optional<TermPosition> Finish(PBF& out);

  // Auxiliaries from 2^31 on do not exist.
  static constexpr int64_t kIdLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;

 private:
  uint64_t Key(int32_t i, int32_t j) const;
  size_t Home(uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> index_shift_; }
  // The slot of the pair with this key, -1 when absent.
  int32_t FindPair(uint64_t key) const;
  // The first of base_'s pairwise terms with these ids (either order when unordered), or -1.
  int32_t FindBasePair(int32_t i, int32_t j) const;
  void IndexPair(uint64_t key, int32_t slot);
  void ResizeIndex(size_t slots);
  void Credit(int32_t& owner);
  int32_t NewPair(int64_t coef, int32_t i, int32_t j);
  int32_t& UnarySlot(int32_t var);

  int64_t first_auxiliary_ = 0;
  int64_t next_auxiliary_ = 0;
  bool ordered_ = true;
  bool tracks_sources_ = true;

  std::vector<TermPosition> sources_;
  int32_t source_ = 0;

  int64_t constant_ = 0;
  int32_t constant_owner_ = 0;

  // Per id below the first auxiliary, then per auxiliary: its unary term's slot or -1.
  std::vector<int32_t> unary_slot_;
  std::vector<int32_t> auxiliary_unary_slot_;
  std::vector<int32_t> unary_vars_;
  std::vector<int64_t> unary_coefs_;
  std::vector<int32_t> unary_owners_;

  // With CopyPairsOf(f, true): f, whose pair t is the builder's pair t.
  const TermStore* base_ = nullptr;

  std::vector<int32_t> pair_vars_;
  std::vector<int64_t> pair_coefs_;
  std::vector<int32_t> pair_owners_;

  // Open addressing, linear probing, at most half full: a probe reads one cache line.
  struct IndexEntry {
    uint64_t key = ~uint64_t{0};  // ids are non-negative, so no pair's key has the top bit set
    int32_t slot = -1;
  };
  std::vector<IndexEntry> index_;
  size_t indexed_ = 0;
  int index_shift_ = 64;
};

}  // namespace pbf
