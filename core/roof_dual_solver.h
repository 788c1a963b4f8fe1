// The roof-dual solver behind RoofDuality, Minimize's probing and its improvement moves: a
// quadratic function handed over as flat arrays, so that restricted functions built on the fly and
// the pairwise table of a PBF go through the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "pbf.h"
#include "roof_duality.h"

namespace pbf {

// constant + Σ_v unary[v]·x_v + Σ_p pair_coefs[p]·x_i·x_j with (i, j) = (pair_ids[2p],
// pair_ids[2p+1]), over the variables 0 .. unary.size() - 1. i == j is allowed (it is x_i); zero
// coefficients are skipped. Terms of both signs on one pair {i, j} (in either order) must be merged
// first: the bound of such a split form can be weaker (x_0·x_1 - 2·x_1·x_0 gives -2 there, -1
// merged). The sum of |coefficients| must stay below 2^62, which holds for anything assembled from
// fewer than 2^30 int32 coefficients.
template <typename Coef>
struct QuadraticArrays {
  int64_t constant = 0;
  std::vector<int64_t> unary;
  const int32_t* pair_ids = nullptr;
  const Coef* pair_coefs = nullptr;
  size_t pairs = 0;
};

struct FreePart;

// Roof duality on the symmetric implication network of the function (see roof_dual_solver.cpp):
// labels for the variables 0 .. unary.size() - 1 with weak persistency (variables in no term with
// a non-zero coefficient get 0), and the bound rounded up. `unary` is consumed. Once the network
// is built, q's arrays are no longer read and `release` (when set) is called, so that their owner
// can free them before the flow runs. With `part` set, *part receives the free part of the
// function given the labels (free_part.h), read back from the network.
RoofDual SolveRoofDual(QuadraticArrays<int32_t>&& q, const std::function<void()>& release = {},
                       FreePart* part = nullptr);
RoofDual SolveRoofDual(QuadraticArrays<int64_t>&& q, const std::function<void()>& release = {},
                       FreePart* part = nullptr);

// RoofDuality(q) for a q that the caller hands over: q is emptied as soon as the network is built,
// and with `part` set, *part receives q's free part given the labels, so that nothing of q is kept
// while the flow runs. Minimize's road.
RoofDual RoofDualityConsuming(PBF&& q, FreePart* part);

}  // namespace pbf
