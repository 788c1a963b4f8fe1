// Exact higher-order reduction: lowers the degree of a function without new variables and without
// changing its minimum or the set of assignments that attain it.
//
// Every term T of degree 3 and more is visited once, highest degree first. Its neighbourhood (all
// terms sharing a variable with T) is gathered into a LocalFunction; when the search finds a
// configuration of T's variables that is strictly worse than another one whatever the rest of the
// function does, a multiple of that configuration's indicator polynomial is added. It cancels T
// and adds only products of fewer variables, which are tried in their turn when the walk reaches
// their degree. The final Shrink drops the cancelled terms.
//
// Cost per term: sorting the occurrences of its own variables (never a table scan), then the search
// (up to 2^d configurations, each enumerating at most 2^16 assignments) and up to 2^d additions.
//
// Choices worth knowing:
// - One LocalFunction serves every term, and while it is filled its entries double as the list of
//   gathered (degree, index) pairs, so once its storage has grown a term costs no allocation.
// - Local variables go straight into the LocalFunction's sorted array of at most min(d, 16) + 16
//   ids, and the first id too many ends the gathering: no list of every neighbour id is built.
//   Masks are found by binary search, which gives every stored product its value whatever the
//   order of its ids: (j, i) and (i, i) are fine as neighbours.
// - Terms outside what the search is made for are left as they are, which is always sound: ids
//   that are not strictly ascending (a repeated id has no configuration layout, and the terms a
//   rewrite creates would inherit the disorder) and degrees above 16 (the neighbourhood could pass
//   the d + 16 test with more than 32 variables, and configurations stop fitting the tables).
#include <algorithm>
#include <cstddef>
#include <limits>

#include "local_function.h"
#include "pbf.h"
#include "wrap.h"

namespace pbf {
namespace {

constexpr int32_t kMaxFree = 16;
constexpr int32_t kMaxReducedDegree = 16;

bool StrictlyAscending(const int32_t* ids, int32_t d) {
  for (int32_t k = 1; k < d; ++k) {
    if (ids[k - 1] >= ids[k]) return false;
  }
  return true;
}

// Adds id to the ascending, distinct vars[0 .. count); false when that would pass `limit`.
bool AddLocalVar(LocalFunction& local, int32_t id, int32_t limit) {
  int32_t* first = local.vars.data();
  int32_t* last = first + local.count;
  int32_t* at = std::lower_bound(first, last, id);
  if (at != last && *at == id) return true;
  if (local.count == limit) return false;
  std::copy_backward(at, last, last + 1);
  *at = id;
  ++local.count;
  return true;
}

uint32_t MaskOf(const LocalFunction& local, const int32_t* ids, int32_t degree) {
  const int32_t* first = local.vars.data();
  const int32_t* last = first + local.count;
  uint32_t mask = 0;
  for (int32_t k = 0; k < degree; ++k) {
    const auto position = static_cast<int32_t>(std::lower_bound(first, last, ids[k]) - first);
    mask |= 1u << (local.count - 1 - position);
  }
  return mask;
}

}  // namespace

bool PBF::BuildNeighbourhood(LocalFunction& local, TermRef term) const {
  const int32_t d = term.degree;
  local.Clear();
  // Gathered as (degree, index) in (mask, coef); both are non-negative, so comparing the pairs
  // orders by degree, then index.
  for (int32_t k = 0; k < d; ++k) {
    const auto id = static_cast<size_t>(term.ids[k]);
    if (id >= terms.occurrences.size()) continue;
    for (const Occurrence& occ : terms.occurrences[id]) {
      local.entries.push_back({static_cast<uint32_t>(occ.degree), occ.index});
    }
  }
  std::sort(local.entries.begin(), local.entries.end(), [](const LocalEntry& a, const LocalEntry& b) {
    return a.mask != b.mask ? a.mask < b.mask : a.coef < b.coef;
  });
  local.entries.erase(std::unique(local.entries.begin(), local.entries.end(),
                                  [](const LocalEntry& a, const LocalEntry& b) {
                                    return a.mask == b.mask && a.coef == b.coef;
                                  }),
                      local.entries.end());

  // T's own ids count even when its coefficient is 0; the neighbours' only when theirs is not.
  const int32_t limit = std::min(d, kMaxFree) + kMaxFree;
  for (int32_t k = 0; k < d; ++k) {
    if (!AddLocalVar(local, term.ids[k], limit)) return false;
  }
  for (const LocalEntry& gathered : local.entries) {
    const TermTable& table = terms.Table(static_cast<int32_t>(gathered.mask));
    if (table.coefs[static_cast<size_t>(gathered.coef)] == 0) continue;
    const int32_t* ids = table.Ids(gathered.coef);
    for (int32_t k = 0; k < table.degree; ++k) {
      if (!AddLocalVar(local, ids[k], limit)) return false;
    }
  }

  size_t kept = 0;
  for (const LocalEntry& gathered : local.entries) {
    const TermTable& table = terms.Table(static_cast<int32_t>(gathered.mask));
    const int32_t coef = table.coefs[static_cast<size_t>(gathered.coef)];
    if (coef == 0) continue;
    local.entries[kept++] = {MaskOf(local, table.Ids(gathered.coef), table.degree), coef};
  }
  local.entries.resize(kept);
  local.constant = WrapAdd(local.constant, constant);
  return true;
}

void PBF::ReduceHigher() {
  LocalFunction local;
  for (int32_t d = terms.NextNonEmptyDegree(std::numeric_limits<int32_t>::max()); d >= 3;
       d = terms.NextNonEmptyDegree(d - 1)) {
    // Rewrites add to T itself and to lower degrees only, so the table of degree d gains no term
    // while it is walked (its storage may still move: T's ids are looked up afresh every step).
    for (int32_t t = 0; t < terms.Table(d).Size(); ++t) {
      const int32_t c = terms.Table(d).coefs[static_cast<size_t>(t)];
      const TermRef term{d, terms.Table(d).Ids(t)};
      if (d > kMaxReducedDegree || !StrictlyAscending(term.ids, d)) continue;
      if (!BuildNeighbourhood(local, term)) continue;
      // The indicator of s gives the product of all d variables the sign (-1)^(d - |s|); this
      // parity makes |c| times it equal -c.
      const bool flag = d % 2 == 1 ? c < 0 : c > 0;
      int32_t amount = WrapAbs(c);
      const int32_t s = local.FindDominatedConfiguration(term, flag, amount);
      if (s >= 0) AddIndicator(term, s, amount);
    }
  }
  Shrink();
}

}  // namespace pbf
