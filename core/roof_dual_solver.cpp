// Roof duality through a maximum flow on the symmetric implication network.
//
// The function is first written as a posiform: a constant plus non-negative multiples of products
// of one or two literals (x or 1 - x). A pair term a·x_i·x_j stays as it is when a > 0 and becomes
// a·x_i + |a|·x_i·(1 - x_j) when a < 0; a unary term b·x_v with b < 0 becomes b + |b|·(1 - x_v).
// With x_0 the constant 1, every product is c·l1·l2, and the network has one node per literal
// (2n + 2 of them) and, for each product, the arcs l1 -> not l2 and l2 -> not l1 of capacity c
// (twice the textbook c/2, so that every capacity is an integer). The maximum flow F from x_0 to
// not x_0 gives the roof-dual bound constant + F/2.
//
// Labels come from the residual graph of a symmetric maximum flow: the average of a maximum flow
// and its mirror image (arc u -> v mirrored to not v -> not u) is one, and its residual graph has
// the arc u -> v exactly when u -> v or its mirror has residual capacity in the flow found. Its
// strongly connected components, in topological order, give the 2-SAT assignment (a literal is
// true when its component comes after its complement's; not x_0 is placed before x_0 by an extra
// arc not x_0 -> x_0, which makes x_0 true). A variable whose two literals share a component
// stays unlabelled. The true literals are closed under the residual arcs, which makes them an
// autarky: applied to any labelling they never raise the value, and some minimiser takes them all.
//
// Layout (arc_graph.h, implication_network.h): the arcs of literal l and of not l run in lockstep, the arc of not l being
// the mirror of the reverse of the arc of l. Every product adds one arc and one reverse to each of
// the two slots it touches, so mirrors need no storage and only half the heads and reverses are
// stored. Nodes and arcs are uint32 (at most 2^32 - 1 arcs, about 10^9 pair terms, far beyond
// memory); residual capacities are int32 when every capacity and the total capacity leaving x_0
// (which bounds the flow) fit, int64 otherwise.
//
// The network also serves as the function's only copy once it is built: an arc pair records which
// of its arcs is the forward one, and a forward arc and its reverse hold the product's capacity
// between them whatever the flow, so the free part (free_part.h) is expanded from the products
// after the labels are known, and the caller's arrays can be released before the flow runs.
//
// Cost: two passes over the terms to build the network (a counting sort into the slots), a
// Boykov-Kolmogorov maximum flow (max_flow.h, in two phases, see TwoPhaseFlow), and one iterative
// Tarjan pass over the residual graph. Memory: 8 or 12 bytes per arc, 4 arcs per product, about
// 40 bytes per node, and 8 or 16 bytes per arc of a non-submodular product while the flow runs.
#include "roof_dual_solver.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "arc_graph.h"
#include "free_part.h"
#include "implication_network.h"

