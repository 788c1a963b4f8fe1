// A cheap proof that the search for a dominated configuration (dominated_configuration.cpp) will
// find nothing, so that it can return -1 without enumerating every restricted function.
#pragma once

#include <cstdint>
#include <vector>

#include "configuration_sums.h"
#include "local_function.h"

namespace pbf {

// The proof's bounds per configuration and the entries of one climb, kept by the caller from term
// to term so that their storage is reused.
struct ProofBounds {
  std::vector<int32_t> largest_below;   // <= M_i
  std::vector<int32_t> smallest_above;  // >= m_i
  // The climbs made, as configuration << 1 | up: a few per round, so a short list to search
  // rather than flags per configuration that every term would have to clear.
  std::vector<uint32_t> climbed;
  std::vector<ConfigurationSums::Reaching> kept;
};

// Whether |constant| + sum |coef| + amount fits int32 (amount >= 0), so that no value or bound of
// the search can wrap.
bool SumsCannotWrap(const LocalFunction& local, int32_t amount);
// The same from the magnitude that `sums` counted while it was built for L, which spares the
// search a pass over L's entries.
bool SumsCannotWrap(const ConfigurationSums& sums, int32_t amount);

// True only when the search on L (whose ConfigurationSums are `sums`) with this target parity (odd
// when set) and amount would return -1: neither of its tests passes after all configurations.
// False when that cannot be shown cheaply, which proves nothing. Requires
// SumsCannotWrap(local, amount).
bool NoneCanPass(const LocalFunction& local, const ConfigurationSums& sums, bool odd,
                 int32_t amount, ProofBounds& bounds);

}  // namespace pbf
