// The road from a function of any degree to a labelling.
//
// Each step keeps "some minimiser of f agrees with every label fixed so far": ReduceHigherSafely
// keeps every minimiser (it leaves the terms whose neighbourhood sums could pass int32), the
// quadratization's minimum over its auxiliaries is the reduced function, a minimiser of the
// quadratic function restricted to f's ids minimises the reduced function, roof duality's labels
// are jointly persistent, and probing draws its conclusions in the function restricted to them.
// Auxiliaries are numbered after f's largest id, so f's ids keep their meaning even when the
// reduction removed every term of one of them (such an id is free in the reduced function, and its
// label 0 joins the persistent set).
//
// Memory: the private copy lives until the quadratic function is made, which lives (without its
// occurrence lists) until the implication network is built from it; the free part is read back
// from the network, which exists only inside the roof-dual solve.
#include "minimize.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <utility>

#include "evaluate.h"
#include "free_part.h"
#include "improve.h"
#include "probe.h"
#include "roof_dual_solver.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pbf {
namespace {

// Occurrence lists released at once that make trimming the heap worth its walk (about 100 MB).
constexpr size_t kTrimAfterLists = size_t{1} << 20;

// Reports each stage's time to the caller's callback.
class Stages {
 public:
  explicit Stages(const MinimizeOptions& options) : progress_(options.progress) {}

  void Done(std::string_view stage) {
    const auto now = std::chrono::steady_clock::now();
    if (progress_) progress_(stage, std::chrono::duration<double>(now - start_).count());
    start_ = std::chrono::steady_clock::now();
  }

 private:
  const std::function<void(std::string_view, double)>& progress_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The ids and coefficient of a term of f.
UnwritableTerm TermAt(const PBF& f, TermPosition at) {
  const TermTable& table = f.terms.Table(at.degree);
  const int32_t* ids = table.Ids(at.index);
  return {std::vector<int32_t>(ids, ids + at.degree), table.Coef(at.index)};
}

// How many of the ids 0 .. n-1 roof duality labelled; ids beyond its labels are in no term of the
// quadratic function and count as labelled (any value fits them).
int64_t LabelledAmong(const RoofDual& rd, size_t n) {
  int64_t labelled = 0;
  for (size_t v = 0; v < n; ++v) labelled += v >= rd.labels.size() || rd.labels[v] >= 0;
  return labelled;
}

// What roof duality made of one quadratization.
struct Solved {
  RoofDual rd;
  FreePart part;
};

// The quadratizations tried and the best of their roof duals: most of f's ids 0 .. n-1 labelled,
// then fewest auxiliaries (numbered from n, after f's ids). Each quadratic function lives only
// until its network is built: after the quadratization only its tables are read, so its lists go
// at once; their many small blocks stay mapped in glibc's heap, where the network's large arrays
// cannot reuse them, and trimming hands them back (157 MB of 358 on the 512x512 grid). Trimming
// walks the whole heap of the process, so small functions skip it.
class Candidates {
 public:
  Candidates(size_t n, bool want_part, Stages& stages)
      : n_(n), want_part_(want_part), stages_(stages) {}

  void Try(const PBF& source, QuadratizeMethod rule) {
    const auto first = static_cast<int32_t>(n_);
    PBF q;
    if (const std::optional<TermPosition> failed = Quadratize(source, rule, first, q)) {
      if (!unwritable_) unwritable_ = TermAt(source, *failed);
      return;
    }
    stages_.Done("quadratize");
    const size_t lists = q.terms.occurrences.size();
    q.terms.occurrences = {};
#if defined(__GLIBC__)
    if (lists >= kTrimAfterLists) malloc_trim(0);
#endif
    const int64_t auxiliaries = std::max<int64_t>(0, int64_t{q.MaxId()} + 1 - first);
    Solved solved;
    solved.rd = RoofDualityConsuming(std::move(q), want_part_ ? &solved.part : nullptr);
    stages_.Done("roof_duality");
    const int64_t labelled = LabelledAmong(solved.rd, n_);
    if (labelled > labelled_ || (labelled == labelled_ && auxiliaries < auxiliaries_)) {
      best_ = std::move(solved);
      labelled_ = labelled;
      auxiliaries_ = auxiliaries;
    }
  }

  // Every id of f labelled: no other quadratization can do better.
  bool Complete() const { return labelled_ == static_cast<int64_t>(n_); }
  std::optional<Solved>& Best() { return best_; }
  // The term that kept a rule from being written, when no rule could be.
  std::optional<UnwritableTerm> Unwritable() const { return best_ ? std::nullopt : unwritable_; }

