// Approximate higher-order reduction: removes every term T = a * y0 ... y(d-1) of degree 3 and
// more by adding |a| times the indicator of one assignment t of T's variables, with t of the
// parity that makes the indicator's top product -a. Every addition is non-negative, so the result
// is an upper bound that differs from the input only where some reduced term's variables equal its
// t. Among the candidates t is the first (smallest mask) at which the terms lying inside T's
// variables are largest, so the error lands where the function is already high.
//
// Terms are walked from the highest degree down; the lower terms a rewrite creates are reduced
// when the walk reaches their degree, and the final Shrink drops the cancelled ones.
//
// Cost per term of degree d: the occurrence lists of its own variables (or 2^d - 1 index lookups,
// below), 2^(d-1) candidates times the gathered entries, and up to 2^d indicator products.
//
// Choices worth knowing:
// - One LocalFunction serves every term, so once its storage has grown a term costs no allocation.
// - Terms of degree above 30 are left as they are and remain after the call: their candidates,
//   parity lists and indicator masks no longer fit 32-bit arithmetic.
// - When no candidate beats the smallest int32 (every local value is exactly that), nothing is
//   added and the term stays too; this needs a sum that sits on the int32 limit.
// - Lists grow long on a variable shared by many terms, and every rewrite leaves its cancelled
//   terms listed until the final compaction. Where scanning them would cost more, the sub-terms
//   and the terms a rewrite adds to are found through a SubtermIndex (subterm_index.h), which
//   finds exactly the same terms whenever every stored term lists its ids strictly ascending, and
//   is not used otherwise. The terms a rewrite adds to are all subsets of T, so a T gathered
//   through the index needs no second lookup for them: the answers of its gathering serve.
// - Once one term has been gathered through the index, every later one is, and nothing reads
//   the occurrence lists again before the final compaction rebuilds them; so the terms appended
//   from then on are not listed (on 10^6 random monomials, their appends to the lists took a
//   third of the time; bench/RESULTS.md). Should memory run out after that, the rewrites made so
//   far stay: the index is freed and the appended terms are listed then. Keeping room in the lists
//   for them all along would make that listing safe, but cost 570 MB of lists grown as the
//   reduction went on 10^6 monomials, a sixth of its time; instead the store is recorded when
//   listing stops, and only when even the listing runs out of memory does it go back to that
//   record (which allocates nothing), so the store is intact whatever fails.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "id_lists.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "subterm_index.h"
#include "wrap.h"

