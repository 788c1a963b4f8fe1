// Improvement moves for the labels that roof duality and probing leave open.
//
// On the free part (quadratic, auxiliaries included) the moves follow QPBO-I: with every variable
// outside a subset S held at its current label, the persistent labels of the restricted function
// form an autarky, so imposing them never raises its value; holding half of the variables makes
// most of the frustrated cycles disappear, so the restricted solve labels much more than the
// first one did. Single flips on the part finish it. Each round costs one roof-dual solve of about
// half the part.
//
// The reduced function that the quadratization came from has the same minimisers as f but other
// values elsewhere, so what lowers it need not lower f. The last move therefore works on f itself:
// a single-flip descent through its occurrence lists (Minimize also keeps the labelling the moves
// started from when theirs turns out worse on f).
#include "improve.h"

#include <cstddef>

namespace pbf {
namespace {

// splitmix64's finaliser: a well-mixed 64-bit hash, for reproducible random halves.
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

void DescendFreePart(const FreePart& part, const std::vector<int8_t>& held,
                     std::vector<uint8_t>& x) {
  std::vector<uint32_t> queue;
  std::vector<uint8_t> queued(part.Size(), 0);
  for (uint32_t k = 0; k < part.Size(); ++k) {
    if (held[k] < 0) {
      queue.push_back(k);
      queued[k] = 1;
    }
  }
  while (!queue.empty()) {
    const uint32_t k = queue.back();
    queue.pop_back();
    queued[k] = 0;
    int64_t gain = part.unary[k];  // value at x_k = 1 minus value at x_k = 0
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
      if (x[part.neighbour[e]]) gain += part.coef[e];
    }
    if (x[k] ? gain <= 0 : gain >= 0) continue;
    x[k] ^= 1;
    for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
      const uint32_t l = part.neighbour[e];
      if (held[l] < 0 && !queued[l]) {
        queue.push_back(l);
        queued[l] = 1;
      }
    }
  }
}

void ImproveFreePart(const FreePart& part, const std::vector<int8_t>& held,
                     std::vector<uint8_t>& x) {
  std::vector<int32_t> position(part.Size(), -1);
  std::vector<uint32_t> members;
  for (int32_t round = 0; round < kImproveRounds; ++round) {
    members.clear();
    for (uint32_t k = 0; k < part.Size(); ++k) {
      if (held[k] < 0 && (Mix((uint64_t{static_cast<uint32_t>(round)} << 32) + k) & 1)) {
        members.push_back(k);
      }
    }
    const RoofDual rd = SolveRoofDual(Restrict(part, members, x, position).Arrays());
    size_t changes = 0;
    for (size_t p = 0; p < members.size(); ++p) {
      if (rd.labels[p] >= 0 && x[members[p]] != rd.labels[p]) {
        x[members[p]] = static_cast<uint8_t>(rd.labels[p]);
        ++changes;
      }
    }
    if (changes * kImproveQuiet < members.size()) break;
  }
  DescendFreePart(part, held, x);
}

std::vector<uint8_t> ExpectedGainStart(const PBF& f, const std::vector<uint8_t>& x,
                                       const std::vector<uint8_t>& movable) {
  std::vector<uint8_t> start = x;
  for (size_t v = 0; v < x.size(); ++v) {
    if (!movable[v]) continue;
    double gain = 0;  // expected f at x_v = 1 minus at x_v = 0
    for (const Occurrence& o : f.terms.occurrences[v]) {
      const TermTable& table = f.terms.Table(o.degree);
      const int32_t* ids = table.Ids(o.index);
      double term = table.coefs[static_cast<size_t>(o.index)];
      for (int32_t k = 0; k < table.degree && term != 0; ++k) {
        const auto u = static_cast<size_t>(ids[k]);
        if (u != v) term *= movable[u] ? 0.5 : x[u];
      }
      gain += term;
    }
    start[v] = gain < 0;
  }
  return start;
}

void Descend(const PBF& f, const std::vector<uint8_t>& movable, std::vector<uint8_t>& x) {
  const size_t n = x.size();
  std::vector<int32_t> queue;
  std::vector<uint8_t> queued(n, 0);
  for (size_t v = 0; v < n; ++v) {
    if (movable[v]) {
      queue.push_back(static_cast<int32_t>(v));
      queued[v] = 1;
    }
  }
  while (!queue.empty()) {
    const int32_t v = queue.back();
    queue.pop_back();
    queued[static_cast<size_t>(v)] = 0;
    const OccurrenceList& list = f.terms.occurrences[static_cast<size_t>(v)];
    int64_t gain = 0;  // f at x_v = 1 minus f at x_v = 0
    for (size_t o = 0; o < list.size(); ++o) {
      const TermTable& table = f.terms.Table(list[o].degree);
      const int32_t coef = table.coefs[static_cast<size_t>(list[o].index)];
      if (coef == 0) continue;
      const int32_t* ids = table.Ids(list[o].index);
      bool others = true;
      int32_t copies = 0;
      for (int32_t k = 0; k < table.degree; ++k) {
        if (ids[k] == v) {
          ++copies;
        } else {
          others &= x[static_cast<size_t>(ids[k])] != 0;
        }
      }
      if (!others) continue;
      // A term that names v several times is listed once per position: count its first listing.
      if (copies > 1) {
        bool earlier = false;
        for (size_t p = 0; p < o && !earlier; ++p) earlier = list[p] == list[o];
        if (earlier) continue;
      }
      gain += coef;
    }
    if (x[static_cast<size_t>(v)] ? gain <= 0 : gain >= 0) continue;
    x[static_cast<size_t>(v)] ^= 1;
    for (const Occurrence& o : list) {
      const TermTable& table = f.terms.Table(o.degree);
      const int32_t* ids = table.Ids(o.index);
      for (int32_t k = 0; k < table.degree; ++k) {
        const auto w = static_cast<size_t>(ids[k]);
        if (movable[w] && !queued[w]) {
          queue.push_back(ids[k]);
          queued[w] = 1;
        }
      }
    }
  }
}

}  // namespace pbf
