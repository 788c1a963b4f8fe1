// Improvement moves: labels for what roof duality (and probing) left unfixed, never raising the
// energy of the function they work on.
#pragma once

#include <cstdint>
#include <vector>

#include "free_part.h"
#include "pbf.h"

namespace pbf {

// QPBO-I style moves on the free part, then single flips. A round picks a random half S of the
// free variables (fixed[k] < 0), sets every other variable to x, and solves roof duality on the
// function of S that remains; its labels form an autarky of that function, so writing them into
// x never raises the part's value. Rounds stop after kImproveRounds or two rounds in a row that
// change nothing; single flips that lower the value follow until none is left. The random halves
// come from a hash of the round and the variable: the result depends on nothing but the input.
inline constexpr int32_t kImproveRounds = 8;
void ImproveFreePart(const FreePart& part, const std::vector<int8_t>& fixed,
                     std::vector<uint8_t>& x);

// Single-flip descent on f: while flipping some variable v with movable[v] lowers f(x), flips it.
// x and movable have f.MaxId() + 1 entries. Each flip is found from v's occurrence list; a flip
// queues the movable variables of the terms it touches. Terminates: every flip lowers the integer
// value.
void Descend(const PBF& f, const std::vector<uint8_t>& movable, std::vector<uint8_t>& x);

}  // namespace pbf
