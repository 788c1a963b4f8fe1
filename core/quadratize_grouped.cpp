// The grouped quadratization (Fix, Gruber, Boros and Zabih): positive terms that share a variable
// c share an auxiliary y, through
//   Σ_H a(H)·∏_H x = min over y of (Σ_H a(H))·y·x(c) + Σ_H a(H)·(1 - y)·∏_{H - c} x,
// which for a group of positive a(H) holds at every x (where x(c) = 0 both sides are 0 with
// y = 1; where x(c) = 1, y = 0 gives the left side and y = 1 the sum of the a(H), never less).
// Of what it leaves, -a(H)·y·∏_{H - c} x is negative (one auxiliary, submodular) and
// a(H)·∏_{H - c} x is positive of one degree less: it merges into the monomial already there and
// the next degree is rewritten the same way, until degree 2. Negative monomials get the negative
// rule. Degrees are done from the highest down, monomials in order of creation.
//
// The choice of c decides how much stays submodular, never exactness. Each group leaves one
// positive pair, (Σ a(H))·y·x(c), that nothing can absorb; the positive remainder
// a(H)·∏_{H - c} x, however, lands on the monomial (from degree 3: the pair) over H - c, and on
// image energies that one usually has a negative coefficient already: a 2×2 window's cubic and
// pairwise terms are negative where its quartic one is positive. So c is the variable whose
// remainder meets the most negative coefficient, where the remainder is absorbed (stays <= 0,
// adding no non-submodular pair, and at degree >= 4 needing no group of its own) or shrinks most.
// Ties, common where nothing is there to absorb, go to the variable that already has a group at
// this degree, then to the one in most positive monomials of this degree, so that auxiliaries
// are shared; then to the smallest id. Measured with a QPBO solver on the benchmark's 128×128
// grid with a data term of 12 (bench/RESULTS.md): this fixes 44 % of the pixels at 5.8
// auxiliaries per window; putting sharing first fixes 5 % (at 5.4), and ranking only whether the
// remainder is absorbed, then sharing, 11 % (at 5.4).
//
// Cost: per positive monomial of degree d, d lookups of its sub-monomials; per group, one
// negative rewrite per member. Linear in the terms times their degree, hash lookups aside.
#include <algorithm>
#include <limits>
#include <vector>

#include "monomial_pool.h"
#include "monomial_rules.h"
#include "quadratize_methods.h"

namespace pbf {
namespace {

constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

// The positive monomials of one degree that chose the same variable, in the order they chose it:
// a chain through GroupedWriter::members_, from `first` to `last`. A vector per group cost a
// malloc, its growth and a free for every group, slow where the heap is fragmented: with earlier
// results still alive, grouped took 2.1x to_quadratic on the 512x512 grid instead of 1.65x
// (bench/RESULTS.md, "Quadratizations").
struct Group {
  int32_t shared = 0;
  int32_t first = -1;
  int32_t last = -1;
};

// A monomial in a group, and the next one of that group (-1 at the end).
struct Member {
  int32_t monomial = 0;
  int32_t next = -1;
};

// ids[0..n) without position p. Written out: assign and erase cost two calls of memmove for a
// handful of ids, d + 1 times per positive monomial.
void Without(const int32_t* ids, int32_t n, int32_t p, std::vector<int32_t>& out) {
  out.resize(static_cast<size_t>(n - 1));
  int32_t* o = out.data();
  for (int32_t k = 0; k < p; ++k) o[k] = ids[k];
  for (int32_t k = p + 1; k < n; ++k) o[k - 1] = ids[k];
}

// A bound above f's ids, without a pass over them where f's lists tell: the first auxiliary is
// at least f.MaxId() + 1, and so is the number of lists where f has them (every id in a term has
// one), which then also bounds the memory (the first auxiliary may lie far above, `newvar`).
int64_t IdsBelow(const PBF& f, const QuadraticBuilder& out) {
  const auto lists = static_cast<int64_t>(f.terms.occurrences.size());
  if (out.FirstAuxiliary() <= lists) return out.FirstAuxiliary();
  return int64_t{f.MaxId()} + 1;
}

class GroupedWriter {
 public:
  GroupedWriter(const PBF& f, QuadraticBuilder& out, Lookup lookup) : out_(out) {
    CopyLowerAndPoolHigher(f, out_, pool_, lookup);
    group_at_.assign(static_cast<size_t>(IdsBelow(f, out_)), -1);
    uses_.assign(group_at_.size(), 0);
  }

