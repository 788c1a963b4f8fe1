// Quadratizations: a function of any degree rewritten with unary and pairwise terms only, over its
// own variables and new auxiliary ones, keeping its value at every assignment as the minimum over
// the auxiliaries. Three rules, chosen by the caller:
// - kTermwise: ToQuadratic's rule term by term (quadratize_termwise.cpp);
// - kFewest: as few auxiliaries as known, one per 4-variable group (quadratize_fewest.cpp);
// - kGrouped: positive terms that share a variable share an auxiliary, which leaves more of an
//   image energy submodular (quadratize_grouped.cpp);
// - kAuto: each of the three, keeping the one whose roof duality fixes most of f's variables
//   (quadratize_auto.cpp).
// Unlike ToQuadratic every coefficient is computed in 64 bits and checked before it is written.
#pragma once

#include <cstdint>
#include <optional>

#include "pbf.h"

namespace pbf {

enum class QuadratizeMethod { kTermwise, kFewest, kGrouped, kAuto };

// Where a term of f sits: its degree and its index in the table of that degree.
struct TermPosition {
  int32_t degree = 0;
  int32_t index = 0;

  friend bool operator==(const TermPosition&, const TermPosition&) = default;
};

// Writes into `out` (a new, empty PBF) a function whose terms all have degree <= 2, over f's ids
// and auxiliaries numbered from max(newvar, f.MaxId() + 1), such that for every assignment x of
// f's variables the minimum over the auxiliaries equals f(x) exactly as integers (f(x) being the
// integer sum of f's stored coefficients, without wrap-around). Deterministic.
//
// Returns std::nullopt on success. Returns the position of a term of f that cannot be written when
// its form needs a coefficient outside int32 and no rule whose coefficients fit applies (a sum of
// several terms' contributions to one output term names one of the terms of degree >= 3 that
// contributed), or when its auxiliaries would pass the largest id 2^31 - 1; `out` is then
// unspecified. f is never changed.
//
// kTermwise writes exactly what ToQuadratic writes into an empty PBF (same terms, same order, same
// auxiliaries, zero coefficients included) whenever none of those coefficients leaves int32; where
// one would, the term's coefficient is split into parts that fit, each with its own auxiliaries.
// kFewest and kGrouped treat a term with repeated ids as the monomial over its distinct ids, merge
// equal monomials, copy f's unary and pairwise terms as stored, and may drop zero coefficients.
// kAuto writes the result of the method whose roof duality (roof_duality.h) labels most of the ids
// 0 .. f.MaxId(); ties go to fewer auxiliaries, then to the earlier method in the order termwise,
// fewest, grouped. It costs the three quadratizations and their roof duals, and reports a term only
// when every method does (the first method's).
std::optional<TermPosition> Quadratize(const PBF& f, QuadratizeMethod method, int32_t newvar,
                                       PBF& out);

}  // namespace pbf
