// Quadratize: the choice of rule, the numbering of auxiliaries and the final check that every
// coefficient fits; the rules live in quadratize_termwise.cpp, quadratize_fewest.cpp and
// quadratize_grouped.cpp, the choice among them in quadratize_auto.cpp.
#include "quadratize.h"

#include <algorithm>

#include "quadratic_builder.h"
#include "quadratize_methods.h"

namespace pbf {

std::optional<TermPosition> Quadratize(const PBF& f, QuadratizeMethod method, int32_t newvar,
                                       PBF& out) {
  if (method == QuadratizeMethod::kAuto) return QuadratizeAuto(f, newvar, out);
  const int64_t first = std::max<int64_t>(newvar, int64_t{f.MaxId()} + 1);
  if (method == QuadratizeMethod::kTermwise && ToQuadraticFits(f, first)) {
    f.ToQuadratic(out, newvar);
    return std::nullopt;
  }
  QuadraticBuilder builder(first, /*ordered=*/method == QuadratizeMethod::kTermwise);
  std::optional<TermPosition> failed;
  switch (method) {
    case QuadratizeMethod::kTermwise:
      failed = WriteTermwise(f, builder);
      break;
    case QuadratizeMethod::kFewest:
      failed = WriteFewest(f, builder);
      break;
    case QuadratizeMethod::kGrouped:
      failed = WriteGrouped(f, builder);
      break;
    case QuadratizeMethod::kAuto:
      break;
  }
  if (failed) return failed;
  return builder.Finish(out);
}

}  // namespace pbf