  std::optional<TermPosition> Run() {
    int32_t top = 0;
    for (int32_t k = 0; k < pool_.Size(); ++k) top = std::max(top, pool_.Degree(k));
    by_degree_.resize(static_cast<size_t>(top) + 1);
    for (int32_t k = 0; k < pool_.Size(); ++k)
      by_degree_[static_cast<size_t>(pool_.Degree(k))].push_back(k);
    for (int32_t d = top; d >= 3; --d) {
      if (std::optional<TermPosition> failed = RunDegree(d)) return failed;
    }
    return std::nullopt;
  }

 private:
  std::optional<TermPosition> RunDegree(int32_t d) {
    const std::vector<int32_t>& level = by_degree_[static_cast<size_t>(d)];
    for (const int32_t k : level) {
      if (pool_.Coef(k) <= 0) continue;
      for (int32_t p = 0; p < d; ++p) ++uses_[static_cast<size_t>(pool_.Ids(k)[p])];
    }
    groups_.clear();
    members_.clear();
    for (const int32_t k : level) {
      const int64_t a = pool_.Coef(k);
      if (a == 0) continue;
      if (a < 0) {
        out_.SetSource(pool_.Origin(k));
        if (!AddNegativeMonomialOfDistinct(out_, a, pool_.Ids(k), d)) return pool_.Origin(k);
        continue;
      }
      const Choice choice = ChooseShared(k);
      const int32_t c = pool_.Ids(k)[choice.position];
      Without(pool_.Ids(k), d, choice.position, rest_);
      if (d - 1 >= 3) {
        if (choice.remainder >= 0) {
          pool_.AddTo(choice.remainder, a);
        } else {
          by_degree_[static_cast<size_t>(d - 1)].push_back(
              pool_.Add(rest_.data(), d - 1, a, pool_.Origin(k)));
        }
      } else {
        out_.SetSource(pool_.Origin(k));
        if (choice.remainder >= 0) {
          out_.AddToPair(a, choice.remainder);
        } else {
          out_.AddPair(a, rest_[0], rest_[1]);
        }
      }
      int32_t& g = group_at_[static_cast<size_t>(c)];
      if (g < 0) {
        g = static_cast<int32_t>(groups_.size());
        groups_.push_back({c, -1, -1});
      }
      Group& group = groups_[static_cast<size_t>(g)];
      const auto member = static_cast<int32_t>(members_.size());
      members_.push_back({k, -1});
      if (group.last < 0) {
        group.first = member;
      } else {
        members_[static_cast<size_t>(group.last)].next = member;
      }
      group.last = member;
    }
    for (const Group& group : groups_) {
      group_at_[static_cast<size_t>(group.shared)] = -1;
      if (std::optional<TermPosition> failed = AddGroup(group, d)) return failed;
    }
    for (const int32_t k : level) {
      if (pool_.Coef(k) <= 0) continue;
      for (int32_t p = 0; p < d; ++p) uses_[static_cast<size_t>(pool_.Ids(k)[p])] = 0;
    }
    return std::nullopt;
  }

  // The position in a monomial of the variable it shares, and the monomial (degree >= 3) or the
  // pair that its remainder lands on, -1 when that does not exist yet.
  struct Choice {
    int32_t position = 0;
    int32_t remainder = -1;
  };

