// The search of the exact reduction: for a term T of degree d and its neighbourhood L (every term
// that shares a variable with T, gathered by PBF::BuildNeighbourhood), a configuration of T's
// variables that is strictly worse than another one whatever the other variables are.
//
// Configurations are tried in ascending order. For each, L is restricted to it: entries that need
// a variable the configuration sets to 0 drop out, entries within T's variables fold into the
// constant, and the rest keep only their free (non-T) variables. The restricted function's largest
// and smallest value over all assignments of its free variables feed two tests; the search stops
// at the first configuration at which one passes. Cost per configuration: two passes over L's
// entries plus O(j 2^j) for its j <= 16 free variables; at most 2^d configurations.
//
// Choices worth knowing:
// - The value at an assignment y is the sum of the coefficients whose mask lies within y, so the
//   whole value table is the subset-sum (zeta) transform of the table holding each coefficient at
//   its own mask: j 2^(j-1) additions instead of entries x 2^j tests. Sums wrap modulo 2^32, so
//   the order of addition cannot change a single value.
// - The restricted function is scattered straight into the value table and never built as a
//   LocalFunction of its own, so a configuration allocates nothing.
// - The value table is one file-scope array of 2^16 int32: the core runs on one thread only.
// - T's variables are located in L by binary search, not by a forward walk, and the search gives
//   up (returns -1) on anything outside its records: more than 16 free variables, a degree above
//   16, or ids of T that are repeated or missing from L. Every such case keeps all minimisers.
// - Most searches find nothing, and those are the costly ones: they enumerate every restricted
//   function, the largest last. Before the first costly configuration the search asks for a cheap
//   proof that nothing can pass (dominance_proof.cpp), which returns the same -1 without the
//   enumerations; an unproven case runs the full search.
#include <algorithm>
#include <bit>
#include <cstddef>

#include "dominance_proof.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf_limits.h"
#include "wrap.h"

