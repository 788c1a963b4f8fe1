// Prints one line per small workload: its name, the checksum of its numbers and the checksum of
// the text of the function it builds. test_workloads.py compares these with the Python twin of
// the generators (and, when the module is at hand, with the function built through it), which
// proves that both sides benchmark the same instances.
#include <cinttypes>
#include <cstdio>

#include "workloads.h"

int main() {
  using namespace pbf::bench;
  const Workload workloads[] = {
      Grid(1), Grid(2), Grid(5),   Grid(16),  Pubo(10, 50), Pubo(200, 1000),
      Hub(2),  Hub(5),  Hub(1000), Clique(0), Clique(3),    Clique(10),
  };
  for (const Workload& w : workloads) {
    std::printf("%s %016" PRIx64 " %016" PRIx64 "\n", w.name.c_str(), Checksum(w),
                Checksum(Build(w).GetString()));
  }
  return 0;
}
