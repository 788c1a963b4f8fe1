// Google Benchmark suite of the core operations on the seeded workloads of workloads.h.
//
// Names read kind/size/operation. Every operation but `build` runs on a fresh copy of the built
// function; making and destroying that copy is not timed. Counters:
//   terms        stored terms before the operation (for build and to_quadratic: of the result)
//   terms_after  stored terms after it
//   aux          auxiliary variables that to_quadratic handed out
//   heap         heap bytes held by the result's arrays (Measure in workloads.h), and per term:
//   heap/term    all of them; used/term the elements in use only; tables/term ids and
//                coefficients; entries/term occurrence entries; lists/term the per-variable
//                list headers and allocator blocks.
// quadratize_termwise, quadratize_fewest, quadratize_grouped: Quadratize with each method into a
// fresh function, beside to_quadratic; the reduced/ variants run on the function after
// ReduceHigher (reduced once, outside the timing). Counters: terms, aux and, on grids, aux/window.
// build_bulk builds grids and cliques with the bulk edits instead; grid/256/evaluate_1000 evaluates
// 1000 labellings of that grid's quadratic form.
// grid/1024/pipeline builds, reduces and converts the megapixel grid in a row; its heap counter
// holds both functions at the end. grid/256/reduce_higher_threads runs one and two threads, each
// reducing its own copy: compare their items_per_second.
// grid/W/roof_duality solves the roof dual of the quadratic function that Minimize builds (the grid
// reduced, then converted); grid/W/minimize and minimize_probe run the whole road from the built
// grid. Counters: fixed (share of all variables labelled), fixed_f (share of the grid's own ids
// labelled or persistent), bound, energy, and for minimize the seconds of each stage (last run).
// Baselines kept for comparison: reduce_higher_literal (the literal search of
// tests/oracles/literal_reduce.h, grids up to 256) and clique/12/build_double_loop (the O(4^n)
// clique transform of tests/oracles/literal_energy.h).
//
// Run with --benchmark_repetitions=3 --benchmark_report_aggregates_only=true for the minimum of
// three runs; bench/RESULTS.md lists the figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bulk_edit.h"
#include "evaluate_batch.h"
#include "literal_energy.h"
#include "literal_reduce.h"
#include "minimize.h"
#include "quadratize.h"
#include "roof_duality.h"
#include "workloads.h"

