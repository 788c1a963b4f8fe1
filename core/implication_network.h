// The symmetric implication network of a quadratic function (see roof_dual_solver.cpp): built in
// two passes over the function's arrays, and its maximum flow in two phases. Apart from the
// solver, the tests reach it here to check the flow against Boost's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "arc_graph.h"
#include "huge_pages.h"
#include "max_flow.h"
#include "roof_dual_solver.h"

namespace pbf::implication {

// Nodes: slot s holds the literal 2s and its complement 2s + 1; slot 0 is x_0, and the variables'
// slots follow in the order of SlotsNearNeighbours.
constexpr uint32_t kSource = 0;  // x_0, the constant 1
constexpr uint32_t kSink = 1;    // not x_0

inline uint32_t Literal(uint32_t slot, bool negated) { return 2 * slot + negated; }

template <typename T>
uint64_t Magnitude(T a) {
  return a < 0 ? uint64_t{0} - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
}

// What the first pass learns: the posiform's constant and unary part, where each variable goes,
// the products per slot, and whether int32 residuals suffice.
struct Shape {
  std::vector<uint32_t> slot;      // per variable
  std::vector<uint32_t> products;  // per slot
  uint64_t total = 0;              // all products
  int64_t constant = 0;
  bool fits_int32 = true;
};

// Slots in the order of each variable's smallest neighbour (itself included), ties by number.
// The flow and the component search jump from a node to its neighbours' records, and on the
// functions this serves, auxiliaries are numbered after all of the variables they join; placed
// beside their first neighbour instead, a node's neighbours are mostly a few records away, not
// half the network. `key` is consumed.
inline std::vector<uint32_t> SlotsNearNeighbours(std::vector<uint32_t>&& key) {
  const size_t n = key.size();
  std::vector<uint32_t> start(n + 1, 0);
  for (const uint32_t k : key) ++start[k + 1];
  for (size_t k = 0; k < n; ++k) start[k + 1] += start[k];
  for (size_t v = 0; v < n; ++v) key[v] = 1 + start[key[v]]++;  // slot 0 is x_0
  return std::move(key);
}

template <typename Coef>
Shape Measure(QuadraticArrays<Coef>& q) {
  const size_t n = q.unary.size();
  Shape shape;
  std::vector<uint32_t> products(n + 1, 0);  // per variable, then x_0
  std::vector<uint32_t> key(n);
  for (size_t v = 0; v < n; ++v) key[v] = static_cast<uint32_t>(v);
  shape.constant = q.constant;
  uint64_t largest = 0;
  for (size_t p = 0; p < q.pairs; ++p) {
    const int64_t a = q.pair_coefs[p];
    if (a == 0) continue;
    const auto i = static_cast<size_t>(q.pair_ids[2 * p]);
    const auto j = static_cast<size_t>(q.pair_ids[2 * p + 1]);
    if (i == j) {
      q.unary[i] += a;
      continue;
    }
    if (a < 0) q.unary[i] += a;
    ++products[i];
    ++products[j];
    key[i] = std::min(key[i], static_cast<uint32_t>(j));
    key[j] = std::min(key[j], static_cast<uint32_t>(i));
    ++shape.total;
    largest = std::max(largest, Magnitude(a));
  }
  uint64_t leaving_source = 0;
  for (size_t v = 0; v < n; ++v) {
    const int64_t b = q.unary[v];
    if (b == 0) continue;
    if (b < 0) shape.constant += b;
    ++products[v];
    ++products[n];
    ++shape.total;
    largest = std::max(largest, Magnitude(b));
    leaving_source += Magnitude(b);
  }
  shape.slot = SlotsNearNeighbours(std::move(key));
  shape.products.resize(n + 1);
  shape.products[0] = products[n];
  for (size_t v = 0; v < n; ++v) shape.products[shape.slot[v]] = products[v];
  constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
  shape.fits_int32 = largest <= kInt32Max && leaving_source <= kInt32Max;
  return shape;
}

template <typename Cap>
struct Network {
  ArcGraph graph;
  std::vector<Cap> residual;
  std::vector<bool> forward_odd;  // per arc pair: whether its odd arc is the product's forward arc
  std::vector<uint32_t> cursor;   // per slot: products placed so far

