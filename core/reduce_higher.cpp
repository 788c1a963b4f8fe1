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
// Cost per term: one pass over the occurrences of its own variables, which finds the local
// variables and the neighbours' masks together and stops as soon as there are too many variables
// (never a table scan; the heads of lists longer than 128 entries are read once more, for their
// ids alone, before it); then the search (up to 2^d configurations, each enumerating at most 2^16
// assignments, see dominated_configuration.cpp) and up to 2^d additions.
//
// Choices worth knowing:
// - One LocalFunction serves every term, so once its storage has grown a term costs no allocation.
//   That includes its byte per variable of the function, which maps an id to its local index in
//   one load; the gathering clears only the bytes it set.
// - At most min(d, 16) + 16 local variables are admitted, and the first id too many ends the
//   gathering: no list of every neighbour id is built. A neighbour's mask is made from the bits
//   of its ids as they are looked up, which gives every stored product its value whatever the
//   order of its ids: (j, i) and (i, i) are fine as neighbours.
// - The neighbours are neither sorted nor deduplicated afterwards: each is taken from one list
//   only, and the local variables keep the order in which they were met (the order of entries and
//   bits changes no result, see local_function.h). Sorting the gathered terms took 16% of the
//   reduction of grid256 (bench/RESULTS.md).
// - ReduceHigherSafely is the same pass with one test more: a term whose neighbourhood's
//   |constant| + sum |coef| + |c| does not fit int32 is left as it is. Then no value the search
//   compares and no coefficient a rewrite merges can wrap, so every rewrite is exact in integers.
// - Terms outside what the search is made for are left as they are, which is always sound: ids
//   that are not strictly ascending (a repeated id has no configuration layout, and the terms a
//   rewrite creates would inherit the disorder) and degrees above 16 (the neighbourhood could pass
//   the d + 16 test with more than 32 variables, and configurations stop fitting the tables).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "dominance_proof.h"
#include "dominated_configuration.h"
#include "id_lists.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {
namespace {

// The local variables while they are gathered. Each id read is looked up in LocalFunction's
// `local_index`, one byte per variable of the big function: a single load, where the small hash
// set this replaced spent a multiply and a probe loop on each of the ~150 ids read per term of
// grid256 (the gathering took 1.3 times as long). An id gets the next local index when it is
// first met, and index p is bit p of the LocalFunction's masks. The bytes set are reset to -1
// when the gathering ends, refused or not, so the index costs nothing per term but the ids met.
class LocalIds {
 public:
  // `vars` bounds every id that will be looked up.
  LocalIds(std::vector<int8_t>& index, size_t vars) {
    if (index.size() < vars) index.resize(vars, -1);
    index_ = index.data();
  }
  ~LocalIds() {
    for (int32_t p = 0; p < count_; ++p) index_[by_index_[p]] = -1;
  }
  LocalIds(const LocalIds&) = delete;
  LocalIds& operator=(const LocalIds&) = delete;

  // The index of id (>= 0), new if it was not met before; -1 when that would make more than
  // `limit` ids.
  int32_t IndexOf(int32_t id, int32_t limit) {
    const int32_t p = index_[id];
    if (p >= 0) return p;
    if (count_ == limit) return -1;
    index_[id] = static_cast<int8_t>(count_);
    by_index_[count_] = id;
    return count_++;
  }

  int32_t Count() const { return count_; }
  int32_t IdAt(int32_t index) const { return by_index_[index]; }

  // Stores the ids in local.vars, vars[k] being the one of bit count-1-k.
  void Finish(LocalFunction& local) const {
    local.count = count_;
    for (int32_t p = 0; p < count_; ++p)
      local.vars[static_cast<size_t>(count_ - 1 - p)] = by_index_[p];
  }

 private:
  int8_t* index_;
  int32_t by_index_[kMaxLocalVariables];
  int32_t count_ = 0;
};

// A hub refuses the terms on it from the first entries of its long list, but the gathering below
// spends a mask and two tests on every id it reads. So the heads of T's long lists are first
// scanned for their ids alone, as the gathering did when it sorted: on the hub workloads the
// exact reduction took 1.3 to 1.4 times as long without this scan. Ids met here only get their
// local indices earlier, which changes no result (local_function.h), and a term that passes has
// read at most a quarter of such a list twice.
constexpr size_t kLongList = 128;
constexpr size_t kListHead = 32;

bool FitsLongListHeads(const TermStore& terms, LocalIds& ids, int32_t own, int32_t limit) {
  for (int32_t q = own - 1; q >= 0; --q) {
    const int32_t var = ids.IdAt(q);
    if (!terms.HasList(var) || terms.OccurrencesOf(var).size() <= kLongList) continue;
    const OccurrenceList& list = terms.OccurrencesOf(var);
    for (size_t e = 0; e < kListHead; ++e) {
      const TermTable& table = terms.Table(list[e].degree);
      if (table.Coef(list[e].index) == 0) continue;
      const int32_t* neighbour = table.Ids(list[e].index);
      for (int32_t n = 0; n < list[e].degree; ++n) {
        if (ids.IndexOf(neighbour[n], limit) < 0) return false;
      }
    }
  }
  return true;
}

}  // namespace

