// One auxiliary for a whole function of four variables.
//
// Every function g of four variables can be written q(x) + min(0, ℓ(x)) with q quadratic and ℓ
// linear, so q(x) + y·ℓ(x) is a quadratization of g with a single auxiliary y: a degree-4 term and
// the cubic terms within its variables cost one auxiliary instead of up to five.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace pbf {

// q(x) + y·ℓ(x) over x0 … x3 and the auxiliary y, every coefficient within int32.
struct FourVariableForm {
  int64_t constant = 0;
  std::array<int64_t, 4> unary{};
  // (0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (2, 3)
  std::array<int64_t, 6> pairs{};
  int64_t auxiliary = 0;                     // ℓ's constant: y's unary coefficient
  std::array<int64_t, 4> auxiliary_pairs{};  // ℓ's coefficient of x(i): the pair (x(i), y)
};

// The form of g(x) = quartic·x0x1x2x3 + Σ_i cubic[i]·(the product of the x(j), j != i), or
// nullopt when the construction finds no corner whose form is proven and fits int32 (or a
// coefficient's magnitude passes 2^40, beyond what such a form could hold). Lower terms of g are
// not needed: they pass unchanged into q, so the caller keeps them where they are.
std::optional<FourVariableForm> FindFourVariableForm(int64_t quartic,
                                                     const std::array<int64_t, 4>& cubic);

}  // namespace pbf
