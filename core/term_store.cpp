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
#include <limits>

#include "pbf.h"
#include "wrap.h"

namespace pbf {
namespace {

// Ensures `room` free slots, growing geometrically so that appends stay amortised O(1). Capacities
// run 3, 7, 15, ... (2c + 1) rather than 1, 2, 4, ...: the smallest heap block holds three 8-byte
// occurrences anyway, and with the allocator's per-block word, 2^k - 1 entries fill a block of
// 2^(k+3) bytes. Most occurrence lists are short, so this saves reallocations at no cost in memory.
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
    const size_t id = static_cast<size_t>(ids[k]);
    if (id >= occurrences.size()) return -1;  // a variable without a list occurs in no term
    if (!shortest || occurrences[id].size() < shortest->size()) shortest = &occurrences[id];
  }
  const TermTable& table = Table(degree);
  for (const Occurrence& occ : *shortest) {
    if (occ.degree != degree) continue;
    if (degree == 1 || SameIds(ids, table.Ids(occ.index), degree)) return occ.index;
  }
  return -1;
}

void TermStore::ReserveAppends(const int32_t* ids, const size_t* count, int32_t n,
                               const size_t* per_degree, int32_t degrees) {
  int64_t max_id = -1;
  for (int32_t p = 0; p < n; ++p) {
    if (count[p] > 0) max_id = std::max<int64_t>(max_id, ids[p]);
  }
  int32_t top = 0;
  for (int32_t k = 1; k < degrees; ++k) {
    if (per_degree[k] > 0) top = k;
  }
  // Absent slots and empty occurrence lists are invisible to every reader.
  if (tables.size() <= static_cast<size_t>(top)) tables.resize(static_cast<size_t>(top) + 1);
  if (occurrences.size() < static_cast<size_t>(max_id + 1)) {
    occurrences.resize(static_cast<size_t>(max_id + 1));
  }
  for (int32_t p = 0; p < n; ++p) {
    // Equal ids share one list: reserve their sum once, at the first of them.
    if (std::find(ids, ids + p, ids[p]) != ids + p) continue;
    size_t total = 0;
    for (int32_t q = p; q < n; ++q) {
      if (ids[q] == ids[p]) total += count[q];
    }
    if (total > 0) ReserveRoom(occurrences[static_cast<size_t>(ids[p])], total);
  }
  for (int32_t k = 1; k <= top; ++k) {
    if (per_degree[k] == 0 || !tables[static_cast<size_t>(k)]) continue;
    ReserveRoom(Table(k).vars, per_degree[k] * static_cast<size_t>(k));
    ReserveRoom(Table(k).coefs, per_degree[k]);
  }
  // New tables are filled aside and moved into their slots last: moving cannot fail.
  std::vector<std::optional<TermTable>> more;
  for (int32_t k = 1; k <= top; ++k) {
    if (per_degree[k] == 0 || tables[static_cast<size_t>(k)]) continue;
    TermTable table;
    table.degree = k;
    table.vars.reserve(per_degree[k] * static_cast<size_t>(k));
    table.coefs.reserve(per_degree[k]);
    more.emplace_back(std::move(table));
  }
  size_t next = 0;
  for (int32_t k = 1; k <= top; ++k) {
    if (per_degree[k] == 0 || tables[static_cast<size_t>(k)]) continue;
    tables[static_cast<size_t>(k)] = std::move(more[next++]);
  }
}

// Degrees 1 and 2 are most of the edits (the energy tables, every conversion to a quadratic form),
// so they have their own copies of AddTerm's steps: the same search and the same appends, without
// the general bookkeeping of ReserveAppends.

void TermStore::AddUnary(int32_t coef, int32_t var) {
  const auto id = static_cast<size_t>(var);
  if (id < occurrences.size()) {
    for (const Occurrence& occ : occurrences[id]) {
      if (occ.degree != 1) continue;
      int32_t& c = Table(1).coefs[static_cast<size_t>(occ.index)];  // only (var) is listed here
      c = WrapAdd(c, coef);
      return;
    }
  }
  TermTable& table = Table(1);
  ReserveRoom(table.vars, 1);
  ReserveRoom(table.coefs, 1);
  if (occurrences.size() <= id) occurrences.resize(id + 1);  // empty lists are invisible
  ReserveRoom(occurrences[id], 1);
  const int32_t index = table.Size();
  table.vars.push_back(var);
  table.coefs.push_back(coef);
  occurrences[id].push_back({1, index});
}

