// The termwise quadratization: ToQuadratic's rule, term by term in walk order (to_quadratic.cpp
// has the identities), with coefficients computed in 64 bits. Where ToQuadratic would wrap a
// product such as (4i - 1)·a, the term's coefficient is split into parts that fit, each part with
// auxiliaries of its own; where a sum over several terms (or a term of f plus what the rule adds
// to it) leaves int32, no rearrangement of this rule helps and the builder reports a term.
// Otherwise the output is ToQuadratic's into an empty function, term for term, which the tests
// compare as text.
//
// Cost: as ToQuadratic, O(d) per negative and O(d²) per positive term of degree d, one hash
// lookup per pair among f's own variables (pairs with an auxiliary are known to be new).
#include "monomial_rules.h"
#include "quadratize_methods.h"

namespace pbf {

std::optional<TermPosition> WriteTermwise(const PBF& f, QuadraticBuilder& out) {
  for (TermCursor c = TermCursor::Begin(f.terms); !c.AtEnd(); c.Advance()) {
    const int32_t a = c.Coef();
    const int32_t* x = c.Ids();
    out.SetSource({c.degree, c.index});
    if (c.degree == 1) {
      out.AddUnary(a, x[0]);
    } else if (c.degree == 2) {
      out.AddPair(a, x[0], x[1]);
    } else if (!(a < 0 ? AddNegativeMonomial(out, a, x, c.degree)
                       : AddPositiveMonomialTermwise(out, a, x, c.degree))) {
      return TermPosition{c.degree, c.index};
    }
  }
  out.SetSource({});
  out.AddConstant(f.constant);
  return std::nullopt;
}

}  // namespace pbf
