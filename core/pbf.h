// A pseudo-Boolean function: a polynomial over 0/1 variables with int32 coefficients.
//
// Terms live in flat per-degree tables (one `TermTable` per degree, terms appended and never
// moved by editing) and every variable has an occurrence list naming the terms it appears in, so
// that finding a term or gathering a term's neighbourhood never scans a whole table.
//
// Conventions that hold throughout the core:
// - Variable ids are non-negative int32. A term's variable list is kept in the caller's order:
//   (3, 5) and (5, 3) are two terms, and (4, 4) is a valid pairwise term.
// - All coefficient arithmetic wraps modulo 2^32 (see wrap.h).
// - Terms whose coefficient is 0 stay stored, walked and rendered until `Shrink` removes them.
// - The core checks no argument; the binding keeps bad input out. Its only failures are
//   std::bad_alloc and std::length_error, which pass through. Single edits (`AddUnary`,
//   `AddPairwise`, `AddTerm` and the energy-table forms) make room before they change anything,
//   so a failed edit leaves the function as it was.
// - Threads: one function is used by one thread at a time, but different functions may be built,
//   reduced and converted by different threads at once. Every operation keeps its scratch (the
//   exact search's value table and proof bounds, the gathering's index) for the length of the
//   call; the only process-wide state, ParityTables, is grown under a lock and read through
//   immutable snapshots (parity_tables.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "id_lists.h"
#include "wrap.h"

namespace pbf {

// One place where a variable occurs: term `index` of the table of degree `degree`.
struct Occurrence {
  int32_t degree = 0;
  int32_t index = 0;

  friend bool operator==(const Occurrence&, const Occurrence&) = default;
};

using OccurrenceList = std::vector<Occurrence>;

// All terms of one degree d: term t has the ids vars[d*t .. d*t+d-1] and the coefficient coefs[t].
struct TermTable {
  std::vector<int32_t> vars;
  std::vector<int32_t> coefs;
  int32_t degree = 0;

  int32_t Size() const { return static_cast<int32_t>(coefs.size()); }
  const int32_t* Ids(int32_t t) const {
    return vars.data() + static_cast<size_t>(degree) * static_cast<size_t>(t);
  }
  int32_t Coef(int32_t t) const { return coefs[static_cast<size_t>(t)]; }
  // Adds c to the coefficient of term t, wrapping.
  void AddToCoef(int32_t t, int32_t c) {
    int32_t& stored = coefs[static_cast<size_t>(t)];
    stored = WrapAdd(stored, c);
  }
};

// What a batch of appends will add, so that ReserveAppends can make room for all of it before the
// first append. A bulk edit of many terms fills one plan: the ids of all their positions (with
// `per_id` empty) and the number of new terms per degree.
struct AppendPlan {
  std::span<const int32_t> ids;        // the ids that gain occurrences; repeats add up
  std::span<const size_t> per_id;      // per_id[p] new occurrences of ids[p]; empty: one each
  std::span<const size_t> per_degree;  // per_degree[k]: new terms of degree k
};

// The terms of one function. `tables[d]` is the table of degree d or empty (absent): slot 0 is
// always absent, slots 1 and 2 always present, a higher slot appears with its first term and then
// stays, also when compaction empties it. `occurrences[v]` lists every (degree, index) whose
// variable list names v, once per position, the terms of one degree in ascending index order
// (terms are appended, compaction rebuilds the lists in walk order); there is a list for every id
// up to the largest in use.
struct TermStore {
  std::vector<std::optional<TermTable>> tables;
  std::vector<OccurrenceList> occurrences;

  // An empty store with `max_vars` (>= 0) empty occurrence lists presized.
  explicit TermStore(int32_t max_vars = 0);

  // Adds coef to the coefficient of the term with exactly these ids in this order, creating it
  // (with coefficient coef, even 0) when it does not exist. `degree` >= 1, ids >= 0.
  void AddUnary(int32_t coef, int32_t var);
  void AddPairwise(int32_t coef, int32_t i, int32_t j);
  void AddTerm(int32_t coef, int32_t degree, const int32_t* ids);

