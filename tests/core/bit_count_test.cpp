#include "bit_count.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

namespace pbf {
namespace {

TEST(CountBits, AgreesWithStdPopcount) {
  for (const uint32_t x : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0xAAAAAAAAu, 0x0F0F0F0Fu})
    EXPECT_EQ(CountBits(x), std::popcount(x)) << x;
  std::mt19937 rng(5);
  for (int rep = 0; rep < 100000; ++rep) {
    // Sparse and dense masks as well as uniform ones.
    uint32_t x = static_cast<uint32_t>(rng());
    if (rep % 3 == 1) x &= static_cast<uint32_t>(rng());
    if (rep % 3 == 2) x |= static_cast<uint32_t>(rng());
    ASSERT_EQ(CountBits(x), std::popcount(x)) << x;
  }
}

}  // namespace
}  // namespace pbf
