// The generators of workloads.h. Every item draws a fixed number of values, in the order written
// next to each generator, so that workloads.py can reproduce them draw for draw.
#include "workloads.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pbf::bench {
namespace {

constexpr uint64_t kGridSeed = 0x4752494400000000ull;
constexpr uint64_t kPuboSeed = 0x5055424F00000000ull;
constexpr uint64_t kHubSeed = 0x4855420000000000ull;
constexpr uint64_t kCliqueSeed = 0x434C495100000000ull;

// A non-zero coefficient in -100 ... 100 from one draw.
int32_t NonZeroCoef(SplitMix64& rng) {
  const int32_t c = rng.Below(200);
  return c < 100 ? c - 100 : c - 99;
}

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

void HashBytes(uint64_t& h, const unsigned char* bytes, size_t n) {
  for (size_t k = 0; k < n; ++k) h = (h ^ bytes[k]) * kFnvPrime;
}

// The length, then each value as four little-endian bytes.
void HashValues(uint64_t& h, const std::vector<int32_t>& values) {
  const auto length = static_cast<uint32_t>(values.size());
  const unsigned char size_bytes[4] = {
      static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
      static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
  HashBytes(h, size_bytes, 4);
  for (int32_t v : values) {
    const auto u = static_cast<uint32_t>(v);
    const unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                static_cast<unsigned char>(u >> 16),
                                static_cast<unsigned char>(u >> 24)};
    HashBytes(h, b, 4);
  }
}

template <typename T>
size_t Reserved(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

template <typename T>
size_t Used(const std::vector<T>& v) {
  return v.size() * sizeof(T);
}

// The size of the heap block that glibc's malloc uses for n bytes; none for n = 0.
size_t Block(size_t n) { return n == 0 ? 0 : std::max<size_t>(32, (n + 8 + 15) & ~size_t{15}); }

}  // namespace

// Draws: 8 discs x (centre column, centre row, radius); then per pixel, row-major, (flip, noise of
// E0, noise of E1); then per window, row-major, one noise draw per clique value.
Workload Grid(int32_t width) {
  SplitMix64 rng{kGridSeed + static_cast<uint64_t>(width)};
  Workload w;
  w.name = "grid" + std::to_string(width);
  struct Disc {
    int64_t cx, cy, r;
  };
  Disc discs[8];
  for (Disc& disc : discs) {
    disc.cx = rng.Below(static_cast<uint64_t>(width));
    disc.cy = rng.Below(static_cast<uint64_t>(width));
    disc.r = width / 16 + rng.Below(static_cast<uint64_t>(width / 4 + 1));
  }
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(width);
  w.unary.reserve(3 * pixels);
  for (int32_t r = 0; r < width; ++r) {
    for (int32_t c = 0; c < width; ++c) {
      int32_t truth = 0;
      for (const Disc& disc : discs) {
        const int64_t dr = r - disc.cy;
        const int64_t dc = c - disc.cx;
        truth ^= dr * dr + dc * dc <= disc.r * disc.r ? 1 : 0;
      }
      const int32_t observed = truth ^ (rng.Below(100) < 15 ? 1 : 0);
      const int32_t e0 = (observed == 1 ? 10 : 0) + rng.Below(4);
      const int32_t e1 = (observed == 0 ? 10 : 0) + rng.Below(4);
      w.unary.insert(w.unary.end(), {r * width + c, e0, e1});
    }
  }
  // Truncated disagreement: 0, 6 or 9 for 0, 1 or 2 pixels against the window's majority.
  int32_t pattern[16];
  for (int32_t s = 0; s < 16; ++s) {
    const int32_t ones = std::popcount(static_cast<uint32_t>(s));
    pattern[s] = std::min(6 * std::min(ones, 4 - ones), 9);
  }
  const size_t windows =
      width > 1 ? static_cast<size_t>(width - 1) * static_cast<size_t>(width - 1) : 0;
  w.clique_size.assign(windows, 4);
  w.clique_ids.reserve(4 * windows);
  w.clique_vals.reserve(16 * windows);
  for (int32_t r = 0; r + 1 < width; ++r) {
    for (int32_t c = 0; c + 1 < width; ++c) {
      const int32_t top = r * width + c;
      w.clique_ids.insert(w.clique_ids.end(), {top, top + 1, top + width, top + width + 1});
      for (int32_t s = 0; s < 16; ++s) w.clique_vals.push_back(pattern[s] + rng.Below(3));
    }
  }
  return w;
}

// Draws per monomial: 8. Draw 0 gives the degree d in 3 ... 6, draws 1 ... d pick the ids by
// Floyd's sampling (the others are unused), draw 7 the coefficient.
Workload Pubo(int32_t vars, int32_t monomials) {
  SplitMix64 rng{kPuboSeed + static_cast<uint64_t>(vars) * 1000003ull +
                 static_cast<uint64_t>(monomials)};
  Workload w;
  w.name = "pubo" + std::to_string(vars) + "x" + std::to_string(monomials);
  w.mono_degree.reserve(static_cast<size_t>(monomials));
  w.mono_coef.reserve(static_cast<size_t>(monomials));
  w.mono_ids.reserve(static_cast<size_t>(monomials) * 5);
  for (int32_t m = 0; m < monomials; ++m) {
    uint64_t draw[8];
    for (uint64_t& x : draw) x = rng.Next();
    const int32_t d = 3 + static_cast<int32_t>(draw[0] % 4);
    int32_t ids[6];
    for (int32_t q = 0; q < d; ++q) {
      const int32_t j = vars - d + q;
      const auto t = static_cast<int32_t>(draw[1 + q] % static_cast<uint64_t>(j + 1));
      ids[q] = std::find(ids, ids + q, t) != ids + q ? j : t;
    }
    // Insertion sort: at most six ids.
    for (int32_t q = 1; q < d; ++q) {
      for (int32_t k = q; k > 0 && ids[k - 1] > ids[k]; --k) std::swap(ids[k - 1], ids[k]);
    }
    w.mono_degree.push_back(d);
    w.mono_ids.insert(w.mono_ids.end(), ids, ids + d);
    const auto c = static_cast<int32_t>(draw[7] % 200);
    w.mono_coef.push_back(c < 100 ? c - 100 : c - 99);
  }
  return w;
}

// Draws per monomial: 3 (a, b, coefficient).
Workload Hub(int32_t monomials) {
  SplitMix64 rng{kHubSeed + static_cast<uint64_t>(monomials)};
  Workload w;
  w.name = "hub" + std::to_string(monomials);
  const auto m = static_cast<uint64_t>(monomials);
  w.mono_degree.assign(static_cast<size_t>(monomials), 3);
  w.mono_ids.reserve(3 * static_cast<size_t>(monomials));
  w.mono_coef.reserve(static_cast<size_t>(monomials));
  for (int32_t k = 0; k < monomials; ++k) {
    const int32_t a = 1 + rng.Below(m);
    int32_t b = 1 + rng.Below(m - 1);
    if (b >= a) ++b;
    w.mono_ids.insert(w.mono_ids.end(), {0, std::min(a, b), std::max(a, b)});
    w.mono_coef.push_back(NonZeroCoef(rng));
  }
  return w;
}

// Draws: one per value.
Workload Clique(int32_t n) {
  SplitMix64 rng{kCliqueSeed + static_cast<uint64_t>(n)};
  Workload w;
  w.name = "clique" + std::to_string(n);
  w.clique_size.push_back(n);
  for (int32_t p = 0; p < n; ++p) w.clique_ids.push_back(p);
  const size_t size = size_t{1} << n;
  w.clique_vals.reserve(size);
  for (size_t s = 0; s < size; ++s) w.clique_vals.push_back(rng.Below(201) - 100);
  return w;
}

void Build(const Workload& w, PBF& f, CliqueAdder add_clique) {
  for (size_t k = 0; k + 2 < w.unary.size(); k += 3) {
    f.AddUnaryTerm(w.unary[k], w.unary[k + 1], w.unary[k + 2]);
  }
  size_t ids = 0;
  size_t vals = 0;
  for (const int32_t n : w.clique_size) {
    if (add_clique) {
      add_clique(f, n, w.clique_ids.data() + ids, w.clique_vals.data() + vals);
    } else {
      f.AddHigherTerm(n, w.clique_ids.data() + ids, w.clique_vals.data() + vals);
    }
    ids += static_cast<size_t>(n);
    vals += size_t{1} << n;
  }
  ids = 0;
  for (size_t m = 0; m < w.mono_degree.size(); ++m) {
    f.AddTerm(w.mono_coef[m], w.mono_degree[m], w.mono_ids.data() + ids);
    ids += static_cast<size_t>(w.mono_degree[m]);
  }
}

PBF Build(const Workload& w) {
  PBF f;
  Build(w, f);
  return f;
}

uint64_t Checksum(const Workload& w) {
  uint64_t h = kFnvOffset;
  for (const auto* values : {&w.unary, &w.clique_size, &w.clique_ids, &w.clique_vals,
                             &w.mono_degree, &w.mono_ids, &w.mono_coef}) {
    HashValues(h, *values);
  }
  return h;
}

uint64_t Checksum(const std::string& text) {
  uint64_t h = kFnvOffset;
  HashBytes(h, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return h;
}

Footprint Measure(const PBF& f) {
  Footprint fp;
  const TermStore& s = f.terms;
  fp.used += Used(s.tables) + Used(s.occurrences);
  fp.reserved += Reserved(s.tables) + Reserved(s.occurrences);
  fp.heap += Block(Reserved(s.tables)) + Block(Reserved(s.occurrences));
  fp.lists += Block(Reserved(s.occurrences));
  for (const auto& table : s.tables) {
    if (!table) continue;
    fp.used += Used(table->vars) + Used(table->coefs);
    fp.reserved += Reserved(table->vars) + Reserved(table->coefs);
    fp.heap += Block(Reserved(table->vars)) + Block(Reserved(table->coefs));
    fp.tables += Reserved(table->vars) + Reserved(table->coefs);
    fp.terms += table->coefs.size();
  }
  for (const OccurrenceList& list : s.occurrences) {
    fp.used += Used(list);
    fp.reserved += Reserved(list);
    fp.heap += Block(Reserved(list));
    fp.entries += Reserved(list);
    fp.lists += Block(Reserved(list)) - Reserved(list);
    fp.occurrences += list.size();
  }
  fp.variables = s.occurrences.size();
  return fp;
}

}  // namespace pbf::bench
