// Term storage: finding, creating and merging terms, and the walk over all terms.
//
// A term is found through an occurrence list rather than by scanning its table. The store never
// holds two terms with the same degree and ordered ids, so the term, when it exists, is listed in
// the occurrence list of every one of its variables; scanning the shortest of those lists finds
// it at the cost of the least-used variable, which keeps a variable shared by millions of terms
// (a hub) from making every addition linear.
//
// Creating a term first makes room for everything it appends (table slot, occurrence index,
// occurrence lists, table arrays) and only then appends, so an allocation failure leaves the store
// exactly as it was.
#include <algorithm>
#include <array>
#include <span>

#include "id_lists.h"
#include "pbf.h"
#include "pbf_limits.h"

namespace pbf {
namespace {

// Ensures `room` free slots, growing geometrically so that appends stay amortised O(1). Capacities
// run 3, 7, 15, ... (2c + 1) rather than 1, 2, 4, ...: the smallest heap block holds three 8-byte
// occurrences anyway, and most occurrence lists are short, so this saves reallocations. Against
// plain doubling: to_quadratic 4-22% faster, building random monomials and hubs 9-28% faster,
// but building the grids 11% slower, and built functions take 3-7% more memory
// (bench/RESULTS.md, "Speed tricks").
template <typename T>
void ReserveRoom(std::vector<T>& v, size_t room) {
  if (v.capacity() - v.size() >= room) return;
  v.reserve(std::max({v.size() + room, 2 * v.capacity() + 1, size_t{3}}));
}

}  // namespace

TermStore::TermStore(int32_t max_vars)
    : tables(3), occurrences(static_cast<size_t>(std::max<int32_t>(max_vars, 0))) {
  tables[1].emplace().degree = 1;
  tables[2].emplace().degree = 2;
}

int32_t TermStore::FindTerm(int32_t degree, const int32_t* ids) const {
  if (!HasTable(degree)) return -1;
  const OccurrenceList* shortest = nullptr;
  for (int32_t k = 0; k < degree; ++k) {
    if (!HasList(ids[k])) return -1;
    const OccurrenceList& list = OccurrencesOf(ids[k]);
    if (!shortest || list.size() < shortest->size()) shortest = &list;
  }
  return FindTermIn(*shortest, shortest->size(), degree, ids);
}

// Most single edits go to a table that exists: their room is made here directly, without the
// plan's bookkeeping. A table's first term takes the general way.
void TermStore::ReserveTerm(int32_t degree, const int32_t* ids) {
  const auto length = static_cast<size_t>(degree);
  if (!HasTable(degree)) {
    std::vector<size_t> per_degree(length + 1, 0);
    per_degree.back() = 1;
    return ReserveAppends({{ids, length}, {}, per_degree});
  }
  TermTable& table = Table(degree);
  ReserveRoom(table.vars, length);
  ReserveRoom(table.coefs, 1);
  const int32_t largest = *std::max_element(ids, ids + degree);
  if (!HasList(largest)) occurrences.resize(static_cast<size_t>(largest) + 1);
  // An id named k times gets k entries; its later positions find the room already made.
  for (int32_t k = 0; k < degree; ++k) {
    const auto repeats = std::count(ids, ids + degree, ids[k]);
    ReserveRoom(OccurrencesOf(ids[k]), static_cast<size_t>(repeats));
  }
}

void TermStore::AddTerm(int32_t coef, int32_t degree, const int32_t* ids) {
  const int32_t found = FindTerm(degree, ids);
  if (found < 0) ReserveTerm(degree, ids);
  MergeOrAppend(found, coef, degree, ids);
}

// AddUnary and AddPairwise are AddTerm's three steps written out for their degree: the lookup of
// FindTerm, the room of ReserveTerm, the append of MergeOrAppend. Conversions to a quadratic form
// make millions of these edits, and the written-out forms convert 3-10% faster than the shared
// path (bench/RESULTS.md, "Speed tricks").

void TermStore::AddUnary(int32_t coef, int32_t var) {
  if (HasList(var)) {
    for (const Occurrence& occ : OccurrencesOf(var)) {
      // The list of a variable holds one unary term at most: its own.
      if (occ.degree == 1) return Table(1).AddToCoef(occ.index, coef);
    }
  }
  TermTable& table = Table(1);
  ReserveRoom(table.vars, 1);
  ReserveRoom(table.coefs, 1);
  if (!HasList(var)) occurrences.resize(static_cast<size_t>(var) + 1);
  ReserveRoom(OccurrencesOf(var), 1);
  const int32_t index = table.Size();
  table.vars.push_back(var);
  table.coefs.push_back(coef);
  OccurrencesOf(var).push_back({1, index});
}

void TermStore::AddPairwise(int32_t coef, int32_t i, int32_t j) {
  TermTable& table = Table(2);
  if (HasList(i) && HasList(j)) {
    const OccurrenceList& list =
        OccurrencesOf(j).size() < OccurrencesOf(i).size() ? OccurrencesOf(j) : OccurrencesOf(i);
    for (const Occurrence& occ : list) {
      if (occ.degree != 2) continue;
      const int32_t* ids = table.Ids(occ.index);
      if (ids[0] == i && ids[1] == j) return table.AddToCoef(occ.index, coef);
    }
  }
  ReserveRoom(table.vars, 2);
  ReserveRoom(table.coefs, 1);
  const int32_t largest = std::max(i, j);
  if (!HasList(largest)) occurrences.resize(static_cast<size_t>(largest) + 1);
  ReserveRoom(OccurrencesOf(i), i == j ? 2 : 1);
  ReserveRoom(OccurrencesOf(j), 1);
  const int32_t index = table.Size();
  table.vars.push_back(i);
  table.vars.push_back(j);
  table.coefs.push_back(coef);
  OccurrencesOf(i).push_back({2, index});
  OccurrencesOf(j).push_back({2, index});
}

void TermStore::ReserveAppends(const AppendPlan& plan) {
  const auto count = [&plan](size_t p) { return plan.per_id.empty() ? size_t{1} : plan.per_id[p]; };
  size_t lists = 0;
  for (size_t p = 0; p < plan.ids.size(); ++p) {
    if (count(p) > 0) lists = std::max(lists, static_cast<size_t>(plan.ids[p]) + 1);
  }
  size_t top = 0;
  for (size_t k = 1; k < plan.per_degree.size(); ++k) {
    if (plan.per_degree[k] > 0) top = k;
  }
  // Absent slots and empty occurrence lists are invisible to every reader.
  if (tables.size() <= top) tables.resize(top + 1);
  if (occurrences.size() < lists) occurrences.resize(lists);
  // Equal ids share one list, which needs room for their sum: sorted (id, count) pairs bring them
  // together, in a buffer on the stack for the plans of a single edit.
  struct IdCount {
    int32_t id;
    size_t count;
  };
  constexpr size_t kOnStack = 64;
  std::array<IdCount, kOnStack> on_stack;  // left uninitialised: every used entry is written
  std::vector<IdCount> on_heap;
  if (plan.ids.size() > kOnStack) on_heap.resize(plan.ids.size());
  const std::span<IdCount> pairs =
      on_heap.empty() ? std::span<IdCount>(on_stack.data(), plan.ids.size()) : on_heap;
  for (size_t p = 0; p < plan.ids.size(); ++p) pairs[p] = {plan.ids[p], count(p)};
  std::sort(pairs.begin(), pairs.end(),
            [](const IdCount& a, const IdCount& b) { return a.id < b.id; });
  for (size_t p = 0; p < pairs.size();) {
    size_t total = 0;
    size_t q = p;
    for (; q < pairs.size() && pairs[q].id == pairs[p].id; ++q) total += pairs[q].count;
    if (total > 0) ReserveRoom(OccurrencesOf(pairs[p].id), total);
    p = q;
  }
  for (size_t k = 1; k <= top; ++k) {
    const size_t terms = plan.per_degree[k];
    if (terms == 0 || !tables[k]) continue;
    ReserveRoom(tables[k]->vars, terms * k);
    ReserveRoom(tables[k]->coefs, terms);
  }
  // New tables are filled aside and moved into their slots last: moving cannot fail.
  std::vector<std::optional<TermTable>> more;
  for (size_t k = 1; k <= top; ++k) {
    const size_t terms = plan.per_degree[k];
    if (terms == 0 || tables[k]) continue;
    TermTable table;
    table.degree = static_cast<int32_t>(k);
    table.vars.reserve(terms * k);
    table.coefs.reserve(terms);
    more.emplace_back(std::move(table));
  }
  size_t next = 0;
  for (size_t k = 1; k <= top; ++k) {
    if (plan.per_degree[k] > 0 && !tables[k]) tables[k] = std::move(more[next++]);
  }
}

int32_t TermStore::NextNonEmptyDegree(int32_t below) const {
  for (int32_t d = std::min<int32_t>(below, static_cast<int32_t>(tables.size()) - 1); d >= 1; --d) {
    if (HasTable(d) && Table(d).Size() > 0) return d;
  }
  return 0;
}

TermCursor TermCursor::Begin(const TermStore& store) {
  return {&store, store.NextNonEmptyDegree(kLargest), 0};
}

void TermCursor::Advance() {
  if (++index < Table().Size()) return;
  index = 0;
  degree = store->NextNonEmptyDegree(degree - 1);
}

}  // namespace pbf
