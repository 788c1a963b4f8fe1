// Writes the quadratic form of a grid workload as text, for measuring outside the core what a
// roof-duality solver makes of each quadratization (bench/fixed_share.py).
//
//   quadratize_dump WIDTH DATA METHOD [reduced]
// DATA scales the data term: a pixel's unary table is DATA where the observation disagrees, plus
// the workload's noise 0-3 (the workload as built has DATA = 10). METHOD is termwise, fewest or
// grouped; `reduced` applies ReduceHigher first. Output: a line "pixels N", a line "constant C",
// then "u id coef" and "p id id coef" lines.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "quadratize.h"
#include "workloads.h"

int main(int argc, char** argv) {
  using namespace pbf;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WIDTH DATA termwise|fewest|grouped [reduced]\n", argv[0]);
    return 2;
  }
  const int32_t width = std::atoi(argv[1]);
  const int32_t data = std::atoi(argv[2]);
  const QuadratizeMethod method = std::strcmp(argv[3], "fewest") == 0 ? QuadratizeMethod::kFewest
                                  : std::strcmp(argv[3], "grouped") == 0
                                      ? QuadratizeMethod::kGrouped
                                      : QuadratizeMethod::kTermwise;
  bench::Workload w = bench::Grid(width);
  for (size_t k = 0; k + 2 < w.unary.size(); k += 3) {
    for (size_t e = k + 1; e <= k + 2; ++e)
      w.unary[e] = (w.unary[e] >= 10 ? data : 0) + w.unary[e] % 10;
  }
  PBF f = bench::Build(w);
  if (argc > 4 && std::strcmp(argv[4], "reduced") == 0) f.ReduceHigher();
  PBF q;
  if (const std::optional<TermPosition> failed = Quadratize(f, method, 0, q)) {
    std::fprintf(stderr, "term %d/%d does not fit\n", failed->degree, failed->index);
    return 1;
  }
  std::printf("pixels %d\nconstant %d\n", width * width, q.constant);
  const TermTable& unary = q.terms.Table(1);
  for (int32_t t = 0; t < unary.Size(); ++t)
    std::printf("u %d %d\n", unary.Ids(t)[0], unary.coefs[static_cast<size_t>(t)]);
  const TermTable& pairs = q.terms.Table(2);
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    std::printf("p %d %d %d\n", pairs.Ids(t)[0], pairs.Ids(t)[1],
                pairs.coefs[static_cast<size_t>(t)]);
  }
  return 0;
}
