// A directed graph on nodes that come in complementary pairs (v and v ^ 1) whose out-arcs run in
// lockstep, stored in compressed arrays, and the few functions that let Boost.Graph's algorithms
// walk it.
//
// The out-arcs of the two nodes of slot s are interleaved: arc pair i (first[s] <= i <
// first[s + 1]) holds arc 2i, which leaves node 2s, and arc 2i + 1, which leaves node 2s + 1. The
// graphs stored here are symmetric under complementing both ends of every arc, with the arc 2i + 1
// being the complement image of the reverse of arc 2i. Then the odd arc's head and reverse follow
// from the even arc's (Head(a ^ 1) == Head(a) ^ 1 and Reverse(a ^ 1) == Reverse(a) ^ 1), so only
// the even arcs' are stored: with a residual capacity of 4 bytes that is 8 bytes per arc, which on
// an image energy of tens of millions of arcs is what decides whether the whole road fits in
// memory. The tail of an arc is the head of its reverse; nothing else is stored.
#pragma once

#include <boost/graph/graph_traits.hpp>
#include <boost/iterator/counting_iterator.hpp>
#include <boost/iterator/iterator_facade.hpp>
#include <boost/property_map/function_property_map.hpp>
#include <boost/property_map/property_map.hpp>
#include <cstdint>
#include <utility>
#include <vector>

namespace pbf {

struct ArcGraph {
  std::vector<uint32_t> first;    // per slot: its first arc pair; slots + 1 entries
  std::vector<uint32_t> head;     // per arc pair: the head of its even arc
  std::vector<uint32_t> reverse;  // per arc pair: the reverse of its even arc

  uint32_t Nodes() const {
    return first.empty() ? 0 : static_cast<uint32_t>(2 * (first.size() - 1));
  }
  uint32_t Arcs() const { return static_cast<uint32_t>(2 * head.size()); }
  uint32_t Head(uint32_t a) const { return head[a >> 1] ^ (a & 1); }
  uint32_t Reverse(uint32_t a) const { return reverse[a >> 1] ^ (a & 1); }
  // Node v's out-arcs are Begin(v), Begin(v) + 2, ... up to End(v) (exclusive).
  uint32_t Begin(uint32_t v) const { return 2 * first[v >> 1] + (v & 1); }
  uint32_t End(uint32_t v) const { return 2 * first[(v >> 1) + 1] + (v & 1); }
};

// --- Boost.Graph's VertexListGraph, EdgeListGraph and IncidenceGraph, found by argument lookup.
using NodeIterator = boost::counting_iterator<uint32_t>;

// Every second arc number: the out-arcs of one node.
class OutArcIterator
    : public boost::iterator_facade<OutArcIterator, const uint32_t, boost::forward_traversal_tag> {
 public:
  OutArcIterator() = default;
  explicit OutArcIterator(uint32_t arc) : arc_(arc) {}

 private:
  friend class boost::iterator_core_access;
  const uint32_t& dereference() const { return arc_; }
  bool equal(const OutArcIterator& other) const { return arc_ == other.arc_; }
  void increment() { arc_ += 2; }

  uint32_t arc_ = 0;
};

inline std::pair<NodeIterator, NodeIterator> vertices(const ArcGraph& g) {
  return {NodeIterator(0), NodeIterator(g.Nodes())};
}
inline uint32_t num_vertices(const ArcGraph& g) { return g.Nodes(); }
inline std::pair<NodeIterator, NodeIterator> edges(const ArcGraph& g) {
  return {NodeIterator(0), NodeIterator(g.Arcs())};
}
inline uint32_t num_edges(const ArcGraph& g) { return g.Arcs(); }
inline std::pair<OutArcIterator, OutArcIterator> out_edges(uint32_t v, const ArcGraph& g) {
  return {OutArcIterator(g.Begin(v)), OutArcIterator(g.End(v))};
}
inline uint32_t out_degree(uint32_t v, const ArcGraph& g) { return (g.End(v) - g.Begin(v)) / 2; }
inline uint32_t target(uint32_t a, const ArcGraph& g) { return g.Head(a); }
inline uint32_t source(uint32_t a, const ArcGraph& g) { return g.Head(g.Reverse(a)); }

// A flat vector seen as a property map keyed by node or arc number.
template <typename T>
auto FlatMap(std::vector<T>& values) {
  return boost::make_iterator_property_map(values.begin(),
                                           boost::typed_identity_property_map<uint32_t>());
}

// The reverse of each arc, as a property map.
struct ReverseOf {
  const ArcGraph* graph;
  uint32_t operator()(uint32_t a) const { return graph->Reverse(a); }
};
inline auto ReverseMap(const ArcGraph& g) {
  return boost::make_function_property_map<uint32_t>(ReverseOf{&g});
}

}  // namespace pbf

namespace boost {

template <>
struct graph_traits<pbf::ArcGraph> {
  using vertex_descriptor = uint32_t;
  using edge_descriptor = uint32_t;
  using directed_category = directed_tag;
  using edge_parallel_category = allow_parallel_edge_tag;
  struct traversal_category : incidence_graph_tag, vertex_list_graph_tag, edge_list_graph_tag {};
  using vertex_iterator = pbf::NodeIterator;
  using edge_iterator = pbf::NodeIterator;
  using out_edge_iterator = pbf::OutArcIterator;
  using vertices_size_type = uint32_t;
  using edges_size_type = uint32_t;
  using degree_size_type = uint32_t;
  static vertex_descriptor null_vertex() { return UINT32_MAX; }
};

}  // namespace boost
