#include "value_table.h"

#include <algorithm>
#include <cstddef>

#include "subset_transform.h"
#include "wrap.h"

namespace pbf {

int32_t* ValueTable::Zeroed(int32_t bits) {
  const size_t n = size_t{1} << bits;
  if (values_.size() < n) values_.resize(n);
  std::fill_n(values_.data(), n, 0);
  return values_.data();
}

void ValueTable::SumSubsetsAndWiden(int32_t bits, LocalFunction::Extremes& extremes) {
  int32_t* v = values_.data();
  CombineOverSubmasks(v, bits, [](int32_t high, int32_t low) { return WrapAdd(high, low); });
  const size_t n = size_t{1} << bits;
  for (size_t y = 0; y < n; ++y) {
    extremes.largest = std::max(extremes.largest, v[y]);
    extremes.smallest = std::min(extremes.smallest, v[y]);
  }
}

}  // namespace pbf
