// The search of the exact reduction returns -1 far more often than not, and those searches are the
// costly ones: they enumerate every restricted function of every configuration. This file proves
// that outcome cheaply where it can, which yields the same -1 without the enumerations.
//
// The proof rests on two facts. R (the smallest largest value seen) only falls and best_in and
// best_out (the largest smallest values seen) only rise, so a test that passes after some
// configuration also passes after the last one: the search finds nothing exactly when both tests
// fail after all 2^d configurations. And the value of a restricted function at any single
// assignment lies between its smallest and its largest value, so a few evaluations bound every
// M_i from below and every m_i from above. If the bounds already make both final tests fail, the
// search would find nothing.
//
// First every bound comes from the assignments with no and with all free variables set; then, for
// a few rounds, only the bounds that decide (the smallest M_i bound and the m_i bounds that still
// beat it) are sharpened by a greedy climb. Cost: about one pass over the entries per
// configuration, plus a few climbs. Both facts need exact sums, hence SumsCannotWrap; terms of
// degree above 12 are not tried.
#include "dominance_proof.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdlib>

#include "pbf_limits.h"

namespace pbf {
namespace {

// The proof keeps two bounds per configuration, for terms of degree up to 12, in file-scope arrays
// (one thread at a time, see pbf.h).
constexpr int32_t kProofDegree = 12;
constexpr int32_t kProofRounds = 8;
constexpr int32_t kClimbSteps = 16;
int32_t largest_below[size_t{1} << kProofDegree];   // <= M_i
int32_t smallest_above[size_t{1} << kProofDegree];  // >= m_i
bool sharpened_up[size_t{1} << kProofDegree];
bool sharpened_down[size_t{1} << kProofDegree];

// The restricted function of one configuration (dead entries dropped, T's variables fixed) taken
// from the assignment y of the free variables through single flips, each the one that raises
// (`up`) or lowers the value most, while one does; returns the value reached. One pass over the
// entries per step finds every flip's effect: an entry within y is lost by flipping any of its
// free variables, an entry missing exactly one is gained by flipping that one. Sums cannot wrap.
int64_t Climb(const LocalFunction& local, uint32_t dead, uint32_t term_mask, uint32_t y, bool up) {
  int64_t value = local.constant;
  for (const LocalEntry& entry : local.entries) {
    if ((entry.mask & dead) == 0 && (entry.mask & ~term_mask & ~y) == 0) value += entry.coef;
  }
  for (int32_t step = 0; step < kClimbSteps; ++step) {
    int64_t change[kMaxLocalVariables] = {};
    for (const LocalEntry& entry : local.entries) {
      const uint32_t free = entry.mask & ~term_mask;
      if ((entry.mask & dead) != 0 || free == 0) continue;
      const uint32_t missing = free & ~y;
      if (missing == 0) {
        for (uint32_t rest = free; rest != 0; rest &= rest - 1)
          change[std::countr_zero(rest)] -= entry.coef;
      } else if ((missing & (missing - 1)) == 0) {
        change[std::countr_zero(missing)] += entry.coef;
      }
    }
    int32_t best = -1;
    int64_t best_change = 0;
    for (int32_t b = 0; b < kMaxLocalVariables; ++b) {
      if (up ? change[b] > best_change : change[b] < best_change) {
        best = b;
        best_change = change[b];
      }
    }
    if (best < 0) break;
    value += best_change;
    y ^= 1u << best;
  }
  return value;
}

}  // namespace

bool NoneCanPass(const LocalFunction& local, const TermLayout& term, bool odd, int32_t amount) {
  const int32_t d = term.degree;
  const uint32_t term_mask = term.term_mask;
  if (d > kProofDegree) return false;
  const int32_t configurations = int32_t{1} << d;
  for (int32_t i = 0; i < configurations; ++i) {
    const uint32_t dead = term.DeadIn(i);
    int64_t none = local.constant;
    int64_t all = 0;
    for (const LocalEntry& entry : local.entries) {
      if (entry.mask & dead) continue;
      ((entry.mask & ~term_mask) == 0 ? none : all) += entry.coef;
    }
    all += none;
    largest_below[i] = static_cast<int32_t>(std::max(none, all));
    smallest_above[i] = static_cast<int32_t>(std::min(none, all));
    sharpened_up[i] = false;
    sharpened_down[i] = false;
  }
  const auto in_target = [odd](int32_t i) {
    return (std::popcount(static_cast<uint32_t>(i)) % 2 == 1) == odd;
  };
  for (int32_t round = 0;; ++round) {
    int32_t low = 0;
    int32_t high_in = -1;
    int32_t high_out = -1;
    for (int32_t i = 0; i < configurations; ++i) {
      if (largest_below[i] < largest_below[low]) low = i;
      int32_t& high = in_target(i) ? high_in : high_out;
      if (high < 0 || smallest_above[i] > smallest_above[high]) high = i;
    }
    const int64_t reach = std::min<int64_t>(local.min_start, largest_below[low]);
    const int64_t best_in = std::max<int64_t>(local.max_start, smallest_above[high_in]);
    const int64_t best_out = std::max<int64_t>(local.max_start, smallest_above[high_out]);
    const bool first_fails = reach >= best_in;
    const bool second_fails = reach + amount >= best_out;
    if (first_fails && second_fails) return true;
    if (round == kProofRounds) return false;
    bool sharpened = false;
    const auto sharpen = [&](int32_t i, bool up) {
      bool& done = (up ? sharpened_up : sharpened_down)[i];
      if (done) return;
      done = sharpened = true;
      const uint32_t dead = term.DeadIn(i);
      uint32_t free = 0;
      for (const LocalEntry& entry : local.entries) {
        if ((entry.mask & dead) == 0) free |= entry.mask & ~term_mask;
      }
      if (up) {
        largest_below[i] = static_cast<int32_t>(
            std::max<int64_t>(largest_below[i], Climb(local, dead, term_mask, free, true)));
      } else {
        smallest_above[i] = static_cast<int32_t>(
            std::min<int64_t>(smallest_above[i], Climb(local, dead, term_mask, 0, false)));
      }
    };
    sharpen(low, true);
    if (!first_fails) sharpen(high_in, false);
    if (!second_fails) sharpen(high_out, false);
    if (!sharpened) return false;
  }
}

bool SumsCannotWrap(const LocalFunction& local, int32_t amount) {
  if (amount < 0) return false;
  int64_t total = std::abs(int64_t{local.constant}) + amount;
  for (const LocalEntry& entry : local.entries) {
    total += std::abs(int64_t{entry.coef});
    if (total > kLargest) return false;
  }
  return true;
}

}  // namespace pbf
