#include "configuration_sums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "dominance_proof.h"
#include "local_function.h"
#include "wrap.h"

namespace pbf {
namespace {

using Kept = std::vector<std::tuple<uint32_t, uint32_t, int32_t>>;

// Every configuration restricted the plain way, one pass over the entries each, against the
// sums: random functions of up to 24 variables, T's bits in place (as BuildNeighbourhood lays
// them out) or scattered, entries beyond `count`, coefficients that wrap, and few or many
// reaching entries (one pass, or grouped by part); and the magnitude counted for SumsCannotWrap.
TEST(ConfigurationSums, MatchRestrictingEveryConfigurationByItself) {
  std::mt19937 rng(53);
  ConfigurationSums sums;  // reused, as a reduction reuses it
  for (int rep = 0; rep < 300; ++rep) {
    LocalFunction local;
    local.count = 4 + static_cast<int32_t>(rng() % 21);
    const int32_t d = 1 + static_cast<int32_t>(rng() % std::min(local.count, 9));
    std::vector<int32_t> positions(static_cast<size_t>(local.count));
    std::iota(positions.begin(), positions.end(), 0);
    if (rep % 2) std::shuffle(positions.begin(), positions.end(), rng);
    uint32_t bit_of[16];
    uint32_t term_mask = 0;
    for (int32_t k = 0; k < d; ++k) {
      bit_of[k] = 1u << (rep % 2 ? positions[static_cast<size_t>(k)] : d - 1 - k);
      term_mask |= bit_of[k];
    }
    local.constant = static_cast<int32_t>(rng());
    const int32_t n = static_cast<int32_t>(rng() % (rep % 3 == 0 ? 400 : 60));
    for (int32_t e = 0; e < n; ++e) {
      uint32_t mask = static_cast<uint32_t>(rng()) & static_cast<uint32_t>(rng());
      if (rng() % 10) mask &= (1u << local.count) - 1;  // now and then beyond count
      // Every fourth function has small coefficients only, so that it lies near the int32 limit
      // of SumsCannotWrap rather than far beyond.
      const int32_t coef = rep % 4 != 3 && rng() % 2 ? static_cast<int32_t>(rng())
                                                     : static_cast<int32_t>(rng() % 21) - 10;
      local.entries.push_back({mask, coef});
    }
    sums.Build(local, bit_of, d);
    ASSERT_EQ(sums.degree, d);
    // The magnitude counted on the way answers as the pass over L's entries does, also on
    // either side of the int32 limit and with entries beyond `count`.
    int64_t magnitude = std::abs(int64_t{local.constant});
    for (const LocalEntry& e : local.entries) magnitude += std::abs(int64_t{e.coef});
    for (const int64_t amount : {int64_t{-1}, int64_t{0}, int64_t{INT_MAX} - magnitude,
                                 int64_t{INT_MAX} - magnitude + 1}) {
      if (amount < INT_MIN || amount > INT_MAX) continue;
      const auto a = static_cast<int32_t>(amount);
      ASSERT_EQ(SumsCannotWrap(sums, a), SumsCannotWrap(local, a)) << "rep " << rep << " amount " << a;
    }
    for (int32_t i = 0; i < (1 << d); ++i) {
      uint32_t ones = 0;
      for (int32_t k = 0; k < d; ++k) {
        if ((i >> (d - 1 - k)) & 1) ones |= bit_of[k];
      }
      const uint32_t dead = (term_mask & ~ones) | ~((1u << local.count) - 1);
      int32_t none = local.constant;
      int32_t all = local.constant;
      uint32_t free = 0;
      Kept want;
      for (const LocalEntry& e : local.entries) {
        if (e.mask & dead) continue;
        all = WrapAdd(all, e.coef);
        if ((e.mask & ~term_mask) == 0) {
          none = WrapAdd(none, e.coef);
        } else {
          free |= e.mask & ~term_mask;
          want.emplace_back(0, e.mask & ~term_mask, e.coef);
        }
      }
      const auto at = static_cast<size_t>(i);
      ASSERT_EQ(sums.fixed[at], none) << "rep " << rep << " configuration " << i;
      ASSERT_EQ(sums.full[at], all) << "rep " << rep << " configuration " << i;
      ASSERT_EQ(sums.free[at], free) << "rep " << rep << " configuration " << i;
      Kept got;
      sums.ForEachKept(i, [&](const ConfigurationSums::Reaching& r) {
        ASSERT_EQ(r.term_part & ~static_cast<uint32_t>(i), 0u);
        got.emplace_back(0, r.free, r.coef);
      });
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      ASSERT_EQ(got, want) << "rep " << rep << " configuration " << i;
    }
  }
}

}  // namespace
}  // namespace pbf
