// Wrapping int32 arithmetic.
//
// Coefficients, energies and the constant are int32 values whose sums and products wrap modulo
// 2^32, the way the hardware does it. Signed overflow is undefined behaviour in C++, so every
// operation here goes through uint32_t and converts back (well defined since C++20).
#pragma once

#include <cstdint>

namespace pbf {

constexpr int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

constexpr int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

constexpr int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

constexpr int32_t WrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }

// |a| with -2^31 mapping to itself, as two's complement negation does.
constexpr int32_t WrapAbs(int32_t a) { return a < 0 ? WrapNeg(a) : a; }

}  // namespace pbf
