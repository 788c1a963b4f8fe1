// Room for a large array that is read at random, on huge pages where the system offers them.
//
// A maximum flow jumps between the records of a network of millions of nodes and arcs; with 4 KiB
// pages nearly every such read also misses the address-translation cache. Linux backs memory with
// 2 MiB pages when asked before the memory is first touched, so the room is reserved, advised,
// and only then filled by the caller's resize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace pbf {

template <typename T>
void ReserveOnHugePages(std::vector<T>& v, size_t n) {
  v.reserve(n);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<uintptr_t>(v.data());
  const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t last = (begin + n * sizeof(T)) & ~(kHuge - 1);
  // Only advice: where the system refuses, the memory stays on ordinary pages.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace pbf
