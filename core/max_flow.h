// A Boykov-Kolmogorov maximum flow written for ArcGraph: two search trees, one grown from the
// source along arcs with residual capacity and one grown towards the sink, an augmentation along
// every path found where they touch, and the adoption of the nodes that the augmentation cut off.
//
// Roof duality spends most of its time here, and Boost's generic version of the same algorithm
// keeps its orphans in a std::list (an allocation per orphan) and reaches every per-node datum
// through a separate property map. Here a node's tree, parent (arc and node), distance and
// timestamp share one 16-byte record, so that a walk up the tree reads one record per step; the
// active nodes form an intrusive queue and the orphans a vector. Boost's implementation stays in
// the tests as the oracle of this one.
//
// The flow continues from whatever the residual capacities hold, so a second run after a change
// of capacities (see the two phases of the roof-dual solver) starts from the first run's flow.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "arc_graph.h"
#include "huge_pages.h"

namespace pbf {

template <typename Cap>
class MaxFlowSolver {
 public:
  MaxFlowSolver(const ArcGraph& graph, std::vector<Cap>& residual)
      : g_(graph), residual_(residual) {
    ReserveOnHugePages(nodes_, graph.Nodes());
    ReserveOnHugePages(next_, graph.Nodes());
    nodes_.resize(graph.Nodes());
    next_.resize(graph.Nodes(), kNone);
  }

  // Augments from `source` to `sink` until no path with residual capacity is left; returns the
  // flow added. The residual capacities are left in the caller's array.
  Cap Run(uint32_t source, uint32_t sink) {
    Plant(source, kSourceTree);
    Plant(sink, kSinkTree);
    return Augment();
  }

  // Continues a Run whose flow stayed within the nodes of even number above 1 (the graph's first
  // copy) and the terminals 0 and 1, after the caller gave every arc of the second copy the
  // residual of its mirror image in the first (u -> v mirrored to v ^ 1 -> u ^ 1) and then gave
  // capacity to new arcs between the copies. The search trees that Run
  // left are still search trees, and their mirror images (node v ^ 1 in the other tree, with the
  // partner of v's arc to its parent) are search trees of the second copy, so the flow goes on
  // from them instead of growing both trees again over the whole graph; only `touched`, the ends
  // of the new arcs, may have room to grow.
  Cap ContinueMirrored(const std::vector<uint32_t>& touched) {
    for (uint32_t v = 3; v < nodes_.size(); v += 2) {
      const Node& u = nodes_[v ^ 1];
      Node& n = nodes_[v];
      n = Node{};
      if (u.tree == kFree) continue;
      n.tree = u.tree == kSourceTree ? kSinkTree : kSourceTree;
      n.parent = u.parent ^ 1;
      n.up = u.up ^ 1;
      n.distance = u.distance;
      n.stamp = u.stamp;
    }
    for (const uint32_t v : touched) {
      if (nodes_[v].tree != kFree) MakeActive(v);
    }
    return Augment();
  }

 private:
  static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
  static constexpr uint32_t kRoot = kNone - 1;  // the parent of a terminal
  enum : uint32_t { kFree = 0, kSourceTree = 1, kSinkTree = 2 };

  struct Node {
    uint32_t parent = kNone;  // the arc from this node to its parent in its tree; kNone: orphan
    uint32_t up = kNone;      // the parent, the head of that arc
    uint32_t stamp = 0;       // when `distance` was last known to be right
    uint32_t distance : 30 = 0;  // arcs to the tree's terminal
    uint32_t tree : 2 = kFree;
  };

  // Augments until no path with residual capacity is left; returns the flow added.
  Cap Augment() {
    Cap flow = 0;
    // A node that met the other tree may meet it again: it is grown on from the arc where it did,
    // rather than from its first arc, which on the terminals (with an arc to nearly every node)
    // would cost a pass over the whole graph per augmentation.
    uint32_t current = kNone;
    uint32_t resume = 0;
    while (true) {
      uint32_t p = current;
      uint32_t from = resume;
      if (p == kNone || nodes_[p].tree == kFree) {
        p = PopActive();
        if (p == kNone) break;
        from = g_.Begin(p);
      }
      current = kNone;
      const uint32_t arc = Grow(p, from);
      if (arc == g_.End(p)) continue;
      current = p;
      resume = arc;
      NextTime();
      flow += AugmentPath(nodes_[p].tree == kSourceTree ? arc : g_.Reverse(arc));
      Adopt();
    }
    return flow;
  }

