// The values of a function at many labellings at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pbf.h"

namespace pbf {

// energies[r] = the value of f at labelling r, for r < rows: the constant plus the coefficients of
// every term whose variables are all 1, summed exactly in 64 bits (no wrap-around). Labelling r is
// x[r*width .. r*width+width): byte v is variable v's value, and any non-zero byte counts as 1.
// Precondition: width > f.MaxId(). Its scratch memory, 8 bytes per variable, may throw
// std::bad_alloc; f is only read.
void EvaluateBatch(const PBF& f, const uint8_t* x, size_t rows, size_t width, int64_t* energies);

}  // namespace pbf
