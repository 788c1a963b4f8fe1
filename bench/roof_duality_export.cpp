// Builds a workload, reduces and converts it as Minimize does, solves its roof dual (best of
// three, timed here) and writes the quadratic function for a solver from outside, so that both
// are measured on the very same function (roof_duality_vs_thinqpbo.py reads it).
//
//   roof_duality_export WORKLOAD FILE      WORKLOAD: gridW, hubM or puboVxM (as in workloads.h)
// prints one line "name vars own pairs constant seconds fixed fixed_own lower_bound" (own: the
// workload's ids, before the auxiliaries) and writes FILE as little-endian int64 n, own, constant,
// unary[n], pairs, then int32 i[pairs], int32 j[pairs], int64 a[pairs]: every unordered pair once
// (i < j), coefficients merged, zeros dropped; (i, i) terms are in unary.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "roof_duality.h"
#include "workloads.h"

namespace {

template <typename T>
void Write(std::FILE* out, const std::vector<T>& values) {
  std::fwrite(values.data(), sizeof(T), values.size(), out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s gridW|hubM|puboVxM FILE\n", argv[0]);
    return 2;
  }
  const std::string name = argv[1];
  pbf::bench::Workload w;
  if (name.rfind("grid", 0) == 0) {
    w = pbf::bench::Grid(std::atoi(name.c_str() + 4));
  } else if (name.rfind("hub", 0) == 0) {
    w = pbf::bench::Hub(std::atoi(name.c_str() + 3));
  } else if (name.rfind("pubo", 0) == 0 && name.find('x') != std::string::npos) {
    w = pbf::bench::Pubo(std::atoi(name.c_str() + 4), std::atoi(name.c_str() + name.find('x') + 1));
  } else {
    std::fprintf(stderr, "unknown workload %s\n", argv[1]);
    return 2;
  }
  pbf::PBF f = pbf::bench::Build(w);
  const int64_t own = f.MaxId() + 1;
  f.ReduceHigher();
  pbf::PBF q;
  f.ToQuadratic(q, static_cast<int32_t>(own));

  double best = 1e300;
  pbf::RoofDual rd;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    rd = pbf::RoofDuality(q);
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const int64_t n = q.MaxId() + 1;
  int64_t fixed = 0;
  int64_t fixed_own = 0;
  for (int64_t v = 0; v < n; ++v) {
    fixed += rd.labels[static_cast<size_t>(v)] >= 0;
    fixed_own += v < own && rd.labels[static_cast<size_t>(v)] >= 0;
  }

  std::vector<int64_t> unary(static_cast<size_t>(n), 0);
  const pbf::TermTable& u = q.terms.Table(1);
  for (int32_t t = 0; t < u.Size(); ++t)
    unary[static_cast<size_t>(u.Ids(t)[0])] += u.coefs[static_cast<size_t>(t)];
  std::vector<std::pair<std::pair<int32_t, int32_t>, int64_t>> pairs;
  const pbf::TermTable& p = q.terms.Table(2);
  for (int32_t t = 0; t < p.Size(); ++t) {
    const int32_t i = p.Ids(t)[0], j = p.Ids(t)[1];
    const int64_t a = p.coefs[static_cast<size_t>(t)];
    if (i == j) {
      unary[static_cast<size_t>(i)] += a;
    } else {
      pairs.push_back({{std::min(i, j), std::max(i, j)}, a});
    }
  }
  std::sort(pairs.begin(), pairs.end());
  std::vector<int32_t> pi, pj;
  std::vector<int64_t> pa;
  for (size_t k = 0; k < pairs.size(); ++k) {
    if (!pi.empty() && pi.back() == pairs[k].first.first && pj.back() == pairs[k].first.second) {
      pa.back() += pairs[k].second;
    } else {
      pi.push_back(pairs[k].first.first);
      pj.push_back(pairs[k].first.second);
      pa.push_back(pairs[k].second);
    }
  }
  std::vector<int32_t> ki, kj;
  std::vector<int64_t> ka;
  for (size_t k = 0; k < pa.size(); ++k) {
    if (pa[k] == 0) continue;
    ki.push_back(pi[k]);
    kj.push_back(pj[k]);
    ka.push_back(pa[k]);
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const std::vector<int64_t> header = {n, own, q.constant};
  Write(out, header);
  Write(out, unary);
  Write(out, std::vector<int64_t>{static_cast<int64_t>(ka.size())});
  Write(out, ki);
  Write(out, kj);
  Write(out, ka);
  std::fclose(out);
  std::printf("%s %" PRId64 " %" PRId64 " %zu %d %.6f %" PRId64 " %" PRId64 " %" PRId64 "\n",
              name.c_str(), n, own, ka.size(), q.constant, best, fixed, fixed_own, rd.lower_bound);
  return 0;
}
