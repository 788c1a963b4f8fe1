// A directed graph in compressed arrays, and the few functions that let Boost.Graph's algorithms
// walk it.
//
// Node k's out-arcs are the indices first[k] .. first[k + 1] - 1; arc a points to head[a], and
// reverse[a] is the arc that carries a's residual capacity back (reverse[reverse[a]] == a). Nodes
// and arcs are plain uint32 numbers, so every per-node or per-arc property is a flat vector, and
// the tail of an arc is the head of its reverse: nothing else is stored. On an image energy the
// network has tens of millions of arcs, and 8 bytes each plus the residual is what this costs.
#pragma once

#include <boost/graph/graph_traits.hpp>
#include <boost/iterator/counting_iterator.hpp>
#include <boost/property_map/property_map.hpp>
#include <cstdint>
#include <utility>
#include <vector>

namespace pbf {

struct ArcGraph {
  std::vector<uint32_t> first;  // nodes + 1 entries
  std::vector<uint32_t> head;
  std::vector<uint32_t> reverse;

  uint32_t Nodes() const { return first.empty() ? 0 : static_cast<uint32_t>(first.size() - 1); }
  uint32_t Arcs() const { return static_cast<uint32_t>(head.size()); }
};

// --- Boost.Graph's VertexListGraph, EdgeListGraph and IncidenceGraph, found by argument lookup.
using ArcIterator = boost::counting_iterator<uint32_t>;

inline std::pair<ArcIterator, ArcIterator> vertices(const ArcGraph& g) {
  return {ArcIterator(0), ArcIterator(g.Nodes())};
}
inline uint32_t num_vertices(const ArcGraph& g) { return g.Nodes(); }
inline std::pair<ArcIterator, ArcIterator> edges(const ArcGraph& g) {
  return {ArcIterator(0), ArcIterator(g.Arcs())};
}
inline uint32_t num_edges(const ArcGraph& g) { return g.Arcs(); }
inline std::pair<ArcIterator, ArcIterator> out_edges(uint32_t v, const ArcGraph& g) {
  return {ArcIterator(g.first[v]), ArcIterator(g.first[v + 1])};
}
inline uint32_t out_degree(uint32_t v, const ArcGraph& g) { return g.first[v + 1] - g.first[v]; }
inline uint32_t target(uint32_t a, const ArcGraph& g) { return g.head[a]; }
inline uint32_t source(uint32_t a, const ArcGraph& g) { return g.head[g.reverse[a]]; }

// A flat vector seen as a property map keyed by node or arc number.
template <typename T>
auto FlatMap(std::vector<T>& values) {
  return boost::make_iterator_property_map(values.begin(),
                                           boost::typed_identity_property_map<uint32_t>());
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
  using vertex_iterator = pbf::ArcIterator;
  using edge_iterator = pbf::ArcIterator;
  using out_edge_iterator = pbf::ArcIterator;
  using vertices_size_type = uint32_t;
  using edges_size_type = uint32_t;
  using degree_size_type = uint32_t;
  static vertex_descriptor null_vertex() { return UINT32_MAX; }
};

}  // namespace boost
