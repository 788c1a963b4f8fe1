#include "monomial_rules.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <utility>
#include <vector>

namespace pbf {
namespace {

constexpr int64_t kMinInt32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

// |a| split into `count` parts: the first `larger` of them are `small` + 1, the rest `small`.
struct Parts {
  int64_t count = 1;
  int64_t small = 0;
  int64_t larger = 0;

  int64_t Part(int64_t p) const { return small + (p < larger ? 1 : 0); }
};

// The fewest parts of `magnitude` (>= 0) such that part·negative >= -2^31 and
// part·positive <= 2^31 - 1, where `negative` and `positive` (>= 0) are the largest multiples of
// a part that the rule writes with each sign; nullopt when not even a part of 1 fits.
std::optional<Parts> SplitFor(int64_t magnitude, int64_t negative, int64_t positive) {
  // The common case, without divisions: small coefficients and multiples need one part.
  constexpr int64_t kSmall = int64_t{1} << 15;
  if (magnitude < kSmall && negative < kSmall && positive < kSmall) return Parts{1, magnitude, 0};
  int64_t largest = kMaxInt32 + 1;
  if (negative > 0) largest = std::min(largest, -kMinInt32 / negative);
  if (positive > 0) largest = std::min(largest, kMaxInt32 / positive);
  if (largest == 0) return std::nullopt;
  Parts parts;
  parts.count = std::max<int64_t>(1, magnitude / largest + (magnitude % largest != 0 ? 1 : 0));
  parts.small = magnitude / parts.count;
  parts.larger = magnitude % parts.count;
  return parts;
}

struct IdCount {
  int32_t id = 0;
  int32_t count = 0;
};

// The distinct ids of a term in order of first occurrence, each with its number of occurrences;
// on the stack for the degrees that occur in practice, so a term costs no allocation.
class IdCounts {
 public:
  IdCounts(const int32_t* ids, int32_t d) {
    if (d <= kSmall) {
      for (int32_t j = 0; j < d; ++j) {
        if (std::find(ids, ids + j, ids[j]) != ids + j) continue;
        small_[static_cast<size_t>(size_++)] = {
            ids[j], static_cast<int32_t>(std::count(ids + j, ids + d, ids[j]))};
      }
      data_ = small_.data();
      return;
    }
    std::vector<std::pair<int32_t, int32_t>> by_id(static_cast<size_t>(d));  // (id, position)
    for (int32_t j = 0; j < d; ++j) by_id[static_cast<size_t>(j)] = {ids[j], j};
    std::sort(by_id.begin(), by_id.end());
    std::vector<std::pair<int32_t, IdCount>> firsts;  // (first position, id and count)
    for (size_t s = 0; s < by_id.size();) {
      size_t e = s;
      while (e < by_id.size() && by_id[e].first == by_id[s].first) ++e;
      firsts.push_back({by_id[s].second, {by_id[s].first, static_cast<int32_t>(e - s)}});
      s = e;
    }
    std::sort(firsts.begin(), firsts.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& entry : firsts) large_.push_back(entry.second);
    data_ = large_.data();
    size_ = static_cast<int32_t>(large_.size());
  }
  IdCounts(const IdCounts&) = delete;
  IdCounts& operator=(const IdCounts&) = delete;

  const IdCount* begin() const { return data_; }
  const IdCount* end() const { return data_ + size_; }
  int32_t Largest() const {
    int32_t largest = 0;
    for (const IdCount& c : *this) largest = std::max(largest, c.count);
    return largest;
  }

