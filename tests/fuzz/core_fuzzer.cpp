// libFuzzer target for the core: the input is decoded into a sequence of operations on three
// functions, and every step is checked.
//
// After each operation the touched functions must satisfy the store's invariants (checks.h), and
// no table slot may disappear. On small functions (at most kSemanticVars distinct ids, all below
// 64) the operations' guarantees are checked against brute-force evaluation:
// - edits add exactly their energy table and Shrink and copies keep every value; these hold
//   modulo 2^32 for any coefficients, so they are checked always;
// - the exact reduction keeps the minimum and every minimiser, the approximate one gives an upper
//   bound without terms of degree 3 to 30, and the conversion equals the source after minimising
//   over its auxiliary variables. These compare values, so they are checked only while the
//   coefficient mass (|constant| + the sum of |coefficients|) stays far below 2^31.
// The conversion into a filled target, or into the source itself, must add exactly what it adds
// to an empty target.
//
// The decoder keeps the work per input small: ids are mostly below 20 (a few reach 275 to grow the
// occurrence index), terms have degree at most 7 or one that the reductions leave alone (17 ... 20
// only the exact one, which is all that sees them; 31 ... 34 both), cliques at most 6 variables,
// and an input runs at most kMaxOperations operations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "checks.h"
#include "pbf.h"
#include "wrap.h"

namespace pbf::fuzz {
namespace {

constexpr int kMaxOperations = 48;
constexpr int32_t kSemanticVars = 12;
constexpr int64_t kSmallMass = int64_t{1} << 20;

// Reports a broken check with the function it concerns (and the one it was made from) and stops.
[[noreturn]] void Fail(const std::string& what, const PBF& f, const PBF* from = nullptr) {
  std::fprintf(stderr, "core_fuzzer: %s\n  function: %s\n", what.c_str(), f.GetString().c_str());
  if (from) std::fprintf(stderr, "  made from: %s\n", from->GetString().c_str());
  std::abort();
}

void Require(bool ok, const char* what, const PBF& f, const PBF* from = nullptr) {
  if (!ok) Fail(what, f, from);
}

// Reads the input front to back; past its end every byte reads as 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Done() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  // Mostly small (-124 ... 123), sometimes any int32, so that sums wrap.
  int32_t Coef() {
    const uint8_t b = Byte();
    if (b < 0xf8) return static_cast<int32_t>(b) - 124;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | Byte();
    return static_cast<int32_t>(v);
  }

  // Mostly 0 ... 19, sometimes 20 ... 275.
  int32_t Id() {
    const uint8_t b = Byte();
    return b < 0xf0 ? b % 20 : 20 + Byte();
  }

  // `degree` ids: as given (any order, repeats), or strictly ascending.
  std::vector<int32_t> Ids(int32_t degree, bool ascending) {
    std::vector<int32_t> ids(static_cast<size_t>(degree));
    int32_t next = 0;
    for (int32_t& id : ids) {
      if (ascending) {
        id = next + Byte() % 3;
        next = id + 1;
      } else {
        id = Id();
      }
    }
    return ids;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// --- Evaluation over the few variables of small functions ---

std::set<int32_t> IdsOf(const PBF& f) {
  std::set<int32_t> ids;
  for (const auto& table : f.terms.tables) {
    if (table) ids.insert(table->vars.begin(), table->vars.end());
  }
  return ids;
}

int64_t Mass(const PBF& f) {
  int64_t mass = f.constant < 0 ? -int64_t{f.constant} : f.constant;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t c : table->coefs) mass += c < 0 ? -int64_t{c} : c;
  }
  return mass;
}

// All variables of the check as bit positions of an assignment, or empty when there are too many
// for brute force (or an id does not fit Evaluate's 64 bits).
struct Space {
  std::vector<int32_t> vars;
  bool usable = false;

