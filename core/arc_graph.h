// A directed graph on nodes that come in complementary pairs (v and v ^ 1) whose out-arcs run in
// lockstep, stored in compressed arrays.
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

#include <cstdint>
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

}  // namespace pbf
