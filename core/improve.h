// Improvement moves: labels for what roof duality (and probing) left unfixed, never raising the
// energy of the function they work on.
#pragma once

#include <cstdint>
#include <vector>

#include "free_part.h"
#include "pbf.h"

namespace pbf {

// QPBO-I style moves on the free part, then single flips, moving only variables with held[k] < 0.
// A round picks a random half S of them, holds every other variable at x, and solves roof duality
// on the function of S that remains; its labels form an autarky of that function, so writing them
// into x never raises the part's value. Rounds stop after kImproveRounds or at the first round
// that changes fewer than one in kImproveQuiet of its variables; single flips that lower the value
// follow until none is left. The random halves come from a hash of the round and the variable:
// the result depends on nothing but the input.
inline constexpr int32_t kImproveRounds = 4;
inline constexpr size_t kImproveQuiet = 1000;
void ImproveFreePart(const FreePart& part, const std::vector<int8_t>& held,
                     std::vector<uint8_t>& x);

// Single flips on the part: while flipping a variable k with held[k] < 0 lowers the part's value,
// flips it. Where the held variables decide the others' best values independently (auxiliaries of
// a quadratization, given the function's own variables), this finds them exactly.
void DescendFreePart(const FreePart& part, const std::vector<int8_t>& held,
                     std::vector<uint8_t>& x);

// A start for the variables with movable[v]: each takes the value that lowers f in expectation
// when the other movable variables are 0 or 1 with equal odds and the rest keep their labels in x.
// On an image energy this is the data term's choice, softened by the labels fixed around it. Cost:
// one pass over the occurrences of the movable variables.
std::vector<uint8_t> ExpectedGainStart(const PBF& f, const std::vector<uint8_t>& x,
                                       const std::vector<uint8_t>& movable);

// Single-flip descent on f: while flipping some variable v with movable[v] lowers f(x), flips it.
// x and movable have f.MaxId() + 1 entries. Each flip is found from v's occurrence list; a flip
// queues the movable variables of the terms it touches. Terminates: every flip lowers the integer
// value.
void Descend(const PBF& f, const std::vector<uint8_t>& movable, std::vector<uint8_t>& x);

}  // namespace pbf
