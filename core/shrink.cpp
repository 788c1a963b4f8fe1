// Compaction and queries.
//
// Shrink removes the terms whose coefficient is 0, then RebuildOccurrences refills every
// occurrence list in walk order; BuildOccurrences fills the lists of a store assembled from its
// tables (a quadratic form) the same way, each list allocated once. Shrink first counts what the
// rebuilt lists will hold and makes room for it, and only then moves terms and refills the lists,
// so running out of memory changes nothing. The tables are compacted in place, each maximal run of
// survivors moved with one block move.
#include <algorithm>
#include <cstring>

#include "pbf.h"

namespace pbf {

int32_t TermStore::MaxVarId() const {
  int32_t largest = -1;
  for (const auto& table : tables) {
    if (table && !table->vars.empty()) {
      largest = std::max(largest, *std::max_element(table->vars.begin(), table->vars.end()));
    }
  }
  return largest;
}

int32_t PBF::MaxDegree() const {
  for (size_t d = terms.tables.size() - 1; d > 0; --d) {
    if (terms.tables[d]) return static_cast<int32_t>(d);
  }
  return 0;
}

namespace {

// Makes room in the occurrence index and its lists for what they will hold once the terms with
// coefficient 0 are gone, so that the refill after compaction allocates nothing.
void ReserveSurvivorOccurrences(TermStore& store) {
  // Calls `visit(ids, degree)` for every term that will remain.
  auto for_each_kept = [&](auto visit) {
    for (const auto& table : store.tables) {
      if (!table) continue;
      for (int32_t t = 0; t < table->Size(); ++t) {
        if (table->Coef(t) != 0) visit(table->Ids(t), table->degree);
      }
    }
  };
  int32_t largest = -1;
  for_each_kept([&](const int32_t* ids, int32_t d) {
    largest = std::max(largest, *std::max_element(ids, ids + d));
  });
  const size_t lists = largest < 0 ? 0 : static_cast<size_t>(largest) + 1;
  std::vector<uint32_t> counts(lists, 0);
  for_each_kept([&](const int32_t* ids, int32_t d) {
    for (int32_t k = 0; k < d; ++k) ++counts[static_cast<size_t>(ids[k])];
  });
  if (store.occurrences.size() < lists) store.occurrences.resize(lists);
  for (size_t v = 0; v < lists; ++v) store.occurrences[v].reserve(counts[v]);
}

void CompactTable(TermTable& table) {
  const size_t d = static_cast<size_t>(table.degree);
  const size_t n = table.coefs.size();
  int32_t* coefs = table.coefs.data();
  int32_t* vars = table.vars.data();
  size_t write = 0;
  size_t read = 0;
  while (read < n) {
    size_t a = read;
    while (a < n && coefs[a] == 0) ++a;
    size_t b = a;
    while (b < n && coefs[b] != 0) ++b;
    if (write < a && a < b) {
      std::memmove(coefs + write, coefs + a, (b - a) * sizeof(int32_t));
      std::memmove(vars + d * write, vars + d * a, d * (b - a) * sizeof(int32_t));
    }
    write += b - a;
    read = b;
  }
  if (write < n) {
    table.coefs.resize(write);
    table.vars.resize(d * write);
  }
}

// Appends every term's occurrences to the lists, in walk order.
void AppendOccurrences(TermStore& store) {
  for (size_t d = store.tables.size() - 1; d > 0; --d) {
    if (!store.tables[d]) continue;
    const TermTable& table = *store.tables[d];
    for (int32_t t = 0; t < table.Size(); ++t) {
      const int32_t* ids = table.Ids(t);
      for (size_t k = 0; k < d; ++k) {
        store.OccurrencesOf(ids[k]).push_back({static_cast<int32_t>(d), t});
      }
    }
  }
}

}  // namespace

void TermStore::Shrink() {
  ReserveSurvivorOccurrences(*this);
  for (auto& table : tables) {
    if (table) CompactTable(*table);
  }
  RebuildOccurrences();
}

void TermStore::RebuildOccurrences() {
  const auto lists = static_cast<size_t>(MaxVarId() + 1);
  for (size_t v = 0; v < lists && v < occurrences.size(); ++v) occurrences[v].clear();
  occurrences.resize(lists);
  AppendOccurrences(*this);
}

// A list that grows by appends is reallocated about log2 of its length times, and a quadratic
// form has one short list per auxiliary, millions of them. Counted first, the quadratizations of
// the 512x512 grid take 7-11 % less time (fewest 293 against 328 ms, grouped 526 against 563 ms;
// bench/RESULTS.md).
void TermStore::BuildOccurrences() { BuildOccurrences(MaxVarId()); }

void TermStore::BuildOccurrences(int32_t max_var_id) {
  const auto lists = static_cast<size_t>(max_var_id + 1);
  std::vector<uint32_t> counts(lists, 0);
  for (const auto& table : tables) {
    if (!table) continue;
    for (const int32_t id : table->vars) ++counts[static_cast<size_t>(id)];
  }
  occurrences.resize(lists);
  for (size_t v = 0; v < lists; ++v) occurrences[v].reserve(counts[v]);
  AppendOccurrences(*this);
}

}  // namespace pbf
