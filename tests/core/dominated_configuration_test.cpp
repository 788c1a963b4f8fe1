#include "dominated_configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "literal_reduce.h"
#include "local_function.h"
#include "parity_tables.h"
#include "pbf.h"
#include "test_util.h"
#include "wrap.h"

namespace pbf {
namespace {

// One search at a time against the literal search on the literal neighbourhood: the same
// configuration and the same amount, for both parities. Random neighbourhoods of terms of degree
// 3 to 7 with small coefficients (ties, and searches that the proof settles), large ones, ones
// whose sums land near 2^31 (the proof must stand back) and ones at the int32 limits (sums wrap
// inside the enumeration and the cheap bounds).
TEST(FindDominatedConfiguration, MatchesTheLiteralSearchTermByTerm) {
  std::mt19937 rng(59);
  SearchScratch scratch;  // reused, as a reduction reuses it
  int found = 0;
  int searched = 0;
  for (int rep = 0; rep < 1500; ++rep) {
    const int32_t vars = 7 + rep % 14;
    const int32_t range = std::vector<int32_t>{3, 40, 1 << 20, INT_MAX}[rep % 4];
    PBF f = testing::RandomFunction(rng, vars, 6 + rep % 30, 3, range);
    const int32_t d = 3 + rep % 5;
    const std::vector<int32_t> ids = testing::RandomAscendingIds(rng, vars, d);
    f.AddTerm(static_cast<int32_t>(rng() % 41) - 20, d, ids.data());
    if (rep % 7 == 0) f.AddTerm(INT_MIN, d, ids.data());

    const int32_t t = f.terms.FindTerm(d, ids.data());
    const TermRef term{d, f.terms.Table(d).Ids(t)};
    LocalFunction local;
    LocalFunction literal_local;
    const bool admitted = f.BuildNeighbourhood(local, term);
    ASSERT_EQ(admitted, literal::BuildNeighbourhood(f, literal_local, term));
    if (!admitted) continue;
    const std::shared_ptr<const ParityTables> parity = EnsureParityTables(d);
    const int32_t c = f.terms.Table(d).Coef(t);
    for (const bool odd : {false, true}) {
      int32_t amount = WrapAbs(c);
      int32_t literal_amount = amount;
      const int32_t s = FindDominatedConfiguration(local, term, odd, amount, *parity, scratch);
      ASSERT_EQ(s, literal::FindDominatedConfiguration(literal_local, term, odd, literal_amount))
          << "rep " << rep << (odd ? " odd: " : " even: ") << f.GetString();
      ASSERT_EQ(amount, literal_amount) << "rep " << rep;
      ++searched;
      found += s >= 0 ? 1 : 0;
    }
  }
  // Both outcomes are common.
  EXPECT_GT(found, 300);
  EXPECT_GT(searched - found, 300);
}

}  // namespace
}  // namespace pbf
