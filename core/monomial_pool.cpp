#include "monomial_pool.h"

#include <algorithm>
#include <bit>

namespace pbf {

MonomialPool::MonomialPool() : start_{0} { Resize(1024); }

uint64_t MonomialPool::Hash(const int32_t* ids, int32_t n) {
  uint64_t h = static_cast<uint64_t>(n);
  for (int32_t k = 0; k < n; ++k) {
    h = (h ^ static_cast<uint32_t>(ids[k])) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  return h * 0xBF58476D1CE4E5B9ull;
}

int32_t MonomialPool::Find(const int32_t* ids, int32_t n) const {
  if (base_) {
    // Adopted monomials are f's terms, each the only one of its degree with its ids.
    const int32_t t = base_->FindTerm(n, ids);
    if (t >= 0) return first_adopted_[static_cast<size_t>(n)] + t;
    if (Size() == adopted_) return -1;
  }
  const uint64_t hash = Hash(ids, n);
  const auto fingerprint = static_cast<uint32_t>(hash);
  const size_t mask = slots_.size() - 1;
  for (size_t h = hash >> shift_;; h = (h + 1) & mask) {
    const Slot slot = slots_[h];
    if (slot.index < 0) return -1;
    if (slot.fingerprint == fingerprint && Degree(slot.index) == n &&
        SameIds(Ids(slot.index), ids, n)) {
      return slot.index;
    }
  }
}

void MonomialPool::Prefetch(const int32_t* ids, int32_t n) const {
  if (Size() == adopted_) return;
  __builtin_prefetch(&slots_[Hash(ids, n) >> shift_]);
}

void MonomialPool::Place(uint64_t hash, int32_t k) {
  const size_t mask = slots_.size() - 1;
  size_t h = hash >> shift_;
  while (slots_[h].index >= 0) h = (h + 1) & mask;
  slots_[h] = {static_cast<uint32_t>(hash), k};
}

void MonomialPool::Resize(size_t slots) {
  slots_.assign(slots, Slot{});
  shift_ = 64 - std::countr_zero(slots);
  for (int32_t k = adopted_; k < Size(); ++k) Place(Hash(Ids(k), Degree(k)), k);
}

void MonomialPool::Reserve(size_t monomials, size_t ids) {
  ids_.reserve(ids);
  start_.reserve(monomials + 1);
  coefs_.reserve(monomials);
  origins_.reserve(monomials);
  if (2 * monomials > slots_.size()) Resize(std::bit_ceil(2 * monomials));
}

bool MonomialPool::Adopt(const TermStore& f) {
  size_t monomials = 0;
  for (int32_t d = 3; d < static_cast<int32_t>(f.tables.size()); ++d) {
    if (!f.HasTable(d)) continue;
    const TermTable& table = f.Table(d);
    for (int32_t t = 0; t < table.Size(); ++t) {
      if (table.Coef(t) == 0 || !StrictlyAscending(table.Ids(t), d)) return false;
    }
    monomials += static_cast<size_t>(table.Size());
  }
  base_ = &f;
  first_adopted_.assign(f.tables.size(), 0);
  coefs_.reserve(monomials);
  origins_.reserve(monomials);
  for (TermCursor c = TermCursor::Begin(f); !c.AtEnd() && c.degree >= 3; c.Advance()) {
    if (c.index == 0) first_adopted_[static_cast<size_t>(c.degree)] = Size();
    coefs_.push_back(c.Coef());
    origins_.push_back({c.degree, c.index});
  }
  adopted_ = Size();
  return true;
}

int32_t MonomialPool::Add(const int32_t* ids, int32_t n, int64_t coef, TermPosition origin) {
  const int32_t found = Find(ids, n);
  if (found >= 0) {
    coefs_[static_cast<size_t>(found)] += coef;
    return found;
  }
  return Insert(ids, n, coef, origin);
}

int32_t MonomialPool::Insert(const int32_t* ids, int32_t n, int64_t coef, TermPosition origin) {
  if (2 * static_cast<size_t>(Size() - adopted_ + 1) > slots_.size()) Resize(2 * slots_.size());
  const int32_t k = Size();
  ids_.insert(ids_.end(), ids, ids + n);
  start_.push_back(ids_.size());
  coefs_.push_back(coef);
  origins_.push_back(origin);
  Place(Hash(ids, n), k);
  return k;
}

int32_t DistinctSorted(const int32_t* ids, int32_t d, std::vector<int32_t>& out) {
  out.assign(ids, ids + d);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return static_cast<int32_t>(out.size());
}

bool ListsPay(const TermStore& f) {
  size_t terms = 0;
  size_t positions = 0;
  for (int32_t d = 3; d < static_cast<int32_t>(f.tables.size()); ++d) {
    if (!f.HasTable(d)) continue;
    terms += static_cast<size_t>(f.Table(d).Size());
    positions += f.Table(d).vars.size();
  }
  return terms >= (size_t{1} << 17) && positions <= 24 * f.occurrences.size();
}

void CopyLowerAndPoolHigher(const PBF& f, QuadraticBuilder& out, MonomialPool& pool,
                            Lookup lookup) {
  const TermTable& pairs = f.terms.Table(2);
  const TermTable& unary = f.terms.Table(1);
  const bool through_lists =
      lookup == Lookup::kOccurrences || (lookup == Lookup::kChosen && ListsPay(f.terms));
  const bool adopted = through_lists && pool.Adopt(f.terms);
  size_t monomials = 0;
  size_t ids_in_all = 0;
  // When every term of degree >= 3 lists its ids strictly ascending (the usual layout), each is
  // already its monomial and no two are equal (the store holds no two equal id lists), so they
  // go into the pool without a lookup, which is most of the cost of filling it.
  bool ascending = true;
  for (int32_t d = 3; d < static_cast<int32_t>(f.terms.tables.size()); ++d) {
    if (!f.terms.HasTable(d)) continue;
    const TermTable& table = f.terms.Table(d);
    monomials += static_cast<size_t>(table.Size());
    ids_in_all += table.vars.size();
    for (int32_t t = 0; t < table.Size() && ascending && !adopted; ++t)
      ascending = StrictlyAscending(table.Ids(t), d);
  }
  if (!adopted) pool.Reserve(monomials, ids_in_all);
  // A guess, not a bound: a few pairs and a unary term per monomial, beside f's own terms.
  const auto own_pairs = static_cast<size_t>(pairs.Size());
  out.Reserve(own_pairs + 4 * monomials, static_cast<size_t>(unary.Size()) + monomials,
              through_lists ? 0 : own_pairs);

  out.AddConstant(f.constant);
  out.CopyPairsOf(f.terms, through_lists);
  for (int32_t t = 0; t < unary.Size(); ++t) {
    out.AddUnary(unary.coefs[static_cast<size_t>(t)], unary.Ids(t)[0]);
  }
  if (adopted) return;
  std::vector<int32_t> ids;
  // Otherwise terms are looked up in walk order, each where its hash says, so a term a few steps
  // ahead is prefetched (when its ids ascend, its hash is known as it is).
  constexpr int32_t kAhead = 8;
  for (TermCursor c = TermCursor::Begin(f.terms); !c.AtEnd() && c.degree >= 3; c.Advance()) {
    const int32_t a = c.Coef();
    if (ascending) {
      if (a != 0) pool.Insert(c.Ids(), c.degree, a, {c.degree, c.index});
      continue;
    }
    if (c.index + kAhead < c.Table().Size()) {
      const int32_t* ahead = c.Table().Ids(c.index + kAhead);
      if (StrictlyAscending(ahead, c.degree)) pool.Prefetch(ahead, c.degree);
    }
    if (a == 0) continue;
    const int32_t n = DistinctSorted(c.Ids(), c.degree, ids);
    if (n >= 3) {
      pool.Add(ids.data(), n, a, {c.degree, c.index});
      continue;
    }
    out.SetSource({c.degree, c.index});
    if (n == 1) out.AddUnary(a, ids[0]);
    if (n == 2) out.AddPair(a, ids[0], ids[1]);
  }
}

}  // namespace pbf