namespace pbf {
namespace {

int32_t value_table[size_t{1} << kMaxFreeVariables];

uint32_t LowBits(int32_t n) { return n >= 32 ? ~0u : (1u << n) - 1; }

// Turns value_table[0 .. 2^bits), holding one summand per mask, into the sum over the submasks of
// every index. The three lowest bits are done eight entries at a time; above them each half-block
// is one contiguous run, which the compiler vectorises.
void SubsetSums(int32_t bits) {
  const uint32_t n = 1u << bits;
  int32_t* v = value_table;
  uint32_t step = 1;
  if (n >= 8) {
    for (uint32_t b = 0; b < n; b += 8) {
      int32_t* w = v + b;
      const auto add = [w](uint32_t to, uint32_t from) { w[to] = WrapAdd(w[to], w[from]); };
      // One row per butterfly stage.
      // clang-format off
      add(1, 0); add(3, 2); add(5, 4); add(7, 6);
      add(2, 0); add(3, 1); add(6, 4); add(7, 5);
      add(4, 0); add(5, 1); add(6, 2); add(7, 3);
      // clang-format on
    }
    step = 8;
  }
  for (; step < n; step <<= 1) {
    for (uint32_t base = 0; base < n; base += 2 * step) {
      int32_t* high = v + base + step;
      const int32_t* low = v + base;
      for (uint32_t y = 0; y < step; ++y) high[y] = WrapAdd(high[y], low[y]);
    }
  }
}

void UpdateExtremes(int32_t bits, LocalFunction::Extremes& result) {
  const uint32_t n = 1u << bits;
  for (uint32_t y = 0; y < n; ++y) {
    result.largest = std::max(result.largest, value_table[y]);
    result.smallest = std::min(result.smallest, value_table[y]);
  }
}

// The position of `id` among the ascending local variables as its mask bit, 0 when absent.
uint32_t LocalBit(const LocalFunction& local, int32_t id) {
  const int32_t* first = local.vars.data();
  const int32_t* last = first + local.count;
  const int32_t* at = std::lower_bound(first, last, id);
  if (at == last || *at != id) return 0;
  return 1u << (local.count - 1 - static_cast<int32_t>(at - first));
}

// rank[b] for each bit b of `free`: how many bits of `free` lie below b, which is where packing
// the bits of `free` down in order (as PEXT does) puts b.
void Ranks(uint32_t free, uint8_t* rank) {
  uint8_t next = 0;
  for (uint32_t rest = free; rest != 0; rest &= rest - 1) rank[std::countr_zero(rest)] = next++;
}

uint32_t Compress(uint32_t x, const uint8_t* rank) {
  uint32_t packed = 0;
  for (; x != 0; x &= x - 1) packed |= 1u << rank[std::countr_zero(x)];
  return packed;
}

}  // namespace

// Entries whose mask reaches beyond `count` lie within no assignment and add nothing. Above 16
// variables (outside the contract, never reached from the reductions) the assignments are taken
// as 2^(count-16) blocks that each fit the table.
LocalFunction::Extremes LocalFunction::MinMax() const {
  if (count <= 0 || entries.empty()) return {constant, constant};
  const int32_t low = std::min(count, kMaxFreeVariables);
  const uint32_t low_mask = LowBits(low);
  const uint64_t blocks = uint64_t{1} << (count - low);
  Extremes result{max_start, min_start};
  for (uint64_t high = 0; high < blocks; ++high) {
    std::fill_n(value_table, size_t{1} << low, 0);
    value_table[0] = constant;
    for (const LocalEntry& entry : entries) {
      if (((entry.mask >> low) & ~static_cast<uint32_t>(high)) != 0) continue;
      int32_t& slot = value_table[entry.mask & low_mask];
      slot = WrapAdd(slot, entry.coef);
    }
    SubsetSums(low);
    UpdateExtremes(low, result);
  }
  return result;
}

int32_t LocalFunction::FindDominatedConfiguration(TermRef term, bool odd, int32_t& amount) const {
  const int32_t d = term.degree;
  if (d < 1 || d > kMaxExactDegree || count > kMaxLocalVariables || count - d > kMaxFreeVariables) {
    return -1;
  }
  EnsureParityTables(d);
  const std::vector<int32_t>& target = odd ? SharedParityTables().odd : SharedParityTables().even;

  // bit_of[k]: u_k's bit in L, which configuration bit d-1-k sets.
  uint32_t bit_of[kMaxExactDegree];
  uint32_t term_mask = 0;
  for (int32_t k = 0; k < d; ++k) {
    bit_of[k] = LocalBit(*this, term.ids[k]);
    term_mask |= bit_of[k];
  }
  if (std::popcount(term_mask) != d) return -1;  // a repeated or unknown id: no sound layout
  const TermLayout layout{bit_of, d, term_mask, ~LowBits(count)};

  int32_t reach = min_start;  // R: the smallest largest value of the configurations seen
  int32_t best_in = max_start;
  int32_t best_out = max_start;
  int32_t s_in = -1;
  int32_t s_out = -1;
  size_t p = 0;
  // The proof costs about one pass over the entries per configuration; it is tried once, before
  // the first configuration whose enumeration would cost a sizeable share of that.
  bool try_proof = SumsCannotWrap(*this, amount);
  const uint64_t proof_cost = (uint64_t{entries.size()} + 1) << d;
  const int32_t configurations = int32_t{1} << d;
  for (int32_t i = 0; i < configurations; ++i) {
    const uint32_t dead = layout.DeadIn(i);

    int32_t fixed = constant;
    uint32_t free = 0;
    for (const LocalEntry& entry : entries) {
      if (entry.mask & dead) continue;
      if ((entry.mask & ~term_mask) == 0) {
        fixed = WrapAdd(fixed, entry.coef);
      } else {
        free |= entry.mask & ~term_mask;
      }
    }
    const int32_t j = std::popcount(free);
    if (try_proof && (uint64_t{static_cast<uint32_t>(j)} << j) * 4 >= proof_cost) {
      try_proof = false;
      if (NoneCanPass(*this, layout, odd, amount)) return -1;
    }
    std::fill_n(value_table, size_t{1} << j, 0);
    value_table[0] = fixed;
    if (free != 0) {
      uint8_t rank[32];
      Ranks(free, rank);
      for (const LocalEntry& entry : entries) {
        if ((entry.mask & dead) != 0 || (entry.mask & ~term_mask) == 0) continue;
        int32_t& slot = value_table[Compress(entry.mask & ~term_mask, rank)];
        slot = WrapAdd(slot, entry.coef);
      }
      SubsetSums(j);
    }
    Extremes local{kSmallest, kLargest};
    UpdateExtremes(j, local);

    reach = std::min(reach, local.largest);
    if (i == target[p]) {
      ++p;
      if (local.smallest > best_in) {
        best_in = local.smallest;
        s_in = i;
      }
    } else if (local.smallest > best_out) {
      best_out = local.smallest;
      s_out = i;
    }
    if (reach < best_in) return s_in;
    if (WrapAdd(reach, amount) < best_out) {
      amount = WrapNeg(amount);
      return s_out;
    }
  }
  return -1;
}

}  // namespace pbf