  // The one coefficient merge: adds coef to term `found` of this degree, or, when `found` is -1,
  // appends the term into room made before (by ReserveTerm or ReserveAppends), which cannot fail.
  // Inline, like FindTermIn: every edit and both reductions run them once per term they touch.
  void MergeOrAppend(int32_t found, int32_t coef, int32_t degree, const int32_t* ids) {
    TermTable& table = Table(degree);
    if (found >= 0) return table.AddToCoef(found, coef);
    const int32_t index = table.Size();
    for (int32_t k = 0; k < degree; ++k) table.vars.push_back(ids[k]);
    table.coefs.push_back(coef);
    for (int32_t k = 0; k < degree; ++k) OccurrencesOf(ids[k]).push_back({degree, index});
  }

  // The index of the term of this degree with exactly these ids, or -1.
  int32_t FindTerm(int32_t degree, const int32_t* ids) const;
  // The same among the first `limit` entries of `list`, the occurrence list of one of the ids.
  // The table of this degree must be present.
  int32_t FindTermIn(const OccurrenceList& list, size_t limit, int32_t degree,
                     const int32_t* ids) const {
    const TermTable& table = Table(degree);
    const Occurrence* const end = list.data() + limit;
    for (const Occurrence* occ = list.data(); occ != end; ++occ) {
      // The list of a variable holds one unary term at most: its own. A scan meets its term at
      // most once, so the hint keeps the walk over the other entries a straight loop.
      if (occ->degree == degree && (degree == 1 || SameIds(ids, table.Ids(occ->index), degree)))
          [[unlikely]] {
        return occ->index;
      }
    }
    return -1;
  }

  // The largest variable id in any stored term (zero coefficients included), -1 when none.
  int32_t MaxVarId() const;

  // Removes every term whose coefficient is 0, keeping the survivors' relative order, then
  // rebuilds the occurrence lists. Invalidates every index held across the call.
  void Shrink();

  // Resizes `occurrences` to MaxVarId() + 1 lists and refills them in walk order. Allocates only
  // the room that the lists lack: Shrink makes all of it first, so that there it cannot fail
  // half-way (called on its own, a failure can leave lists partly filled).
  void RebuildOccurrences();
  // The same for a store assembled from its tables, whose lists are all empty: every list is
  // counted first and allocated once, at its exact size. A caller that knows MaxVarId() passes it,
  // which spares a pass over every id (a quadratic form of the 512x512 grid has 13 million).
  void BuildOccurrences();
  void BuildOccurrences(int32_t max_var_id);

  // Makes room so that appending the planned terms afterwards cannot fail: absent tables with a
  // non-zero count are created (empty), the occurrence index grows to the largest planned id, and
  // every table and list gets room for its share. Grows nothing that a reader could see except
  // those new, empty tables, which the appends would create anyway.
  void ReserveAppends(const AppendPlan& plan);
  // The same for one term of this degree with these ids.
  void ReserveTerm(int32_t degree, const int32_t* ids);

  const TermTable& Table(int32_t degree) const { return *tables[static_cast<size_t>(degree)]; }
  TermTable& Table(int32_t degree) { return *tables[static_cast<size_t>(degree)]; }
  bool HasTable(int32_t degree) const {
    return degree >= 0 && static_cast<size_t>(degree) < tables.size() &&
           tables[static_cast<size_t>(degree)].has_value();
  }
  // The occurrence list of `id`, which HasList(id) must confirm.
  const OccurrenceList& OccurrencesOf(int32_t id) const {
    return occurrences[static_cast<size_t>(id)];
  }
  OccurrenceList& OccurrencesOf(int32_t id) { return occurrences[static_cast<size_t>(id)]; }
  // Whether `id` (>= 0) has an occurrence list; a variable without one occurs in no term.
  bool HasList(int32_t id) const { return static_cast<size_t>(id) < occurrences.size(); }
  // The highest degree d <= below with a present, non-empty table; 0 when there is none.
  int32_t NextNonEmptyDegree(int32_t below) const;
};

// A position in the walk over all terms of a store: highest degree first, ascending index within
// a degree, absent and empty tables skipped, zero coefficients visited. The table size is read
// anew at every step, so terms appended to the current table during the walk are visited too.
struct TermCursor {
  const TermStore* store = nullptr;
  int32_t degree = 0;  // 0 is the end position
  int32_t index = 0;

  static TermCursor Begin(const TermStore& store);
  bool AtEnd() const { return degree == 0; }
  void Advance();