namespace pbf {
namespace {

// Whether U = u[0..g) lies among T = y[0..d): cheap range checks, then one joint forward walk.
// For strictly ascending ids this is the subset test; for other orders it may refuse a term that
// does lie inside T, but it only ever takes terms all of whose ids occur in T. Each step moves p or
// q forward, and both bounds are tested before the next read, so neither list is read past its end.
bool LiesWithin(const int32_t* u, int32_t g, const int32_t* y, int32_t d) {
  if (g > d) return false;
  if (u[0] > y[d - 1] || u[g - 1] < y[0] || u[0] < y[0]) return false;
  int32_t p = 0;
  int32_t q = 0;
  for (;;) {
    if (y[p] == u[q]) {
      if (++q == g) return true;
    } else if (++p == d) {
      return false;
    }
    if (u[q] < y[p]) return false;
  }
}

// U's bits in T's mask layout (y0 the most significant of d bits). The position only moves
// forward, taking the same steps as the walk in LiesWithin, which U has passed, so p stays below d.
uint32_t MaskWithin(const int32_t* u, int32_t g, const int32_t* y, int32_t d) {
  uint32_t mask = 0;
  uint32_t bit = uint32_t{1} << (d - 1);
  int32_t p = 0;
  for (int32_t q = 0; q < g; ++q) {
    while (y[p] != u[q]) {
      ++p;
      bit >>= 1;
      assert(p < d);
    }
    mask |= bit;
  }
  return mask;
}

// Resolves the taken terms of L to their masks within T.
void FinishGathering(const TermStore& terms, LocalFunction& local, const int32_t* y, int32_t d) {
  local.ResolveTakenTerms(terms,
                          [y, d](const int32_t* u, int32_t g) { return MaskWithin(u, g, y, d); });
}

// What GatherSubterms gathers for a term with distinct ascending ids, found by looking up each
// subset of its ids in an exact index, which leaves the answer for subset s in found[s]. Each
// subset is its own mask in T's layout. The term is stored, at `stored_at` in its table.
void GatherFromIndex(const PBF& f, SubtermIndex& index, LocalFunction& local, TermRef term,
                     int32_t stored_at, std::vector<int32_t>& found) {
  const int32_t d = term.degree;
  const uint32_t n = uint32_t{1} << d;
  if (found.size() < n) found.resize(n);
  index.FindSubsets(term, found.data(), stored_at);
  std::copy(term.ids, term.ids + d, local.vars.begin());
  local.count = d;
  const uint8_t* degrees = index.Degrees();
  const int32_t* coefs[kMaxApproxDegree + 1];
  for (int32_t k = 1; k <= d; ++k) {
    coefs[k] = f.terms.HasTable(k) ? f.terms.Table(k).coefs.data() : nullptr;
  }
  for (uint32_t s = 1; s < n; ++s) {
    if (found[s] < 0) continue;
    local.entries.push_back({s, coefs[degrees[s]][found[s]]});
  }
  local.constant = WrapAdd(local.constant, f.constant);
}

// Gathers a term's sub-terms by scanning its variables' lists (PBF::GatherSubterms) or by looking
// up its subsets in a SubtermIndex, whichever is cheaper. A lookup costs a few times a scanned
// entry: it probes the index and the tables out of order, while neighbouring entries of a list
// often name terms stored close together. So the index serves only terms whose lists are long,
// and since building it costs about one insertion per stored term, it is built only once the
// scanning it would have saved adds up to that much: a function whose lists stay short never pays
// for it. The two figures below were measured (bench/RESULTS.md): a lookup counted as 32 scanned
// entries, without the floor of 256, made pubo1e4x1e5 1.6 times slower; with a lookup counted as
// 2 to 8 entries and no floor, the grids' short lists (75 to 100 entries around a window) went
// to the index and grid256 was 20% slower.
class Gatherer {
 public:
  // Fills `local` for `term`, stored at `stored_at` in its table; true when it was gathered
  // through the index.
  bool Gather(const PBF& f, LocalFunction& local, TermRef term, int32_t stored_at) {
    constexpr size_t kLookupCost = 4;
    constexpr size_t kLongLists = 256;
    size_t listed = 0;
    for (int32_t k = 0; k < term.degree; ++k) {
      const OccurrenceList& list = f.terms.OccurrencesOf(term.ids[k]);
      listed += list.size();
      // Where a rewrite of the term appends, requested while the term is examined.
      __builtin_prefetch(list.data() + list.size(), 1);
    }
    const size_t lookups = kLookupCost * ((size_t{1} << term.degree) - 1);
    if (lookups < listed && listed > kLongLists) {
      if (index_) {
        index_->CatchUp();
      } else if ((would_have_saved_ += listed - lookups) > StoredTerms(f.terms)) {
        index_.emplace(f.terms, ExpectedTerms(f.terms, term, stored_at));
      }
      if (index_ && index_->Exact()) {
        // T's ids ascend, as all indexed terms' do.
        GatherFromIndex(f, *index_, local, term, stored_at, found_);
        return true;
      }
    }
    f.GatherSubterms(local, term);
    return false;
  }

  // Gathers through the index, which must have served the last call of Gather (and is then exact
  // for good: every term appended since lies within a term that the index has served), with
  // every store change since made by RewriteUnlisted, which keeps the index caught up.
  void GatherIndexed(const PBF& f, LocalFunction& local, TermRef term, int32_t stored_at) {
    assert(index_->Exact());
    GatherFromIndex(f, *index_, local, term, stored_at, found_);
  }

  // AddIndicatorFoundUnlisted for the term just gathered through the index.
  void RewriteUnlisted(PBF& f, TermRef term, int32_t s, int32_t amount) {
    AddIndicatorFoundUnlisted(f, term, s, amount, found_.data(), *index_);
  }

  // Requests what gathering `term` through the index will read (a hint, once the index exists).
  void Prefetch(TermRef term) const {
    if (index_) index_->Prefetch(term);
  }

  // Frees the index and the lookups' answers.
  void Release() {
    index_.reset();
    found_ = {};
  }

