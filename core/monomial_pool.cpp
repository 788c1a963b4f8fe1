#include "monomial_pool.h"

#include <algorithm>

namespace pbf {

MonomialPool::MonomialPool() : start_{0}, slots_(1024, -1), shift_(64 - 10) {}

uint64_t MonomialPool::Hash(const int32_t* ids, int32_t n) {
  uint64_t h = static_cast<uint64_t>(n);
  for (int32_t k = 0; k < n; ++k) {
    h = (h ^ static_cast<uint32_t>(ids[k])) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  return h * 0xBF58476D1CE4E5B9ull;
}

int32_t MonomialPool::Find(const int32_t* ids, int32_t n) const {
  const size_t mask = slots_.size() - 1;
  for (size_t h = Hash(ids, n) >> shift_;; h = (h + 1) & mask) {
    const int32_t k = slots_[h];
    if (k < 0) return -1;
    if (Degree(k) == n && SameIds(Ids(k), ids, n)) return k;
  }
}

void MonomialPool::Grow() {
  std::vector<int32_t> slots(2 * slots_.size(), -1);
  --shift_;
  const size_t mask = slots.size() - 1;
  for (int32_t k = 0; k < Size(); ++k) {
    size_t h = Hash(Ids(k), Degree(k)) >> shift_;
    while (slots[h] >= 0) h = (h + 1) & mask;
    slots[h] = k;
  }
  slots_ = std::move(slots);
}

int32_t MonomialPool::Add(const int32_t* ids, int32_t n, int64_t coef, TermPosition origin) {
  const int32_t found = Find(ids, n);
  if (found >= 0) {
    coefs_[static_cast<size_t>(found)] += coef;
    return found;
  }
  if (2 * (coefs_.size() + 1) > slots_.size()) Grow();
  const int32_t k = Size();
  ids_.insert(ids_.end(), ids, ids + n);
  start_.push_back(ids_.size());
  coefs_.push_back(coef);
  origins_.push_back(origin);
  const size_t mask = slots_.size() - 1;
  size_t h = Hash(ids, n) >> shift_;
  while (slots_[h] >= 0) h = (h + 1) & mask;
  slots_[h] = k;
  return k;
}

int32_t DistinctSorted(const int32_t* ids, int32_t d, std::vector<int32_t>& out) {
  out.assign(ids, ids + d);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return static_cast<int32_t>(out.size());
}

void CopyLowerAndPoolHigher(const PBF& f, QuadraticBuilder& out, MonomialPool& pool) {
  out.AddConstant(f.constant);
  const TermTable& pairs = f.terms.Table(2);
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    out.CopyPair(pairs.coefs[static_cast<size_t>(t)], pairs.Ids(t)[0], pairs.Ids(t)[1]);
  }
  const TermTable& unary = f.terms.Table(1);
  for (int32_t t = 0; t < unary.Size(); ++t) {
    out.AddUnary(unary.coefs[static_cast<size_t>(t)], unary.Ids(t)[0]);
  }
  std::vector<int32_t> ids;
  for (TermCursor c = TermCursor::Begin(f.terms); !c.AtEnd() && c.degree >= 3; c.Advance()) {
    const int32_t a = c.Coef();
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