  // The mirror of arc a (u -> v becomes not v -> not u): the reverse of its lockstep partner.
  uint32_t Mirror(uint32_t a) const { return graph.Reverse(a) ^ 1; }

  // The product c·l1·l2 (literals of two different slots): arcs l1 -> not l2, l2 -> not l1 and
  // their reverses not l2 -> l1, not l1 -> l2. The arc leaving l1 and the one leaving not l1 form
  // one arc pair of l1's slot, and likewise for l2.
  void AddProduct(uint32_t l1, uint32_t l2, Cap c) {
    const uint32_t pair1 = graph.first[l1 >> 1] + cursor[l1 >> 1]++;
    const uint32_t pair2 = graph.first[l2 >> 1] + cursor[l2 >> 1]++;
    const uint32_t a1 = 2 * pair1 + (l1 & 1);  // l1 -> not l2; its partner is not l1 -> l2
    const uint32_t a2 = 2 * pair2 + (l2 & 1);  // l2 -> not l1; its partner is not l2 -> l1
    // Store the even arc of each pair: a1 (head not l2, reverse not l2 -> l1 = a2 ^ 1) or its
    // partner (head l2, reverse a2); the same for pair2.
    graph.head[pair1] = (l2 ^ 1) ^ (l1 & 1);
    graph.reverse[pair1] = (a2 ^ 1) ^ (l1 & 1);
    graph.head[pair2] = (l1 ^ 1) ^ (l2 & 1);
    graph.reverse[pair2] = (a1 ^ 1) ^ (l2 & 1);
    forward_odd[pair1] = (l1 & 1) != 0;
    forward_odd[pair2] = (l2 & 1) != 0;
    residual[a1] = c;
    residual[a2] = c;
    residual[a1 ^ 1] = 0;
    residual[a2 ^ 1] = 0;
  }
};

template <typename Cap, typename Coef>
Network<Cap> Build(const QuadraticArrays<Coef>& q, const Shape& shape) {
  // Arc numbers are uint32 and one past the last must fit too. A network that large could not be
  // allocated anyway: report it the way an oversized vector would.
  if (shape.total > (std::numeric_limits<uint32_t>::max() - 1) / 4) {
    throw std::length_error("implication network too large");
  }
  const size_t slots = shape.products.size();
  Network<Cap> net;
  net.graph.first.resize(slots + 1);
  uint32_t pairs = 0;
  for (size_t s = 0; s < slots; ++s) {
    net.graph.first[s] = pairs;
    pairs += shape.products[s];
  }
  net.graph.first[slots] = pairs;
  ReserveOnHugePages(net.graph.head, pairs);
  ReserveOnHugePages(net.graph.reverse, pairs);
  ReserveOnHugePages(net.residual, 2 * size_t{pairs});
  net.graph.head.resize(pairs);
  net.graph.reverse.resize(pairs);
  net.residual.resize(2 * size_t{pairs});
  net.forward_odd.resize(pairs);
  net.cursor.assign(slots, 0);
  for (size_t p = 0; p < q.pairs; ++p) {
    const int64_t a = q.pair_coefs[p];
    const auto i = static_cast<size_t>(q.pair_ids[2 * p]);
    const auto j = static_cast<size_t>(q.pair_ids[2 * p + 1]);
    if (a == 0 || i == j) continue;
    if (a > 0) {
      net.AddProduct(Literal(shape.slot[i], false), Literal(shape.slot[j], false),
                     static_cast<Cap>(a));
    } else {
      net.AddProduct(Literal(shape.slot[i], false), Literal(shape.slot[j], true),
                     static_cast<Cap>(-a));
    }
  }
  for (size_t v = 0; v < q.unary.size(); ++v) {
    const int64_t b = q.unary[v];
    if (b > 0) net.AddProduct(Literal(shape.slot[v], false), kSource, static_cast<Cap>(b));
    if (b < 0) net.AddProduct(Literal(shape.slot[v], true), kSource, static_cast<Cap>(-b));
  }
  net.cursor = {};
  return net;
}

// The maximum flow in two phases. Without the arcs between a positive and a negated literal (the
// non-submodular pair terms), the network falls apart into two mirror-image copies joined only at
// x_0 and not x_0, so the first phase solves the positive copy alone and mirrors its flow onto the
// negated one: half the work for the submodular part. The second phase adds the crossing arcs back
// and continues from that flow. `flow` is the max-flow: flow.First(net) and then
// flow.Second(net, touched) each add the maximum flow to the one the residuals hold, `touched`
// being the literals at the ends of the crossing arcs.
template <typename Cap, typename Flow>
Cap TwoPhaseFlow(Network<Cap>& net, Flow& flow) {
  const ArcGraph& g = net.graph;
  const auto negated = [](uint32_t node) { return node >= 2 && (node & 1) != 0; };
  const auto crossing = [](uint32_t tail, uint32_t head) {
    return tail >= 2 && head >= 2 && ((tail ^ head) & 1) != 0;
  };
  // Calls visit(arc, tail, head) for every arc of the second copy or between the copies.
  const auto for_each_outside = [&](auto visit) {
    for (uint32_t k = 0; k < g.Nodes(); ++k) {
      for (uint32_t a = g.Begin(k); a < g.End(k); a += 2) {
        const uint32_t h = g.Head(a);
        if (negated(k) || negated(h)) visit(a, k, h);
      }
    }
  };
  std::vector<std::pair<uint32_t, Cap>> held;
  std::vector<uint32_t> touched;
  for_each_outside([&](uint32_t a, uint32_t tail, uint32_t head) {
    if (crossing(tail, head) && net.residual[a] > 0) {
      held.emplace_back(a, net.residual[a]);
      touched.push_back(tail);
      touched.push_back(head);
    }
    net.residual[a] = 0;
  });
  const Cap half = flow.First(net);
  for_each_outside([&](uint32_t a, uint32_t tail, uint32_t head) {
    if (!crossing(tail, head)) net.residual[a] = net.residual[net.Mirror(a)];
  });
  for (const auto& [a, c] : held) net.residual[a] = c;
  held = {};
  return 2 * half + flow.Second(net, touched);
}

// The library's max-flow for TwoPhaseFlow. Where the crossing arcs are many (an eighth of all arcs
// or more), its second phase starts from the first phase's search trees and their mirror images;
// where they are few, from scratch. Measured on the reduced 512x512 photograph's functions: with
// 16-37 % crossing arcs the trees kept save 7-11 % of the flow's time, with 7-8 % they cost
// 30-70 %: the first phase's trees are deep, and the second phase's adoptions walk them, while
// trees grown afresh are as shallow as breadth-first growth makes them.
template <typename Cap>
class OwnFlow {
 public:
  Cap First(Network<Cap>& net) {
    solver_.emplace(net.graph, net.residual);
    return solver_->Run(kSource, kSink);
  }
  Cap Second(Network<Cap>& net, const std::vector<uint32_t>& touched) {
    // Two touched literals per crossing arc.
    if (touched.size() / 2 >= net.graph.Arcs() / 8) return solver_->ContinueMirrored(touched);
    solver_.reset();
    return MaxFlow(net.graph, net.residual, kSource, kSink);
  }

 private:
  std::optional<MaxFlowSolver<Cap>> solver_;
};

template <typename Cap>
Cap TwoPhaseFlow(Network<Cap>& net) {
  OwnFlow<Cap> flow;
  return TwoPhaseFlow(net, flow);
}

}  // namespace pbf::implication
