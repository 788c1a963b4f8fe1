#include "dominance_proof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
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

// T's variables as bits of its neighbourhood: ids[k]'s bit among the local variables.
std::vector<uint32_t> BitsOf(const LocalFunction& local, TermRef t) {
  std::vector<uint32_t> bits;
  for (int32_t k = 0; k < t.degree; ++k) {
    const int32_t* at = std::find(local.vars.data(), local.vars.data() + local.count, t.ids[k]);
    bits.push_back(1u << (local.count - 1 - static_cast<int32_t>(at - local.vars.data())));
  }
  return bits;
}

// Every coefficient and the constant times `factor`.
void Scale(PBF& f, int32_t factor) {
  f.constant = WrapMul(f.constant, factor);
  for (auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t& c : table->coefs) c = WrapMul(c, factor);
  }
}

// Whenever the cheap proof (on the neighbourhood as BuildNeighbourhood lays it out) says that no
// configuration can pass, the literal search finds none.
// Random neighbourhoods around a term of degree 3 to 6, with small coefficients (ties are common)
// or scaled so that |constant| + sum |coef| + amount lands near 2^31: just below, where the proof
// may run, and just above, where SumsCannotWrap must refuse it.
TEST(DominanceProof, WhenItProvesNothingCanPassTheLiteralSearchFindsNothing) {
  std::mt19937 rng(31);
  int proven = 0;
  int refused = 0;
  for (int rep = 0; rep < 3000; ++rep) {
    const int32_t vars = 7 + rep % 9;
    PBF f = testing::RandomFunction(rng, vars, 4 + rep % 30, 3, rep % 2 ? 20 : 3);
    const int32_t d = 3 + rep % 4;
    const std::vector<int32_t> ids = testing::RandomAscendingIds(rng, vars, d);
    f.AddTerm(static_cast<int32_t>(rng() % 41) - 20, d, ids.data());

    const int32_t target = f.terms.FindTerm(d, ids.data());
    LocalFunction local;
    // The sum the proof depends on: |constant| + sum |coef| + amount over the neighbourhood.
    const auto sum_of = [&] {
      const int32_t amount = WrapAbs(f.terms.Table(d).Coef(target));
      int64_t sum = std::abs(int64_t{local.constant}) + amount;
      for (const LocalEntry& e : local.entries) sum += std::abs(int64_t{e.coef});
      return sum;
    };
    if (!f.BuildNeighbourhood(local, {d, f.terms.Table(d).Ids(target)})) continue;
    if (rep % 3 > 0) {  // else small coefficients, where ties are common
      const int64_t near = int64_t{INT_MAX} + static_cast<int64_t>(rng() % 2001) - 1000;
      Scale(f, static_cast<int32_t>(std::max<int64_t>(1, near / sum_of())));
    }

    const TermRef term{d, f.terms.Table(d).Ids(target)};
    ASSERT_TRUE(f.BuildNeighbourhood(local, term));
    const int32_t c = f.terms.Table(d).Coef(target);
    const bool odd = CancelsWithOddParity(d, c);
    const int32_t amount = WrapAbs(c);
    ASSERT_EQ(SumsCannotWrap(local, amount), amount >= 0 && sum_of() <= INT_MAX) << rep;
    if (!SumsCannotWrap(local, amount)) {
      ++refused;
      continue;
    }
    ConfigurationSums sums;
    sums.Build(local, BitsOf(local, term).data(), d);
    ProofBounds bounds;
    if (!NoneCanPass(local, sums, odd, amount, bounds)) continue;
    ++proven;
    // The literal search lays the neighbourhood out its own way: ascending local variables.
    LocalFunction literal_local;
    ASSERT_TRUE(literal::BuildNeighbourhood(f, literal_local, term));
    int32_t literal_amount = amount;
    EXPECT_EQ(literal::FindDominatedConfiguration(literal_local, term, odd, literal_amount), -1)
        << "rep " << rep << ": " << f.GetString();
  }
  // Both sides of the limit are met, and the proof succeeds often enough to be tested.
  EXPECT_GT(refused, 100);
  EXPECT_GT(proven, 100);
}

}  // namespace
}  // namespace pbf
