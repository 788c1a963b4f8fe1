#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <utility>
#include <vector>

#include "pbf.h"
#include "test_util.h"

namespace pbf {
namespace {

using testing::ExpectInvariants;

using Ids = std::vector<int32_t>;
using Coefs = std::vector<int32_t>;

PBF OneTerm(int32_t coef, const Ids& ids) {
  PBF f;
  f.AddTerm(coef, static_cast<int32_t>(ids.size()), ids.data());
  return f;
}

// Converts the only term of `source` into an empty target through ConvertTerm.
PBF ConvertOnly(const PBF& source, int32_t& next_id) {
  PBF target;
  target.ConvertTerm(TermCursor::Begin(source.terms), next_id);
  return target;
}

std::vector<Occurrence> List(const PBF& f, int32_t v) {
  return f.terms.occurrences[static_cast<size_t>(v)];
}

// The tables of degree 3 and above, which conversion never touches in its target.
std::vector<std::pair<Ids, Coefs>> HigherTables(const PBF& f) {
  std::vector<std::pair<Ids, Coefs>> out;
  for (size_t d = 3; d < f.terms.tables.size(); ++d) {
    if (f.terms.tables[d]) out.emplace_back(f.terms.tables[d]->vars, f.terms.tables[d]->coefs);
  }
  return out;
}

// The terms each rule writes, in order, and the auxiliaries' numbering in walk order from the
// first free id are Differential.EditsAndConversionsMatchTheLiteralStore's, against the literal
// rules. Not in the text: each auxiliary's occurrence list holds its pairs first, then its unary
// term, exactly once each.
TEST(ToQuadratic, ListsEachAuxiliarysPairsBeforeItsUnaryTerm) {
  int32_t next_id = 9;
  const PBF target = ConvertOnly(OneTerm(2, {0, 1, 2, 3, 4}), next_id);
  EXPECT_EQ(next_id, 11);
  EXPECT_EQ(List(target, 9),
            (std::vector<Occurrence>{{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {1, 0}}));
  EXPECT_EQ(List(target, 10),
            (std::vector<Occurrence>{{2, 5}, {2, 6}, {2, 7}, {2, 8}, {2, 9}, {1, 1}}));
  ExpectInvariants(target);
}

TEST(ToQuadratic, SourcesWithoutTermsOnlyAddTheConstant) {
  PBF empty;
  empty.constant = -3;
  PBF target;
  target.AddPairwise(4, 0, 1);
  EXPECT_EQ(empty.ToQuadratic(target, 6), 6);
  EXPECT_EQ(empty.ToQuadratic(target, -5), 0);
  EXPECT_EQ(target.GetString(), " +4x_{1}x_{2} -6");

  // A term with coefficient 0 is still a term: it counts for the largest id and is copied.
  PBF zero;
  zero.AddUnary(0, 7);
  PBF copy;
  EXPECT_EQ(zero.ToQuadratic(copy, -1), 8);
  EXPECT_EQ(copy.GetString(), " 0x_{8} +0");
}

TEST(ToQuadratic, MergesIntoTheTargetAndKeepsItsTerms) {
  PBF source;
  source.AddTerm(1, 3, Ids{0, 1, 2}.data());
  source.AddTerm(1, 3, Ids{0, 1, 3}.data());  // shares the pair (0, 1) with the first
  source.AddPairwise(5, 1, 0);
  source.constant = 2;

  PBF target;
  target.constant = 10;
  target.AddPairwise(100, 0, 2);
  target.AddPairwise(100, 2, 0);
  target.AddUnary(100, 4);  // the first auxiliary id: coinciding is allowed
  target.AddTerm(9, 3, Ids{0, 1, 2}.data());
  EXPECT_EQ(source.ToQuadratic(target, 0), 6);

  // Pairs: (0, 2) and (2, 0) stay two terms; (0, 1) collects both cubic terms; (1, 0) is separate.
  EXPECT_EQ(target.GetString(),
            " +101x_{5} +1x_{6}"
            " +101x_{1}x_{3} +100x_{3}x_{1} -1x_{1}x_{5} -1x_{2}x_{5} -1x_{3}x_{5} +2x_{1}x_{2}"
            " +1x_{2}x_{3} -1x_{1}x_{6} -1x_{2}x_{6} -1x_{4}x_{6} +1x_{1}x_{4} +1x_{2}x_{4}"
            " +5x_{2}x_{1}"
            " +9x_{1}x_{2}x_{3} +12");
  ExpectInvariants(target);
}

TEST(ToQuadratic, ConvertingIntoItselfUsesTheFunctionAsItWasBefore) {
  std::mt19937 rng(5);
  PBF f = testing::RandomFunction(rng, 9, 200, 6, 4);  // enough terms to make the tables move
  PBF expected = f;
  const PBF before = f;
  const int32_t next_id = before.ToQuadratic(expected, 3);

  EXPECT_EQ(f.ToQuadratic(f, 3), next_id);
  EXPECT_EQ(f.GetString(), expected.GetString());
  EXPECT_EQ(HigherTables(f), HigherTables(before));
  ExpectInvariants(f);
}

TEST(ToQuadratic, TermsWhoseAuxiliariesPassTheLargestIdAreCopiedUnchanged) {
  // Degree 5 with a >= 0 needs two ids, but only 2^31 - 1 is left.
  const PBF source = OneTerm(2, {0, 1, 2, 3, 4});
  PBF target;
  EXPECT_EQ(source.ToQuadratic(target, INT32_MAX), INT32_MAX);
  EXPECT_EQ(target.GetString(), " +2x_{1}x_{2}x_{3}x_{4}x_{5} +0");

  // Once 2^31 - 1 is used the counter reads INT32_MIN: no id is left for any term.
  int32_t next_id = INT32_MIN;
  const PBF cubic = ConvertOnly(OneTerm(-1, {3, 4, 5}), next_id);
  EXPECT_EQ(next_id, INT32_MIN);
  EXPECT_EQ(cubic.GetString(), " -1x_{4}x_{5}x_{6} +0");
  ExpectInvariants(cubic);
}

}  // namespace
}  // namespace pbf