  uint64_t Assignment(uint32_t bits) const {
    uint64_t x = 0;
    for (size_t b = 0; b < vars.size(); ++b) {
      if ((bits >> b) & 1) x |= uint64_t{1} << vars[b];
    }
    return x;
  }
  uint32_t Count() const { return uint32_t{1} << vars.size(); }
};

Space SpaceOf(std::set<int32_t> ids) {
  Space space;
  space.usable =
      ids.size() <= static_cast<size_t>(kSemanticVars) && (ids.empty() || *ids.rbegin() < 64);
  if (space.usable) space.vars.assign(ids.begin(), ids.end());
  return space;
}

std::vector<int32_t> Values(const PBF& f, const Space& space) {
  std::vector<int32_t> values(space.Count());
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    values[bits] = testing::Evaluate(f, space.Assignment(bits));
  }
  return values;
}

// --- Checks shared by every step ---

std::vector<bool> PresentSlots(const PBF& f) {
  std::vector<bool> present;
  for (const auto& table : f.terms.tables) present.push_back(table.has_value());
  return present;
}

void CheckStore(const PBF& f, const std::vector<bool>& present_before) {
  const std::string violation = testing::InvariantViolation(f);
  if (!violation.empty()) Fail("invariant: " + violation, f);
  for (size_t d = 0; d < present_before.size(); ++d) {
    if (present_before[d] && !f.terms.HasTable(static_cast<int32_t>(d))) {
      Fail("table slot " + std::to_string(d) + " disappeared", f);
    }
  }
  const std::set<int32_t> ids = IdsOf(f);
  Require(f.MaxId() == (ids.empty() ? -1 : *ids.rbegin()), "MaxId", f);
}

void CheckNoZeroTerms(const PBF& f) {
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t c : table->coefs) Require(c != 0, "a zero term survived compaction", f);
  }
}

int32_t HighestNonEmptyDegree(const PBF& f, int32_t up_to) {
  for (int32_t d = std::min<int32_t>(up_to, static_cast<int32_t>(f.terms.tables.size()) - 1);
       d >= 1; --d) {
    if (f.terms.HasTable(d) && f.terms.Table(d).Size() > 0) return d;
  }
  return 0;
}

// --- Edits: the function gains exactly the energy `added(assignment)` ---

template <typename Edit, typename Added>
void CheckedEdit(PBF& f, const std::vector<int32_t>& new_ids, Edit&& edit, Added&& added) {
  std::set<int32_t> ids = IdsOf(f);
  ids.insert(new_ids.begin(), new_ids.end());
  const Space space = SpaceOf(ids);
  const std::vector<bool> present = PresentSlots(f);
  std::vector<int32_t> before;
  if (space.usable) before = Values(f, space);
  edit();
  CheckStore(f, present);
  if (!space.usable) return;
  const std::vector<int32_t> after = Values(f, space);
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    const uint64_t x = space.Assignment(bits);
    Require(after[bits] == WrapAdd(before[bits], added(x)), "an edit added the wrong energy", f);
  }
}

bool Bit(uint64_t x, int32_t id) { return (x >> id) & 1; }

