// A neighbourhood L seen from the configurations of its term T: for every configuration i of T's d
// variables, what restricting L to i leaves (configuration_sums.cpp). The exact search and its
// dominance proof read every configuration from here instead of passing over L's entries again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bit_count.h"
#include "local_function.h"

namespace pbf {

struct ConfigurationSums {
  // An entry of L with variables outside T: its part inside T in configuration layout (u_k at
  // bit d-1-k), its other variables (as bits of L) and its coefficient. Configuration i keeps it
  // when term_part lies within i.
  struct Reaching {
    uint32_t term_part;
    uint32_t free;
    int32_t coef;
  };

  int32_t degree = 0;
  // fixed[i]: the value of L restricted to i with every free variable 0, that is L's constant
  // plus the coefficients of the entries inside T that i keeps; wrapping.
  std::vector<int32_t> fixed;
  // full[i]: its value with every free variable 1, fixed[i] plus the reaching entries i keeps.
  std::vector<int32_t> full;
  // free[i]: the union of the free parts of the reaching entries that i keeps.
  std::vector<uint32_t> free;
  // Every entry with variables outside T (but within L's count). When there are many, grouped by
  // term_part: those with the part s are reaching[start[s] .. start[s + 1]); else `start` is
  // empty and they keep L's order.
  std::vector<Reaching> reaching;
  std::vector<uint32_t> start;
  // |L's constant| plus |coef| summed over all L's entries: no sum of L's coefficients is larger
  // in magnitude (SumsCannotWrap, dominance_proof.h).
  int64_t magnitude = 0;

  // Fills the sums for L and a term of `degree` (1 ... 16) whose k-th variable is bit_of[k] of
  // L's masks: distinct bits below 2^count. Entries reaching beyond L's count variables lie
  // within no assignment and are left out. The storage is kept from call to call.
  void Build(const LocalFunction& local, const uint32_t* bit_of, int32_t degree);

  // Calls visit(entry) for every reaching entry that configuration i keeps: through the groups
  // of i's submasks where there are groups and fewer of those than entries, else by one pass over
  // all of them.
  template <typename Visit>
  void ForEachKept(int32_t i, Visit visit) const {
    const auto within = static_cast<uint32_t>(i);
    if (!start.empty() && size_t{1} << CountBits(within) < reaching.size()) {
      for (uint32_t s = within;; s = (s - 1) & within) {
        for (uint32_t e = start[s]; e < start[s + 1]; ++e) visit(reaching[e]);
        if (s == 0) break;
      }
    } else {
      for (const Reaching& entry : reaching) {
        if ((entry.term_part & ~within) == 0) visit(entry);
      }
    }
  }

 private:
  // Grouping pays where a configuration keeps few of many reaching entries, as in dense cliques
  // (clique12 reduces in 0.78 s instead of 1.15 s). A few dozen entries, as around a pixel
  // window, are read as fast in one pass (grid256 within noise, 4-6% slower grouped in every
  // case); see bench/RESULTS.md.
  static constexpr size_t kGroupAbove = 128;

  void GroupReaching();

  std::vector<Reaching> sorted_;
};

}  // namespace pbf
