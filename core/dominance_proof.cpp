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
// beat it) are sharpened by a greedy climb. Cost: the first bounds are the values with no and with
// all free variables set that the ConfigurationSums hold, so a pass over the 2^d configurations per
// round, plus a few climbs over the entries that one configuration keeps. Both facts need exact
// sums, hence SumsCannotWrap; terms of degree above 12 are not tried.
#include "dominance_proof.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdlib>

#include "pbf_limits.h"

namespace pbf {
namespace {

constexpr int32_t kProofDegree = 12;
constexpr int32_t kProofRounds = 8;
constexpr int32_t kClimbSteps = 16;

// The restricted function of one configuration (its constant `fixed` and the reaching entries it
// keeps) taken from the assignment y of the free variables through single flips, each the one
// that raises (`up`) or lowers the value most, while one does; returns the value reached. One pass
// over the entries per step finds every flip's effect: an entry within y is lost by flipping any
// of its free variables, an entry missing exactly one is gained by flipping that one. Sums cannot
// wrap.
int64_t Climb(const std::vector<ConfigurationSums::Reaching>& kept, int64_t fixed, uint32_t y,
              bool up) {
  int64_t value = fixed;
  uint32_t flips = 0;  // the variables of the entries: no other flip changes the value
  for (const ConfigurationSums::Reaching& entry : kept) {
    if ((entry.free & ~y) == 0) value += entry.coef;
    flips |= entry.free;
  }
  for (int32_t step = 0; step < kClimbSteps; ++step) {
    int64_t change[kMaxLocalVariables];
    for (uint32_t rest = flips; rest != 0; rest &= rest - 1) change[std::countr_zero(rest)] = 0;
    for (const ConfigurationSums::Reaching& entry : kept) {
      const uint32_t missing = entry.free & ~y;
      if (missing == 0) {
        for (uint32_t rest = entry.free; rest != 0; rest &= rest - 1)
          change[std::countr_zero(rest)] -= entry.coef;
      } else if ((missing & (missing - 1)) == 0) {
        change[std::countr_zero(missing)] += entry.coef;
      }
    }
    // The first best flip in ascending order, as a scan of every variable would find it.
    int32_t best = -1;
    int64_t best_change = 0;
    for (uint32_t rest = flips; rest != 0; rest &= rest - 1) {
      const int32_t b = std::countr_zero(rest);
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

bool NoneCanPass(const LocalFunction& local, const ConfigurationSums& sums, bool odd,
                 int32_t amount, ProofBounds& bounds) {
  const int32_t d = sums.degree;
  if (d > kProofDegree) return false;
  const size_t configurations = size_t{1} << d;
  bounds.largest_below.resize(configurations);
  bounds.smallest_above.resize(configurations);
  bounds.climbed.clear();
  // The sums cannot wrap, so those of `sums` are exact values.
  for (size_t i = 0; i < configurations; ++i) {
    bounds.largest_below[i] = std::max(sums.fixed[i], sums.full[i]);
    bounds.smallest_above[i] = std::min(sums.fixed[i], sums.full[i]);
  }
  const auto in_target = [odd](size_t i) {
    return (std::popcount(static_cast<uint32_t>(i)) % 2 == 1) == odd;
  };
  for (int32_t round = 0;; ++round) {
    size_t low = 0;
    int64_t high_in = -1;
    int64_t high_out = -1;
    for (size_t i = 0; i < configurations; ++i) {
      if (bounds.largest_below[i] < bounds.largest_below[low]) low = i;
      int64_t& high = in_target(i) ? high_in : high_out;
      if (high < 0 || bounds.smallest_above[i] > bounds.smallest_above[static_cast<size_t>(high)]) {
        high = static_cast<int64_t>(i);
      }
    }
    const auto smallest_above = [&](int64_t i) {
      return i < 0 ? local.max_start : bounds.smallest_above[static_cast<size_t>(i)];
    };
    const int64_t reach = std::min<int64_t>(local.min_start, bounds.largest_below[low]);
    const int64_t best_in = std::max<int64_t>(local.max_start, smallest_above(high_in));
    const int64_t best_out = std::max<int64_t>(local.max_start, smallest_above(high_out));
    const bool first_fails = reach >= best_in;
    const bool second_fails = reach + amount >= best_out;
    if (first_fails && second_fails) return true;
    if (round == kProofRounds) return false;
    bool sharpened = false;
    const auto sharpen = [&](size_t i, bool up) {
      const uint32_t climb = static_cast<uint32_t>(i) << 1 | (up ? 1u : 0u);
      if (std::find(bounds.climbed.begin(), bounds.climbed.end(), climb) != bounds.climbed.end())
        return;
      bounds.climbed.push_back(climb);
      sharpened = true;
      bounds.kept.clear();
      sums.ForEachKept(
          static_cast<int32_t>(i),
          [&bounds](const ConfigurationSums::Reaching& entry) { bounds.kept.push_back(entry); });
      if (up) {
        bounds.largest_below[i] = static_cast<int32_t>(std::max<int64_t>(
            bounds.largest_below[i], Climb(bounds.kept, sums.fixed[i], sums.free[i], true)));
      } else {
        bounds.smallest_above[i] = static_cast<int32_t>(std::min<int64_t>(
            bounds.smallest_above[i], Climb(bounds.kept, sums.fixed[i], 0, false)));
      }
    };
    sharpen(low, true);
    if (!first_fails) sharpen(static_cast<size_t>(high_in), false);
    if (!second_fails) sharpen(static_cast<size_t>(high_out), false);
    if (!sharpened) return false;
  }
}

bool SumsCannotWrap(const ConfigurationSums& sums, int32_t amount) {
  return amount >= 0 && sums.magnitude + amount <= kLargest;
}

bool SumsCannotWrap(const LocalFunction& local, int32_t amount) {
  if (amount < 0) return false;
  int64_t total = std::abs(int64_t{local.constant}) + amount;
  if (total > kLargest) return false;  // also without entries, as the contract says
  for (const LocalEntry& entry : local.entries) {
    total += std::abs(int64_t{entry.coef});
    if (total > kLargest) return false;
  }
  return true;
}

}  // namespace pbf
