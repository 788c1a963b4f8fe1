// The indicator polynomial of one configuration s of a term's variables u0 ... u(d-1):
//   prod over k in s of u_k * prod over k not in s of (1 - u_k),
// which is 1 at s and 0 at every other configuration. Expanded, it has one product per superset i
// of s, with sign + when i and s differ in an even number of bits. Both reductions add a multiple
// of it to cancel a term: the product of all d variables is the last superset, so the term itself
// receives -c and every other addition lands on a lower degree.
//
// The supersets are visited in ascending order, which fixes where new terms are appended. Room for
// all of them is made first (their counts per degree and per variable follow from |s| alone), so
// one rewrite is applied whole or, when memory runs out, not at all.
#include <algorithm>
#include <bit>
#include <cstddef>

#include "bit_count.h"
#include "id_lists.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "subterm_index.h"
#include "wrap.h"

namespace pbf {
namespace {

size_t Binomial(int32_t n, int32_t k) {
  if (k < 0 || k > n) return 0;
  size_t result = 1;
  for (int32_t j = 1; j <= k; ++j)
    result = result * static_cast<size_t>(n - k + j) / static_cast<size_t>(j);
  return result;
}

// The additions of AddIndicator, each superset's term found by `find(i, length, ids)` for the
// superset i with these ids (its index in the table of that degree, or -1): merged into it, or
// appended. Unlisted (with an index, which takes in each appended term instead), the appended
// terms are listed nowhere, and `find` is called without the ids (null): it goes by i alone.
template <bool kListed = true, typename Find>
void AddIndicatorUsing(PBF& f, TermRef term, int32_t s, int32_t amount, Find find,
                       SubtermIndex* index = nullptr) {
  if (amount == 0) return;  // every addition would be 0
  const int32_t d = term.degree;
  const uint32_t set = static_cast<uint32_t>(s);
  const uint32_t full = d == 32 ? ~0u : (1u << d) - 1;
  const int32_t fixed = std::popcount(set);
  const int32_t free = d - fixed;

  // Supersets of s of degree k: choose k - |s| of the free bits. A fixed position is in all of
  // them, a free one in half.
  size_t per_position[kMaxLocalVariables];
  size_t per_degree[kMaxLocalVariables] = {};
  for (int32_t p = 0; p < d; ++p) {
    const bool in_s = (set >> (d - 1 - p)) & 1;
    per_position[p] = in_s ? size_t{1} << free : free > 0 ? size_t{1} << (free - 1) : 0;
  }
  // The full superset is the stored term itself, so it merges and appends nothing; reserving in
  // its table could move the ids that `term` points into.
  for (int32_t k = std::max(fixed, 1); k < d; ++k) per_degree[k] = Binomial(free, k - fixed);
  const auto positions = static_cast<size_t>(d);
  if constexpr (kListed) {
    f.terms.ReserveAppends(
        {{term.ids, positions}, {per_position, positions}, {per_degree, positions}});
  } else {
    f.terms.ReserveAppends({{}, {}, {per_degree, positions}});
    size_t appends = 0;
    for (int32_t k = 0; k < d; ++k) appends += per_degree[k];
    index->ReserveSubsets(term, appends);
  }

  int32_t ids[kMaxLocalVariables];
  for (uint32_t i = set;; i = (i + 1) | set) {
    // i holds all of s, so i and s differ in length - |s| bits. Unlisted, the term of i is known
    // without its ids, which only an append needs.
    const int32_t length = kListed ? SubsetIds(term.ids, d, i, ids) : CountBits(i);
    const int32_t coef = (length - fixed) % 2 ? WrapNeg(amount) : amount;
    if (length == 0) {
      f.constant = WrapAdd(f.constant, coef);  // i = s = 0
    } else if constexpr (kListed) {
      f.terms.MergeOrAppend(find(i, length, ids), coef, length, ids);  // into the room made above
    } else {
      TermTable& table = f.terms.Table(length);
      if (const int32_t found = find(i, length, nullptr); found >= 0) {
        table.AddToCoef(found, coef);
      } else {
        SubsetIds(term.ids, d, i, ids);
        // A few ids: pushed one by one, inline, where the range insert calls memmove.
        for (int32_t k = 0; k < length; ++k) table.vars.push_back(ids[k]);
        table.coefs.push_back(coef);
        index->TakeInSubset(i, table.Size() - 1);
      }
    }
    if (i == full) break;
  }
}

}  // namespace

void PBF::AddIndicator(TermRef term, int32_t s, int32_t amount) {
  AddIndicatorUsing(*this, term, s, amount, [this](uint32_t, int32_t length, const int32_t* ids) {
    return terms.FindTerm(length, ids);
  });
}

void AddIndicatorIndexed(PBF& f, TermRef term, int32_t s, int32_t amount,
                         const SubtermIndex& index) {
  AddIndicatorUsing(f, term, s, amount, [&index](uint32_t, int32_t length, const int32_t* ids) {
    return index.Find(length, ids);
  });
}

void AddIndicatorFound(PBF& f, TermRef term, int32_t s, int32_t amount, const int32_t* found) {
  AddIndicatorUsing(f, term, s, amount,
                    [found](uint32_t i, int32_t, const int32_t*) { return found[i]; });
}

void AddIndicatorFoundUnlisted(PBF& f, TermRef term, int32_t s, int32_t amount,
                               const int32_t* found, SubtermIndex& index) {
  AddIndicatorUsing<false>(
      f, term, s, amount, [found](uint32_t i, int32_t, const int32_t*) { return found[i]; },
      &index);
}

}  // namespace pbf
