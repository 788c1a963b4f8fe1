// The quadratization with the fewest auxiliaries known.
//
// Terms are first read as monomials over their distinct ids and equal monomials merged (so two
// orders of one product, or a product with repeats, cost nothing extra). Then:
// - Every monomial of four variables forms a group with the cubic monomials inside its variables,
//   and the group is one function of four variables, which needs a single auxiliary
//   (four_variable_form.h) where it would need up to five term by term. A cubic monomial inside
//   several groups joins the first (groups in order of creation), since it can only be used once.
//   Lower terms inside the group would not change the construction, so they stay as copied.
// - Any other positive monomial of degree d gets ⌈log2 d⌉ - 1 auxiliaries, a negative one 1.
// A group whose construction fails falls back to those rules for each of its members.
//
// Cost: linear in the number of terms times their degree (hash lookups of monomials and pairs),
// plus a constant 16-corner search per group. Deterministic: everything runs in creation order.
#include <algorithm>
#include <array>
#include <span>
#include <utility>
#include <vector>

#include "four_variable_form.h"
#include "monomial_pool.h"
#include "monomial_rules.h"
#include "quadratize_methods.h"

namespace pbf {
namespace {

// A function of four variables: a quartic monomial (or none) and the cubic ones inside it.
struct Group {
  std::array<int32_t, 4> vars{};  // ascending
  int32_t quartic = -1;
  std::array<int32_t, 4> cubic{-1, -1, -1, -1};  // cubic[i]: the monomial without vars[i]
};

// Pairs scanned per pair of a cubic monomial when looking for a partner: a pair shared by very
// many cubic monomials (a hub) would otherwise make the search quadratic.
constexpr size_t kPartnersPerPair = 16;

class FewestWriter {
 public:
  FewestWriter(const PBF& f, QuadraticBuilder& out, Lookup lookup) : out_(out) {
    CopyLowerAndPoolHigher(f, out_, pool_, lookup);
    group_of_.assign(static_cast<size_t>(pool_.Size()), -1);
  }

  std::optional<TermPosition> Run() {
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      if (pool_.Degree(k) == 4) Form(pool_.Ids(k), k);
    }
    GroupLooseCubics();
    std::vector<bool> written(groups_.size(), false);
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      const int32_t g = group_of_[static_cast<size_t>(k)];
      if (g < 0) {
        if (!AddMonomial(k)) return pool_.Origin(k);
        continue;
      }
      if (written[static_cast<size_t>(g)]) continue;
      written[static_cast<size_t>(g)] = true;
      if (std::optional<TermPosition> failed = AddGroup(groups_[static_cast<size_t>(g)]))
        return failed;
    }
    return std::nullopt;
  }

 private:
  // Makes a group over `vars` (ascending) with the quartic monomial (or -1) and every cubic
  // monomial inside that no group holds yet; returns how many cubic monomials it took.
  int32_t Form(const int32_t* vars, int32_t quartic) {
    Group group;
    std::copy(vars, vars + 4, group.vars.begin());
    group.quartic = quartic;
    const auto g = static_cast<int32_t>(groups_.size());
    int32_t taken = 0;
    std::array<std::array<int32_t, 3>, 4> triples;
    for (size_t i = 0; i < 4; ++i) {
      triples[i] = Without(group.vars, i);
      pool_.Prefetch(triples[i].data(), 3);
    }
    for (size_t i = 0; i < 4; ++i) {
      const int32_t t = Free(triples[i]);
      if (t < 0) continue;
      group.cubic[i] = t;
      group_of_[static_cast<size_t>(t)] = g;
      ++taken;
    }
    if (quartic >= 0) group_of_[static_cast<size_t>(quartic)] = g;
    groups_.push_back(group);
    return taken;
  }

  static std::array<int32_t, 3> Without(const std::array<int32_t, 4>& vars, size_t i) {
    std::array<int32_t, 3> triple;
    for (size_t j = 0, n = 0; j < 4; ++j) {
      if (j != i) triple[n++] = vars[j];
    }
    return triple;
  }

  // The cubic monomial over `triple` when it exists and no group holds it, else -1.
  int32_t Free(const std::array<int32_t, 3>& triple) const {
    const int32_t t = pool_.Find(triple.data(), 3);
    return t >= 0 && group_of_[static_cast<size_t>(t)] < 0 ? t : -1;
  }

