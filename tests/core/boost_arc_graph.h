// The few functions that let Boost.Graph's algorithms walk an ArcGraph, so that the tests can hold
// the library's maximum flow against Boost's Boykov-Kolmogorov implementation.
#pragma once

#include <boost/graph/graph_traits.hpp>
#include <boost/iterator/counting_iterator.hpp>
#include <boost/iterator/iterator_facade.hpp>
#include <boost/property_map/function_property_map.hpp>
#include <boost/property_map/property_map.hpp>
#include <cstdint>
#include <utility>
#include <vector>

#include "arc_graph.h"

namespace pbf {

// Boost.Graph's VertexListGraph, EdgeListGraph and IncidenceGraph, found by argument lookup.
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