void TermStore::AddPairwise(int32_t coef, int32_t i, int32_t j) {
  const auto a = static_cast<size_t>(i);
  const auto b = static_cast<size_t>(j);
  TermTable& table = Table(2);
  if (a < occurrences.size() && b < occurrences.size()) {
    const OccurrenceList& list =
        occurrences[b].size() < occurrences[a].size() ? occurrences[b] : occurrences[a];
    for (const Occurrence& occ : list) {
      if (occ.degree != 2) continue;
      const int32_t* ids = table.Ids(occ.index);
      if (ids[0] != i || ids[1] != j) continue;
      int32_t& c = table.coefs[static_cast<size_t>(occ.index)];
      c = WrapAdd(c, coef);
      return;
    }
  }
  ReserveRoom(table.vars, 2);
  ReserveRoom(table.coefs, 1);
  if (occurrences.size() <= std::max(a, b)) occurrences.resize(std::max(a, b) + 1);
  ReserveRoom(occurrences[a], a == b ? 2 : 1);
  ReserveRoom(occurrences[b], 1);
  const int32_t index = table.Size();
  table.vars.push_back(i);
  table.vars.push_back(j);
  table.coefs.push_back(coef);
  occurrences[a].push_back({2, index});
  occurrences[b].push_back({2, index});
}

void TermStore::AddTerm(int32_t coef, int32_t degree, const int32_t* ids) {
  if (degree == 1) return AddUnary(coef, ids[0]);
  if (degree == 2) return AddPairwise(coef, ids[0], ids[1]);
  const int32_t found = FindTerm(degree, ids);
  if (found >= 0) {
    int32_t& c = Table(degree).coefs[static_cast<size_t>(found)];
    c = WrapAdd(c, coef);
    return;
  }
  // Room for one term: one occurrence per position, one table entry.
  constexpr int32_t kInline = 32;
  size_t ones[kInline];
  size_t per_degree[kInline + 1] = {};
  if (degree < kInline) {
    std::fill(ones, ones + degree, size_t{1});
    per_degree[degree] = 1;
    ReserveAppends(ids, ones, degree, per_degree, degree + 1);
  } else {
    std::vector<size_t> many(static_cast<size_t>(degree), 1);
    std::vector<size_t> by_degree(static_cast<size_t>(degree) + 1, 0);
    by_degree.back() = 1;
    ReserveAppends(ids, many.data(), degree, by_degree.data(), degree + 1);
  }
  AppendTerm(coef, degree, ids);
}

void TermStore::AppendTerm(int32_t coef, int32_t degree, const int32_t* ids) {
  TermTable& table = Table(degree);
  const int32_t index = table.Size();
  table.vars.insert(table.vars.end(), ids, ids + degree);
  table.coefs.push_back(coef);
  for (int32_t k = 0; k < degree; ++k) {
    occurrences[static_cast<size_t>(ids[k])].push_back({degree, index});
  }
}

int32_t TermStore::NextNonEmptyDegree(int32_t below) const {
  for (int32_t d = std::min<int32_t>(below, static_cast<int32_t>(tables.size()) - 1); d >= 1; --d) {
    if (tables[static_cast<size_t>(d)] && !tables[static_cast<size_t>(d)]->coefs.empty()) return d;
  }
  return 0;
}

TermCursor TermCursor::Begin(const TermStore& store) {
  return {&store, store.NextNonEmptyDegree(std::numeric_limits<int32_t>::max()), 0};
}

void TermCursor::Advance() {
  if (++index < Table().Size()) return;
  index = 0;
  degree = store->NextNonEmptyDegree(degree - 1);
}

}  // namespace pbf
