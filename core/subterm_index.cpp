// Open addressing with linear probing over (degree, index) slots; a slot's ids are read from its
// table, so a slot costs 8 bytes. The table doubles when half full.
#include "subterm_index.h"

#include <algorithm>

#include "id_lists.h"

namespace pbf {
namespace {

uint64_t Hash(int32_t degree, const int32_t* ids) {
  uint64_t h = static_cast<uint64_t>(degree);
  for (int32_t k = 0; k < degree; ++k) {
    h = (h ^ static_cast<uint32_t>(ids[k])) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  return h;
}

}  // namespace

void SubtermIndex::CatchUp() {
  const int32_t top =
      std::min<int32_t>(kMaxApproxDegree, static_cast<int32_t>(store_.tables.size()) - 1);
  for (int32_t d = 1; exact_ && d <= top; ++d) {
    if (!store_.HasTable(d)) continue;
    const TermTable& table = store_.Table(d);
    for (int32_t& t = indexed_[static_cast<size_t>(d)]; exact_ && t < table.Size(); ++t) {
      exact_ = StrictlyAscending(table.Ids(t), d);
      if (exact_) Insert(d, t);
    }
  }
}

int32_t SubtermIndex::Find(int32_t degree, const int32_t* ids) const {
  if (slots_.empty()) return -1;
  const size_t mask = slots_.size() - 1;
  for (size_t slot = Hash(degree, ids) & mask;; slot = (slot + 1) & mask) {
    const uint64_t entry = slots_[slot];
    if (entry == 0) return -1;
    const auto d = static_cast<int32_t>((entry - 1) >> 32);
    const auto t = static_cast<int32_t>((entry - 1) & 0xFFFFFFFFu);
    if (d == degree && SameIds(ids, store_.Table(d).Ids(t), degree)) return t;
  }
}

void SubtermIndex::Insert(int32_t degree, int32_t index) {
  if (2 * (used_ + 1) > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  size_t slot = Hash(degree, store_.Table(degree).Ids(index)) & mask;
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = (static_cast<uint64_t>(degree) << 32 | static_cast<uint32_t>(index)) + 1;
  ++used_;
}

void SubtermIndex::Grow() {
  std::vector<uint64_t> old(std::max<size_t>(64, 2 * slots_.size()), 0);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const uint64_t entry : old) {
    if (entry == 0) continue;
    const auto d = static_cast<int32_t>((entry - 1) >> 32);
    const auto t = static_cast<int32_t>((entry - 1) & 0xFFFFFFFFu);
    size_t slot = Hash(d, store_.Table(d).Ids(t)) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = entry;
  }
}

}  // namespace pbf