  // The residual capacity towards a tree's own side: a source-tree node receives flow from its
  // neighbour over the neighbour's arc to it, a sink-tree node sends flow over its own arc.
  Cap Inward(uint32_t arc_from_node, uint32_t tree) const {
    return tree == kSourceTree ? residual_[g_.Reverse(arc_from_node)] : residual_[arc_from_node];
  }

  // A node stamped with the current time has a known way to its terminal, so a stamp must never
  // come round again: when the clock wraps, every stamp is cleared first.
  void NextTime() {
    if (++time_ != 0) return;
    for (Node& n : nodes_) n.stamp = 0;
    time_ = 1;
  }

  // The residual capacity away from a tree's own side, over an arc leaving a node of that tree.
  Cap Outward(uint32_t arc_from_node, uint32_t tree) const {
    return tree == kSourceTree ? residual_[arc_from_node] : residual_[g_.Reverse(arc_from_node)];
  }

  void Plant(uint32_t terminal, uint32_t tree) {
    Node& n = nodes_[terminal];
    n.tree = tree;
    n.parent = kRoot;
    n.distance = 0;
    n.stamp = time_;
    MakeActive(terminal);
  }

  void MakeActive(uint32_t v) {
    if (next_[v] != kNone) return;
    next_[v] = v;
    if (last_active_ == kNone) {
      first_active_ = v;
    } else {
      next_[last_active_] = v;
    }
    last_active_ = v;
  }

  // The next active node still in a tree, taken off the queue; kNone when there is none.
  uint32_t PopActive() {
    while (first_active_ != kNone) {
      const uint32_t v = first_active_;
      first_active_ = next_[v] == v ? kNone : next_[v];
      if (first_active_ == kNone) last_active_ = kNone;
      next_[v] = kNone;
      if (nodes_[v].tree != kFree) return v;
    }
    return kNone;
  }

  // Extends p's tree by the free neighbours it reaches over its arcs from `from` on; returns the
  // first of them that leads to the other tree, or End(p) once p has no free neighbour left to
  // take.
  uint32_t Grow(uint32_t p, uint32_t from) {
    const uint32_t tree = nodes_[p].tree;
    const uint32_t end = g_.End(p);
    for (uint32_t a = from; a < end; a += 2) {
      if (Outward(a, tree) <= 0) continue;
      const uint32_t q = g_.Head(a);
      Node& n = nodes_[q];
      const Node& np = nodes_[p];
      if (n.tree == kFree) {
        n.tree = tree;
        n.parent = g_.Reverse(a);
        n.up = p;
        n.stamp = np.stamp;
        n.distance = np.distance + 1;
        MakeActive(q);
      } else if (n.tree != tree) {
        return a;
      } else if (n.stamp <= np.stamp && n.distance > np.distance) {
        // A shorter way to the terminal: shorter paths make cheaper augmentations and adoptions.
        n.parent = g_.Reverse(a);
        n.up = p;
        n.stamp = np.stamp;
        n.distance = np.distance + 1;
      }
    }
    return end;
  }

  // Pushes the bottleneck along source -> ... -> tail(bridge) -> head(bridge) -> ... -> sink and
  // makes orphans of the nodes whose arc to their parent it saturates.
  Cap AugmentPath(uint32_t bridge) {
    Cap bottleneck = residual_[bridge];
    const uint32_t tail = g_.Head(g_.Reverse(bridge));
    const uint32_t head = g_.Head(bridge);
    for (uint32_t v = tail; nodes_[v].parent != kRoot; v = nodes_[v].up) {
      bottleneck = std::min(bottleneck, residual_[g_.Reverse(nodes_[v].parent)]);
    }
    for (uint32_t v = head; nodes_[v].parent != kRoot; v = nodes_[v].up) {
      bottleneck = std::min(bottleneck, residual_[nodes_[v].parent]);
    }
    Push(bridge, bottleneck);
    // Orphans are adopted from the terminals outwards: an orphan nearer the terminal that finds a
    // parent again keeps the nodes below it valid parents for the orphans further out.
    const size_t source_side = orphans_.size();
    for (uint32_t v = tail; nodes_[v].parent != kRoot;) {
      const Node n = nodes_[v];
      if (Push(g_.Reverse(n.parent), bottleneck)) MakeOrphan(v, orphans_);
      v = n.up;
    }
    std::reverse(orphans_.begin() + source_side, orphans_.end());
    const size_t sink_side = orphans_.size();
    for (uint32_t v = head; nodes_[v].parent != kRoot;) {
      const Node n = nodes_[v];
      if (Push(n.parent, bottleneck)) MakeOrphan(v, orphans_);
      v = n.up;
    }
    std::reverse(orphans_.begin() + sink_side, orphans_.end());
    return bottleneck;
  }

