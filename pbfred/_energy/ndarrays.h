// numpy arrays handed to Python: owned copies whose memory a capsule frees with the array.
#pragma once

#include <nanobind/ndarray.h>

#include <cstddef>
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

// Read-only input arrays, validated and made C-contiguous by the Python half.
template <typename T>
using Input = nb::ndarray<const T, nb::c_contig, nb::device::cpu>;

}  // namespace pbfred::energy
