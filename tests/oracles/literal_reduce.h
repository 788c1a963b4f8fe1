// The exact reduction written the slow, obvious way: a reference for differential tests and a
// baseline for benchmarks. Each step does what its description says and nothing cleverer: the
// value table is filled entry by entry for every assignment, each restricted function is built
// as a LocalFunction of its own, masks come from a forward walk, the indicator from a plain loop.
//
// Only for functions that meet the reduction's precondition: ascending, distinct ids in every term
// of degree 3 and more, and ascending ids in the pairwise terms next to them. Degrees up to 16.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "wrap.h"

namespace pbf::literal {

inline LocalFunction::Extremes MinMax(const LocalFunction& f) {
  if (f.count == 0 || f.entries.empty()) return {f.constant, f.constant};
  const uint32_t n = 1u << f.count;
  std::vector<int32_t> values(n, f.constant);
  for (const LocalEntry& entry : f.entries) {
    for (uint32_t y = 0; y < n; ++y) {
      if ((entry.mask & ~y) == 0) values[y] = WrapAdd(values[y], entry.coef);
    }
  }
  LocalFunction::Extremes result{f.max_start, f.min_start};
  for (int32_t v : values) {
    result.largest = std::max(result.largest, v);
    result.smallest = std::min(result.smallest, v);
  }
  return result;
}

// One forward walk over the ascending local variables.
inline uint32_t WalkMask(const LocalFunction& f, const int32_t* ids, int32_t degree) {
  uint32_t mask = 0;
  int32_t position = 0;
  uint32_t bit = 1u << (f.count - 1);
  for (int32_t k = 0; k < degree; ++k) {
    while (position < f.count && f.vars[static_cast<size_t>(position)] != ids[k]) {
      ++position;
      bit >>= 1;
    }
    mask |= bit;
  }
  return mask;
}

inline bool BuildNeighbourhood(const PBF& pbf, LocalFunction& local, TermRef term) {
  const int32_t d = term.degree;
  std::vector<Occurrence> found;
  for (int32_t k = 0; k < d; ++k) {
    const auto& list = pbf.terms.occurrences[static_cast<size_t>(term.ids[k])];
    found.insert(found.end(), list.begin(), list.end());
  }
  std::sort(found.begin(), found.end(), [](const Occurrence& a, const Occurrence& b) {
    return a.degree != b.degree ? a.degree < b.degree : a.index < b.index;
  });
  found.erase(std::unique(found.begin(), found.end()), found.end());

  const auto coef_of = [&](const Occurrence& o) {
    return pbf.terms.Table(o.degree).coefs[static_cast<size_t>(o.index)];
  };
  std::vector<int32_t> ids(term.ids, term.ids + d);
  for (const Occurrence& o : found) {
    if (coef_of(o) == 0) continue;
    const int32_t* term_ids = pbf.terms.Table(o.degree).Ids(o.index);
    ids.insert(ids.end(), term_ids, term_ids + o.degree);
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  if (static_cast<int32_t>(ids.size()) > d + 16) return false;

  local.count = static_cast<int32_t>(ids.size());
  std::copy(ids.begin(), ids.end(), local.vars.begin());
  for (const Occurrence& o : found) {
    if (coef_of(o) == 0) continue;
    local.entries.push_back(
        {WalkMask(local, pbf.terms.Table(o.degree).Ids(o.index), o.degree), coef_of(o)});
  }
  local.constant = WrapAdd(local.constant, pbf.constant);
  return true;
}

inline int32_t FindDominatedConfiguration(const LocalFunction& l, TermRef term, bool odd,
                                          int32_t& amount) {
  const int32_t d = term.degree;
  const std::shared_ptr<const ParityTables> parity = EnsureParityTables(d);
  const std::vector<int32_t>& target = odd ? parity->odd : parity->even;
  const uint32_t term_mask = WalkMask(l, term.ids, d);
  std::vector<uint32_t> term_bits;  // the k-th highest bit of T's mask belongs to u_k
  for (int32_t b = 31; b >= 0; --b) {
    if ((term_mask >> b) & 1) term_bits.push_back(1u << b);
  }

  int32_t r = l.min_start;
  int32_t best_in = l.max_start;
  int32_t best_out = l.max_start;
  int32_t s_in = -1;
  int32_t s_out = -1;
  size_t p = 0;
  for (int32_t i = 0; i < (1 << d); ++i) {
    uint32_t ones = 0;
    for (int32_t k = 0; k < d; ++k) {
      if ((i >> (d - 1 - k)) & 1) ones |= term_bits[static_cast<size_t>(k)];
    }
    const uint32_t zeros = term_mask & ~ones;

    LocalFunction g;
    g.constant = l.constant;
    uint32_t free = 0;
    for (const LocalEntry& e : l.entries) {
      if (e.mask & zeros) continue;
      if ((e.mask & ~term_mask) == 0) {
        g.constant = WrapAdd(g.constant, e.coef);
      } else {
        free |= e.mask & ~term_mask;
      }
    }
    if (free != 0) {
      std::vector<uint32_t> free_bits;  // ascending local variable = descending bit
      for (int32_t b = 31; b >= 0; --b) {
        if ((free >> b) & 1) free_bits.push_back(1u << b);
      }
      g.count = static_cast<int32_t>(free_bits.size());
      for (const LocalEntry& e : l.entries) {
        if ((e.mask & zeros) || (e.mask & ~term_mask) == 0) continue;
        uint32_t mask = 0;
        for (int32_t k = 0; k < g.count; ++k) {
          if (e.mask & free_bits[static_cast<size_t>(k)]) mask |= 1u << (g.count - 1 - k);
        }
        g.entries.push_back({mask, e.coef});
      }
    }
    const LocalFunction::Extremes e = MinMax(g);
    r = std::min(r, e.largest);
    if (i == target[p]) {
      ++p;
      if (e.smallest > best_in) {
        best_in = e.smallest;
        s_in = i;
      }
    } else if (e.smallest > best_out) {
      best_out = e.smallest;
      s_out = i;
    }
    if (r < best_in) return s_in;
    if (WrapAdd(r, amount) < best_out) {
      amount = WrapNeg(amount);
      return s_out;
    }
  }
  return -1;
}

inline void AddIndicator(PBF& pbf, TermRef term, int32_t s, int32_t amount) {
  const int32_t d = term.degree;
  const std::vector<int32_t> own(term.ids, term.ids + d);  // copied before the store changes
  for (int32_t i = 0; i < (1 << d); ++i) {
    if ((s & ~i) != 0) continue;
    const int32_t coef =
        std::popcount(static_cast<uint32_t>(i ^ s)) % 2 == 0 ? amount : WrapNeg(amount);
    if (coef == 0) continue;
    std::vector<int32_t> ids;
    for (int32_t k = 0; k < d; ++k) {
      if ((i >> (d - 1 - k)) & 1) ids.push_back(own[static_cast<size_t>(k)]);
    }
    if (ids.empty()) {
      pbf.constant = WrapAdd(pbf.constant, coef);
    } else {
      pbf.terms.AddTerm(coef, static_cast<int32_t>(ids.size()), ids.data());
    }
  }
}

inline void ReduceHigher(PBF& pbf) {
  for (int32_t d = pbf.terms.NextNonEmptyDegree(std::numeric_limits<int32_t>::max()); d >= 3;
       d = pbf.terms.NextNonEmptyDegree(d - 1)) {
    for (int32_t t = 0; t < pbf.terms.Table(d).Size(); ++t) {
      const int32_t c = pbf.terms.Table(d).coefs[static_cast<size_t>(t)];
      LocalFunction local;
      const TermRef term{d, pbf.terms.Table(d).Ids(t)};
      if (!BuildNeighbourhood(pbf, local, term)) continue;
      const bool odd = d % 2 == 1 ? c < 0 : c > 0;
      int32_t amount = WrapAbs(c);
      const int32_t s = FindDominatedConfiguration(local, term, odd, amount);
      if (s >= 0) AddIndicator(pbf, term, s, amount);
    }
  }
  pbf.Shrink();
}

}  // namespace pbf::literal