  // The index, caught up with the store, once it exists and as long as it is exact; else null.
  const SubtermIndex* CaughtUpIndex() {
    if (!index_) return nullptr;
    index_->CatchUp();
    return index_->Exact() ? &*index_ : nullptr;
  }

 private:
  static size_t StoredTerms(const TermStore& terms) {
    size_t n = 0;
    for (const auto& table : terms.tables) n += table ? table->coefs.size() : 0;
    return n;
  }

  // How many terms of degree 2 and more the store will hold when the walk, now at `term` (at
  // `stored_at` in its table), is done: what it holds, and for each term of degree d >= 3 still to
  // be reduced 2^(d-2) - 1 more (the additions of a rewrite at one fixed bit number 2^(d-1) - 1,
  // about half of which find their term already there). On 10^6 random monomials of degree 3 to 6
  // that foresees 9.7 M of the 14.6 M terms, enough to spare the index two of its three refills;
  // capped at 8 times the stored terms for functions, like a clique's, whose additions mostly
  // merge.
  // Called once per reduction at most: kept out of line, away from the gathering that runs for
  // every term (inlined there, it left the grids' gathering up to 5% slower).
  [[gnu::cold, gnu::noinline]] static size_t ExpectedTerms(const TermStore& terms, TermRef term,
                                                           int32_t stored_at) {
    size_t stored = 0;
    size_t added = 0;
    for (size_t d = 2; d < terms.tables.size() && d <= kMaxApproxDegree; ++d) {
      if (!terms.tables[d]) continue;
      const size_t size = terms.tables[d]->coefs.size();
      stored += size;
      if (d < 3 || d > static_cast<size_t>(term.degree)) continue;
      const size_t pending =
          d == static_cast<size_t>(term.degree) ? size - static_cast<size_t>(stored_at) : size;
      added += pending * ((size_t{1} << (d - 2)) - 1);
    }
    return stored + std::min(added, 7 * stored);
  }

  std::optional<SubtermIndex> index_;
  size_t would_have_saved_ = 0;
  std::vector<int32_t> found_;
};

}  // namespace

void PBF::GatherSubterms(LocalFunction& local, TermRef term) const {
  const int32_t d = term.degree;
  const int32_t* y = term.ids;
  assert(d >= 1 && d <= static_cast<int32_t>(local.vars.size()) && local.taken.empty());
  std::copy(y, y + d, local.vars.begin());
  local.count = d;
  // A term is found once for each of its occurrences among T's variables.
  for (int32_t k = 0; k < d; ++k) {
    for (const Occurrence& occ : terms.OccurrencesOf(y[k])) {
      if (LiesWithin(terms.Table(occ.degree).Ids(occ.index), occ.degree, y, d)) {
        local.taken.push_back(occ);
      }
    }
  }
  FinishGathering(terms, local, y, d);
  local.constant = WrapAdd(local.constant, constant);
}

namespace {

// The store as it was when its terms stopped being listed: the constant, the size of every table
// and every coefficient, so that a reduction that runs out of memory later can go back to it.
class ListedState {
 public:
  // Records f; when this runs out of memory, nothing is recorded.
  void Record(const PBF& f) {
    std::vector<int32_t> sizes(f.terms.tables.size(), 0);
    size_t total = 0;
    for (size_t d = 0; d < sizes.size(); ++d) {
      if (!f.terms.tables[d]) continue;
      sizes[d] = f.terms.tables[d]->Size();
      total += static_cast<size_t>(sizes[d]);
    }
    std::vector<int32_t> coefs;
    coefs.reserve(total);
    for (const auto& table : f.terms.tables) {
      if (table) coefs.insert(coefs.end(), table->coefs.begin(), table->coefs.end());
    }
    constant_ = f.constant;
    sizes_.swap(sizes);
    coefs_.swap(coefs);
  }

  bool Recorded() const { return !sizes_.empty(); }

  // Lists the terms appended since the record; when memory runs out part-way, takes back what it
  // listed (the lists' tails) and rethrows.
  void ListAppended(PBF& f) const {
    try {
      for (size_t d = 1; d < f.terms.tables.size(); ++d) {
        if (!f.terms.tables[d]) continue;
        const TermTable& table = *f.terms.tables[d];
        for (int32_t t = RecordedSize(d); t < table.Size(); ++t) {
          const int32_t* ids = table.Ids(t);
          for (size_t k = 0; k < d; ++k) {
            f.terms.OccurrencesOf(ids[k]).push_back({static_cast<int32_t>(d), t});
          }
        }
      }
    } catch (...) {
      for (OccurrenceList& list : f.terms.occurrences) {
        while (!list.empty() && list.back().index >= RecordedSize(list.back().degree)) {
          list.pop_back();
        }
      }
      throw;
    }
  }