void DecodeEdit(uint8_t kind, PBF& f, Input& in) {
  switch (kind) {
    case 0: {
      const int32_t coef = in.Coef();
      const int32_t v = in.Id();
      CheckedEdit(
          f, {v}, [&] { f.AddUnary(coef, v); }, [&](uint64_t x) { return Bit(x, v) ? coef : 0; });
      break;
    }
    case 1: {
      const int32_t coef = in.Coef();
      const int32_t i = in.Id();
      const int32_t j = in.Id();
      CheckedEdit(
          f, {i, j}, [&] { f.AddPairwise(coef, i, j); },
          [&](uint64_t x) { return Bit(x, i) && Bit(x, j) ? coef : 0; });
      break;
    }
    case 2:
    case 3: {
      // Degree 0 ... 7, or one that a reduction leaves alone: 17 ... 20 (above the exact
      // reduction's limit) or 31 ... 34 (above both, and past the store's inline buffer of 32 ids).
      const uint8_t b = in.Byte();
      const int32_t degree = kind == 2 ? b % 8 : ((b & 4) ? 17 : 31) + b % 4;
      const std::vector<int32_t> ids = in.Ids(degree, (b >> 3) & 1);
      const int32_t coef = in.Coef();
      CheckedEdit(
          f, ids, [&] { f.AddTerm(coef, degree, ids.data()); },
          [&](uint64_t x) {
            for (int32_t id : ids) {
              if (!Bit(x, id)) return 0;
            }
            return coef;
          });
      break;
    }
    case 4: {
      const int32_t i = in.Id();
      const int32_t e0 = in.Coef();
      const int32_t e1 = in.Coef();
      CheckedEdit(
          f, {i}, [&] { f.AddUnaryTerm(i, e0, e1); },
          [&](uint64_t x) { return Bit(x, i) ? e1 : e0; });
      break;
    }
    case 5: {
      const int32_t i = in.Id();
      const int32_t j = in.Id();
      int32_t e[4];
      for (int32_t& v : e) v = in.Coef();
      CheckedEdit(
          f, {i, j}, [&] { f.AddPairwiseTerm(i, j, e[0], e[1], e[2], e[3]); },
          [&](uint64_t x) { return e[2 * Bit(x, i) + Bit(x, j)]; });
      break;
    }
    default: {
      const uint8_t b = in.Byte();
      const int32_t n = b % 7;
      const std::vector<int32_t> ids = in.Ids(n, (b >> 3) & 1);
      std::vector<int32_t> vals(size_t{1} << n);
      for (int32_t& v : vals) v = in.Coef();
      // With repeated ids the table is read at the configuration the assignment gives each
      // position, which is what the expansion over positions evaluates to.
      CheckedEdit(
          f, ids, [&] { f.AddHigherTerm(n, ids.data(), vals.data()); },
          [&](uint64_t x) {
            size_t s = 0;
            for (int32_t id : ids) s = 2 * s + Bit(x, id);
            return vals[s];
          });
      break;
    }
  }
}

// --- Transforms ---

void CheckedShrink(PBF& f) {
  const PBF before = f;
  const Space space = SpaceOf(IdsOf(f));
  f.Shrink();
  CheckStore(f, PresentSlots(before));
  CheckNoZeroTerms(f);
  if (space.usable) Require(Values(f, space) == Values(before, space), "Shrink changed a value", f);
}

std::vector<uint32_t> Minimisers(const std::vector<int32_t>& values) {
  const int32_t least = *std::min_element(values.begin(), values.end());
  std::vector<uint32_t> at;
  for (uint32_t bits = 0; bits < values.size(); ++bits) {
    if (values[bits] == least) at.push_back(bits);
  }
  return at;
}

void CheckedReduceHigher(PBF& f) {
  const PBF before = f;
  const Space space = SpaceOf(IdsOf(f));
  f.ReduceHigher();
  CheckStore(f, PresentSlots(before));
  CheckNoZeroTerms(f);
  if (!space.usable || Mass(before) > kSmallMass || Mass(f) > kSmallMass) return;
  const std::vector<int32_t> old_values = Values(before, space);
  const std::vector<int32_t> new_values = Values(f, space);
  Require(*std::min_element(new_values.begin(), new_values.end()) ==
              *std::min_element(old_values.begin(), old_values.end()),
          "ReduceHigher changed the minimum", f, &before);
  Require(Minimisers(new_values) == Minimisers(old_values), "ReduceHigher changed the minimisers",
          f, &before);
}

