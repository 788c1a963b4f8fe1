// Monomials as the quadratizations that look across terms see them: products over sorted,
// distinct ids (x·x = x, and the order of a term's ids does not matter) with 64-bit coefficients,
// equal products merged into one, kept in order of creation and found by a hash of their ids.
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
    return static_cast<int32_t>(start_[static_cast<size_t>(k) + 1] -
                                start_[static_cast<size_t>(k)]);
  }
  // Valid until the next Add.
  const int32_t* Ids(int32_t k) const { return ids_.data() + start_[static_cast<size_t>(k)]; }
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

  std::vector<int32_t> ids_;
  std::vector<size_t> start_;
  std::vector<int64_t> coefs_;
  std::vector<TermPosition> origins_;
  std::vector<Slot> slots_;  // open addressing, linear probing, at most half full
  int shift_ = 64;
};

// Writes ids[0..d) sorted without repeats into `out`; returns their number.
int32_t DistinctSorted(const int32_t* ids, int32_t d, std::vector<int32_t>& out);

// The start shared by the quadratizations that look across terms: f's constant and its unary and
// pairwise terms copied as stored into `out`, then every term of degree >= 3 as the monomial over
// its distinct ids, into `pool` when it keeps three or more of them, else into `out`.
void CopyLowerAndPoolHigher(const PBF& f, QuadraticBuilder& out, MonomialPool& pool);

}  // namespace pbf
