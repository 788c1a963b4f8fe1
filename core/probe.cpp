// Probing (in the manner of QPBO-P) on the small connected components of the free part.
//
// Components are independent, so each is probed as a function of its own. A try of x_i = s is one
// roof-dual solve of the component with x_i and the labels fixed so far substituted; every
// conclusion drawn from it is persistency in the current restricted function, and such steps
// compose (restrict, then fix more). Only components of at most kProbeComponent variables are
// probed: a pass over a component costs two solves per variable, quadratic in its size, and on
// image energies what roof duality leaves open is mostly a few large components and many small
// ones. Smallest components go first, since they are the cheapest to settle. The budget of
// probe.h bounds the total work.
#include "probe.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace pbf {
namespace {

// The connected components of the part with at most `limit` variables, smallest first.
std::vector<std::vector<uint32_t>> SmallComponents(const FreePart& part, uint32_t limit) {
  std::vector<std::vector<uint32_t>> small;
  std::vector<uint8_t> seen(part.Size(), 0);
  std::vector<uint32_t> component;
  for (uint32_t root = 0; root < part.Size(); ++root) {
    if (seen[root]) continue;
    seen[root] = 1;
    component.assign(1, root);
    for (size_t head = 0; head < component.size(); ++head) {
      const uint32_t k = component[head];
      for (uint32_t e = part.first[k]; e < part.first[k + 1]; ++e) {
        const uint32_t l = part.neighbour[e];
        if (!seen[l]) {
          seen[l] = 1;
          component.push_back(l);
        }
      }
    }
    if (component.size() <= limit) small.push_back(component);
  }
  std::stable_sort(small.begin(), small.end(),
                   [](const auto& a, const auto& b) { return a.size() < b.size(); });
  return small;
}

struct Try {
  int64_t bound = 0;           // lower bound of the component with x_i = s
  std::vector<int8_t> labels;  // per member
};

}  // namespace

void Probe(const FreePart& part, std::vector<int8_t>& fixed, std::vector<uint8_t>& x) {
  const uint64_t budget =
      kProbeWorkPerEntry * (part.Size() + part.neighbour.size()) + kProbeBaseWork;
  uint64_t work = 0;
  std::vector<int32_t> position(part.Size(), -1);
  std::vector<uint8_t> trial(x);
  std::vector<uint32_t> members;
  for (const std::vector<uint32_t>& component : SmallComponents(part, kProbeComponent)) {
    int64_t best = ScopeEnergy(part, component, x);
    for (bool changed = true; changed;) {
      changed = false;
      for (const uint32_t i : component) {
        if (fixed[i] >= 0) continue;
        members.clear();
        for (const uint32_t k : component) {
          if (k != i && fixed[k] < 0) members.push_back(k);
          if (fixed[k] >= 0) trial[k] = static_cast<uint8_t>(fixed[k]);
        }
        Try tries[2];
        for (const uint8_t s : {0, 1}) {
          trial[i] = s;
          const Restriction r = Restrict(part, members, trial, position);
          work += members.size() + r.pair_coefs.size();
          if (work > budget) return;
          RoofDual rd = SolveRoofDual(r.Arrays());
          for (const uint32_t k : members) trial[k] = 0;
          tries[s].bound = rd.lower_bound + ScopeEnergy(part, component, trial);
          // The try's labels, completed by the best labelling's, may beat it.
          for (size_t p = 0; p < members.size(); ++p) {
            trial[members[p]] =
                rd.labels[p] >= 0 ? static_cast<uint8_t>(rd.labels[p]) : x[members[p]];
          }
          const int64_t value = ScopeEnergy(part, component, trial);
          if (value < best) {
            best = value;
            for (const uint32_t k : component) x[k] = trial[k];
          }
          tries[s].labels = std::move(rd.labels);
        }
        // A side whose bound exceeds a value that some labelling reaches holds no minimiser.
        const int forced = tries[0].bound > best ? 1 : tries[1].bound > best ? 0 : -1;
        if (forced >= 0) {
          fixed[i] = static_cast<int8_t>(forced);
          changed = true;
        }
        for (size_t p = 0; p < members.size(); ++p) {
          const int8_t a = tries[0].labels[p], b = tries[1].labels[p];
          const int8_t label = forced >= 0 ? tries[forced].labels[p] : a == b ? a : int8_t{-1};
          if (label >= 0) {
            fixed[members[p]] = label;
            changed = true;
          }
        }
      }
    }
    for (const uint32_t k : component) {
      if (fixed[k] >= 0) x[k] = static_cast<uint8_t>(fixed[k]);
    }
  }
}

}  // namespace pbf
