// The three quadratizations behind Quadratize (quadratize.h), each writing f's quadratic form into
// a builder whose auxiliaries start at the first free id. Each returns the position of a term it
// could not write (no rule's coefficients fit, or no auxiliary id left), else std::nullopt; the
// builder's own check of the summed coefficients comes after.
#pragma once

#include <optional>

#include "monomial_pool.h"
#include "pbf.h"
#include "quadratic_builder.h"
#include "quadratize.h"

namespace pbf {

// Wants an ordered builder: ToQuadratic keeps (i, j) and (j, i) apart.
std::optional<TermPosition> WriteTermwise(const PBF& f, QuadraticBuilder& out);
// Whether ToQuadratic, auxiliaries from `first` on, writes no coefficient outside int32 and no
// auxiliary past 2^31 - 1, so that its output is WriteTermwise's. A sufficient bound: false does
// not mean that something would leave int32.
bool ToQuadraticFits(const PBF& f, int64_t first);
// Both find f's terms as `lookup` says; the output is the same either way.
std::optional<TermPosition> WriteFewest(const PBF& f, QuadraticBuilder& out,
                                        Lookup lookup = Lookup::kChosen);
std::optional<TermPosition> WriteGrouped(const PBF& f, QuadraticBuilder& out,
                                         Lookup lookup = Lookup::kChosen);
// Quadratize with kAuto.
std::optional<TermPosition> QuadratizeAuto(const PBF& f, int32_t newvar, PBF& out);

}  // namespace pbf
