// Quadratic conversion: adds to a target function a function of degree at most 2 whose minimum over
// new auxiliary variables equals this function at every assignment of its own variables.
//
// Unary and pairwise terms are copied. A term a·x0·…·x(d-1) of degree d >= 3 is replaced using
// S = x0 + … + x(d-1), which equals d exactly when the product is 1:
// - a < 0: one auxiliary w, a·w·(S - (d - 1)), whose minimum is a when S = d and 0 otherwise.
// - a >= 0: k = ⌊(d-1)/2⌋ auxiliaries w(i) with a·(S(S-1)/2 + Σ w(i)·(m(i)·(2i - S) - 1)),
//   m(i) = 1 for the last auxiliary of an odd degree and 2 otherwise; S(S-1)/2 becomes the
//   d(d-1)/2 pairs.
// Both identities only need S to be an integer in 0 … d, so they also hold for ids in any order
// and with repeats (a repeated id just counts twice in S, and the pair (x, x) is x).
//
// Cost: one walk over the source's terms, no copy of them; a term of degree d costs O(d) additions
// when a < 0 and O(d²) when a >= 0, each found through the shortest occurrence list of its ids.
// Auxiliary ids are handed out in walk order from max(newvar, largest source id + 1).
//
// Converting a function into itself would walk the very tables it appends to and meet its own
// output again. That case converts a copy taken first, so no read touches storage being written,
// and the result is plain: the function plus its quadratic form, as if converted into a separate
// target that held a copy of it.
//
// Ids are int32 and cannot pass 2^31 - 1. The counter wraps like every int32 here, so once the id
// 2^31 - 1 has been handed out (or the first free id would be 2^31) it reads -2^31, "no id left".
// A term of degree >= 3 whose auxiliaries do not all fit below 2^31 is copied into the target
// unchanged instead: the target still equals the source, it is just not quadratic there, and the
// returned counter is negative exactly when no id is left. Reaching that limit needs an occurrence
// index of 2^31 lists, so in practice memory runs out first.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "pbf.h"
#include "wrap.h"

namespace pbf {
namespace {

constexpr int64_t kIdLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;  // 2^31

// The number of ids from next_id up to 2^31 - 1; none when the counter has wrapped.
int64_t IdsLeft(int32_t next_id) { return next_id < 0 ? 0 : kIdLimit - next_id; }

// An auxiliary variable gets exactly d + 1 occurrences in the target (d pairs and its unary term).
// Reserving them at once spares its list the doubling steps, and the slack they leave, which for
// a list of a handful of entries is a large part of its size. An id that the target already uses
// keeps its list's own growth.
void ReserveAuxiliary(TermStore& store, int32_t w, int32_t d) {
  if (!store.HasList(w)) store.occurrences.resize(static_cast<size_t>(w) + 1);
  OccurrenceList& list = store.OccurrencesOf(w);
  if (list.empty()) list.reserve(static_cast<size_t>(d) + 1);
}

}  // namespace

int32_t PBF::ToQuadratic(PBF& target, int32_t newvar) const {
  if (&target == this) {
    const PBF snapshot = *this;
    return snapshot.ToQuadratic(target, newvar);
  }
  // In 64 bits: the largest id may be 2^31 - 1, whose successor wraps to the "no id left" value.
  const int64_t first = std::max<int64_t>(newvar, int64_t{terms.MaxVarId()} + 1);
  int32_t next_id = static_cast<int32_t>(static_cast<uint32_t>(first));
  // The number of auxiliaries is known up front, so the target's occurrence index can be sized
  // once, exactly, instead of doubling as they appear. Only a hint: nothing relies on it.
  int64_t auxiliaries = 0;
  for (int32_t d = 3; d < static_cast<int32_t>(terms.tables.size()); ++d) {
    if (!terms.HasTable(d)) continue;
    for (const int32_t a : terms.Table(d).coefs) auxiliaries += a < 0 ? 1 : (d - 1) / 2;
  }
  if (auxiliaries > 0 && first + auxiliaries <= kIdLimit &&
      target.terms.occurrences.capacity() < static_cast<size_t>(first + auxiliaries)) {
    target.terms.occurrences.reserve(static_cast<size_t>(first + auxiliaries));
  }
  for (TermCursor cursor = TermCursor::Begin(terms); !cursor.AtEnd(); cursor.Advance()) {
    target.ConvertTerm(cursor, next_id);
  }
  target.constant = WrapAdd(target.constant, constant);
  // The target's unary and pairwise tables grew by doubling and may stand up to half empty. A
  // converted function is mostly read afterwards (by a minimiser), so clearly unused room goes
  // back: the result takes 7-26% less memory (grids, cliques, hubs) for 0-9% more time
  // (bench/RESULTS.md, "Speed tricks"). libstdc++ ignores a failure here.
  for (const int32_t d : {1, 2}) {
    TermTable& table = target.terms.Table(d);
    if (table.coefs.capacity() - table.coefs.size() > table.coefs.capacity() / 8) {
      table.vars.shrink_to_fit();
      table.coefs.shrink_to_fit();
    }
  }
  return next_id;
}

void PBF::ConvertTerm(const TermCursor& cursor, int32_t& next_id) {
  const int32_t d = cursor.degree;
  const int32_t a = cursor.Coef();
  // Ids go to the additions by value, and only degrees 1 and 2 ever grow here, so `x` stays valid
  // even for a cursor on this very store (whose own term is then found and merged into).
  const int32_t* x = cursor.Ids();
  if (d == 1) {
    AddUnary(a, x[0]);
    return;
  }
  if (d == 2) {
    AddPairwise(a, x[0], x[1]);
    return;
  }
  const int32_t k = (d - 1) / 2;
  if ((a < 0 ? 1 : k) > IdsLeft(next_id)) {
    AddTerm(a, d, x);
    return;
  }
  if (a < 0) {
    const int32_t w = next_id;
    ReserveAuxiliary(terms, w, d);
    for (int32_t j = 0; j < d; ++j) AddPairwise(a, x[j], w);
    AddUnary(WrapMul(WrapSub(1, d), a), w);
    next_id = WrapAdd(next_id, 1);
    return;
  }
  for (int32_t i = 1; i <= k; ++i) {
    const int32_t w = next_id;
    ReserveAuxiliary(terms, w, d);
    const int32_t m = (d % 2 == 1 && i == k) ? 1 : 2;
    const int32_t pair = WrapNeg(WrapMul(m, a));
    for (int32_t j = 0; j < d; ++j) AddPairwise(pair, x[j], w);
    AddUnary(WrapMul(WrapSub(WrapMul(2 * m, i), 1), a), w);
    next_id = WrapAdd(next_id, 1);
  }
  for (int32_t p = 0; p + 1 < d; ++p) {
    for (int32_t q = p + 1; q < d; ++q) AddPairwise(a, x[p], x[q]);
  }
}

}  // namespace pbf
