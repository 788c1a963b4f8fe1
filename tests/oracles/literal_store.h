// A pseudo-Boolean function kept the slow, obvious way: per degree, the terms in creation order,
// each found by a linear search over all terms of its degree. A reference for the optimised
// storage, the energy-table forms and the quadratic conversion; it renders the same text as
// PBF::GetString.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "wrap.h"

namespace pbf::literal {

struct Function {
  int32_t constant = 0;
  // terms[d]: (ids, coefficient) of every term of degree d, in creation order.
  std::vector<std::vector<std::pair<std::vector<int32_t>, int32_t>>> terms =
      std::vector<std::vector<std::pair<std::vector<int32_t>, int32_t>>>(3);

  void AddTerm(int32_t coef, const std::vector<int32_t>& ids) {
    if (ids.empty()) {
      constant = WrapAdd(constant, coef);
      return;
    }
    if (terms.size() <= ids.size()) terms.resize(ids.size() + 1);
    for (auto& [stored, c] : terms[ids.size()]) {
      if (stored == ids) {
        c = WrapAdd(c, coef);
        return;
      }
    }
    terms[ids.size()].emplace_back(ids, coef);
  }

  void AddUnaryTerm(int32_t i, int32_t e0, int32_t e1) {
    constant = WrapAdd(constant, e0);
    AddTerm(WrapSub(e1, e0), {i});
  }

  void AddPairwiseTerm(int32_t i, int32_t j, int32_t e00, int32_t e01, int32_t e10, int32_t e11) {
    constant = WrapAdd(constant, e00);
    AddTerm(WrapSub(e10, e00), {i});
    AddTerm(WrapSub(e01, e00), {j});
    AddTerm(WrapAdd(WrapSub(WrapSub(e00, e01), e10), e11), {i, j});
  }

  // The defining double sum, then one addition per non-zero subset in ascending mask order.
  void AddHigherTerm(int32_t n, const int32_t* vars, const int32_t* vals) {
    const uint32_t size = uint32_t{1} << n;
    for (uint32_t s = 0; s < size; ++s) {
      int32_t coef = 0;
      for (uint32_t m = 0; m < size; ++m) {
        if (m & ~s) continue;
        coef = std::popcount(s ^ m) % 2 ? WrapSub(coef, vals[m]) : WrapAdd(coef, vals[m]);
      }
      if (coef == 0) continue;
      std::vector<int32_t> ids;
      for (int32_t p = 0; p < n; ++p) {
        if ((s >> (n - 1 - p)) & 1) ids.push_back(vars[p]);
      }
      AddTerm(coef, ids);
    }
  }

  int32_t MaxId() const {
    int32_t largest = -1;
    for (const auto& degree : terms) {
      for (const auto& term : degree) {
        for (int32_t id : term.first) largest = std::max(largest, id);
      }
    }
    return largest;
  }

  // The quadratic conversion rule by rule, terms walked from the highest degree down.
  int32_t ToQuadratic(Function& target, int32_t newvar) const {
    int32_t next = std::max(newvar, MaxId() + 1);
    for (size_t d = terms.size() - 1; d >= 1; --d) {
      for (const auto& [x, a] : terms[d]) {
        const auto n = static_cast<int32_t>(d);
        if (n <= 2) {
          target.AddTerm(a, x);
        } else if (a < 0) {
          for (int32_t j = 0; j < n; ++j) target.AddTerm(a, {x[j], next});
          target.AddTerm(WrapMul(1 - n, a), {next});
          ++next;
        } else {
          const int32_t k = (n - 1) / 2;
          for (int32_t i = 1; i <= k; ++i) {
            const int32_t m = (n % 2 == 1 && i == k) ? 1 : 2;
            for (int32_t j = 0; j < n; ++j) target.AddTerm(WrapNeg(WrapMul(m, a)), {x[j], next});
            target.AddTerm(WrapMul(2 * m * i - 1, a), {next});
            ++next;
          }
          for (int32_t p = 0; p + 1 < n; ++p) {
            for (int32_t q = p + 1; q < n; ++q) target.AddTerm(a, {x[p], x[q]});
          }
        }
      }
    }
    target.constant = WrapAdd(target.constant, constant);
    return next;
  }

  std::string GetString() const {
    std::string out;
    for (const auto& degree : terms) {
      for (const auto& [ids, c] : degree) {
        out += c > 0 ? " +" : " ";
        out += std::to_string(c);
        for (int32_t id : ids) {
          out += "x_{";
          out += std::to_string(int64_t{id} + 1);
          out += '}';
        }
      }
    }
    out += constant >= 0 ? " +" : " ";
    out += std::to_string(constant);
    return out;
  }
};

}  // namespace pbf::literal
