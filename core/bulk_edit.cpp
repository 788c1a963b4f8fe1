// Bulk edits: the loop of single edits over many rows, streamlined.
//
// The additions are made in loop order, into the function itself, with the searches of the
// single edits (the shortest occurrence list of a term's ids; for a clique with distinct ids only
// the part of each list that existed before its row, as AddHigherTerm does), so every term, list
// entry and coefficient comes out as the loop makes it. What goes is the loop's work per row
// (a scratch array, a plan of room) and most of its regrowth of arrays, which on large energies
// costs more than the searches: copying, and above all touching fresh pages.
//
// Room. A first pass counts what the rows could append: per id the entries of its occurrence list
// and per degree the terms, as if every addition created its term. Every table and list that the
// rows name then grows once to hold that, unless it already has the room, and the appends need
// no check. (A list that is full now is copied even if the rows only find their terms: cheaper
// than regrowing the many lists that do grow.) Afterwards an array left with more than twice the
// room the single edits would leave it (rows that met the same terms again and again) is
// trimmed. When presizing fails, the appends make room as they go: only speed is lost.
//
// Failure. Making room is all that can fail. When memory runs out, the edit replays the rows
// done so far (the arrays are the record: nothing is kept for undoing) and subtracts every
// addition whose term existed before the edit, pops the new terms' entries off the ends of their
// lists, cuts the tables back, drops the slots and lists it created, and rethrows: the function
// is exactly as it was.
//
// Cost: the loop's searches and appends, plus one pass over the rows to count (for cliques, a
// second Moebius transform of each table), plus, while it runs, 4 bytes per id up to the largest
// one named (and for cliques 4 per id of every row).
#include "bulk_edit.h"

#include <algorithm>
#include <bit>
#include <new>
#include <stdexcept>
#include <vector>

#include "clique_table.h"
#include "wrap.h"

