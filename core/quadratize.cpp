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
  const auto write = [&](QuadraticBuilder& builder) -> std::optional<TermPosition> {
    switch (method) {
      case QuadratizeMethod::kTermwise:
        return WriteTermwise(f, builder);
      case QuadratizeMethod::kFewest:
        return WriteFewest(f, builder);
      case QuadratizeMethod::kGrouped:
        return WriteGrouped(f, builder);
      case QuadratizeMethod::kAuto:
        break;
    }
    return std::nullopt;
  };
  const bool ordered = method == QuadratizeMethod::kTermwise;
  // Sums almost always fit, so the sources to blame are recorded only in a second writing, when
  // one does not (the rules report a term they cannot write without them).
  QuadraticBuilder builder(first, ordered, /*sources=*/false);
  if (std::optional<TermPosition> failed = write(builder)) return failed;
  if (builder.AllFit()) return builder.Finish(out);
  QuadraticBuilder blaming(first, ordered);
  if (std::optional<TermPosition> failed = write(blaming)) return failed;
  return blaming.Finish(out);
}

}  // namespace pbf
