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
// Per configuration, the ConfigurationSums give what restricting L to it leaves (the restrict
// step), RestrictedExtremes enumerates that, and DominanceTests keeps the running values and runs
// the two tests (the test step).
//
// Choices worth knowing:
// - L's entries are grouped by their part inside T once per term (configuration_sums.h), so a
//   configuration's constant and free variables cost nothing more and only the entries it keeps
//   are read. Passing over every entry once per configuration (here and in the proof) made the
//   search and proof 300 ms of grid256's reduction instead of 130 ms, and clique12's reduction
//   4.2 s instead of 0.8 s (bench/RESULTS.md).
// - A configuration whose values with no and with all free variables set already show that it
//   can change none of the tests' running values is passed over without enumerating it: the
//   tests then fail exactly as they failed before it. This skips 4 in 5 of the table entries
//   that grid256's searches would fill.
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
#include <cassert>
#include <cstddef>

#include "bit_count.h"
#include "configuration_sums.h"
#include "dominance_proof.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf_limits.h"
#include "value_table.h"
#include "wrap.h"

namespace pbf {
namespace {

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

// The largest and smallest value of L restricted to configuration i over all assignments of its
// free variables, their bits packed down into the value table.
LocalFunction::Extremes RestrictedExtremes(const ConfigurationSums& sums, int32_t i,
                                           ValueTable& values) {
  const uint32_t free = sums.free[static_cast<size_t>(i)];
  const int32_t j = CountBits(free);
  int32_t* table = values.Zeroed(j);
  table[0] = sums.fixed[static_cast<size_t>(i)];
  if (free != 0) {
    uint8_t rank[kMaxLocalVariables];
    Ranks(free, rank);
    sums.ForEachKept(i, [&](const ConfigurationSums::Reaching& entry) {
      int32_t& slot = table[Compress(entry.free, rank)];
      slot = WrapAdd(slot, entry.coef);
    });
  }
  LocalFunction::Extremes extremes{kSmallest, kLargest};
  values.SumSubsetsAndWiden(j, extremes);
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

  // Whether a configuration whose largest value is at least `largest_at_least` and whose
  // smallest is at most `smallest_at_most` leaves every running value as it is. Then the tests
  // fail as they failed after the configuration before (or, for the first, as they fail on the
  // starting values), so the configuration can be passed over without its extremes.
  bool CannotChange(bool in_target, int32_t largest_at_least, int32_t smallest_at_most) const {
    return largest_at_least >= reach_ && smallest_at_most <= (in_target ? best_in_ : best_out_);
  }

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
                                   int32_t& amount, const ParityTables& parity,
                                   SearchScratch& scratch) {
  const int32_t d = term.degree;
  if (d < 1 || d > kMaxExactDegree || local.count > kMaxLocalVariables ||
      local.count - d > kMaxFreeVariables) {
    return -1;
  }
  assert(parity.built_degree >= d);
  const std::vector<int32_t>& target = odd ? parity.odd : parity.even;

  // bit_of[k]: u_k's bit in L, which configuration bit d-1-k sets.
  uint32_t bit_of[kMaxExactDegree];
  uint32_t term_mask = 0;
  for (int32_t k = 0; k < d; ++k) {
    bit_of[k] = LocalBit(local, term.ids[k]);
    term_mask |= bit_of[k];
  }
  if (CountBits(term_mask) != d) return -1;  // a repeated or unknown id: no sound layout
  ConfigurationSums& sums = scratch.sums;
  sums.Build(local, bit_of, d);

  // The proof costs about one pass over the entries plus a few steps per configuration; it is
  // tried once, before the first configuration whose enumeration would cost a sizeable share of
  // that.
  bool try_proof = SumsCannotWrap(sums, amount);
  const uint64_t proof_cost = (uint64_t{local.entries.size()} + 1) << d;
  DominanceTests tests(local);
  size_t p = 0;  // the next configuration of the target parity is target[p]
  const int32_t configurations = int32_t{1} << d;
  for (int32_t i = 0; i < configurations; ++i) {
    const auto j = static_cast<uint64_t>(CountBits(sums.free[static_cast<size_t>(i)]));
    if (try_proof && (j << j) * 4 >= proof_cost) {
      try_proof = false;
      if (NoneCanPass(local, sums, odd, amount, scratch.proof)) return -1;
    }
    const bool in_target = i == target[p];
    if (in_target) ++p;
    // The values with no and with every free variable set are two of the values enumerated.
    const int32_t none = sums.fixed[static_cast<size_t>(i)];
    const int32_t all = sums.full[static_cast<size_t>(i)];
    if (tests.CannotChange(in_target, std::max(none, all), std::min(none, all))) continue;
    const int32_t s = tests.Add(i, in_target, RestrictedExtremes(sums, i, scratch.values), amount);
    if (s >= 0) return s;
  }
  return -1;
}

}  // namespace pbf