namespace pbf {
namespace {

// Grows `v` to hold `room` more elements: to 2c + 1 at least, as the single edits grow their
// arrays, so that appends stay amortised O(1).
template <typename T>
[[gnu::noinline]] void Grow(std::vector<T>& v, size_t room) {
  v.reserve(std::max({v.size() + room, 2 * v.capacity() + 1, size_t{3}}));
}

template <typename T>
inline void MakeRoom(std::vector<T>& v, size_t room) {
  if (v.capacity() - v.size() < room) Grow(v, room);
}

// Gives `v` room for `room` more elements at once, if it can: whether it has that room now. A
// failure is left to the appends, which make room as they go.
template <typename T>
bool Presize(std::vector<T>& v, size_t room) {
  if (v.capacity() - v.size() >= room) return true;
  try {
    v.reserve(v.size() + room);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return false;
}

// Trims an array that holds far more room than the single edits would leave it. Never fails:
// libstdc++ keeps the array as it is when the smaller copy cannot be made.
template <typename T>
void Trim(std::vector<T>& v) {
  if (v.capacity() > 2 * v.size() + 3) v.shrink_to_fit();
}

void MakeTablePresent(TermStore& terms, int32_t degree) {
  const auto slot = static_cast<size_t>(degree);
  if (terms.tables.size() <= slot) terms.tables.resize(slot + 1);
  if (!terms.tables[slot]) terms.tables[slot].emplace().degree = degree;
}

// The term with these ids among the first `limit` entries of `list`, or -1.
int32_t Search(const TermStore& s, const OccurrenceList& list, size_t limit, int32_t degree,
               const int32_t* ids) {
  const TermTable& table = s.Table(degree);
  for (size_t e = 0; e < limit; ++e) {
    const Occurrence& occ = list[e];
    if (occ.degree == degree && (degree == 1 || SameIds(table.Ids(occ.index), ids, degree))) {
      return occ.index;
    }
  }
  return -1;
}

// The term with these ids, searched in the shortest occurrence list of its ids, or -1.
int32_t Find(const TermStore& s, int32_t degree, const int32_t* ids) {
  if (!s.HasTable(degree)) return -1;
  const OccurrenceList* shortest = nullptr;
  for (int32_t k = 0; k < degree; ++k) {
    const auto id = static_cast<size_t>(ids[k]);
    if (id >= s.occurrences.size()) return -1;  // a variable without a list occurs in no term
    if (!shortest || s.occurrences[id].size() < shortest->size()) shortest = &s.occurrences[id];
  }
  return Search(s, *shortest, shortest->size(), degree, ids);
}

// How one addition may be looked up. By default in the shortest list of its ids. A clique row
// with distinct ids has distinct subsets, so a subset can only merge into a term that existed
// when its row began, listed among the first `limit` entries of `list` (null: there is none).
struct Lookup {
  bool distinct = false;  // the ids are pairwise distinct
  bool prefix = false;    // search only list[0 .. limit)
  const OccurrenceList* list = nullptr;
  size_t limit = 0;
};

// What the rows may append, for presizing: entries per id and terms per degree.
struct Counts {
  std::vector<uint32_t> entries;  // per id up to the largest one named
  std::vector<size_t> terms;      // per degree up to the largest one named

  // Sizes `entries` for ids up to `largest` (none for -1). Every id named ends up in a term, so
  // the loop grows the occurrence index of `s` this far too: asking for that first (a capacity,
  // invisible) makes an id near 2^31 fail at once, before 4 bytes per id are filled here.
  void SizeFor(TermStore& s, int32_t largest) {
    const size_t ids = static_cast<size_t>(largest) + 1;
    s.occurrences.reserve(ids);
    entries.assign(ids, 0);
  }
};

// One bulk edit of f: the additions, and what undoing them needs.
struct BulkEdit {
  PBF& f;
  // What the function returns to: every slot's term count (-1: absent) and the number of lists.
  std::vector<int32_t> old_sizes;
  size_t old_lists = 0;
  int32_t constant = 0;  // added to f's at the end
  size_t done = 0;       // additions made
  Counts counts;
  bool room_for_all = false;  // every append has its room already: no check is needed

  explicit BulkEdit(PBF& target) : f(target), old_lists(target.terms.occurrences.size()) {
    old_sizes.reserve(f.terms.tables.size());
    for (const auto& table : f.terms.tables) old_sizes.push_back(table ? table->Size() : -1);
  }

  int32_t OldSize(int32_t degree) const {
    const auto slot = static_cast<size_t>(degree);
    return slot < old_sizes.size() ? std::max(old_sizes[slot], 0) : 0;
  }

  // Presizes by `counts`, which the rows have filled.
  void MakeRoomForRows() {
    TermStore& s = f.terms;
    const size_t ids = counts.entries.size();
    if (s.occurrences.size() < ids) s.occurrences.resize(ids);  // empty lists are invisible
    room_for_all = true;
    for (size_t id = 0; id < ids; ++id) {
      if (counts.entries[id] > 0) room_for_all &= Presize(s.occurrences[id], counts.entries[id]);
    }
    for (size_t d = 1; d < counts.terms.size(); ++d) {
      if (counts.terms[d] == 0) continue;
      // A degree without a table gets one from its first addition, which cannot find a term.
      const auto degree = static_cast<int32_t>(d);
      MakeTablePresent(s, degree);
      room_for_all &= Presize(s.Table(degree).vars, counts.terms[d] * d);
      room_for_all &= Presize(s.Table(degree).coefs, counts.terms[d]);
    }
  }

  // Adds coef to the term with these ids in this order, creating it when it does not exist, as
  // TermStore::AddTerm does.
  void Add(int32_t coef, int32_t degree, const int32_t* ids, const Lookup& lookup) {
    TermStore& s = f.terms;
    const int32_t found = !lookup.prefix ? Find(s, degree, ids)
                          : lookup.list  ? Search(s, *lookup.list, lookup.limit, degree, ids)
                                         : -1;
    if (found >= 0) {
      int32_t& c = s.Table(degree).coefs[static_cast<size_t>(found)];
      c = WrapAdd(c, coef);
      ++done;
      return;
    }
    if (!room_for_all) MakeRoomForTerm(degree, ids, lookup.distinct);
    TermTable& table = s.Table(degree);
    const int32_t index = table.Size();
    for (int32_t k = 0; k < degree; ++k) table.vars.push_back(ids[k]);
    table.coefs.push_back(coef);
    for (int32_t k = 0; k < degree; ++k) {
      s.occurrences[static_cast<size_t>(ids[k])].push_back({degree, index});
    }
    ++done;
  }

  // Room for everything a new term appends, so that its appends cannot fail.
  void MakeRoomForTerm(int32_t degree, const int32_t* ids, bool distinct) {
    TermStore& s = f.terms;
    if (!s.HasTable(degree)) MakeTablePresent(s, degree);
    TermTable& table = s.Table(degree);
    MakeRoom(table.vars, static_cast<size_t>(degree));
    MakeRoom(table.coefs, 1);
    const int32_t largest = *std::max_element(ids, ids + degree);
    if (s.occurrences.size() <= static_cast<size_t>(largest)) {
      s.occurrences.resize(static_cast<size_t>(largest) + 1);
    }
    for (int32_t k = 0; k < degree; ++k) {
      OccurrenceList& list = s.occurrences[static_cast<size_t>(ids[k])];
      if (distinct) {
        MakeRoom(list, 1);
      } else if (std::find(ids, ids + k, ids[k]) == ids + k) {  // a repeated id at its first place
        MakeRoom(list, static_cast<size_t>(std::count(ids + k, ids + degree, ids[k])));
      }
    }
  }

  void Commit() {
    f.constant = WrapAdd(f.constant, constant);
    for (size_t id = 0; id < counts.entries.size(); ++id) {
      if (counts.entries[id] > 0) Trim(f.terms.occurrences[id]);
    }
    for (size_t d = 1; d < counts.terms.size(); ++d) {
      if (counts.terms[d] == 0) continue;
      Trim(f.terms.Table(static_cast<int32_t>(d)).vars);
      Trim(f.terms.Table(static_cast<int32_t>(d)).coefs);
    }
  }

  // Subtracts the additions made to terms that existed before, given again in the same order
  // by the rows; the first `done` of them were made. Finds allocate nothing: cannot fail.
  void Subtract(int32_t coef, int32_t degree, const int32_t* ids) noexcept {
    if (done == 0) return;
    --done;
    const int32_t found = Find(f.terms, degree, ids);  // it exists now: found or created
    if (found >= 0 && found < OldSize(degree)) {
      int32_t& c = f.terms.Table(degree).coefs[static_cast<size_t>(found)];
      c = WrapSub(c, coef);
    }
  }

  // After Subtract: removes what the edit appended. Popping and shrinking never allocate.
  void Rollback() noexcept {
    std::vector<std::optional<TermTable>>& tables = f.terms.tables;
    std::vector<OccurrenceList>& lists = f.terms.occurrences;
    for (size_t d = 0; d < tables.size(); ++d) {
      if (!tables[d]) continue;
      TermTable& table = *tables[d];
      const int32_t old = OldSize(static_cast<int32_t>(d));
      // A new term's entries are the last ones of its lists.
      for (int32_t t = old; t < table.Size(); ++t) {
        for (int32_t k = 0; k < table.degree; ++k) {
          lists[static_cast<size_t>(table.Ids(t)[k])].pop_back();
        }
      }
      if (d >= old_sizes.size() || old_sizes[d] < 0) {
        tables[d].reset();
      } else {
        table.vars.resize(static_cast<size_t>(old) * d);
        table.coefs.resize(static_cast<size_t>(old));
      }
    }
    tables.resize(old_sizes.size());
    lists.resize(old_lists);
  }
};

// Runs one bulk edit. `count(counts)` fills the Counts of the rows; `rows(add, constant)` calls
// add(coef, degree, ids, lookup) for every addition and constant(c) for every addition to the
// constant, in loop order, and must be able to run twice: a failure replays it to undo.
template <typename Count, typename Rows>
void Run(PBF& f, Count&& count, Rows&& rows) {
  BulkEdit edit(f);
  try {
    count(edit.counts);
    edit.MakeRoomForRows();
    rows([&](int32_t coef, int32_t degree, const int32_t* ids,
             const Lookup& lookup) { edit.Add(coef, degree, ids, lookup); },
         [&](int32_t c) { edit.constant = WrapAdd(edit.constant, c); });
  } catch (...) {
    // The rows ran before (done > 0), so their scratch space exists: replaying cannot fail.
    if (edit.done > 0) {
      rows([&](int32_t coef, int32_t degree, const int32_t* ids,
               const Lookup&) { edit.Subtract(coef, degree, ids); },
           [](int32_t) {});
    }
    edit.Rollback();
    throw;
  }
  edit.Commit();
}

// Counts for `terms` rows of `degree` ids (`count` ids in all), each adding one term.
void CountTerms(Counts& counts, TermStore& s, const int32_t* ids, size_t count, int32_t degree,
                size_t terms) {
  int32_t largest = -1;
  for (size_t k = 0; k < count; ++k) largest = std::max(largest, ids[k]);
  counts.SizeFor(s, largest);
  for (size_t k = 0; k < count; ++k) ++counts.entries[static_cast<size_t>(ids[k])];
  counts.terms.assign(static_cast<size_t>(degree) + 1, 0);
  counts.terms[static_cast<size_t>(degree)] = terms;
}

constexpr Lookup kAnyIds{};
constexpr Lookup kDistinctIds{true, false, nullptr, 0};

}  // namespace

void AddUnaryTerms(PBF& f, size_t rows, const int32_t* ids, const int32_t* e0, const int32_t* e1) {
  Run(
      f, [&](Counts& counts) { CountTerms(counts, f.terms, ids, rows, 1, rows); },
      [&](auto&& add, auto&& constant) {
        for (size_t r = 0; r < rows; ++r) {
          constant(e0[r]);
          add(WrapSub(e1[r], e0[r]), 1, ids + r, kDistinctIds);
        }
      });
}

void AddPairwiseTerms(PBF& f, size_t rows, const int32_t* i, const int32_t* j, const int32_t* e00,
                      const int32_t* e01, const int32_t* e10, const int32_t* e11) {
  const auto count = [&](Counts& counts) {
    int32_t largest = -1;
    for (size_t r = 0; r < rows; ++r) largest = std::max({largest, i[r], j[r]});
    counts.SizeFor(f.terms, largest);
    for (size_t r = 0; r < rows; ++r) {
      counts.entries[static_cast<size_t>(i[r])] += 2;  // its unary term and the pair
      counts.entries[static_cast<size_t>(j[r])] += 2;
    }
    counts.terms = {0, 2 * rows, rows};
  };
  Run(f, count, [&](auto&& add, auto&& constant) {
    for (size_t r = 0; r < rows; ++r) {
      const int32_t pair[2] = {i[r], j[r]};
      constant(e00[r]);
      add(WrapSub(e10[r], e00[r]), 1, i + r, kDistinctIds);
      add(WrapSub(e01[r], e00[r]), 1, j + r, kDistinctIds);
      add(WrapAdd(WrapSub(WrapSub(e00[r], e01[r]), e10[r]), e11[r]), 2, pair,
          pair[0] != pair[1] ? kDistinctIds : kAnyIds);
    }
  });
}

void AddHigherTerms(PBF& f, size_t rows, int32_t cliquesize, const int32_t* vars,
                    const int32_t* vals, bool shared_vals) {
  const int32_t n = cliquesize;
  const size_t size = size_t{1} << n;
  std::vector<uint32_t> coef;
  // The coefficients of row r's table into `coef`; a shared table is transformed once.
  const auto transform = [&](size_t r) {
    if (shared_vals && r > 0) return;
    coef.resize(size);
    const int32_t* table = shared_vals ? vals : vals + r * size;
    std::copy(table, table + size, coef.begin());
    MoebiusTransform(coef.data(), size);
  };
  // Position p of a row gets an entry from every subset with a non-zero coefficient that holds
  // it. Only ids that get entries count: an id in no such subset gets no term, and no room.
  const auto count = [&](Counts& counts) {
    std::vector<uint32_t> entries(rows * static_cast<size_t>(n));
    counts.terms.assign(static_cast<size_t>(n) + 1, 0);
    // A table without a zero coefficient (the usual case) has every subset: 2^(n-1) hold each
    // position and (n choose d) have degree d.
    std::vector<size_t> binomial(static_cast<size_t>(n) + 1, 1);
    for (size_t d = 1; d < binomial.size(); ++d) {
      binomial[d] = binomial[d - 1] * (static_cast<size_t>(n) - d + 1) / d;
    }
    int32_t largest = -1;
    for (size_t r = 0; r < rows; ++r) {
      transform(r);
      uint32_t* row_entries = entries.data() + r * static_cast<size_t>(n);
      if (std::find(coef.begin() + 1, coef.end(), 0u) == coef.end()) {
        std::fill(row_entries, row_entries + n, static_cast<uint32_t>(size / 2));
        for (size_t d = 1; d < binomial.size(); ++d) counts.terms[d] += binomial[d];
      } else {
        for (size_t s = 1; s < size; ++s) {
          if (coef[s] == 0) continue;
          size_t degree = 0;
          for (size_t rest = s; rest != 0; rest &= rest - 1, ++degree) {
            ++row_entries[n - 1 - std::countr_zero(rest)];
          }
          ++counts.terms[degree];
        }
      }
      for (int32_t p = 0; p < n; ++p) {
        if (row_entries[p] > 0) largest = std::max(largest, vars[r * static_cast<size_t>(n) + p]);
      }
    }
    counts.SizeFor(f.terms, largest);
    for (size_t k = 0; k < entries.size(); ++k) {
      if (entries[k] > 0) counts.entries[static_cast<size_t>(vars[k])] += entries[k];
    }
  };
  const std::vector<OccurrenceList>& lists = f.terms.occurrences;
  Run(f, count, [&](auto&& add, auto&& constant) {
    size_t known[32];  // per position: the length of its id's list when the row began
    int32_t ids[32];
    for (size_t r = 0; r < rows; ++r) {
      const int32_t* row = vars + r * static_cast<size_t>(n);
      transform(r);
      constant(static_cast<int32_t>(coef[0]));
      const bool distinct = Distinct(row, n);
      for (int32_t p = 0; p < n; ++p) {
        const auto id = static_cast<size_t>(row[p]);
        known[p] = id < lists.size() ? lists[id].size() : 0;
      }
      for (size_t s = 1; s < size; ++s) {
        if (coef[s] == 0) continue;
        // Position p is bit n-1-p: the highest set bit first keeps the caller's order.
        int32_t degree = 0;
        int32_t shortest = -1;
        for (size_t rest = s; rest != 0;) {
          const int bit = std::bit_width(rest) - 1;
          rest ^= size_t{1} << bit;
          const int32_t p = n - 1 - bit;
          ids[degree++] = row[p];
          if (shortest < 0 || known[p] < known[shortest]) shortest = p;
        }
        Lookup lookup;
        if (distinct) {
          lookup = {true, true, nullptr, known[shortest]};
          if (known[shortest] > 0 && f.terms.HasTable(degree)) {
            lookup.list = &lists[static_cast<size_t>(row[shortest])];
          }
        }
        add(static_cast<int32_t>(coef[s]), degree, ids, lookup);
      }
    }
  });
}

void AddTerms(PBF& f, size_t rows, int32_t degree, const int32_t* ids, const int32_t* coefs) {
  const size_t count = rows * static_cast<size_t>(degree);
  Run(
      f, [&](Counts& counts) { CountTerms(counts, f.terms, ids, count, degree, rows); },
      [&](auto&& add, auto&&) {
        for (size_t r = 0; r < rows; ++r) {
          const int32_t* row = ids + r * static_cast<size_t>(degree);
          add(coefs[r], degree, row, Distinct(row, degree) ? kDistinctIds : kAnyIds);
        }
      });
}

void AddTermBlocks(PBF& f, std::span<const TermBlock> blocks) {
  std::vector<TermBlock> order(blocks.begin(), blocks.end());
  std::sort(order.begin(), order.end(),
            [](const TermBlock& a, const TermBlock& b) { return a.degree > b.degree; });
  for (const TermBlock& block : order) {
    MakeTablePresent(f.terms, block.degree);
    AddTerms(f, block.rows, block.degree, block.ids, block.coefs);
  }
}

}  // namespace pbf
