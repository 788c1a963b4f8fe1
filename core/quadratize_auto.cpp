// The quadratization that roof duality does best with: each rule is tried and its roof dual
// solved, and the one that labels most of f's own variables is kept (ties: fewer auxiliaries,
// then the earlier rule). Which rule wins depends on the energy: on an image energy as built the
// grouped and fewest rules leave far more pairs submodular than the termwise one, while after the
// exact reduction the termwise rule can fix more where the data term is weak (bench/RESULTS.md).
//
// Cost: the three quadratizations and three roof duals; at most two quadratic functions are held
// at once (the best so far and the candidate).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "quadratize.h"
#include "quadratize_methods.h"
#include "roof_duality.h"

namespace pbf {
namespace {

// How many of the ids 0 .. n-1 the roof dual of q labels. Ids beyond q's largest are in no term
// of q, so any label fits them: they count as labelled, as RoofDuality labels such ids inside.
int64_t LabelledAmong(const PBF& q, size_t n) {
  const std::vector<int8_t> labels = RoofDuality(q).labels;
  int64_t labelled = 0;
  for (size_t v = 0; v < n; ++v) labelled += v >= labels.size() || labels[v] >= 0;
  return labelled;
}

}  // namespace

std::optional<TermPosition> QuadratizeAuto(const PBF& f, int32_t newvar, PBF& out) {
  const auto n = static_cast<size_t>(int64_t{f.MaxId()} + 1);
  const int64_t first = std::max<int64_t>(newvar, int64_t{f.MaxId()} + 1);
  std::optional<TermPosition> first_failure;
  std::optional<PBF> best;
  int64_t best_labelled = -1;
  int64_t best_auxiliaries = 0;
  for (const QuadratizeMethod method :
       {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest, QuadratizeMethod::kGrouped}) {
    PBF candidate;
    if (const auto failed = Quadratize(f, method, newvar, candidate)) {
      if (!first_failure) first_failure = failed;
      continue;
    }
    const int64_t labelled = LabelledAmong(candidate, n);
    const int64_t auxiliaries = std::max<int64_t>(0, int64_t{candidate.MaxId()} + 1 - first);
    if (labelled > best_labelled || (labelled == best_labelled && auxiliaries < best_auxiliaries)) {
      best = std::move(candidate);
      best_labelled = labelled;
      best_auxiliaries = auxiliaries;
    }
  }
  if (!best) return first_failure;
  out = std::move(*best);
  return std::nullopt;
}

}  // namespace pbf
