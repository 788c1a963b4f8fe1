// Evaluation of a function at a labelling: one pass over every table, O(total ids).
#include "evaluate.h"

#include <cstddef>

namespace pbf {

int64_t Evaluate(const PBF& f, const uint8_t* x) {
  int64_t value = f.constant;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    const int32_t d = table->degree;
    const int32_t* ids = table->vars.data();
    for (const int32_t coef : table->coefs) {
      bool all = true;
      for (int32_t k = 0; k < d; ++k) all &= x[ids[k]] != 0;
      if (all) value += coef;
      ids += d;
    }
  }
  return value;
}

}  // namespace pbf
