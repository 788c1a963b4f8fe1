#include "parity_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <vector>

namespace pbf {
namespace {

// The lists for `tables.built_degree` bits, each parity ascending with its stop entry.
void ExpectLists(const ParityTables& tables) {
  const int32_t d = tables.built_degree;
  std::vector<int32_t> even, odd;
  for (int32_t x = 0; x < 1 << d; ++x)
    (std::popcount(static_cast<uint32_t>(x)) % 2 ? odd : even).push_back(x);
  even.push_back((1 << d) + 1);
  odd.push_back(1 << d);
  EXPECT_EQ(tables.even, even);
  EXPECT_EQ(tables.odd, odd);
}

TEST(ParityTables, GrowOnlyAndLeaveEverySnapshotAsItWas) {
  const std::shared_ptr<const ParityTables> three = EnsureParityTables(3);
  ExpectLists(*three);
  // Other tests may have built more; the first five entries are the lists for 3 bits either way.
  EXPECT_EQ(std::vector<int32_t>(three->even.begin(), three->even.begin() + 5),
            (std::vector<int32_t>{0, 3, 5, 6, 9}));
  EXPECT_EQ(std::vector<int32_t>(three->odd.begin(), three->odd.begin() + 5),
            (std::vector<int32_t>{1, 2, 4, 7, 8}));

  // A smaller degree changes nothing: the same tables come back.
  EXPECT_EQ(EnsureParityTables(2), three);
  EXPECT_EQ(SharedParityTables(), three);

  // A larger one publishes new tables; the snapshot held before stays whole and unchanged.
  const ParityTables before = *three;
  const std::shared_ptr<const ParityTables> more = EnsureParityTables(before.built_degree + 1);
  EXPECT_EQ(more->built_degree, before.built_degree + 1);
  ExpectLists(*more);
  EXPECT_EQ(SharedParityTables(), more);
  EXPECT_EQ(three->built_degree, before.built_degree);
  EXPECT_EQ(three->even, before.even);
  EXPECT_EQ(three->odd, before.odd);
}

}  // namespace
}  // namespace pbf