bool PBF::BuildNeighbourhood(LocalFunction& local, TermRef term) const {
  const int32_t d = term.degree;
  local.Clear();
  // One pass over the occurrence lists of T's variables finds the local variables and the terms
  // with a non-zero coefficient. The first variable too many refuses the term at once, so a
  // variable shared by many terms (a hub) does not cost the length of its list for every term on
  // it. T's own ids count even when its coefficient is 0. They come first, the last one first,
  // so that a term with distinct ids has u_k at bit d-1-k, the configuration's own layout.
  const int32_t limit = std::min(d, kMaxFreeVariables) + kMaxFreeVariables;
  // Every stored term's ids have lists (pbf.h); T's may lie beyond them.
  size_t vars = terms.occurrences.size();
  for (int32_t k = 0; k < d; ++k) vars = std::max(vars, static_cast<size_t>(term.ids[k]) + 1);
  LocalIds ids(local.local_index, vars);
  for (int32_t k = d - 1; k >= 0; --k) {
    if (ids.IndexOf(term.ids[k], limit) < 0) return false;
  }
  // A neighbour is listed once for each of its positions that hold one of T's variables. It is
  // taken from the first of those lists read, so each is taken once without sorting. Where it
  // names that variable twice it is listed there twice: such terms go through `taken`, which
  // tells repeats apart. The lists are read in T's order, the highest local index first (a
  // repeated id of T has the index of its last place): a hub among T's variables then refuses
  // the term from the first, cached entries of its list. Read last, it made the hub workloads
  // reduce 4 to 8 times slower.
  const int32_t own = ids.Count();
  if (!FitsLongListHeads(terms, ids, own, limit)) return false;
  for (int32_t q = own - 1; q >= 0; --q) {
    const int32_t var = ids.IdAt(q);
    if (!terms.HasList(var)) continue;
    // A neighbour with one of T's variables whose list was read before (bits q+1 ... own-1) was
    // taken there, with all its ids: looking them up again adds none and refuses nothing. So the
    // test comes once, after the mask is made, instead of as a break at the first such id, a
    // branch mispredicted on about one neighbour in five (grid256 reduced 5% faster without it).
    const uint32_t read_before = ((1u << own) - 1) & ~((2u << q) - 1);
    for (const Occurrence& occ : terms.OccurrencesOf(var)) {
      const TermTable& table = terms.Table(occ.degree);
      const int32_t coef = table.Coef(occ.index);
      if (coef == 0) continue;
      const int32_t* neighbour = table.Ids(occ.index);
      uint32_t mask = 0;
      int32_t times = 0;  // how often the neighbour names var
      for (int32_t n = 0; n < occ.degree; ++n) {
        const int32_t p = ids.IndexOf(neighbour[n], limit);
        if (p < 0) return false;
        times += p == q ? 1 : 0;
        mask |= 1u << p;
      }
      if (mask & read_before) continue;
      if (times > 1) {
        if (std::find(local.taken.begin(), local.taken.end(), occ) != local.taken.end()) continue;
        local.taken.push_back(occ);
      }
      local.entries.push_back({mask, coef});
    }
  }
  ids.Finish(local);
  local.constant = WrapAdd(local.constant, constant);
  return true;
}

namespace {

// What the pass does with a term whose neighbourhood's sums may leave the int32 range.
enum class Wrapping { kAllowed, kRefused };

// The pass of ReduceHigher and ReduceHigherSafely: they differ in one test per term.
void ReducePass(PBF& f, Wrapping wrapping) {
  LocalFunction local;
  SearchScratch scratch;
  std::shared_ptr<const ParityTables> parity;
  TermStore& terms = f.terms;
  for (int32_t d = terms.NextNonEmptyDegree(kLargest); d >= 3;
       d = terms.NextNonEmptyDegree(d - 1)) {
    // Rewrites add to T itself and to lower degrees only, so the table of degree d gains no term
    // while it is walked (its storage may still move: T's ids are looked up afresh every step).
    for (int32_t t = 0; t < terms.Table(d).Size(); ++t) {
      const int32_t c = terms.Table(d).Coef(t);
      const TermRef term{d, terms.Table(d).Ids(t)};
      if (d > kMaxExactDegree || !StrictlyAscending(term.ids, d)) continue;
      if (!f.BuildNeighbourhood(local, term)) continue;
      const bool odd = CancelsWithOddParity(d, c);
      int32_t amount = WrapAbs(c);
      if (wrapping == Wrapping::kRefused && !SumsCannotWrap(local, amount)) continue;
      // One snapshot serves the whole walk: the first degree searched is the largest.
      if (!parity || parity->built_degree < d) parity = EnsureParityTables(d);
      const int32_t s = FindDominatedConfiguration(local, term, odd, amount, *parity, scratch);
      if (s >= 0) f.AddIndicator(term, s, amount);
    }
  }
  f.Shrink();
}

}  // namespace

void PBF::ReduceHigher() { ReducePass(*this, Wrapping::kAllowed); }

void PBF::ReduceHigherSafely() { ReducePass(*this, Wrapping::kRefused); }

}  // namespace pbf