namespace pbf::bench {
namespace {

struct Instance {
  std::string label;  // kind/size
  std::function<Workload()> make;
  bool reductions = true;  // whether the reductions finish in reasonable time
  bool literal = false;    // whether to run the literal search too
  bool approx = true;      // whether the approximate reduction finishes in reasonable time
};

const Workload& WorkloadOf(const Instance& instance) {
  static std::map<std::string, std::unique_ptr<Workload>> cache;
  auto& slot = cache[instance.label];
  if (!slot) slot = std::make_unique<Workload>(instance.make());
  return *slot;
}

const PBF& BuiltOf(const Instance& instance) {
  static std::map<std::string, std::unique_ptr<PBF>> cache;
  auto& slot = cache[instance.label];
  if (!slot) slot = std::make_unique<PBF>(Build(WorkloadOf(instance)));
  return *slot;
}

// The built function after ReduceHigher, made once.
const PBF& ReducedOf(const Instance& instance) {
  static std::map<std::string, std::unique_ptr<PBF>> cache;
  auto& slot = cache[instance.label];
  if (!slot) {
    slot = std::make_unique<PBF>(BuiltOf(instance));
    slot->ReduceHigher();
  }
  return *slot;
}

// The quadratic function that Minimize solves for the built function.
const PBF& QuadraticOf(const Instance& instance) {
  static std::map<std::string, std::unique_ptr<PBF>> cache;
  auto& slot = cache[instance.label];
  if (!slot) {
    slot = std::make_unique<PBF>();
    ReducedOf(instance).ToQuadratic(*slot, BuiltOf(instance).MaxId() + 1);
  }
  return *slot;
}

double Terms(const PBF& f) { return static_cast<double>(Measure(f).terms); }

void MemoryCounters(benchmark::State& state, const PBF& f) {
  const Footprint fp = Measure(f);
  const auto per_term = [&](size_t bytes) {
    return fp.terms ? static_cast<double>(bytes) / static_cast<double>(fp.terms) : 0.0;
  };
  state.counters["terms"] = static_cast<double>(fp.terms);
  state.counters["heap"] = static_cast<double>(fp.heap);
  state.counters["heap/term"] = per_term(fp.heap);
  state.counters["used/term"] = per_term(fp.used);
  state.counters["tables/term"] = per_term(fp.tables);
  state.counters["entries/term"] = per_term(fp.entries);
  state.counters["lists/term"] = per_term(fp.lists);
}

// Times `build` on fresh, empty functions.
void BuildBench(benchmark::State& state, const std::function<void(PBF&)>& build) {
  std::unique_ptr<PBF> f;
  for (auto _ : state) {
    state.PauseTiming();
    f.reset();
    f = std::make_unique<PBF>();
    state.ResumeTiming();
    build(*f);
  }
  MemoryCounters(state, *f);
}

// `add_clique` null: PBF::AddHigherTerm; otherwise that version of it (the literal double loop).
void BuildBench(benchmark::State& state, const Instance& instance,
                bench::CliqueAdder add_clique = nullptr) {
  const Workload& w = WorkloadOf(instance);
  BuildBench(state, [&](PBF& f) { Build(w, f, add_clique); });
}

// Runs `operation` on fresh copies of the built function.
void InPlaceBench(benchmark::State& state, const Instance& instance,
                  const std::function<void(PBF&)>& operation) {
  const PBF& built = BuiltOf(instance);
  std::unique_ptr<PBF> f;
  for (auto _ : state) {
    state.PauseTiming();
    f.reset();
    f = std::make_unique<PBF>(built);
    state.ResumeTiming();
    operation(*f);
  }
  state.counters["terms"] = Terms(built);
  state.counters["terms_after"] = Terms(*f);
}

void ToQuadraticBench(benchmark::State& state, const Instance& instance) {
  const PBF& built = BuiltOf(instance);
  std::unique_ptr<PBF> q;
  int32_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    q.reset();
    q = std::make_unique<PBF>();
    state.ResumeTiming();
    next = built.ToQuadratic(*q, 0);
  }
  MemoryCounters(state, *q);
  state.counters["aux"] = static_cast<double>(next - (built.MaxId() + 1));
}

// Quadratize (or, without a method, ToQuadratic) of the built or the reduced function.
void QuadratizeBench(benchmark::State& state, const Instance& instance,
                     std::optional<QuadratizeMethod> method, bool reduced) {
  const PBF& source = reduced ? ReducedOf(instance) : BuiltOf(instance);
  std::unique_ptr<PBF> q;
  for (auto _ : state) {
    state.PauseTiming();
    q.reset();
    q = std::make_unique<PBF>();
    state.ResumeTiming();
    if (!method) {
      source.ToQuadratic(*q, 0);
    } else if (Quadratize(source, *method, 0, *q)) {
      state.SkipWithError("a coefficient does not fit");
      return;
    }
  }
  const double aux = std::max(0, q->MaxId() - source.MaxId());
  state.counters["terms"] = Terms(*q);
  state.counters["aux"] = aux;
  const size_t windows = WorkloadOf(instance).clique_size.size();
  if (windows > 0) state.counters["aux/window"] = aux / static_cast<double>(windows);
}

void GetStringBench(benchmark::State& state, const Instance& instance) {
  const PBF& built = BuiltOf(instance);
  size_t length = 0;
  for (auto _ : state) {
    const std::string text = built.GetString();
    length = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["chars"] = static_cast<double>(length);
}

// The workload's unary and clique tables through the bulk edits (bulk_edit.h), as pbfred.energy
// adds them from arrays; for workloads whose cliques all have one size and no monomials. The
// arrays are laid out outside the timed region, as a caller's arrays would be.
void BulkBuildBench(benchmark::State& state, const Instance& instance) {
  const Workload& w = WorkloadOf(instance);
  const size_t unary = w.unary.size() / 3;
  std::vector<int32_t> ids(unary), e0(unary), e1(unary);
  for (size_t r = 0; r < unary; ++r) {
    ids[r] = w.unary[3 * r];
    e0[r] = w.unary[3 * r + 1];
    e1[r] = w.unary[3 * r + 2];
  }
  const int32_t k = w.clique_size.empty() ? 0 : w.clique_size[0];
  BuildBench(state, [&](PBF& f) {
    AddUnaryTerms(f, unary, ids.data(), e0.data(), e1.data());
    AddHigherTerms(f, w.clique_size.size(), k, w.clique_ids.data(), w.clique_vals.data(), false);
  });
}

// 1000 random labellings of the workload's quadratic form (to_quadratic of the built function).
void EvaluateBench(benchmark::State& state, const Instance& instance) {
  PBF q;
  BuiltOf(instance).ToQuadratic(q, 0);
  const size_t rows = 1000, width = static_cast<size_t>(q.MaxId()) + 1;
  std::vector<uint8_t> x(rows * width);
  SplitMix64 random{1};
  for (auto& b : x) b = static_cast<uint8_t>(random.Next() & 1);
  std::vector<int64_t> energies(rows);
  for (auto _ : state) {
    EvaluateBatch(q, x.data(), rows, width, energies.data());
    benchmark::DoNotOptimize(energies.data());
  }
  state.counters["terms"] = Terms(q);
}

// What an application does with a workload: build it, reduce it exactly, convert it.
void PipelineBench(benchmark::State& state, const Instance& instance) {
  const Workload& w = WorkloadOf(instance);
  std::unique_ptr<PBF> f;
  std::unique_ptr<PBF> q;
  for (auto _ : state) {
    state.PauseTiming();
    f = std::make_unique<PBF>();
    q = std::make_unique<PBF>();
    state.ResumeTiming();
    Build(w, *f);
    f->ReduceHigher();
    f->ToQuadratic(*q, 0);
  }
  const Footprint reduced = Measure(*f);
  const Footprint quadratic = Measure(*q);
  state.counters["heap"] = static_cast<double>(reduced.heap + quadratic.heap);
  state.counters["terms_after"] = static_cast<double>(reduced.terms);
  state.counters["quadratic_terms"] = static_cast<double>(quadratic.terms);
}

// Each thread reduces its own copy of the workload, copying included: with ->Threads(n) the
// throughput (items per second of real time) shows how n threads on n functions scale.
void ThreadsReduceBench(benchmark::State& state, const Instance& instance) {
  static std::once_flag built_once;  // the threads start together; one builds, the others wait
  std::call_once(built_once, [&instance] { BuiltOf(instance); });
  const PBF& built = BuiltOf(instance);
  for (auto _ : state) {
    PBF f = built;
    f.ReduceHigher();
    benchmark::DoNotOptimize(f.constant);
  }
  state.SetItemsProcessed(state.iterations());
}

void RoofDualityBench(benchmark::State& state, const Instance& instance) {
  const PBF& q = QuadraticOf(instance);
  RoofDual rd;
  for (auto _ : state) rd = RoofDuality(q);
  const auto own = static_cast<size_t>(BuiltOf(instance).MaxId() + 1);
  size_t fixed = 0;
  size_t fixed_own = 0;
  for (size_t v = 0; v < rd.labels.size(); ++v) {
    fixed += rd.labels[v] >= 0;
    fixed_own += v < own && rd.labels[v] >= 0;
  }
  state.counters["vars"] = static_cast<double>(rd.labels.size());
  state.counters["pairs"] = static_cast<double>(q.terms.Table(2).Size());
  state.counters["fixed"] = static_cast<double>(fixed) / static_cast<double>(rd.labels.size());
  state.counters["fixed_f"] = static_cast<double>(fixed_own) / static_cast<double>(own);
  state.counters["bound"] = static_cast<double>(rd.lower_bound);
}

void MinimizeBench(benchmark::State& state, const Instance& instance, bool probe) {
  const PBF& f = BuiltOf(instance);
  MinimizeOptions options;
  options.probe = probe;
  std::map<std::string, double> stages;
  options.progress = [&](std::string_view stage, double seconds) {
    stages[std::string(stage)] = seconds;
  };
  Minimum m;
  for (auto _ : state) m = Minimize(f, options);
  state.counters["fixed_f"] =
      static_cast<double>(std::count(m.persistent.begin(), m.persistent.end(), 1)) /
      static_cast<double>(m.persistent.size());
  state.counters["bound"] = static_cast<double>(m.lower_bound);
  state.counters["energy"] = static_cast<double>(m.energy);
  for (const auto& [stage, seconds] : stages) state.counters["s_" + stage] = seconds;
}

// The energy-table form whose three terms already exist: the common case of repeated edits.
void AddPairwiseExistingBench(benchmark::State& state) {
  PBF f;
  f.AddPairwiseTerm(3, 7, 1, 2, 3, 4);
  for (auto _ : state) {
    f.AddPairwiseTerm(3, 7, 1, 2, 3, 4);
    benchmark::DoNotOptimize(f.constant);
  }
}

std::vector<Instance> Instances() {
  std::vector<Instance> all;
  for (int32_t w : {128, 256, 512, 1024}) {
    all.push_back({"grid/" + std::to_string(w), [w] { return Grid(w); }, true, w <= 256});
  }
  all.push_back({"pubo/1e4x1e5", [] { return Pubo(10000, 100000); }});
  all.push_back({"pubo/1e5x1e6", [] { return Pubo(100000, 1000000); }});
  for (int32_t m : {10000, 100000, 200000}) {
    all.push_back({"hub/" + std::to_string(m), [m] { return Hub(m); }, true, false});
  }
  for (int32_t n : {12, 16, 20}) {
    // Every term of a dense clique neighbours every other: the reductions are quadratic in its
    // 2^n terms, which only n = 12 keeps within seconds.
    all.push_back(
        {"clique/" + std::to_string(n), [n] { return Clique(n); }, n <= 12, false, n <= 12});
  }
  return all;
}

void Register() {
  static const std::vector<Instance> instances = Instances();
  const auto add = [](const std::string& name, auto&& fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", [](const std::vector<double>& v) {
          return *std::min_element(v.begin(), v.end());
        });
  };
  for (const Instance& in : instances) {
    const Instance* i = &in;
    add(in.label + "/build", [i](benchmark::State& s) { BuildBench(s, *i); });
    if (in.label.starts_with("grid/") || in.label.starts_with("clique/")) {
      add(in.label + "/build_bulk", [i](benchmark::State& s) { BulkBuildBench(s, *i); });
    }
    if (in.label == "grid/256") {
      add(in.label + "/evaluate_1000", [i](benchmark::State& s) { EvaluateBench(s, *i); });
    }
    if (in.label == "clique/12") {
      add(in.label + "/build_double_loop",
          [i](benchmark::State& s) { BuildBench(s, *i, literal::AddHigherTerm); });
    }
    add(in.label + "/shrink",
        [i](benchmark::State& s) { InPlaceBench(s, *i, [](PBF& f) { f.Shrink(); }); });
    if (in.reductions) {
      add(in.label + "/reduce_higher",
          [i](benchmark::State& s) { InPlaceBench(s, *i, [](PBF& f) { f.ReduceHigher(); }); });
      if (in.literal) {
        add(in.label + "/reduce_higher_literal", [i](benchmark::State& s) {
          InPlaceBench(s, *i, [](PBF& f) { literal::ReduceHigher(f); });
        });
      }
      if (in.approx) {
        add(in.label + "/reduce_higher_approx", [i](benchmark::State& s) {
          InPlaceBench(s, *i, [](PBF& f) { f.ReduceHigherApprox(); });
        });
      }
    }
    add(in.label + "/to_quadratic", [i](benchmark::State& s) { ToQuadraticBench(s, *i); });
    if (in.label == "grid/128" || in.label == "grid/256" || in.label == "grid/512" ||
        in.label == "pubo/1e4x1e5") {
      const std::pair<const char*, QuadratizeMethod> methods[] = {
          {"termwise", QuadratizeMethod::kTermwise},
          {"fewest", QuadratizeMethod::kFewest},
          {"grouped", QuadratizeMethod::kGrouped}};
      for (const bool reduced : {false, true}) {
        const std::string prefix = in.label + (reduced ? "/reduced/" : "/");
        if (reduced) {
          add(prefix + "to_quadratic",
              [i](benchmark::State& s) { QuadratizeBench(s, *i, {}, true); });
        }
        for (const auto& [name, method] : methods) {
          add(prefix + "quadratize_" + name, [i, method, reduced](benchmark::State& s) {
            QuadratizeBench(s, *i, method, reduced);
          });
        }
      }
    }
    add(in.label + "/get_string", [i](benchmark::State& s) { GetStringBench(s, *i); });
    if (in.label == "grid/1024") {
      add(in.label + "/pipeline", [i](benchmark::State& s) { PipelineBench(s, *i); });
    }
    if (in.label == "grid/256") {
      benchmark::RegisterBenchmark((in.label + "/reduce_higher_threads").c_str(),
                                   [i](benchmark::State& s) { ThreadsReduceBench(s, *i); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Threads(1)
          ->Threads(2);
    }
    if (in.label.rfind("grid/", 0) == 0) {
      add(in.label + "/roof_duality", [i](benchmark::State& s) { RoofDualityBench(s, *i); });
      add(in.label + "/minimize", [i](benchmark::State& s) { MinimizeBench(s, *i, false); });
      add(in.label + "/minimize_probe", [i](benchmark::State& s) { MinimizeBench(s, *i, true); });
    }
  }
  benchmark::RegisterBenchmark("micro/add_pairwise_term_existing", AddPairwiseExistingBench);
}

}  // namespace
}  // namespace pbf::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  pbf::bench::Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
