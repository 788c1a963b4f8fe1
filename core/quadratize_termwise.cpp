// The termwise quadratization: ToQuadratic's rule, term by term in walk order (to_quadratic.cpp
// has the identities), with coefficients computed in 64 bits. Where ToQuadratic would wrap a
// product such as (4i - 1)·a, the term's coefficient is split into parts that fit, each part with
// auxiliaries of its own; where a sum over several terms (or a term of f plus what the rule adds
// to it) leaves int32, no rearrangement of this rule helps and the builder reports a term.
// Otherwise the output is ToQuadratic's into an empty function, term for term, which the tests
// compare as text.
//
// Most functions are nowhere near the limits, and for them ToQuadratic itself is the fastest way
// to that output: a bound computed in one pass over f (ToQuadraticFits) decides whether any of its
// coefficients could leave int32, and only then does the 64-bit builder run.
//
// Cost: as ToQuadratic, O(d) per negative and O(d²) per positive term of degree d, one hash
// lookup per pair among f's own variables (pairs with an auxiliary are known to be new); the
// bound is O(d) per term and two 64-bit numbers per variable.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "monomial_rules.h"
#include "quadratize_methods.h"

namespace pbf {

bool ToQuadraticFits(const PBF& f, int64_t first) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const auto& tables = f.terms.tables;
  // Per variable: the largest |coefficient| of f's pairs with it, and the most that positive
  // terms add to the pairs with it (a·(d - 1) per occurrence). A pair's sum stays within both
  // of its variables' totals.
  std::vector<int64_t> own(static_cast<size_t>(f.MaxId() + 1), 0);
  std::vector<int64_t> added(own.size(), 0);
  const TermTable& pairs = f.terms.Table(2);
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int64_t c = std::abs(int64_t{pairs.coefs[static_cast<size_t>(t)]});
    for (int32_t k = 0; k < 2; ++k) {
      int64_t& largest = own[static_cast<size_t>(pairs.Ids(t)[k])];
      largest = std::max(largest, c);
    }
  }
  int64_t auxiliaries = 0;
  for (int32_t d = 3; d < static_cast<int32_t>(tables.size()); ++d) {
    if (!f.terms.HasTable(d)) continue;
    const TermTable& table = f.terms.Table(d);
    for (int32_t t = 0; t < table.Size(); ++t) {
      const int64_t a = table.coefs[static_cast<size_t>(t)];
      // Every multiple that the rule writes on an auxiliary is at most 2·d·|a|.
      if (2 * d * std::abs(a) > kMax) return false;
      auxiliaries += a < 0 ? 1 : (d - 1) / 2;
      if (a <= 0) continue;
      for (int32_t k = 0; k < d; ++k) {
        const auto v = static_cast<size_t>(table.Ids(t)[k]);
        added[v] += a * (d - 1);
        if (own[v] + added[v] > kMax) return false;
      }
    }
  }
  return first + auxiliaries <= QuadraticBuilder::kIdLimit;
}

std::optional<TermPosition> WriteTermwise(const PBF& f, QuadraticBuilder& out) {
  // What the rule creates at most: the output's arrays are sized once.
  size_t pairs = static_cast<size_t>(f.terms.Table(2).Size());
  size_t unary = static_cast<size_t>(f.terms.Table(1).Size());
  size_t among_own = pairs;
  for (int32_t d = 3; d < static_cast<int32_t>(f.terms.tables.size()); ++d) {
    if (!f.terms.HasTable(d)) continue;
    const auto n = static_cast<size_t>(d);
    for (const int32_t a : f.terms.Table(d).coefs) {
      const size_t k = a < 0 ? 1 : (n - 1) / 2;
      pairs += k * n + (a < 0 ? 0 : n * (n - 1) / 2);
      among_own += a < 0 ? 0 : n * (n - 1) / 2;
      unary += k;
    }
  }
  out.Reserve(pairs, unary, among_own);
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
