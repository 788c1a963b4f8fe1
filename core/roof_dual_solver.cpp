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
// Layout (arc_graph.h): the arcs of literal l and of not l run in lockstep, the arc of not l being
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
// Cost: two passes over the terms to build the network (a counting sort into the slots), Boost's
// Boykov-Kolmogorov maximum flow (in two phases, see MaxFlow), and one iterative Tarjan pass over
// the residual graph. Memory: 8 or 12 bytes per arc, 4 arcs per product, about 40 bytes per node,
// and 8 or 16 bytes per arc of a non-submodular product while the flow runs.
#include "roof_dual_solver.h"

#include <algorithm>
#include <boost/graph/boykov_kolmogorov_max_flow.hpp>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "arc_graph.h"
#include "free_part.h"

namespace pbf {
namespace {

// Nodes: slot s holds the literal 2s and its complement 2s + 1; slot 0 is x_0, slot v + 1 is x_v.
constexpr uint32_t kSource = 0;  // x_0, the constant 1
constexpr uint32_t kSink = 1;    // not x_0
constexpr uint32_t kNoComponent = std::numeric_limits<uint32_t>::max();

uint32_t Literal(size_t v, bool negated) { return static_cast<uint32_t>(2 * v + 2) + negated; }

template <typename T>
uint64_t Magnitude(T a) {
  return a < 0 ? uint64_t{0} - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
}

// What the first pass learns: the posiform's constant and unary part, the products per slot, and
// whether int32 residuals suffice.
struct Shape {
  std::vector<uint32_t> products;  // per slot
  uint64_t total = 0;              // all products
  int64_t constant = 0;
  bool fits_int32 = true;
};

template <typename Coef>
Shape Measure(QuadraticArrays<Coef>& q) {
  const size_t n = q.unary.size();
  Shape shape;
  shape.products.assign(n + 1, 0);
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
    ++shape.products[i + 1];
    ++shape.products[j + 1];
    ++shape.total;
    largest = std::max(largest, Magnitude(a));
  }
  uint64_t leaving_source = 0;
  for (size_t v = 0; v < n; ++v) {
    const int64_t b = q.unary[v];
    if (b == 0) continue;
    if (b < 0) shape.constant += b;
    ++shape.products[v + 1];
    ++shape.products[0];
    ++shape.total;
    largest = std::max(largest, Magnitude(b));
    leaving_source += Magnitude(b);
  }
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
      net.AddProduct(Literal(i, false), Literal(j, false), static_cast<Cap>(a));
    } else {
      net.AddProduct(Literal(i, false), Literal(j, true), static_cast<Cap>(-a));
    }
  }
  for (size_t v = 0; v < q.unary.size(); ++v) {
    const int64_t b = q.unary[v];
    if (b > 0) net.AddProduct(Literal(v, false), kSource, static_cast<Cap>(b));
    if (b < 0) net.AddProduct(Literal(v, true), kSource, static_cast<Cap>(-b));
  }
  net.cursor = {};
  return net;
}

// Boost's Boykov-Kolmogorov maximum flow from x_0 to not x_0 in the residual network: returns the
// flow added, and leaves the residual capacities. The capacity map is only read to initialise the
// residuals, so the residual array serves as both: no copy of the capacities is kept, and a second
// call continues from the flow of the first. Boost's first step saturates paths x_0 -> v -> not x_0
// without crediting the reverse arcs; no such path exists here (a node has an arc from x_0 only for
// a negative unary coefficient and one to not x_0 only for a positive one), so every residual is
// exact.
template <typename Cap>
Cap Augment(Network<Cap>& net) {
  const uint32_t nodes = net.graph.Nodes();
  std::vector<uint32_t> parent(nodes);
  std::vector<boost::default_color_type> tree(nodes);
  std::vector<uint32_t> distance(nodes);
  return boost::boykov_kolmogorov_max_flow(
      net.graph, FlatMap(net.residual), FlatMap(net.residual), ReverseMap(net.graph),
      FlatMap(parent), FlatMap(tree), FlatMap(distance),
      boost::typed_identity_property_map<uint32_t>(), kSource, kSink);
}

// The maximum flow in two phases. Without the arcs between a positive and a negated literal (the
// non-submodular pair terms), the network falls apart into two mirror-image copies joined only at
// x_0 and not x_0, so the first phase solves the positive copy alone and mirrors its flow onto the
// negated one: half the work for the submodular part. The second phase adds the crossing arcs back
// and continues from that flow.
template <typename Cap>
Cap MaxFlow(Network<Cap>& net) {
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
  for_each_outside([&](uint32_t a, uint32_t tail, uint32_t head) {
    if (crossing(tail, head) && net.residual[a] > 0) held.emplace_back(a, net.residual[a]);
    net.residual[a] = 0;
  });
  const Cap half = Augment(net);
  for_each_outside([&](uint32_t a, uint32_t tail, uint32_t head) {
    if (!crossing(tail, head)) net.residual[a] = net.residual[net.Mirror(a)];
  });
  for (const auto& [a, c] : held) net.residual[a] = c;
  held = {};
  return 2 * half + Augment(net);
}

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
// literal l of variable v being x_v or 1 - x_v, expanded, constants dropped.
template <typename Cap>
FreePart FreePartOf(const Network<Cap>& net, const std::vector<int8_t>& labels) {
  return BuildFreePart(labels, [&](auto unary, auto pair) {
    ForEachProduct(net, [&](uint32_t l1, uint32_t l2, int64_t c) {
      const size_t i = (l1 >> 1) - 1;
      const bool ni = (l1 & 1) != 0;
      if (l2 == kSource) {  // c·l1
        unary(i, ni ? -c : c);
        return;
      }
      const size_t j = (l2 >> 1) - 1;
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
  result.lower_bound = shape.constant + (int64_t{MaxFlow(net)} + 1) / 2;
  {
    const std::vector<uint32_t> component = Components(net);
    assert(component[kSource] < component[kSink]);
    result.labels.assign(n, 0);
    for (size_t v = 0; v < n; ++v) {
      if (net.graph.first[v + 1] == net.graph.first[v + 2]) continue;  // in no product
      const uint32_t positive = component[Literal(v, false)];
      const uint32_t negative = component[Literal(v, true)];
      result.labels[v] = positive == negative ? -1 : positive < negative ? 1 : 0;
    }
  }
  if (part) *part = FreePartOf(net, result.labels);
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