 private:
  static constexpr int32_t kSmall = 32;
  std::array<IdCount, kSmall> small_;
  std::vector<IdCount> large_;
  const IdCount* data_ = nullptr;
  int32_t size_ = 0;
};

// Whether `count` parts of `per_part` auxiliaries each still get ids.
bool IdsFor(const QuadraticBuilder& out, int64_t count, int64_t per_part) {
  return per_part == 0 || count <= out.AuxiliariesLeft() / per_part;
}

std::optional<int64_t> Times(int64_t a, int64_t b) {
  int64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

// The negative rule over `counts`, whose largest count is `largest`.
template <typename Counts>
bool WriteNegative(QuadraticBuilder& out, int64_t a, const Counts& counts, int32_t largest,
                   int32_t d) {
  const std::optional<Parts> parts = SplitFor(-a, largest, d - 1);
  if (!parts || !IdsFor(out, parts->count, 1)) return false;
  for (int64_t p = 0; p < parts->count; ++p) {
    const int64_t part = parts->Part(p);
    const int32_t w = out.NewAuxiliary();
    for (const IdCount& x : counts) out.AddNewPair(-part * x.count, x.id, w);
    out.AddUnary(part * (d - 1), w);
  }
  return true;
}

// Distinct ids as IdCounts lists them: each once, in order.
class DistinctIds {
 public:
  DistinctIds(const int32_t* ids, int32_t d) : ids_(ids), d_(d) {}
  struct Iterator {
    const int32_t* at;
    IdCount operator*() const { return {*at, 1}; }
    Iterator& operator++() {
      ++at;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return at != other.at; }
  };
  Iterator begin() const { return {ids_}; }
  Iterator end() const { return {ids_ + d_}; }

 private:
  const int32_t* ids_;
  int32_t d_;
};

}  // namespace

bool AddNegativeMonomial(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d) {
  const IdCounts counts(ids, d);
  return WriteNegative(out, a, counts, counts.Largest(), d);
}

bool AddNegativeMonomialOfDistinct(QuadraticBuilder& out, int64_t a, const int32_t* ids,
                                   int32_t d) {
  return WriteNegative(out, a, DistinctIds(ids, d), 1, d);
}

bool AddPositiveMonomialTermwise(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d) {
  const IdCounts counts(ids, d);
  const int32_t k = (d - 1) / 2;
  // Auxiliary i has pairs -m(i)·part and the unary term (2·m(i)·i - 1)·part, m(i) = 1 only for
  // the last auxiliary of an odd degree.
  const auto m = [&](int32_t i) -> int64_t { return d % 2 == 1 && i == k ? 1 : 2; };
  int64_t unary = 0;
  for (int32_t i = 1; i <= k; ++i) unary = std::max(unary, 2 * m(i) * i - 1);
  const std::optional<Parts> parts = SplitFor(a, m(1) * counts.Largest(), unary);
  if (!parts || !IdsFor(out, parts->count, k)) return false;
  for (int64_t p = 0; p < parts->count; ++p) {
    const int64_t part = parts->Part(p);
    for (int32_t i = 1; i <= k; ++i) {
      const int32_t w = out.NewAuxiliary();
      for (const IdCount& x : counts) out.AddNewPair(-m(i) * part * x.count, x.id, w);
      out.AddUnary((2 * m(i) * i - 1) * part, w);
    }
  }
  for (int32_t p = 0; p + 1 < d; ++p) {
    for (int32_t q = p + 1; q < d; ++q) out.AddPair(a, ids[p], ids[q]);
  }
  return true;
}

bool AddPositiveMonomialFewest(QuadraticBuilder& out, int64_t a, const int32_t* ids, int32_t d) {
  // With K = N + S - Σ_j 2^j·y(j), a·x(1)…x(d) = min over y of a·K(K - 1)/2, expanded below.
  const int32_t m = static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(d - 1))) - 1;
  const int64_t n = (int64_t{1} << (m + 1)) - d;
  const auto unary_y = [&](int32_t j) {
    return (int64_t{1} << (j - 1)) * ((int64_t{1} << j) + 1 - 2 * n);
  };
  int64_t negative = int64_t{1} << m;                         // x(i)·y(m)
  int64_t positive = m >= 2 ? int64_t{1} << (2 * m - 1) : 0;  // y(m - 1)·y(m)
  for (int32_t j = 1; j <= m; ++j) {
    negative = std::max(negative, -unary_y(j));
    positive = std::max(positive, unary_y(j));
  }
  const std::optional<Parts> parts = SplitFor(a, negative, positive);
  const std::optional<int64_t> linear = Times(a, n);
  const std::optional<int64_t> constant = Times(a, n * (n - 1) / 2);
  if (!parts || !linear || !constant) return AddPositiveMonomialTermwise(out, a, ids, d);
  if (!IdsFor(out, parts->count, m)) return false;
  if (*constant != 0) out.AddConstant(*constant);
  if (*linear != 0) {
    for (int32_t i = 0; i < d; ++i) out.AddUnary(*linear, ids[i]);
  }
  for (int32_t i = 0; i + 1 < d; ++i) {
    for (int32_t k = i + 1; k < d; ++k) out.AddPair(a, ids[i], ids[k]);
  }
  std::array<int32_t, 31> y{};
  for (int64_t p = 0; p < parts->count; ++p) {
    const int64_t part = parts->Part(p);
    for (int32_t j = 1; j <= m; ++j) y[static_cast<size_t>(j)] = out.NewAuxiliary();
    for (int32_t j = 1; j <= m; ++j) {
      const int32_t yj = y[static_cast<size_t>(j)];
      out.AddUnary(unary_y(j) * part, yj);
      for (int32_t i = 0; i < d; ++i) out.AddNewPair(-(int64_t{1} << j) * part, ids[i], yj);
      for (int32_t l = j + 1; l <= m; ++l) {
        out.AddNewPair((int64_t{1} << (j + l)) * part, yj, y[static_cast<size_t>(l)]);
      }
    }
  }
  return true;
}

}  // namespace pbf
