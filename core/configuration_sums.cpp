// Restricting L to configuration i of T keeps the entries whose part inside T lies within i: those
// inside T add up to a constant, the others keep their free (non-T) variables. Grouping the
// entries by their part inside T once and combining the groups over submasks (the subset
// transform, d 2^(d-1) steps) gives that constant and the union of the free variables for all 2^d
// configurations at once, instead of one pass over the entries per configuration: a term's
// search and proof then read each configuration in constant time.
//
// Cost: two passes over L's entries and about 2^d (3d/2 + 4) steps per term. The search of a term
// of high degree that stops at an early configuration pays the 2^d all the same; every workload
// measured gains (bench/RESULTS.md), and a degree of 16 costs about a millisecond.
#include "configuration_sums.h"

#include <bit>
#include <cstddef>
#include <cstdlib>

#include "subset_transform.h"
#include "wrap.h"

namespace pbf {

void ConfigurationSums::Build(const LocalFunction& local, const uint32_t* bit_of, int32_t d) {
  degree = d;
  const size_t n = size_t{1} << d;
  fixed.assign(n, 0);
  full.assign(n, 0);  // first the reaching entries' sums alone
  free.assign(n, 0);
  reaching.clear();
  fixed[0] = local.constant;
  magnitude = std::abs(int64_t{local.constant});

  // T's part of a mask in configuration layout. BuildNeighbourhood gives u_k the bit d-1-k
  // itself, where the part is the mask's low bits; any other layout maps bit by bit.
  uint32_t term_mask = 0;
  bool in_place = true;
  uint8_t configuration_bit[32] = {};
  for (int32_t k = 0; k < d; ++k) {
    term_mask |= bit_of[k];
    in_place = in_place && bit_of[k] == 1u << (d - 1 - k);
    configuration_bit[std::countr_zero(bit_of[k])] = static_cast<uint8_t>(d - 1 - k);
  }
  const auto term_part = [&](uint32_t mask) {
    if (in_place) return mask & term_mask;
    uint32_t part = 0;
    for (uint32_t rest = mask & term_mask; rest != 0; rest &= rest - 1) {
      part |= 1u << configuration_bit[std::countr_zero(rest)];
    }
    return part;
  };
  const uint32_t outside = local.count >= 32 ? 0 : ~((1u << local.count) - 1);

  // The sums through plain pointers: the appends to `reaching` would otherwise make the compiler
  // reload every vector's data pointer for every entry. Appended, not written into a vector
  // resized to every entry and cut back: that zeroed the slack again for every term (Build took
  // 1.3 times as long on grid256).
  reaching.reserve(local.entries.size());
  int32_t* fixed_sum = fixed.data();
  int32_t* full_sum = full.data();
  uint32_t* free_union = free.data();
  for (const LocalEntry& entry : local.entries) {
    magnitude += std::abs(int64_t{entry.coef});
    if (entry.mask & outside) continue;
    const uint32_t part = term_part(entry.mask);
    const uint32_t rest = entry.mask & ~term_mask;
    if (rest == 0) {
      fixed_sum[part] = WrapAdd(fixed_sum[part], entry.coef);
    } else {
      full_sum[part] = WrapAdd(full_sum[part], entry.coef);
      free_union[part] |= rest;
      reaching.push_back({part, rest, entry.coef});
    }
  }
  GroupReaching();

  // `full` adds up both kinds of entry before the transform, which sums linearly (modulo 2^32).
  for (size_t i = 0; i < n; ++i) full_sum[i] = WrapAdd(full_sum[i], fixed_sum[i]);
  ForEachSubmaskStep(d, [&](size_t high, size_t low) {
    fixed_sum[high] = WrapAdd(fixed_sum[high], fixed_sum[low]);
    full_sum[high] = WrapAdd(full_sum[high], full_sum[low]);
    free_union[high] |= free_union[low];
  });
}

void ConfigurationSums::GroupReaching() {
  start.clear();
  if (reaching.size() <= kGroupAbove) return;
  // A counting sort by part, each group keeping L's order.
  const size_t n = size_t{1} << degree;
  start.assign(n + 1, 0);
  for (const Reaching& entry : reaching) ++start[entry.term_part + 1];
  for (size_t s = 1; s <= n; ++s) start[s] += start[s - 1];
  sorted_.resize(reaching.size());
  for (const Reaching& entry : reaching) sorted_[start[entry.term_part]++] = entry;
  for (size_t s = n; s > 0; --s) start[s] = start[s - 1];
  start[0] = 0;
  reaching.swap(sorted_);
}

}  // namespace pbf
