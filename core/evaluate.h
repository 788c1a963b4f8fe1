// The value of a function at a full labelling, exactly.
#pragma once

#include <cstdint>

#include "pbf.h"

namespace pbf {

// f at the labelling x: x[v] in {0, 1} for every id v = 0 .. f.MaxId() (x may be null when f has
// no terms). The integer sum of the constant and of every stored coefficient whose ids are all 1,
// in 64 bits: no wrap-around (at most 2^32 terms of |coef| <= 2^31 cannot overflow).
int64_t Evaluate(const PBF& f, const uint8_t* x);

}  // namespace pbf
