// Monomials as the quadratizations that look across terms see them: products over sorted,
// distinct ids (x·x = x, and the order of a term's ids does not matter) with 64-bit coefficients,
// equal products merged into one, kept in order of creation and found by a hash of their ids.
//
// Where f's terms of degree >= 3 are monomials already (ids strictly ascending, coefficients not
// 0), the pool starts with them as they lie in f's tables and finds them through f's occurrence
// lists, like any lookup in a PBF: only monomials created later are copied and hashed. On a large
// image grid hashing every window's terms missed the cache at every insertion and lookup, while
// neighbouring windows share their variables' lists (bench/RESULTS.md, "Quadratizations").
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pbf.h"
#include "quadratic_builder.h"
#include "quadratize.h"

namespace pbf {

class MonomialPool {
 public:
  MonomialPool();

  int32_t Size() const { return static_cast<int32_t>(coefs_.size()); }
  int32_t Degree(int32_t k) const {
    if (k < adopted_) return origins_[static_cast<size_t>(k)].degree;
    const auto own = static_cast<size_t>(k - adopted_);
    return static_cast<int32_t>(start_[own + 1] - start_[own]);
  }
  // Valid until the next Add.
  const int32_t* Ids(int32_t k) const {
    if (k < adopted_) {
      const TermPosition origin = origins_[static_cast<size_t>(k)];
      return base_->Table(origin.degree).Ids(origin.index);
    }
    return ids_.data() + start_[static_cast<size_t>(k - adopted_)];
  }
  int64_t Coef(int32_t k) const { return coefs_[static_cast<size_t>(k)]; }
  // The term of f whose contribution created the monomial.
  TermPosition Origin(int32_t k) const { return origins_[static_cast<size_t>(k)]; }

  // Adds coef to the monomial over ids[0..n) (sorted, distinct, n >= 1), created with `origin` when
  // absent; returns its index. `ids` must not point into the pool.
  int32_t Add(const int32_t* ids, int32_t n, int64_t coef, TermPosition origin);
  // Add for a monomial known to be absent.
  int32_t Insert(const int32_t* ids, int32_t n, int64_t coef, TermPosition origin);
  void AddTo(int32_t k, int64_t coef) { coefs_[static_cast<size_t>(k)] += coef; }
  // The index of the monomial over ids[0..n) (sorted, distinct), -1 when there is none.
  int32_t Find(const int32_t* ids, int32_t n) const;

  // Starts loading the slot where the monomial over ids[0..n) (sorted, distinct) would be found.
  void Prefetch(const int32_t* ids, int32_t n) const;

  // Room for this many monomials and ids in all, so that adding them moves nothing.
  void Reserve(size_t monomials, size_t ids);

  // On an empty pool: when every term of f of degree >= 3 lists strictly ascending ids and has a
  // coefficient other than 0, makes them the pool's monomials in walk order (origin: the term
  // itself) and returns true; f must then outlive the pool, unchanged. Otherwise returns false and
  // does nothing.
  bool Adopt(const TermStore& f);

 private:
  // A monomial's index and the top bits of its hash, compared first: a probe that meets another
  // monomial then rarely has to read its ids, which lie anywhere in memory.
  struct Slot {
    uint32_t fingerprint = 0;
    int32_t index = -1;
  };

  static uint64_t Hash(const int32_t* ids, int32_t n);
  void Resize(size_t slots);
  void Place(uint64_t hash, int32_t k);

  // Monomials 0 … adopted_ - 1 are terms of base_, the one of degree d and index t numbered
  // first_adopted_[d] + t; the rest keep their ids here, from start_[k - adopted_] on.
  const TermStore* base_ = nullptr;
  int32_t adopted_ = 0;
  std::vector<int32_t> first_adopted_;
  std::vector<int32_t> ids_;
  std::vector<size_t> start_;
  std::vector<int64_t> coefs_;
  std::vector<TermPosition> origins_;
  std::vector<Slot> slots_;  // open addressing, linear probing, at most half full
  int shift_ = 64;
};

// Writes ids[0..d) sorted without repeats into `out`; returns their number.
int32_t DistinctSorted(const int32_t* ids, int32_t d, std::vector<int32_t>& out);

// How the quadratizations that look across terms find f's own terms again: through f's
// occurrence lists where f allows it (kOccurrences), or through hashed copies (kHashed: the way
// every monomial and pair created later is found, and the reference that the tests compare the
// other way against); kChosen takes the lists where they pay (ListsPay).
enum class Lookup { kChosen, kOccurrences, kHashed };

// Whether f is large enough that hashed copies of its terms would miss the cache at most lookups,
// and local enough that its lists are short: at least 2^17 terms of degree >= 3, and at most 24
// of their positions per variable. Measured against hashing (bench/RESULTS.md): through lists
// the 512x512 grid (15 positions per variable) takes 24-34 % less time, the 256x256 grid 4-24 %
// less; the 128x128 grid (76 k terms) from 10 % less to 20 % more; random monomials (45 positions
// per variable) 14-71 % more, with 10^5 terms and with 10^6.
bool ListsPay(const TermStore& f);

// The start shared by the quadratizations that look across terms: f's constant and its unary and
// pairwise terms copied as stored into `out`, then every term of degree >= 3 as the monomial over
// its distinct ids, into `pool` when it keeps three or more of them, else into `out`. Unless
// kHashed, f must outlive `out` and `pool`, unchanged.
void CopyLowerAndPoolHigher(const PBF& f, QuadraticBuilder& out, MonomialPool& pool, Lookup lookup);

}  // namespace pbf