 private:
  size_t n_;
  bool want_part_;
  Stages& stages_;
  std::optional<Solved> best_;
  int64_t labelled_ = -1;
  int64_t auxiliaries_ = 0;
  std::optional<UnwritableTerm> unwritable_;
};

// Whether f has a term of degree >= 3 with a non-zero coefficient: otherwise every rule copies its
// terms, and reducing cannot change them.
bool HasHigherTerms(const PBF& f) {
  for (int32_t d = 3; d < static_cast<int32_t>(f.terms.tables.size()); ++d) {
    if (!f.terms.HasTable(d)) continue;
    for (const int32_t c : f.terms.Table(d).coefs) {
      if (c != 0) return true;
    }
  }
  return false;
}

// The quadratizations of the road and their roof duals. With one rule: the reduced function with
// that rule. With kAuto, first the fewest rule on f as built: on image energies it often leaves
// the whole function submodular, while the reduction turns some of its terms non-submodular, and
// when it labels every id, nothing can do better and the reduction is skipped; otherwise the
// reduced function with each rule in turn, until one labels every id.
void Quadratizations(PBF copy, QuadratizeMethod method, Stages& stages, Candidates& candidates) {
  const bool automatic = method == QuadratizeMethod::kAuto;
  const bool higher = HasHigherTerms(copy);
  if (automatic && higher) {
    candidates.Try(copy, QuadratizeMethod::kFewest);
    if (candidates.Complete()) return;
  }
  // The safe pass: a rewrite computed from sums that wrapped would change the minimisers, and
  // every label claimed persistent below would then be about some other function.
  copy.ReduceHigherSafely();
  stages.Done("reduce_higher");
  if (!automatic) {
    // The termwise rule reads the tables only, so the lists go before the quadratic function
    // grows (on an image grid they are most of the reduced function's memory).
    if (method == QuadratizeMethod::kTermwise) copy.terms.occurrences = {};
    candidates.Try(copy, method);
    return;
  }
  for (const QuadratizeMethod rule :
       {QuadratizeMethod::kTermwise, QuadratizeMethod::kFewest, QuadratizeMethod::kGrouped}) {
    candidates.Try(copy, rule);
    if (candidates.Complete() || !higher) return;
  }
}

// Labels for the variables that are not persistent, never worse on f than `labels` (which holds
// the persistent labels and 0 elsewhere). Two descents on f, one from `labels` itself (so that
// improving never raises the energy) and one from the expected-gain start (which follows the data
// term of an image energy); then the better one is carried into the free part (auxiliaries
// completed with f's ids held), moved there by QPBO-I rounds, carried back and descended again.
// The free part stems from the quadratic function, which (minimised over its auxiliaries) is the
// reduced function: it agrees with f on the minimisers but not elsewhere, so its moves can
// mislead, and f decides whether they are kept.
std::vector<uint8_t> Improve(const PBF& f, const FreePart& part, const std::vector<int8_t>& fixed,
                             std::vector<uint8_t> labels, const std::vector<uint8_t>& persistent) {
  const size_t n = labels.size();
  std::vector<uint8_t> movable(n);
  for (size_t v = 0; v < n; ++v) movable[v] = !persistent[v];
  std::vector<uint8_t> start = ExpectedGainStart(f, labels, movable);
  Descend(f, movable, labels);
  Descend(f, movable, start);
  int64_t best_value = Evaluate(f, labels.data());
  const int64_t start_value = Evaluate(f, start.data());
  std::vector<uint8_t> best = std::move(labels);
  if (start_value < best_value) {
    best_value = start_value;
    best = std::move(start);
  }

  std::vector<uint8_t> x(part.Size(), 0);
  std::vector<int8_t> held = fixed;
  for (size_t k = 0; k < part.Size(); ++k) {
    const auto v = static_cast<size_t>(part.ids[k]);
    if (fixed[k] >= 0) x[k] = static_cast<uint8_t>(fixed[k]);
    if (v < n && fixed[k] < 0) held[k] = static_cast<int8_t>(x[k] = best[v]);
  }
  DescendFreePart(part, held, x);
  ImproveFreePart(part, fixed, x);
  std::vector<uint8_t> moved = best;
  for (size_t k = 0; k < part.Size(); ++k) {
    const auto v = static_cast<size_t>(part.ids[k]);
    if (v < n) moved[v] = x[k];
  }
  Descend(f, movable, moved);
  const int64_t moved_value = Evaluate(f, moved.data());
  return moved_value < best_value ? moved : best;
}

}  // namespace

Minimum Minimize(PBF work, const MinimizeOptions& options) {
  Stages stages(options);
  const auto n = static_cast<size_t>(work.MaxId() + 1);
  // f itself is needed again only at the end (descents, evaluation), so it is kept as its tables
  // alone, a fraction of its memory, and its occurrence lists are rebuilt once the quadratic
  // function and the network are gone. `work` becomes the reduced function.
  PBF f;
  f.constant = work.constant;
  f.terms.tables = work.terms.tables;
  Minimum result;
  Candidates candidates(n, options.probe || options.improve, stages);
  // The constant stays out of the reduction and comes back in 64 bits.
  work.constant = 0;
  Quadratizations(std::move(work), options.method, stages, candidates);
  std::optional<Solved>& solved = candidates.Best();
  if (!solved) {
    result.unwritable = candidates.Unwritable();
    return result;
  }
  f.terms.RebuildOccurrences();
  const RoofDual& rd = solved->rd;
  FreePart& part = solved->part;
  result.lower_bound = rd.lower_bound + f.constant;
  // f's ids beyond the quadratic function's are in no term of the reduced function: label 0.
  result.labels.assign(n, 0);
  result.persistent.assign(n, 1);
  for (size_t v = 0; v < n && v < rd.labels.size(); ++v) {
    result.labels[v] = rd.labels[v] == 1;
    result.persistent[v] = rd.labels[v] >= 0;
  }

  if (options.probe || options.improve) {
    std::vector<int8_t> fixed(part.Size(), -1);
    if (options.probe) {
      std::vector<uint8_t> x(part.Size(), 0);
      Probe(part, fixed, x);
      for (size_t k = 0; k < part.Size(); ++k) {
        const auto v = static_cast<size_t>(part.ids[k]);
        if (fixed[k] < 0 || v >= n) continue;
        result.labels[v] = static_cast<uint8_t>(fixed[k]);
        result.persistent[v] = 1;
      }
      stages.Done("probe");
    }
    if (options.improve) {
      result.labels = Improve(f, part, fixed, std::move(result.labels), result.persistent);
      stages.Done("improve");
    }
  }
  result.energy = Evaluate(f, result.labels.data());
  stages.Done("evaluate");
  return result;
}

}  // namespace pbf
