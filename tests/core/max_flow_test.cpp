// The library's maximum flow held against Boost's Boykov-Kolmogorov implementation on implication
// networks of random quadratic functions: the same flow value, and what it leaves is a maximum
// flow (no residual path from the source to the sink, every arc and its reverse still holding
// their capacity between them).
#include "max_flow.h"

#include <gtest/gtest.h>

#include <boost/graph/boykov_kolmogorov_max_flow.hpp>
#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "boost_arc_graph.h"
#include "implication_network.h"

namespace pbf {
namespace {

using implication::Network;

template <typename Cap>
Cap BoostAugment(Network<Cap>& net) {
  const uint32_t nodes = net.graph.Nodes();
  std::vector<uint32_t> parent(nodes);
  std::vector<boost::default_color_type> tree(nodes);
  std::vector<uint32_t> distance(nodes);
  // Boost first saturates paths source -> v -> sink without crediting the reverse arcs; an
  // implication network has none (a node has an arc from x_0 only for a negative unary
  // coefficient and one to not x_0 only for a positive one), so its residuals are exact.
  return boost::boykov_kolmogorov_max_flow(
      net.graph, FlatMap(net.residual), FlatMap(net.residual), ReverseMap(net.graph),
      FlatMap(parent), FlatMap(tree), FlatMap(distance),
      boost::typed_identity_property_map<uint32_t>(), implication::kSource, implication::kSink);
}

// Boost's max-flow in both phases, each from scratch.
template <typename Cap>
struct BoostFlow {
  Cap First(Network<Cap>& net) { return BoostAugment(net); }
  Cap Second(Network<Cap>& net, const std::vector<uint32_t>&) { return BoostAugment(net); }
};

// A random quadratic function on n variables: a grid-like chain of neighbours (long paths, deep
// search trees) plus random pairs, coefficients of both signs up to `largest`.
struct RandomArrays {
  std::vector<int32_t> ids;
  std::vector<int64_t> coefs;
  implication::Shape shape;

  template <typename Cap>
  Network<Cap> Build(std::mt19937& rng, int32_t n, int64_t largest) {
    std::uniform_int_distribution<int64_t> coef(-largest, largest);
    std::uniform_int_distribution<int32_t> var(0, n - 1);
    // One coefficient per pair of variables: the network wants the terms of a pair merged.
    std::set<std::pair<int32_t, int32_t>> pairs;
    for (int32_t v = 0; v + 1 < n; ++v) {
      pairs.emplace(v, v + 1);
      if (v + 8 < n) pairs.emplace(v, v + 8);
    }
    for (int32_t k = 0; k < n; ++k) {
      const int32_t i = var(rng), j = var(rng);
      pairs.emplace(std::min(i, j), std::max(i, j));  // i == j: a unary term
    }
    for (const auto& [i, j] : pairs) {
      ids.insert(ids.end(), {i, j});
      coefs.push_back(coef(rng));
    }
    QuadraticArrays<int64_t> q;
    q.unary.resize(static_cast<size_t>(n));
    for (auto& b : q.unary) b = coef(rng);
    q.pair_ids = ids.data();
    q.pair_coefs = coefs.data();
    q.pairs = coefs.size();
    shape = implication::Measure(q);
    return implication::Build<Cap>(q, shape);
  }
};

template <typename Cap>
void ExpectMaximum(const Network<Cap>& net, const std::vector<Cap>& before) {
  const ArcGraph& g = net.graph;
  for (uint32_t a = 0; a < g.Arcs(); ++a) {
    ASSERT_GE(net.residual[a], 0);
    ASSERT_EQ(net.residual[a] + net.residual[g.Reverse(a)], before[a] + before[g.Reverse(a)]);
  }
  std::vector<bool> seen(g.Nodes(), false);
  std::vector<uint32_t> stack = {implication::kSource};
  seen[implication::kSource] = true;
  while (!stack.empty()) {
    const uint32_t v = stack.back();
    stack.pop_back();
    for (uint32_t a = g.Begin(v); a < g.End(v); a += 2) {
      if (net.residual[a] > 0 && !seen[g.Head(a)]) {
        seen[g.Head(a)] = true;
        stack.push_back(g.Head(a));
      }
    }
  }
  EXPECT_FALSE(seen[implication::kSink]);
}

template <typename Cap>
void CompareWithBoost(uint32_t seed, int64_t largest) {
  std::mt19937 rng(seed);
  const int32_t n = std::uniform_int_distribution<int32_t>(2, 300)(rng);
  RandomArrays arrays;
  Network<Cap> ours = arrays.Build<Cap>(rng, n, largest);
  Network<Cap> theirs = ours;
  const std::vector<Cap> capacities = ours.residual;
  // In one run and in the solver's two phases, the second continuing from the first's flow (ours
  // also from its search trees).
  const bool two_phases = seed % 2 == 0;
  BoostFlow<Cap> boost_flow;
  const Cap flow = two_phases ? implication::TwoPhaseFlow(ours)
                              : MaxFlow(ours.graph, ours.residual, implication::kSource,
                                        implication::kSink);
  const Cap expected = two_phases ? implication::TwoPhaseFlow(theirs, boost_flow)
                                  : BoostAugment(theirs);
  EXPECT_EQ(flow, expected) << "seed " << seed << ", " << n << " variables";
  ExpectMaximum(ours, capacities);
}

TEST(MaxFlow, AgreesWithBoostOnImplicationNetworks) {
  for (uint32_t seed = 0; seed < 300; ++seed) {
    CompareWithBoost<int32_t>(seed, seed % 3 == 0 ? 3 : 1000);
    CompareWithBoost<int64_t>(seed, int64_t{1} << 40);
  }
}

}  // namespace
}  // namespace pbf
