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
// Cost per term: one pass over the occurrences of its own variables to find the local variables,
// which stops as soon as there are too many; for an admitted term, sorting those occurrences
// (never a table scan), then the search (up to 2^d configurations, each enumerating at most 2^16
// assignments, see dominated_configuration.cpp) and up to 2^d additions.
//
// Choices worth knowing:
// - One LocalFunction serves every term, so once its storage has grown a term costs no allocation.
// - Local variables go into a small hash set of at most min(d, 16) + 16 ids, and the first id too
//   many ends the gathering: no list of every neighbour id is built. Masks are looked up id by id
//   in the same set, which gives every stored product its value whatever the order of its ids:
//   (j, i) and (i, i) are fine as neighbours.
// - Terms outside what the search is made for are left as they are, which is always sound: ids
//   that are not strictly ascending (a repeated id has no configuration layout, and the terms a
//   rewrite creates would inherit the disorder) and degrees above 16 (the neighbourhood could pass
//   the d + 16 test with more than 32 variables, and configurations stop fitting the tables).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "dominated_configuration.h"
#include "id_lists.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {
namespace {

// The local variables while they are gathered: an open-addressing set of at most 32 ids in 64
// slots, so that each of the many ids read costs one or two probes. Once complete, each slot also
// holds its id's bit in the LocalFunction's masks.
class LocalIds {
 public:
  LocalIds() { std::fill(std::begin(ids_), std::end(ids_), -1); }

  // Adds id (>= 0); false when that would make more than `limit` ids.
  bool Add(int32_t id, int32_t limit) {
    size_t slot = SlotOf(id);
    if (ids_[slot] == id) return true;
    if (ids_[slot] >= 0) {
      do {
        slot = (slot + 1) % kSlots;
      } while (ids_[slot] >= 0 && ids_[slot] != id);
      if (ids_[slot] == id) return true;
    }
    if (count_ == limit) return false;
    ids_[slot] = id;
    ++count_;
    return true;
  }

  // Stores the ids ascending in local.vars and gives every slot its id's mask bit.
  void Finish(LocalFunction& local) {
    int32_t* vars = local.vars.data();
    int32_t n = 0;
    for (const int32_t id : ids_) {
      if (id >= 0) vars[n++] = id;
    }
    std::sort(vars, vars + n);
    local.count = n;
    for (size_t slot = 0; slot < kSlots; ++slot) {
      if (ids_[slot] < 0) continue;
      const auto position =
          static_cast<int32_t>(std::lower_bound(vars, vars + n, ids_[slot]) - vars);
      bits_[slot] = 1u << (n - 1 - position);
    }
  }

  // The mask of a term whose ids were all added, whatever their order or repeats.
  uint32_t MaskOf(const int32_t* ids, int32_t degree) const {
    uint32_t mask = 0;
    for (int32_t k = 0; k < degree; ++k) {
      size_t slot = SlotOf(ids[k]);
      while (ids_[slot] != ids[k]) slot = (slot + 1) % kSlots;
      mask |= bits_[slot];
    }
    return mask;
  }

 private:
  static constexpr size_t kSlots = 64;
  static size_t SlotOf(int32_t id) { return (static_cast<uint32_t>(id) * 0x9E3779B1u) >> 26; }

  int32_t ids_[kSlots];
  uint32_t bits_[kSlots];
  int32_t count_ = 0;
};

}  // namespace

bool PBF::BuildNeighbourhood(LocalFunction& local, TermRef term) const {
  const int32_t d = term.degree;
  local.Clear();
  // One pass over the occurrence lists of T's variables finds the local variables and gathers the
  // terms with a non-zero coefficient into `taken`. The first variable too
  // many refuses the term at once, before any sorting, so a variable shared by many terms (a hub)
  // does not cost the length of its list for every term on it. T's own ids count even when its
  // coefficient is 0.
  const int32_t limit = std::min(d, kMaxFreeVariables) + kMaxFreeVariables;
  LocalIds ids;
  for (int32_t k = 0; k < d; ++k) {
    if (!ids.Add(term.ids[k], limit)) return false;
  }
  for (int32_t k = 0; k < d; ++k) {
    if (!terms.HasList(term.ids[k])) continue;
    for (const Occurrence& occ : terms.OccurrencesOf(term.ids[k])) {
      const TermTable& table = terms.Table(occ.degree);
      if (table.Coef(occ.index) == 0) continue;
      const int32_t* neighbour = table.Ids(occ.index);
      for (int32_t n = 0; n < occ.degree; ++n) {
        if (!ids.Add(neighbour[n], limit)) return false;
      }
      local.taken.push_back(occ);
    }
  }
  ids.Finish(local);
  local.ResolveTakenTerms(
      terms, [&ids](const int32_t* u, int32_t degree) { return ids.MaskOf(u, degree); });
  local.constant = WrapAdd(local.constant, constant);
  return true;
}

void PBF::ReduceHigher() {
  LocalFunction local;
  for (int32_t d = terms.NextNonEmptyDegree(kLargest); d >= 3;
       d = terms.NextNonEmptyDegree(d - 1)) {
    // Rewrites add to T itself and to lower degrees only, so the table of degree d gains no term
    // while it is walked (its storage may still move: T's ids are looked up afresh every step).
    for (int32_t t = 0; t < terms.Table(d).Size(); ++t) {
      const int32_t c = terms.Table(d).Coef(t);
      const TermRef term{d, terms.Table(d).Ids(t)};
      if (d > kMaxExactDegree || !StrictlyAscending(term.ids, d)) continue;
      if (!BuildNeighbourhood(local, term)) continue;
      const bool odd = CancelsWithOddParity(d, c);
      int32_t amount = WrapAbs(c);
      const int32_t s = FindDominatedConfiguration(local, term, odd, amount);
      if (s >= 0) AddIndicator(term, s, amount);
    }
  }
  Shrink();
}

}  // namespace pbf