namespace pbf {
namespace {

using implication::Build;
using implication::kSink;
using implication::kSource;
using implication::Literal;
using implication::Measure;
using implication::Network;
using implication::Shape;
using implication::TwoPhaseFlow;

constexpr uint32_t kNoComponent = std::numeric_limits<uint32_t>::max();

// Strongly connected components of the residual graph of the symmetric flow (the average of the
// flow and its mirror image, in which an arc is present when it or its mirror has residual
// capacity) plus the arc not x_0 -> x_0, numbered in the order Tarjan's algorithm completes them:
// a component's number is smaller than that of every component that reaches it.
template <typename Cap>
std::vector<uint32_t> Components(const Network<Cap>& net) {
  const ArcGraph& g = net.graph;
  const uint32_t nodes = g.Nodes();
  // The arc number just past not x_0's last arc stands for not x_0 -> x_0.
  const auto end_of = [&](uint32_t v) { return g.End(v) + (v == kSink ? 2 : 0); };
  const auto present = [&](uint32_t v, uint32_t a) {
    return a == g.End(v) || net.residual[a] > 0 || net.residual[net.Mirror(a)] > 0;
  };
  const auto head = [&](uint32_t v, uint32_t a) { return a == g.End(v) ? kSource : g.Head(a); };

  std::vector<uint32_t> component(nodes, kNoComponent);
  std::vector<uint32_t> index(nodes, 0);  // 0: not visited yet
  std::vector<uint32_t> low(nodes, 0);
  std::vector<uint32_t> next_arc(nodes, 0);
  std::vector<uint32_t> open;  // Tarjan's stack: visited nodes whose component is not complete
  std::vector<uint32_t> path;  // the depth-first path
  uint32_t visited = 0;
  uint32_t components = 0;
  const auto enter = [&](uint32_t v) {
    index[v] = low[v] = ++visited;
    next_arc[v] = g.Begin(v);
    open.push_back(v);
    path.push_back(v);
  };
  for (uint32_t root = 0; root < nodes; ++root) {
    if (index[root] != 0) continue;
    enter(root);
    while (!path.empty()) {
      const uint32_t v = path.back();
      if (next_arc[v] < end_of(v)) {
        const uint32_t a = next_arc[v];
        next_arc[v] += 2;
        if (!present(v, a)) continue;
        const uint32_t w = head(v, a);
        if (index[w] == 0) {
          enter(w);
        } else if (component[w] == kNoComponent) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      path.pop_back();
      if (!path.empty()) low[path.back()] = std::min(low[path.back()], low[v]);
      if (low[v] != index[v]) continue;
      uint32_t w = 0;
      do {
        w = open.back();
        open.pop_back();
        component[w] = components;
      } while (w != v);
      ++components;
    }
  }
  return component;
}

// Calls visit(l1, l2, c) once for every product c·l1·l2 of the network, from the residuals of any
// flow: a product's forward arc and its reverse always hold c between them. The slot of l1 is
// above that of l2, so a unary product comes with l2 = x_0.
template <typename Cap, typename Visit>
void ForEachProduct(const Network<Cap>& net, Visit visit) {
  const ArcGraph& g = net.graph;
  for (uint32_t slot = 1; slot + 1 < g.first.size(); ++slot) {
    for (uint32_t pair = g.first[slot]; pair < g.first[slot + 1]; ++pair) {
      const uint32_t forward = 2 * pair + net.forward_odd[pair];
      const uint32_t l2 = g.Head(forward) ^ 1;
      if ((l2 >> 1) >= slot) continue;
      const int64_t c = int64_t{net.residual[forward]} + net.residual[g.Reverse(forward)];
      visit(2 * slot + net.forward_odd[pair], l2, c);
    }
  }
}

// The free part of the function given the labels, from the network's products: c·l1·l2 with a
// literal l of variable v being x_v or 1 - x_v, expanded, constants dropped. `slot` gives each
// variable's slot.
template <typename Cap>
FreePart FreePartOf(const Network<Cap>& net, const std::vector<uint32_t>& slot,
                    const std::vector<int8_t>& labels) {
  std::vector<uint32_t> variable(slot.size() + 1);  // per slot
  for (size_t v = 0; v < slot.size(); ++v) variable[slot[v]] = static_cast<uint32_t>(v);
  return BuildFreePart(labels, [&](auto unary, auto pair) {
    ForEachProduct(net, [&](uint32_t l1, uint32_t l2, int64_t c) {
      const size_t i = variable[l1 >> 1];
      const bool ni = (l1 & 1) != 0;
      if (l2 == kSource) {  // c·l1
        unary(i, ni ? -c : c);
        return;
      }
      const size_t j = variable[l2 >> 1];
      const bool nj = (l2 & 1) != 0;
      // c·(ni ? 1 - x_i : x_i)·(nj ? 1 - x_j : x_j)
      if (nj) unary(i, ni ? -c : c);
      if (ni) unary(j, nj ? -c : c);
      pair(i, j, ni == nj ? c : -c);
    });
  });
}

template <typename Cap, typename Coef>
RoofDual Solve(QuadraticArrays<Coef>& q, Shape& shape, const std::function<void()>& release,
               FreePart* part) {
  Network<Cap> net = Build<Cap>(q, shape);
  const size_t n = q.unary.size();
  q.unary = {};
  shape.products = {};
  if (release) release();
  RoofDual result;
  result.lower_bound = shape.constant + (int64_t{TwoPhaseFlow(net)} + 1) / 2;
  {
    const std::vector<uint32_t> component = Components(net);
    assert(component[kSource] < component[kSink]);
    result.labels.assign(n, 0);
    for (size_t v = 0; v < n; ++v) {
      const uint32_t slot = shape.slot[v];
      if (net.graph.first[slot] == net.graph.first[slot + 1]) continue;  // in no product
      const uint32_t positive = component[Literal(slot, false)];
      const uint32_t negative = component[Literal(slot, true)];
      result.labels[v] = positive == negative ? -1 : positive < negative ? 1 : 0;
    }
  }
  if (part) *part = FreePartOf(net, shape.slot, result.labels);
  return result;
}

template <typename Coef>
RoofDual SolveAny(QuadraticArrays<Coef>& q, const std::function<void()>& release, FreePart* part) {
  Shape shape = Measure(q);
  if (shape.total == 0) {
    RoofDual result{std::vector<int8_t>(q.unary.size(), 0), shape.constant};
    if (release) release();
    if (part) *part = FreePart{};
    return result;
  }
  return shape.fits_int32 ? Solve<int32_t>(q, shape, release, part)
                          : Solve<int64_t>(q, shape, release, part);
}

}  // namespace

RoofDual SolveRoofDual(QuadraticArrays<int32_t>&& q, const std::function<void()>& release,
                       FreePart* part) {
  return SolveAny(q, release, part);
}
RoofDual SolveRoofDual(QuadraticArrays<int64_t>&& q, const std::function<void()>& release,
                       FreePart* part) {
  return SolveAny(q, release, part);
}

}  // namespace pbf