  const TermTable& Table() const { return store->Table(degree); }
  const int32_t* Ids() const { return Table().Ids(index); }
  int32_t Coef() const { return Table().Coef(index); }
};

// The term handed to each step of the reductions: its degree and its ids, read in place in its
// table (the reductions never append to the table of the term they visit, so the ids stay put).
struct TermRef {
  int32_t degree = 0;
  const int32_t* ids = nullptr;
};

struct LocalFunction;

struct PBF {
  int32_t constant = 0;
  TermStore terms;

  explicit PBF(int32_t max_vars = 0) : terms(max_vars) {}

  // --- Editing (term_store.cpp, energy_tables.cpp) ---
  void AddUnary(int32_t coef, int32_t var) { terms.AddUnary(coef, var); }
  void AddPairwise(int32_t coef, int32_t i, int32_t j) { terms.AddPairwise(coef, i, j); }
  // Degree 0 adds coef to the constant.
  void AddTerm(int32_t coef, int32_t degree, const int32_t* ids);

  // Energy tables: e0/e1 are the values at x_i = 0/1; eab the value at x_i = a, x_j = b.
  void AddUnaryTerm(int32_t i, int32_t e0, int32_t e1);
  void AddPairwiseTerm(int32_t i, int32_t j, int32_t e00, int32_t e01, int32_t e10, int32_t e11);
  // `vals[s]` is the value when variable p of `vars` takes bit n-1-p of s (first variable = most
  // significant bit), 0 <= n <= 30. Adds the Moebius inversion of the table: one term per subset
  // with a non-zero coefficient, subsets in ascending mask order.
  void AddHigherTerm(int32_t cliquesize, const int32_t* vars, const int32_t* vals);

  // --- Queries and compaction ---
  int32_t MaxId() const { return terms.MaxVarId(); }
  // The highest degree whose table is present (>= 2; never decreases).
  int32_t MaxDegree() const;
  void Shrink() { terms.Shrink(); }

  // --- Text (render.cpp) ---
  // " +2x_{1} -1x_{2} +0x_{3} +5x_{1}x_{2} +3" plus a newline, to C stdout.
  void Print() const;
  // The same text without the newline, and zero coefficients written " 0" instead of " +0".
  std::string GetString() const;

  // --- Exact higher-order reduction (reduce_higher.cpp) ---
  // Removes, in one pass from the highest degree down, every term of degree >= 3 for which a
  // configuration of its variables is strictly worse than another one, then compacts. The minimum
  // and the set of minimisers stay the same (unless a sum wraps). Terms of degree above 16 and
  // terms whose ids are not strictly ascending are left unchanged.
  void ReduceHigher();
  // The same pass, except that a term is also left unchanged when |constant| + the sum of |coef|
  // over its neighbourhood + its own |coef| does not fit int32. Every rewrite is then exact in
  // integers: the result keeps the minimum and every minimiser of the function read as an integer
  // polynomial, whatever its sums elsewhere. Where no neighbourhood comes near the int32 limit the
  // result is exactly ReduceHigher's.
  void ReduceHigherSafely();
  // Fills `local` with every term of non-zero coefficient sharing a variable with `term`, each
  // once, in no particular order; the local variables are `term`'s ids (u_k at bit d-1-k when
  // they are distinct) and then the others in the order met. False (and `local` unusable) when
  // they number more than degree + 16, or more than 32.
  bool BuildNeighbourhood(LocalFunction& local, TermRef term) const;
  // Adds `amount` times the indicator polynomial of configuration s of the term's variables
  // (add_indicator.cpp); applied whole or, when memory runs out, not at all.
  void AddIndicator(TermRef term, int32_t s, int32_t amount);

  // --- Approximate higher-order reduction (reduce_higher_approx.cpp) ---
  // Removes every term of degree 3 to 30, leaving an upper bound that differs from the function
  // only at one chosen configuration per removed term, then compacts.
  void ReduceHigherApprox();
  // Fills an empty `local` with `term`'s ids and every term lying within them.
  void GatherSubterms(LocalFunction& local, TermRef term) const;

  // --- Quadratic conversion (to_quadratic.cpp) ---
  // Adds the quadratic form of this function to `target` (which may be this function itself),
  // auxiliary variables numbered from max(newvar, MaxId() + 1); returns the next free id.
  int32_t ToQuadratic(PBF& target, int32_t newvar) const;
  void ConvertTerm(const TermCursor& cursor, int32_t& next_id);
};

}  // namespace pbf
