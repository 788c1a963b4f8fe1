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
// Per configuration, Restrict applies it to L (the restrict step), RestrictedExtremes enumerates
// what is left, and DominanceTests keeps the running values and runs the two tests (the test step).
//
// Choices worth knowing:
// - The restricted function is scattered straight into the value table (value_table.h, subset
//   sums) and never built as a LocalFunction of its own, so a configuration allocates nothing.
// - T's variables are located in L by their ids, not by a forward walk, and the search gives
//   up (returns -1) on anything outside its records: more than 16 free variables, a degree above
//   16, or ids of T that are repeated or missing from L. Every such case keeps all minimisers.
// - Most searches find nothing, and those are the costly ones: they enumerate every restricted
//   function, the largest last. Before the first costly configuration the search asks for a cheap
//   proof that nothing can pass (dominance_proof.cpp), which returns the same -1 without the
//   enumerations; an unproven case runs the full search.
#include "dominated_configuration.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "dominance_proof.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf_limits.h"
#include "value_table.h"
#include "wrap.h"

namespace pbf {
namespace {

uint32_t LowBits(int32_t n) { return n >= 32 ? ~0u : (1u << n) - 1; }

// The mask bit of `id` among the local variables, 0 when absent.
uint32_t LocalBit(const LocalFunction& local, int32_t id) {
  const int32_t* first = local.vars.data();
  const int32_t* last = first + local.count;
  const int32_t* at = std::find(first, last, id);
  if (at == last) return 0;
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

// L restricted to one configuration of T's variables.
struct Restriction {
  uint32_t dead;  // entries with a bit here drop out
  int32_t fixed;  // L's constant plus every surviving entry within T's variables
  uint32_t free;  // the non-T variables that surviving entries use
};

Restriction Restrict(const LocalFunction& local, const TermLayout& layout, int32_t i) {
  Restriction r{layout.DeadIn(i), local.constant, 0};
  for (const LocalEntry& entry : local.entries) {
    if (entry.mask & r.dead) continue;
    if ((entry.mask & ~layout.term_mask) == 0) {
      r.fixed = WrapAdd(r.fixed, entry.coef);
    } else {
      r.free |= entry.mask & ~layout.term_mask;
    }
  }
  return r;
}

// The restricted function's largest and smallest value over all assignments of its free
// variables, their bits packed down into the value table.
LocalFunction::Extremes RestrictedExtremes(const LocalFunction& local, uint32_t term_mask,
                                           const Restriction& r) {
  const int32_t j = std::popcount(r.free);
  int32_t* table = ValueTable();
  std::fill_n(table, size_t{1} << j, 0);
  table[0] = r.fixed;
  if (r.free != 0) {
    uint8_t rank[kMaxLocalVariables];
    Ranks(r.free, rank);
    for (const LocalEntry& entry : local.entries) {
      if ((entry.mask & r.dead) != 0 || (entry.mask & ~term_mask) == 0) continue;
      int32_t& slot = table[Compress(entry.mask & ~term_mask, rank)];
      slot = WrapAdd(slot, entry.coef);
    }
  }
  LocalFunction::Extremes extremes{kSmallest, kLargest};
  SumSubsetsAndWiden(j, extremes);
  return extremes;
}

// The two tests, fed the configurations in ascending order: R (`reach`) is the smallest largest
// value seen, best_in and best_out the largest smallest values of the target parity and of the
// other one. A configuration of the target parity is dominated once R < best_in; one of the
// other parity once R + amount < best_out, and then the amount is negated.
class DominanceTests {
 public:
  explicit DominanceTests(const LocalFunction& local)
      : reach_(local.min_start), best_in_(local.max_start), best_out_(local.max_start) {}

  // Takes configuration i and its extremes; the dominated configuration once a test passes,
  // else -1.
  int32_t Add(int32_t i, bool in_target, LocalFunction::Extremes extremes, int32_t& amount) {
    reach_ = std::min(reach_, extremes.largest);
    if (in_target) {
      if (extremes.smallest > best_in_) {
        best_in_ = extremes.smallest;
        s_in_ = i;
      }
    } else if (extremes.smallest > best_out_) {
      best_out_ = extremes.smallest;
      s_out_ = i;
    }
    if (reach_ < best_in_) return s_in_;
    if (WrapAdd(reach_, amount) < best_out_) {
      amount = WrapNeg(amount);
      return s_out_;
    }
    return -1;
  }

 private:
  int32_t reach_;
  int32_t best_in_;
  int32_t best_out_;
  int32_t s_in_ = -1;
  int32_t s_out_ = -1;
};

}  // namespace

int32_t FindDominatedConfiguration(const LocalFunction& local, TermRef term, bool odd,
                                   int32_t& amount) {
  const int32_t d = term.degree;
  if (d < 1 || d > kMaxExactDegree || local.count > kMaxLocalVariables ||
      local.count - d > kMaxFreeVariables) {
    return -1;
  }
  EnsureParityTables(d);
  const std::vector<int32_t>& target = odd ? SharedParityTables().odd : SharedParityTables().even;

  // bit_of[k]: u_k's bit in L, which configuration bit d-1-k sets.
  uint32_t bit_of[kMaxExactDegree];
  uint32_t term_mask = 0;
  for (int32_t k = 0; k < d; ++k) {
    bit_of[k] = LocalBit(local, term.ids[k]);
    term_mask |= bit_of[k];
  }
  if (std::popcount(term_mask) != d) return -1;  // a repeated or unknown id: no sound layout
  const TermLayout layout{bit_of, d, term_mask, ~LowBits(local.count)};

  // The proof costs about one pass over the entries per configuration; it is tried once, before
  // the first configuration whose enumeration would cost a sizeable share of that.
  bool try_proof = SumsCannotWrap(local, amount);
  const uint64_t proof_cost = (uint64_t{local.entries.size()} + 1) << d;
  DominanceTests tests(local);
  size_t p = 0;  // the next configuration of the target parity is target[p]
  const int32_t configurations = int32_t{1} << d;
  for (int32_t i = 0; i < configurations; ++i) {
    const Restriction restriction = Restrict(local, layout, i);
    const auto j = static_cast<uint64_t>(std::popcount(restriction.free));
    if (try_proof && (j << j) * 4 >= proof_cost) {
      try_proof = false;
      if (NoneCanPass(local, layout, odd, amount)) return -1;
    }
    const bool in_target = i == target[p];
    if (in_target) ++p;
    const int32_t s =
        tests.Add(i, in_target, RestrictedExtremes(local, term_mask, restriction), amount);
    if (s >= 0) return s;
  }
  return -1;
}

}  // namespace pbf