  // Sends c over arc a; returns whether that saturates it.
  bool Push(uint32_t a, Cap c) {
    residual_[a] -= c;
    residual_[g_.Reverse(a)] += c;
    return residual_[a] == 0;
  }

  void MakeOrphan(uint32_t v, std::vector<uint32_t>& queue) {
    nodes_[v].parent = kNone;
    queue.push_back(v);
  }

  // The number of arcs from q to its terminal, or kNone when q hangs below an orphan or lies
  // `limit` or more arcs away (a walk that cannot beat the best parent found so far stops early).
  // Marks the path walked with the current time and each node's distance, so that later walks
  // stop there.
  uint32_t DistanceToTerminal(uint32_t q, uint32_t limit) {
    uint32_t d = 0;
    uint32_t j = q;
    while (true) {
      Node& n = nodes_[j];
      if (n.stamp == time_) {
        d += n.distance;
        break;
      }
      if (n.parent == kRoot) {
        n.stamp = time_;
        n.distance = 0;
        break;
      }
      // Past a node that is neither stamped nor a terminal lies at least one more arc.
      if (n.parent == kNone || d + 1 >= limit) return kNone;
      ++d;
      j = n.up;
    }
    uint32_t left = d;
    for (j = q; nodes_[j].stamp != time_; j = nodes_[j].up) {
      nodes_[j].stamp = time_;
      nodes_[j].distance = left--;
    }
    return d;
  }

  // Finds each orphan a new parent in its own tree (the one closest to the terminal), or frees
  // it. The children of a freed orphan are orphans too, and go before the next orphan of the
  // augmentation, while the tree around them is as it was.
  void Adopt() {
    for (const uint32_t v : orphans_) {
      AdoptOne(v);
      for (size_t c = 0; c < child_orphans_.size(); ++c) AdoptOne(child_orphans_[c]);
      child_orphans_.clear();
    }
    orphans_.clear();
  }

  // Gives v the parent closest to the terminal among its neighbours in its tree, or frees it: its
  // children become orphans and its neighbours that could take it back become active.
  void AdoptOne(uint32_t v) {
    const uint32_t tree = nodes_[v].tree;
    uint32_t best = kNone;
    uint32_t best_node = kNone;
    uint32_t best_distance = kNone;
    for (uint32_t a = g_.Begin(v), end = g_.End(v); a < end; a += 2) {
      const uint32_t q = g_.Head(a);
      if (nodes_[q].tree != tree || Inward(a, tree) <= 0) continue;
      const uint32_t d = DistanceToTerminal(q, best_distance);
      if (d < best_distance) {
        best = a;
        best_node = q;
        best_distance = d;
        if (d == 0) break;  // the terminal itself
      }
    }
    if (best != kNone) {
      nodes_[v].parent = best;
      nodes_[v].up = best_node;
      nodes_[v].stamp = time_;
      nodes_[v].distance = best_distance + 1;
      return;
    }
    for (uint32_t a = g_.Begin(v), end = g_.End(v); a < end; a += 2) {
      const uint32_t q = g_.Head(a);
      Node& n = nodes_[q];
      if (n.tree != tree) continue;
      if (Inward(a, tree) > 0) MakeActive(q);
      if (n.parent == g_.Reverse(a)) MakeOrphan(q, child_orphans_);
    }
    nodes_[v].tree = kFree;
  }

  const ArcGraph& g_;
  std::vector<Cap>& residual_;
  std::vector<Node> nodes_;
  std::vector<uint32_t> next_;  // per node: the next active one; kNone: not active; itself: last
  std::vector<uint32_t> orphans_;        // cut off by the last augmentation
  std::vector<uint32_t> child_orphans_;  // cut off by freeing an orphan
  uint32_t first_active_ = kNone;
  uint32_t last_active_ = kNone;
  uint32_t time_ = 0;
};

// The maximum flow from `source` to `sink` added to the flow that `residual` already describes.
template <typename Cap>
Cap MaxFlow(const ArcGraph& graph, std::vector<Cap>& residual, uint32_t source, uint32_t sink) {
  return MaxFlowSolver<Cap>(graph, residual).Run(source, sink);
}

}  // namespace pbf
