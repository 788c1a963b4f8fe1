// numpy arrays in and out: owned outputs whose memory a capsule frees with the array, and inputs.
#pragma once

#include <nanobind/ndarray.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pbfred::energy {

namespace nb = nanobind;

template <typename T>
using NumpyArray = nb::ndarray<nb::numpy, T>;

// A numpy array that takes over `values` (no copy) with the given shape.
template <typename T>
NumpyArray<T> ToNumpy(std::vector<T>&& values, std::initializer_list<size_t> shape) {
  auto* owned = new std::vector<T>(std::move(values));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
  return NumpyArray<T>(owned->data(), shape.size(), shape.begin(), owner);
}

// A numpy bool array that takes over `flags`, each 0 or 1 (the byte layout of a C++ bool).
inline NumpyArray<bool> ToNumpyBool(std::vector<uint8_t>&& flags, size_t n) {
  auto* owned = new std::vector<uint8_t>(std::move(flags));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<uint8_t>*>(p); });
  const size_t shape[1] = {n};
  return NumpyArray<bool>(reinterpret_cast<bool*>(owned->data()), 1, shape, owner);
}

// Read-only input arrays, validated and made C-contiguous by the Python half. Bound with
// noconvert(): an array of another type or layout is refused, never silently converted.
template <typename T>
using Input = nb::ndarray<const T, nb::c_contig, nb::device::cpu>;

// The Python half reports a negative id with its place. This check keeps a direct caller of the
// private module from reaching the core with one (which would index outside its arrays).
inline void RequireIds(const Input<int32_t>& ids) {
  const int32_t* first = ids.data();
  if (std::any_of(first, first + ids.size(), [](int32_t id) { return id < 0; })) {
    throw nb::value_error("ids must be >= 0");
  }
}

}  // namespace pbfred::energy
