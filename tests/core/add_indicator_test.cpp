#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::Evaluate;
using testing::ExpectInvariants;
using testing::FunctionOf;

TEST(AddIndicator, AddsAmountAtItsConfigurationOnly) {
  const std::vector<int32_t> ids = {2, 5, 6, 9};
  for (int32_t s = 0; s < 16; ++s) {
    // A fresh table is full: making room in it during the rewrite would move T's ids away from
    // under the TermRef (AddressSanitizer catches that).
    PBF f = FunctionOf({{3, ids}, {1, {5, 9}}});
    PBF g = f;
    g.AddIndicator({4, g.terms.Table(4).Ids(0)}, s, -7);
    ExpectInvariants(g);
    EXPECT_EQ(g.terms.Table(4).Size(), 1);
    for (uint64_t x = 0; x < 1024; ++x) {
      int32_t configuration = 0;
      for (int32_t id : ids)
        configuration = 2 * configuration + static_cast<int32_t>((x >> id) & 1);
      EXPECT_EQ(Evaluate(g, x) - Evaluate(f, x), configuration == s ? -7 : 0) << s << " " << x;
    }
  }
  PBF f = FunctionOf({{3, ids}});
  f.AddIndicator({4, f.terms.Table(4).Ids(0)}, 5, 0);
  EXPECT_EQ(f.GetString(), " +3x_{3}x_{6}x_{7}x_{10} +0");
}

}  // namespace
}  // namespace pbf
