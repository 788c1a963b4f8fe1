// Built by doubling: the numbers of odd parity in [a, 2a) are those of even parity in [0, a) with
// the bit a added, and vice versa, so both lists follow from their own first halves without
// counting bits.
//
// Two locks: `published_lock` guards only the pointer to the current tables, so a reader never
// waits for a build; `build_lock` lets one thread at a time build larger tables (up to 4 GiB for
// degree 30), so that two threads asking for the same degree do not both build them.
#include "parity_tables.h"

#include <cstddef>
#include <mutex>

namespace pbf {
namespace {

std::mutex published_lock;
std::mutex build_lock;
std::shared_ptr<const ParityTables> published = std::make_shared<const ParityTables>();

std::shared_ptr<const ParityTables> Published() {
  const std::lock_guard<std::mutex> hold(published_lock);
  return published;
}

std::shared_ptr<const ParityTables> Build(int32_t d) {
  auto tables = std::make_shared<ParityTables>();
  const size_t n = size_t{1} << (d - 1);
  tables->even.resize(n + 1);
  tables->odd.resize(n + 1);
  std::vector<int32_t>& even = tables->even;
  std::vector<int32_t>& odd = tables->odd;
  even[0] = 0;
  odd[0] = 1;
  size_t a = 1;  // the largest power of two not above x
  for (size_t x = 1; x <= n; ++x) {
    if (x == 2 * a) a = x;
    odd[x] = even[x - a] + static_cast<int32_t>(2 * a);
    even[x] = odd[x - a] + static_cast<int32_t>(2 * a);
  }
  tables->built_degree = d;
  return tables;
}

}  // namespace

std::shared_ptr<const ParityTables> SharedParityTables() { return Published(); }

std::shared_ptr<const ParityTables> EnsureParityTables(int32_t d) {
  std::shared_ptr<const ParityTables> tables = Published();
  if (tables->built_degree >= d) return tables;
  const std::lock_guard<std::mutex> building(build_lock);
  tables = Published();  // another thread may have built them meanwhile
  if (tables->built_degree >= d) return tables;
  tables = Build(d);
  const std::lock_guard<std::mutex> hold(published_lock);
  published = tables;
  return tables;
}

}  // namespace pbf
