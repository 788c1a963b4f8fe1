// Seeded workload generators shared by the benchmarks, the differential tests and (through the
// twin implementation in workloads.py) the Python benchmark script.
//
// One design, two implementations: every random number comes from splitmix64 and every item
// draws a fixed number of them, so the k-th draw of a workload is mix(seed + (k + 1) * golden) and
// the Python side can compute whole blocks of draws at once. A bounded draw is `draw % n`. The
// twin implementations are checked against each other through checksums (workload_summary).
//
// A workload is a list of edits applied in a fixed order: unary energy tables, then clique tables
// (AddHigherTerm), then single monomials (AddTerm; the Python side adds them as clique tables that
// are zero except at the all-ones entry, which creates exactly the same term).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pbf.h"

namespace pbf::bench {

// splitmix64: a counter-based generator, one 64-bit output per call.
struct SplitMix64 {
  uint64_t state = 0;

  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in 0 .. n-1 (n >= 1); the modulo bias is irrelevant here and simple to mirror.
  int32_t Below(uint64_t n) { return static_cast<int32_t>(Next() % n); }
};

struct Workload {
  std::string name;
  // Unary energy tables as triples (i, e0, e1).
  std::vector<int32_t> unary;
  // Clique tables: clique c has clique_size[c] ids and 2^size values, back to back.
  std::vector<int32_t> clique_size;
  std::vector<int32_t> clique_ids;
  std::vector<int32_t> clique_vals;
  // Monomials: monomial m has mono_degree[m] ascending, distinct ids and coefficient mono_coef[m].
  std::vector<int32_t> mono_degree;
  std::vector<int32_t> mono_ids;
  std::vector<int32_t> mono_coef;
};

// A W x W binary image: a unary data term per pixel (a noisy observation of a few overlapping
// discs) and one degree-4 clique table per 2 x 2 window with a truncated, noisy count of the
// pixels that disagree with the window's majority. Pixel (r, c) is variable r * W + c.
Workload Grid(int32_t width);
// V variables and M monomials of degree 3 to 6 with distinct ascending ids and non-zero
// coefficients in -100 ... 100.
Workload Pubo(int32_t vars, int32_t monomials);
// M cubic monomials (0, a, b), all sharing variable 0 (a < b in 1 ... M).
Workload Hub(int32_t monomials);
// One clique table over variables 0 ... n-1 with values in -100 ... 100.
Workload Clique(int32_t n);

// Applies the workload's edits to `f` in the order above.
// Adds one clique table to f; PBF::AddHigherTerm unless a test swaps in a reference version.
using CliqueAdder = void (*)(PBF& f, int32_t n, const int32_t* vars, const int32_t* vals);
void Build(const Workload& w, PBF& f, CliqueAdder add_clique = nullptr);
PBF Build(const Workload& w);

// FNV-1a over every number of the workload, in the order of the members above; and a 64-bit
// FNV-1a of a string. Both sides of the twin implementation print these.
uint64_t Checksum(const Workload& w);
uint64_t Checksum(const std::string& text);

// Heap bytes held by a function's arrays: `used` counts the elements in use, `reserved` the
// capacities (both include the vectors' own headers in their parents' arrays), `heap` the blocks
// that glibc's malloc hands out for those capacities (a word of overhead per block, 16-byte
// granules, 32 bytes at least). The parts: `tables` (ids and coefficients, reserved),
// `entries` (occurrence entries, reserved) and `lists` (the index of per-variable lists: headers
// plus the allocator's rounding and overhead of every list's block).
struct Footprint {
  size_t used = 0;
  size_t reserved = 0;
  size_t heap = 0;
  size_t tables = 0;
  size_t entries = 0;
  size_t lists = 0;
  size_t terms = 0;        // stored terms, zero coefficients included
  size_t occurrences = 0;  // occurrence entries
  size_t variables = 0;    // occurrence lists
};
Footprint Measure(const PBF& f);

}  // namespace pbf::bench