  // The choice for monomial k (positive, degree d); see the top.
  Choice ChooseShared(int32_t k) {
    const int32_t d = pool_.Degree(k);
    for (int32_t p = 0; p < d; ++p) {
      Without(pool_.Ids(k), d, p, rest_);
      if (d - 1 >= 3) {
        pool_.Prefetch(rest_.data(), d - 1);
      } else {
        out_.PrefetchPair(rest_[0], rest_[1]);
      }
    }
    Choice best;
    int64_t best_there = 0;
    for (int32_t p = 0; p < d; ++p) {
      Without(pool_.Ids(k), d, p, rest_);
      const int32_t r =
          d - 1 >= 3 ? pool_.Find(rest_.data(), d - 1) : out_.FindPair(rest_[0], rest_[1]);
      const int64_t there = r < 0 ? 0 : d - 1 >= 3 ? pool_.Coef(r) : out_.PairCoef(r);
      if (p == 0 || Better(k, p, there, best.position, best_there)) {
        best = {p, r};
        best_there = there;
      }
    }
    return best;
  }

  // Whether position p, whose remainder meets the coefficient `there`, beats position `best`.
  bool Better(int32_t k, int32_t p, int64_t there, int32_t best, int64_t best_there) const {
    if (there != best_there) return there < best_there;
    const auto c = static_cast<size_t>(pool_.Ids(k)[p]);
    const auto b = static_cast<size_t>(pool_.Ids(k)[best]);
    if ((group_at_[c] >= 0) != (group_at_[b] >= 0)) return group_at_[c] >= 0;
    return uses_[c] > uses_[b];
  }

  // Writes the group's shared auxiliaries (a new one each time the sum would leave int32) and
  // the negative part -a(H)·y·∏_{H - c} x of every member.
  std::optional<TermPosition> AddGroup(const Group& group, int32_t d) {
    int32_t y = -1;
    int64_t sum = 0;
    TermPosition first = pool_.Origin(members_[static_cast<size_t>(group.first)].monomial);
    const auto close = [&] {
      out_.SetSource(first);
      out_.AddNewPair(sum, group.shared, y);
      y = -1;
      sum = 0;
    };
    for (int32_t m = group.first; m >= 0; m = members_[static_cast<size_t>(m)].next) {
      const int32_t k = members_[static_cast<size_t>(m)].monomial;
      const int32_t* ids = pool_.Ids(k);
      const int32_t p = static_cast<int32_t>(std::find(ids, ids + d, group.shared) - ids);
      Without(ids, d, p, rest_);
      rest_.push_back(0);
      for (int64_t left = pool_.Coef(k); left > 0;) {
        if (sum == kMaxInt32) close();
        if (y < 0) {
          if (out_.AuxiliariesLeft() < 1) return pool_.Origin(k);
          y = out_.NewAuxiliary();
          first = pool_.Origin(k);
        }
        const int64_t take = std::min(left, kMaxInt32 - sum);
        rest_.back() = y;
        out_.SetSource(pool_.Origin(k));
        if (!AddNegativeMonomialOfDistinct(out_, -take, rest_.data(), d)) {
          return pool_.Origin(k);
        }
        sum += take;
        left -= take;
      }
    }
    if (y >= 0) close();
    return std::nullopt;
  }

  QuadraticBuilder& out_;
  MonomialPool pool_;
  std::vector<std::vector<int32_t>> by_degree_;
  std::vector<Group> groups_;
  std::vector<Member> members_;
  std::vector<int32_t> group_at_;  // per variable, its group at the current degree or -1
  std::vector<int32_t> uses_;      // per variable, the positive monomials of this degree with it
  std::vector<int32_t> rest_;
};

}  // namespace

std::optional<TermPosition> WriteGrouped(const PBF& f, QuadraticBuilder& out, Lookup lookup) {
  return GroupedWriter(f, out, lookup).Run();
}

}  // namespace pbf
