// Minimisation of a function of any degree: the exact reduction, a quadratization, roof duality,
// optional probing and improvement moves, down to a labelling with a bound and persistent labels.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "pbf.h"
#include "quadratize.h"

namespace pbf {

struct MinimizeOptions {
  bool improve = true;  // labels for unfixed variables that never raise the energy (else 0)
  bool probe = false;   // probing on what roof duality leaves unfixed
  // The quadratization of the reduced function (quadratize.h). kAuto keeps the quadratization
  // whose roof dual labels most of f's ids, trying first the fewest rule on f as built (when that
  // labels every id, the reduction is skipped), then each rule on the reduced function, until one
  // labels every id: up to four roof duals.
  QuadratizeMethod method = QuadratizeMethod::kTermwise;
  // Called on the calling thread after each stage with its name ("reduce_higher", "quadratize",
  // "roof_duality", "probe", "improve", "evaluate") and its seconds; may be empty. Stages that
  // are switched off are not reported.
  std::function<void(std::string_view stage, double seconds)> progress;
};

// A term of the reduced function whose quadratic form needs a coefficient outside int32, as its ids
// and coefficient (the reduced function is private to Minimize, so its position would mean
// nothing to the caller).
struct UnwritableTerm {
  std::vector<int32_t> ids;
  int32_t coef = 0;
};

struct Minimum {
  std::vector<uint8_t> labels;      // one per id 0 .. f.MaxId()
  std::vector<uint8_t> persistent;  // 1 where the label belongs to the jointly persistent set
  int64_t lower_bound = 0;          // <= min f
  int64_t energy = 0;               // == Evaluate(f, labels.data())
  // Set when the chosen quadratization (every one, for kAuto) cannot be written within int32;
  // then nothing else is set. Only coefficients near the int32 limits get there.
  std::optional<UnwritableTerm> unwritable;
};

// Minimises f, handed over as a copy of the caller's (or moved in): it is reduced
// (ReduceHigherSafely keeps the minimum and every minimiser, and leaves the terms whose
// neighbourhood sums could pass int32), converted to a quadratic function with auxiliaries
// numbered after f.MaxId() (options.method; kAuto may convert f as built instead), and solved by
// roof duality; probing (options.probe) fixes more, and improvement moves (options.improve) label
// the rest without ever raising the energy, the last of them a descent on f itself. Some minimiser
// of f agrees with every label marked persistent. Everything past the reduction is computed in 64
// bits, so no wrap-around anywhere can make a claim false. Nothing here keeps static or shared
// mutable state; calls on different functions are as thread-safe as ReduceHigher.
Minimum Minimize(PBF f, const MinimizeOptions& options);

}  // namespace pbf
