// The corner construction. For a corner z of {0,1}^4 take the multilinear coefficients of
// g(x XOR z): a4 the quartic one, t(i) the cubic one without variable i, A3 = Σ t(i). The corner
// qualifies when a4 + t(i) >= 0 for every i and a4 + t(i) + t(j) >= 0 for every i < j; then
//   ℓ_z(x) = -(A3 + 3·a4) + Σ_i (A3 + 2·a4 - t(i))·x(i),   ℓ(x) = ℓ_z(x XOR z),
// and q, the multilinear form of g - min(0, ℓ), has no cubic or quartic part. Nothing here is
// trusted: every candidate is proven on all 16 assignments (g = q + min(0, ℓ) with q's quadratic
// part alone) before it is returned, and corners are tried in the order 0 … 15 so the choice is
// deterministic. Cost: at most 16 corners × a few 16-entry transforms, all on the stack.
#include "four_variable_form.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace pbf {
namespace {

using Table = std::array<int64_t, 16>;  // bit i of the index is x(i)

// In place: values per assignment -> the coefficient of each subset's product.
void Moebius(Table& c) {
  for (uint32_t bit = 1; bit < 16; bit <<= 1) {
    for (uint32_t s = 0; s < 16; ++s) {
      if (s & bit) c[s] -= c[s ^ bit];
    }
  }
}

bool Fits(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

constexpr std::array<std::array<int, 2>, 6> kPairs = {
    {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};

// Whether corner z qualifies, from g's own quartic and cubic coefficients: flipping x(i) negates
// the quartic coefficient and every cubic one with x(i), and adds the quartic one to the cubic
// one without x(i), so no transform is needed to rule a corner out.
bool Qualifies(int64_t a4, std::array<int64_t, 4> t, uint32_t z) {
  for (uint32_t i = 0; i < 4; ++i) {
    if (!(z >> i & 1)) continue;
    for (uint32_t j = 0; j < 4; ++j) t[j] = j == i ? t[j] + a4 : -t[j];
    a4 = -a4;
  }
  for (size_t i = 0; i < 4; ++i) {
    if (a4 + t[i] < 0) return false;
    for (size_t j = i + 1; j < 4; ++j) {
      if (a4 + t[i] + t[j] < 0) return false;
    }
  }
  return true;
}

// The form for a qualifying corner z, or nullopt when it fails the proof or does not fit.
std::optional<FourVariableForm> FormAt(const Table& g, uint32_t z) {
  Table c;
  for (uint32_t x = 0; x < 16; ++x) c[x] = g[x ^ z];
  Moebius(c);
  const int64_t a4 = c[15];
  std::array<int64_t, 4> t;
  for (uint32_t i = 0; i < 4; ++i) t[i] = c[15 ^ (1u << i)];
  const int64_t a3 = t[0] + t[1] + t[2] + t[3];
  Table l;
  for (uint32_t x = 0; x < 16; ++x) {
    const uint32_t v = x ^ z;
    l[x] = -(a3 + 3 * a4);
    for (uint32_t i = 0; i < 4; ++i) {
      if (v >> i & 1) l[x] += a3 + 2 * a4 - t[i];
    }
  }
  Table q;
  for (uint32_t x = 0; x < 16; ++x) q[x] = g[x] - std::min<int64_t>(0, l[x]);
  Moebius(q);
  FourVariableForm form;
  form.constant = q[0];
  form.auxiliary = l[0];
  for (uint32_t i = 0; i < 4; ++i) {
    form.unary[i] = q[1u << i];
    form.auxiliary_pairs[i] = l[1u << i] - l[0];
  }
  for (size_t p = 0; p < kPairs.size(); ++p)
    form.pairs[p] = q[1u << kPairs[p][0] | 1u << kPairs[p][1]];

  // The proof: the quadratic part of q plus min(0, ℓ) is g at every assignment.
  for (uint32_t x = 0; x < 16; ++x) {
    int64_t value = form.constant;
    int64_t linear = form.auxiliary;
    for (uint32_t i = 0; i < 4; ++i) {
      if (x >> i & 1) {
        value += form.unary[i];
        linear += form.auxiliary_pairs[i];
      }
    }
    for (size_t p = 0; p < kPairs.size(); ++p) {
      if ((x >> kPairs[p][0] & 1) && (x >> kPairs[p][1] & 1)) value += form.pairs[p];
    }
    if (value + std::min<int64_t>(0, linear) != g[x]) return std::nullopt;
  }
  bool fits = Fits(form.constant) && Fits(form.auxiliary);
  for (int64_t v : form.unary) fits = fits && Fits(v);
  for (int64_t v : form.pairs) fits = fits && Fits(v);
  for (int64_t v : form.auxiliary_pairs) fits = fits && Fits(v);
  if (!fits) return std::nullopt;
  return form;
}

}  // namespace

std::optional<FourVariableForm> FindFourVariableForm(int64_t quartic,
                                                     const std::array<int64_t, 4>& cubic) {
  constexpr int64_t kLimit = int64_t{1} << 40;
  if (quartic < -kLimit || quartic > kLimit) return std::nullopt;
  for (int64_t t : cubic) {
    if (t < -kLimit || t > kLimit) return std::nullopt;
  }
  Table g{};
  g[15] = quartic;
  for (uint32_t i = 0; i < 4; ++i) {
    for (uint32_t x = 0; x < 16; ++x) {
      if ((x | 1u << i) == 15) g[x] += cubic[i];
    }
  }
  for (uint32_t z = 0; z < 16; ++z) {
    if (!Qualifies(quartic, cubic, z)) continue;
    if (std::optional<FourVariableForm> form = FormAt(g, z)) return form;
  }
  return std::nullopt;
}

}  // namespace pbf
