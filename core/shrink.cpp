// Compaction and queries.
//
// Shrink removes the terms whose coefficient is 0 and rebuilds every occurrence list in walk
// order. It first counts what the rebuilt lists will hold and makes room for it, and only then
// moves terms and refills the lists, so running out of memory changes nothing. The tables are
// compacted in place, each maximal run of survivors moved with one block move.
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

// Counts the occurrences that the lists will hold once the zero terms are gone (or all terms, when
// `skip_zero` is false), makes room for them, and returns the number of lists needed.
size_t PrepareOccurrences(TermStore& store, bool skip_zero) {
  // Calls `visit(ids, degree)` for every term that will remain.
  auto for_each_kept = [&](auto visit) {
    for (const auto& table : store.tables) {
      if (!table) continue;
      for (int32_t t = 0; t < table->Size(); ++t) {
        if (!skip_zero || table->Coef(t) != 0) {
          visit(table->Ids(t), table->degree);
        }
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
  return lists;
}

// Refills the first `lists` occurrence lists from the tables, in walk order, and drops the rest.
// Room was made by PrepareOccurrences; nothing here allocates.
void FillOccurrences(TermStore& store, size_t lists) {
  for (size_t v = 0; v < lists; ++v) store.occurrences[v].clear();
  store.occurrences.resize(lists);
  for (size_t d = store.tables.size() - 1; d > 0; --d) {
    if (!store.tables[d]) continue;
    const TermTable& table = *store.tables[d];
    const int32_t n = table.Size();
    for (int32_t t = 0; t < n; ++t) {
      const int32_t* ids = table.Ids(t);
      for (size_t k = 0; k < d; ++k) {
        store.OccurrencesOf(ids[k]).push_back({static_cast<int32_t>(d), t});
      }
    }
  }
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

}  // namespace

void TermStore::Shrink() {
  const size_t lists = PrepareOccurrences(*this, /*skip_zero=*/true);
  for (auto& table : tables) {
    if (table) CompactTable(*table);
  }
  FillOccurrences(*this, lists);
}

void TermStore::RebuildOccurrences() {
  FillOccurrences(*this, PrepareOccurrences(*this, /*skip_zero=*/false));
}

}  // namespace pbf