// The safe pass keeps the minimum and the minimisers of the function read as an integer
// polynomial whatever its coefficients, so it is checked in int64 on a copy, at any mass.
void CheckReduceHigherSafely(const PBF& before) {
  PBF f = before;
  const Space space = SpaceOf(IdsOf(f));
  f.ReduceHigherSafely();
  CheckStore(f, PresentSlots(before));
  CheckNoZeroTerms(f);
  if (!space.usable) return;
  std::vector<int64_t> old_values(space.Count());
  std::vector<int64_t> new_values(space.Count());
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    old_values[bits] = testing::Evaluate<int64_t>(before, space.Assignment(bits));
    new_values[bits] = testing::Evaluate<int64_t>(f, space.Assignment(bits));
  }
  const int64_t least = *std::min_element(old_values.begin(), old_values.end());
  Require(*std::min_element(new_values.begin(), new_values.end()) == least,
          "ReduceHigherSafely changed the integer minimum", f, &before);
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    Require((old_values[bits] == least) == (new_values[bits] == least),
            "ReduceHigherSafely changed the integer minimisers", f, &before);
  }
}

void CheckedReduceHigherApprox(PBF& f) {
  // A term of degree 17 ... 20 would cost the approximate reduction 2^16 candidates and more.
  if (HighestNonEmptyDegree(f, 30) > 8) return;
  const PBF before = f;
  const Space space = SpaceOf(IdsOf(f));
  f.ReduceHigherApprox();
  CheckStore(f, PresentSlots(before));
  CheckNoZeroTerms(f);
  if (Mass(before) > kSmallMass || Mass(f) > kSmallMass) return;
  Require(HighestNonEmptyDegree(f, 30) <= 2, "ReduceHigherApprox left a term of degree 3 ... 30",
          f);
  if (!space.usable) return;
  const std::vector<int32_t> old_values = Values(before, space);
  const std::vector<int32_t> new_values = Values(f, space);
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    Require(new_values[bits] >= old_values[bits], "ReduceHigherApprox gave no upper bound", f,
            &before);
  }
}

// Every term as (degree, ordered ids) -> coefficient.
std::map<std::vector<int32_t>, int32_t> TermMap(const PBF& f) {
  std::map<std::vector<int32_t>, int32_t> terms;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t t = 0; t < table->Size(); ++t) {
      terms[std::vector<int32_t>(table->Ids(t), table->Ids(t) + table->degree)] =
          table->coefs[static_cast<size_t>(t)];
    }
  }
  return terms;
}

// The quadratic form of `source` in an empty target, checked on its own: only auxiliary ids from
// the first free one on, no term above degree 2, and (when small) the source's value at every
// assignment once the auxiliaries are minimised away.
void CheckFreshConversion(const PBF& source, const PBF& q, int32_t newvar, int32_t next) {
  CheckStore(q, {});
  Require(HighestNonEmptyDegree(q, static_cast<int32_t>(q.terms.tables.size())) <= 2,
          "ToQuadratic into an empty target made a term of degree 3 or more", q);
  Require(q.constant == source.constant, "ToQuadratic constant", q);
  const int32_t top = source.MaxId();
  const int64_t first = std::max<int64_t>(newvar, int64_t{top} + 1);
  std::set<int32_t> aux;
  for (int32_t id : IdsOf(q)) {
    if (id > top) aux.insert(id);
  }
  Require(aux.empty() || (*aux.begin() == first && *aux.rbegin() + 1 == next &&
                          static_cast<int64_t>(aux.size()) == next - first),
          "ToQuadratic numbered its auxiliaries wrongly", q);
  Require(!aux.empty() || next == first, "ToQuadratic returned the wrong next id", q);

  const Space space = SpaceOf(IdsOf(source));
  if (!space.usable || Mass(source) > kSmallMass || Mass(q) > kSmallMass) return;
  // An auxiliary meets only source variables, in unary and pairwise terms, so given the source
  // variables each one contributes min(0, its coefficient) on its own.
  struct Link {
    int32_t aux;
    int32_t var;  // -1 for the auxiliary's unary term
    int32_t coef;
  };
  std::vector<Link> links;
  PBF plain;
  plain.constant = q.constant;
  for (const auto& [ids, coef] : TermMap(q)) {
    const bool first_aux = ids[0] > top;
    const bool last_aux = ids.back() > top;
    if (!first_aux && !last_aux) {
      plain.AddTerm(coef, static_cast<int32_t>(ids.size()), ids.data());
    } else {
      Require(ids.size() == 1 || (ids.size() == 2 && first_aux != last_aux),
              "an auxiliary variable shares a term with another one", q);
      if (ids.size() == 1) {
        links.push_back({ids[0], -1, coef});
      } else {
        links.push_back({first_aux ? ids[0] : ids[1], first_aux ? ids[1] : ids[0], coef});
      }
    }
  }
  for (uint32_t bits = 0; bits < space.Count(); ++bits) {
    const uint64_t x = space.Assignment(bits);
    std::map<int32_t, int64_t> slope;
    for (const Link& link : links) {
      if (link.var < 0 || Bit(x, link.var)) slope[link.aux] += link.coef;
    }
    int64_t value = testing::Evaluate(plain, x);
    for (const auto& [w, s] : slope) value += std::min<int64_t>(0, s);
    Require(value == testing::Evaluate(source, x),
            "ToQuadratic is not exact after minimising over auxiliaries", q, &source);
  }
}