  // Puts f back as recorded: the terms appended since are dropped (their tables shrink, which
  // allocates nothing; a table created since stays, empty) and the coefficients copied back.
  void Restore(PBF& f) const {
    const int32_t* coef = coefs_.data();
    for (size_t d = 1; d < f.terms.tables.size(); ++d) {
      if (!f.terms.tables[d]) continue;
      TermTable& table = *f.terms.tables[d];
      const auto size = static_cast<size_t>(RecordedSize(d));
      table.coefs.resize(size);
      table.vars.resize(d * size);
      std::copy(coef, coef + size, table.coefs.begin());
      coef += size;
    }
    f.constant = constant_;
  }

 private:
  int32_t RecordedSize(size_t degree) const {
    return degree < sizes_.size() ? sizes_[degree] : 0;
  }

  int32_t constant_ = 0;
  std::vector<int32_t> sizes_;  // per degree (absent tables 0); empty before Record
  std::vector<int32_t> coefs_;  // the tables' coefficients, by ascending degree
};

}  // namespace

void PBF::ReduceHigherApprox() {
  LocalFunction local;
  Gatherer gatherer;
  std::shared_ptr<const ParityTables> parity;
  // Once a term has been gathered through the index, every later one is (the index finds the
  // same terms, and the terms appended since all lie within terms it served), so nothing reads
  // the occurrence lists before the final compaction rebuilds them: the terms appended from then
  // on are listed nowhere, which saves every append its lists. `listed` is the store then.
  ListedState listed;
  try {
    for (TermCursor cursor = TermCursor::Begin(terms); cursor.degree >= 3; cursor.Advance()) {
      const int32_t d = cursor.degree;
      if (d > kMaxApproxDegree) continue;
      const int32_t a = cursor.Coef();
      const bool odd = CancelsWithOddParity(d, a);
      // A rewrite appends only to lower degrees (T's own product merges into T), so T's ids stay
      // where they are.
      const TermRef term{d, cursor.Ids()};
      local.Clear();
      if (listed.Recorded()) {
        // The next term of this degree, whose buckets load while this one is examined.
        if (cursor.index + 1 < cursor.Table().Size()) gatherer.Prefetch({d, term.ids + d});
        gatherer.GatherIndexed(*this, local, term, cursor.index);
        if (!parity || parity->built_degree < d) parity = EnsureParityTables(d);
        const int32_t t = local.FindBestAssignment(odd, *parity);
        if (t >= 0) gatherer.RewriteUnlisted(*this, term, t, WrapAbs(a));
        continue;
      }
      const bool indexed = gatherer.Gather(*this, local, term, cursor.index);
      // One snapshot serves the whole walk: the first degree reduced is the largest.
      if (!parity || parity->built_degree < d) parity = EnsureParityTables(d);
      const int32_t t = local.FindBestAssignment(odd, *parity);
      if (indexed) {
        listed.Record(*this);
        if (t >= 0) gatherer.RewriteUnlisted(*this, term, t, WrapAbs(a));
        continue;
      }
      if (t < 0) continue;
      // The terms a rewrite adds to are subsets of T: once lists are long enough to build the
      // index, it finds them faster than the lists.
      if (const SubtermIndex* index = gatherer.CaughtUpIndex()) {
        AddIndicatorIndexed(*this, term, t, WrapAbs(a), *index);
      } else {
        AddIndicator(term, t, WrapAbs(a));
      }
    }
    // Changes nothing when it fails, and rebuilds every list when it does not.
    Shrink();
  } catch (...) {
    // Memory ran out: the rewrites made so far stay, and the terms they appended are listed after
    // all, once the index has given back its memory; failing that, the later rewrites go.
    if (listed.Recorded()) {
      gatherer.Release();
      try {
        listed.ListAppended(*this);
      } catch (...) {
        listed.Restore(*this);
      }
    }
    throw;
  }
}

}  // namespace pbf
