// Checks of a PBF shared by the GoogleTest suite and the fuzzer, so they use no test framework:
// evaluation by brute force and the store's invariants.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pbf.h"
#include "wrap.h"

namespace pbf::testing {

// The value of f where variable v takes bit v of `assignment` (ids below 64): in int32, wrapping
// as the core computes, or in int64, the value of f read as an integer polynomial.
template <typename Value = int32_t>
Value Evaluate(const PBF& f, uint64_t assignment) {
  Value value = f.constant;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t t = 0; t < table->Size(); ++t) {
      const int32_t* ids = table->Ids(t);
      bool all = true;
      for (int32_t k = 0; k < table->degree && all; ++k) all = (assignment >> ids[k]) & 1;
      if (!all) continue;
      const int32_t coef = table->coefs[static_cast<size_t>(t)];
      if constexpr (sizeof(Value) == 4) {
        value = WrapAdd(value, coef);
      } else {
        value += coef;
      }
    }
  }
  return value;
}

// The first broken invariant of the store, or an empty string: slots, table shapes, ids, no two
// equal terms, and occurrence lists that name each (degree, index) exactly once per position of
// its variable list, the terms of one degree in ascending index order (edits append, compaction
// rebuilds in walk order; the quadratizations' lookups rely on it).
inline std::string InvariantViolation(const PBF& f) {
  const TermStore& s = f.terms;
  if (s.tables.size() < 3) return "fewer than 3 table slots";
  if (s.tables[0]) return "slot 0 holds a table";
  if (!s.tables[1] || !s.tables[2]) return "slot 1 or 2 is absent";
  using Place = std::pair<int32_t, int32_t>;
  std::vector<std::vector<Place>> expected;
  for (size_t d = 1; d < s.tables.size(); ++d) {
    if (!s.tables[d]) continue;
    const TermTable& table = *s.tables[d];
    const std::string where = "table " + std::to_string(d);
    if (table.degree != static_cast<int32_t>(d)) return where + ": wrong degree";
    if (table.vars.size() != d * table.coefs.size()) return where + ": ids do not match terms";
    std::map<std::vector<int32_t>, int32_t> seen;
    for (int32_t t = 0; t < table.Size(); ++t) {
      std::vector<int32_t> ids(table.Ids(t), table.Ids(t) + d);
      if (!seen.emplace(ids, t).second) {
        return where + ": terms " + std::to_string(seen[ids]) + " and " + std::to_string(t) +
               " are equal";
      }
      for (int32_t id : ids) {
        if (id < 0) return where + ": negative id";
        const auto v = static_cast<size_t>(id);
        if (expected.size() <= v) expected.resize(v + 1);
        expected[v].emplace_back(static_cast<int32_t>(d), t);
      }
    }
  }
  if (s.occurrences.size() < expected.size()) return "occurrence index too short";
  std::vector<Place> listed;
  for (size_t v = 0; v < s.occurrences.size(); ++v) {
    listed.clear();
    std::vector<int32_t> last(s.tables.size(), -1);
    for (const Occurrence& o : s.occurrences[v]) {
      listed.emplace_back(o.degree, o.index);
      if (o.degree < 1 || static_cast<size_t>(o.degree) >= s.tables.size()) break;
      // A term naming v twice, (4, 4), is listed twice in a row.
      if (o.index < last[static_cast<size_t>(o.degree)]) {
        return "occurrence list of variable " + std::to_string(v) + " out of order";
      }
      last[static_cast<size_t>(o.degree)] = o.index;
    }
    std::sort(listed.begin(), listed.end());
    std::vector<Place> want = v < expected.size() ? expected[v] : std::vector<Place>{};
    std::sort(want.begin(), want.end());
    if (listed != want) return "occurrence list of variable " + std::to_string(v);
  }
  return "";
}

}  // namespace pbf::testing
