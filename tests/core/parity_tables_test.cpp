#include "parity_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

namespace pbf {
namespace {

TEST(ParityTables, ListEachParityAscendingWithStopEntries) {
  const ParityTables& tables = SharedParityTables();
  const auto expect_lists = [&] {
    const int32_t d = tables.built_degree;
    std::vector<int32_t> even, odd;
    for (int32_t x = 0; x < 1 << d; ++x)
      (std::popcount(static_cast<uint32_t>(x)) % 2 ? odd : even).push_back(x);
    even.push_back((1 << d) + 1);
    odd.push_back(1 << d);
    EXPECT_EQ(tables.even, even);
    EXPECT_EQ(tables.odd, odd);
  };
  EnsureParityTables(3);
  expect_lists();
  // Other tests may have built more; the first five entries are the lists for 3 bits either way.
  EXPECT_EQ(std::vector<int32_t>(tables.even.begin(), tables.even.begin() + 5),
            (std::vector<int32_t>{0, 3, 5, 6, 9}));
  EXPECT_EQ(std::vector<int32_t>(tables.odd.begin(), tables.odd.begin() + 5),
            (std::vector<int32_t>{1, 2, 4, 7, 8}));

  const ParityTables before = tables;
  EnsureParityTables(2);
  EXPECT_EQ(tables.built_degree, before.built_degree);
  EXPECT_EQ(tables.even, before.even);

  EnsureParityTables(before.built_degree + 1);
  EXPECT_EQ(tables.built_degree, before.built_degree + 1);
  expect_lists();
}

}  // namespace
}  // namespace pbf
