#include "evaluate_batch.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "pbf.h"

namespace pbf {
namespace {

// The value at one labelling, term by term, in 64 bits.
int64_t Reference(const PBF& f, const uint8_t* x) {
  int64_t value = f.constant;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    for (int32_t t = 0; t < table->Size(); ++t) {
      bool on = true;
      for (int32_t k = 0; k < table->degree; ++k) on = on && x[table->Ids(t)[k]] != 0;
      if (on) value += table->coefs[static_cast<size_t>(t)];
    }
  }
  return value;
}

TEST(EvaluateBatch, MatchesTermByTermSumsWithoutWrapping) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> id(0, 40), degree(1, 7), small(-5, 5);
  for (int rep = 0; rep < 20; ++rep) {
    PBF f;
    f.constant = rep % 2 ? INT32_MIN : 3;
    for (int n = 0; n < 300; ++n) {
      int32_t ids[7];
      const int32_t d = degree(rng);
      for (int32_t k = 0; k < d; ++k) ids[k] = id(rng);  // repeats and any order
      // Extreme coefficients: sums that would wrap in 32 bits.
      f.AddTerm(n % 3 ? INT32_MAX : small(rng), d, ids);
    }
    const size_t width = static_cast<size_t>(f.MaxId()) + 1 + static_cast<size_t>(rep % 3);
    // Row counts around the block size of 64; bytes other than 1 count as 1.
    for (size_t rows : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{130}}) {
      std::vector<uint8_t> x(rows * width);
      for (auto& b : x) b = rng() % 4 == 0 ? static_cast<uint8_t>(rng() % 3 + 1) : 0;
      std::vector<int64_t> got(rows, -1);
      EvaluateBatch(f, x.data(), rows, width, got.data());
      for (size_t r = 0; r < rows; ++r) EXPECT_EQ(got[r], Reference(f, x.data() + r * width));
    }
  }
}

TEST(EvaluateBatch, EmptyFunctionIsItsConstant) {
  PBF f;
  f.constant = -7;
  std::vector<int64_t> got(3);
  EvaluateBatch(f, nullptr, 3, 0, got.data());
  EXPECT_EQ(got, (std::vector<int64_t>{-7, -7, -7}));
}

}  // namespace
}  // namespace pbf