void CheckedToQuadratic(const PBF& source_before, PBF& source, PBF& target, int32_t newvar) {
  const PBF target_before = target;
  PBF fresh;
  const int32_t fresh_next = source_before.ToQuadratic(fresh, newvar);
  CheckFreshConversion(source_before, fresh, newvar, fresh_next);

  const int32_t next = source.ToQuadratic(target, newvar);
  Require(next == fresh_next, "ToQuadratic's next id depends on the target", target);
  CheckStore(target, PresentSlots(target_before));
  if (&source != &target) {
    Require(TermMap(source) == TermMap(source_before) && source.constant == source_before.constant,
            "ToQuadratic changed its source", source);
  }
  // The target gains exactly the fresh conversion, term by term (merged terms add up).
  auto expected = TermMap(target_before);
  for (const auto& [ids, coef] : TermMap(fresh)) expected[ids] = WrapAdd(expected[ids], coef);
  Require(TermMap(target) == expected &&
              target.constant == WrapAdd(target_before.constant, fresh.constant),
          "ToQuadratic into a filled target differs from target + conversion", target);
}

void Run(Input& in) {
  PBF f[3];
  for (int step = 0; step < kMaxOperations && !in.Done(); ++step) {
    const uint8_t op = in.Byte();
    PBF& a = f[in.Byte() % 3];
    switch (op % 12) {
      case 0:
        CheckedShrink(a);
        break;
      case 1: {
        PBF& b = f[in.Byte() % 3];
        const PBF source = b;
        a = PBF(b);
        CheckStore(a, {});
        Require(a.GetString() == source.GetString() && TermMap(a) == TermMap(source),
                "a copy differs from its source", a);
        break;
      }
      case 2:
        CheckReduceHigherSafely(a);  // takes no input, so the corpus decodes as before
        CheckedReduceHigher(a);
        break;
      case 3:
        CheckedReduceHigherApprox(a);
        break;
      case 4: {
        // Into another function, a fresh one, or the source itself.
        const uint8_t which = in.Byte() % 4;
        const int32_t newvar = in.Byte() % 48;
        const PBF source_before = a;
        if (which == 3) {
          PBF target;
          CheckedToQuadratic(source_before, a, target, newvar);
        } else {
          CheckedToQuadratic(source_before, a, f[which], newvar);
        }
        break;
      }
      default:
        DecodeEdit(static_cast<uint8_t>(op % 12 - 5), a, in);
        break;
    }
  }
}

}  // namespace
}  // namespace pbf::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pbf::fuzz::Input in(data, size);
  pbf::fuzz::Run(in);
  return 0;
}