  // Cubic monomials that no quartic one holds (a window whose quartic coefficient is 0, say) still
  // share an auxiliary when two or more lie within four variables: each, in order, is grouped
  // with the four variables that hold the most such monomials, found through their shared pairs:
  // of the monomials loose before the first of these groups that contain the pair, the first
  // kPartnersPerPair in order of creation are tried.
  void GroupLooseCubics() {
    const PairIndex by_pair = IndexLooseCubics();
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      if (pool_.Degree(k) != 3 || group_of_[static_cast<size_t>(k)] >= 0) continue;
      std::array<int32_t, 4> best{};
      int32_t best_count = 1;
      const int32_t* x = pool_.Ids(k);
      for (const auto& [p, q] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
        const std::span<const Partner> partners = by_pair.With(x[p], x[q]);
        for (size_t n = 0; n < kPartnersPerPair && n < partners.size() && best_count < 4; ++n) {
          const int32_t u = partners[n].monomial;
          if (u == k || group_of_[static_cast<size_t>(u)] >= 0) continue;
          std::array<int32_t, 4> vars;
          const int32_t* y = pool_.Ids(u);
          std::set_union(x, x + 3, y, y + 3, vars.begin());
          // Of the four triples within vars, x and y are k and u, both loose: only the two that
          // hold the pair's one id without the other need a lookup.
          int32_t count = 2;
          for (size_t i = 0; i < 4; ++i) {
            if (vars[i] == x[p] || vars[i] == x[q]) count += Free(Without(vars, i)) >= 0 ? 1 : 0;
          }
          if (count > best_count) {
            best = vars;
            best_count = count;
          }
        }
      }
      if (best_count >= 2) Form(best.data(), -1);
    }
  }

  // A loose cubic monomial that contains a pair, by the pair's larger id.
  struct Partner {
    int32_t second = 0;
    int32_t monomial = 0;
  };

  // The loose cubic monomials by the pairs within them, grouped by the pair's smaller id: a
  // counting pass (in order of creation, which it keeps) and a stable sort of each id's entries
  // by the larger id, which on an image grid are a handful. One sort of all (pair, monomial)
  // entries and a binary search among them made the reduced 512x512 grid take 638 ms instead of
  // 409 (bench/RESULTS.md).
  struct PairIndex {
    std::vector<size_t> begin;  // per smaller id: where its entries start
    std::vector<Partner> entries;

    // The entries of the pair (i, j), i < j, in order of creation.
    std::span<const Partner> With(int32_t i, int32_t j) const {
      const auto first =
          entries.begin() + static_cast<std::ptrdiff_t>(begin[static_cast<size_t>(i)]);
      const auto last =
          entries.begin() + static_cast<std::ptrdiff_t>(begin[static_cast<size_t>(i) + 1]);
      // Binary searches both ways: a pair may lie in very many monomials (a hub).
      const auto below = [](const Partner& e, int32_t v) { return e.second < v; };
      const auto above = [](int32_t v, const Partner& e) { return v < e.second; };
      return {std::lower_bound(first, last, j, below), std::upper_bound(first, last, j, above)};
    }
  };

  PairIndex IndexLooseCubics() const {
    const auto loose = [this](int32_t k) {
      return pool_.Degree(k) == 3 && group_of_[static_cast<size_t>(k)] < 0;
    };
    size_t ids = 0;
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      if (loose(k)) ids = std::max(ids, static_cast<size_t>(pool_.Ids(k)[2]) + 1);
    }
    PairIndex index;
    index.begin.assign(ids + 1, 0);
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      if (!loose(k)) continue;
      const int32_t* x = pool_.Ids(k);
      index.begin[static_cast<size_t>(x[0])] += 2;
      index.begin[static_cast<size_t>(x[1])] += 1;
    }
    size_t total = 0;
    for (size_t& b : index.begin) {
      const size_t count = b;
      b = total;
      total += count;
    }
    index.entries.resize(total);
    std::vector<size_t> next(index.begin.begin(), index.begin.end() - 1);
    for (int32_t k = 0; k < pool_.Size(); ++k) {
      if (!loose(k)) continue;
      const int32_t* x = pool_.Ids(k);
      index.entries[next[static_cast<size_t>(x[0])]++] = {x[1], k};
      index.entries[next[static_cast<size_t>(x[0])]++] = {x[2], k};
      index.entries[next[static_cast<size_t>(x[1])]++] = {x[2], k};
    }
    const auto by_second = [](const Partner& a, const Partner& b) { return a.second < b.second; };
    for (size_t i = 0; i + 1 < index.begin.size(); ++i) {
      const auto first = index.entries.begin() + static_cast<std::ptrdiff_t>(index.begin[i]);
      const auto last = index.entries.begin() + static_cast<std::ptrdiff_t>(index.begin[i + 1]);
      if (last - first <= 16) {
        for (auto e = first + 1; e < last; ++e) {
          for (auto f = e; f != first && by_second(*f, *(f - 1)); --f) std::iter_swap(f, f - 1);
        }
      } else {
        std::stable_sort(first, last, by_second);
      }
    }
    return index;
  }

  // The group's first monomial in order of creation: the one its output is written for.
  static int32_t Head(const Group& group) {
    int32_t head = group.quartic;
    for (const int32_t t : group.cubic) {
      if (t >= 0 && (head < 0 || t < head)) head = t;
    }
    return head;
  }

  bool AddMonomial(int32_t k) {
    const int64_t a = pool_.Coef(k);
    if (a == 0) return true;
    out_.SetSource(pool_.Origin(k));
    return a < 0 ? AddNegativeMonomial(out_, a, pool_.Ids(k), pool_.Degree(k))
                 : AddPositiveMonomialFewest(out_, a, pool_.Ids(k), pool_.Degree(k));
  }

  // Writes the group with one auxiliary, or its members one by one when the construction fails.
  std::optional<TermPosition> AddGroup(const Group& group) {
    const int64_t quartic = group.quartic >= 0 ? pool_.Coef(group.quartic) : 0;
    std::array<int64_t, 4> cubic{};
    bool higher = quartic != 0;
    for (size_t i = 0; i < 4; ++i) {
      if (group.cubic[i] >= 0) cubic[i] = pool_.Coef(group.cubic[i]);
      higher = higher || cubic[i] != 0;
    }
    if (!higher) return std::nullopt;
    const std::optional<FourVariableForm> form = FindFourVariableForm(quartic, cubic);
    if (!form || out_.AuxiliariesLeft() < 1) {
      for (const int32_t k :
           {group.quartic, group.cubic[0], group.cubic[1], group.cubic[2], group.cubic[3]}) {
        if (k >= 0 && !AddMonomial(k)) return pool_.Origin(k);
      }
      return std::nullopt;
    }
    const std::array<int32_t, 4>& x = group.vars;
    for (size_t i = 0; i < 4; ++i) {
      for (size_t j = i + 1; j < 4; ++j) out_.PrefetchPair(x[i], x[j]);
    }
    out_.SetSource(pool_.Origin(Head(group)));
    if (form->constant != 0) out_.AddConstant(form->constant);
    for (size_t i = 0; i < 4; ++i) {
      if (form->unary[i] != 0) out_.AddUnary(form->unary[i], x[i]);
    }
    size_t p = 0;
    for (size_t i = 0; i < 4; ++i) {
      for (size_t j = i + 1; j < 4; ++j, ++p) {
        if (form->pairs[p] != 0) out_.AddPair(form->pairs[p], x[i], x[j]);
      }
    }
    const int32_t y = out_.NewAuxiliary();
    out_.AddUnary(form->auxiliary, y);
    for (size_t i = 0; i < 4; ++i) {
      if (form->auxiliary_pairs[i] != 0) out_.AddNewPair(form->auxiliary_pairs[i], x[i], y);
    }
    return std::nullopt;
  }

  QuadraticBuilder& out_;
  MonomialPool pool_;
  std::vector<Group> groups_;
  std::vector<int32_t> group_of_;  // per monomial: the group holding it, else -1
};

}  // namespace

std::optional<TermPosition> WriteFewest(const PBF& f, QuadraticBuilder& out, Lookup lookup) {
  return FewestWriter(f, out, lookup).Run();
}

}  // namespace pbf
