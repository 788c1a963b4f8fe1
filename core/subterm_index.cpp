// Open addressing with linear probing over (degree, index) slots; a slot's ids are read from its
// table, so a slot costs 8 bytes. The table doubles when half full.
//
// On large functions the index is far larger than the caches, and a lookup is a cache miss for
// its slot and another for the ids it compares with. Two choices keep that down:
// - Each slot keeps 27 bits of its term's hash, so a probe reads the ids of another term only
//   once in 2^27 times (and of the one it looks for, to make sure).
// - FindSubsets hashes a term's subsets from their shared prefixes and prefetches every slot
//   first, then every candidate's ids and coefficient, so that the misses overlap instead of
//   following one another. Without the slots' prefetch pubo1e5x1e6 reduces 1-1.5 s slower (of
//   16-19 s, measured beside other jobs; bench/RESULTS.md). Giving every first id a window of
//   its own, for locality, was 2 s slower, and so were no faster: unary terms in an array apart.
#include "subterm_index.h"

#include <algorithm>
#include <bit>

#include "id_lists.h"

namespace pbf {
namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
constexpr int kFingerprintShift = 37;  // the slot bits above the index and the degree

uint64_t Fold(uint64_t h, int32_t id) {
  h = (h ^ static_cast<uint32_t>(id)) * kMultiplier;
  return h ^ (h >> 29);
}

// The hash of ids folded one by one into `prefix`, with their number mixed in last: the hash of
// a list extends the hash of its prefix.
uint64_t Finish(uint64_t prefix, int32_t degree) {
  const uint64_t h = (prefix + static_cast<uint64_t>(degree)) * kMultiplier;
  return h ^ (h >> 32);
}

uint64_t Hash(int32_t degree, const int32_t* ids) {
  uint64_t h = 0;
  for (int32_t k = 0; k < degree; ++k) h = Fold(h, ids[k]);
  return Finish(h, degree);
}

uint64_t SlotOf(int32_t degree, int32_t index, uint64_t hash) {
  return (hash >> kFingerprintShift << kFingerprintShift) | static_cast<uint64_t>(degree) << 32 |
         static_cast<uint32_t>(index);
}

// Whether the slot may hold the term of this degree and hash: the same degree and hash bits.
bool MayHold(uint64_t entry, int32_t degree, uint64_t hash) {
  return ((entry ^ hash) >> kFingerprintShift) == 0 &&
         static_cast<int32_t>((entry >> 32) & 31) == degree;
}

int32_t DegreeOf(uint64_t entry) { return static_cast<int32_t>((entry >> 32) & 31); }
int32_t IndexOf(uint64_t entry) { return static_cast<int32_t>(entry & 0xFFFFFFFFu); }

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

int32_t SubtermIndex::Probe(size_t slot, uint64_t hash, int32_t degree, const int32_t* ids) const {
  const size_t mask = slots_.size() - 1;
  for (;; slot = (slot + 1) & mask) {
    const uint64_t entry = slots_[slot];
    if (entry == 0) return -1;
    if (MayHold(entry, degree, hash) &&
        SameIds(ids, store_.Table(degree).Ids(IndexOf(entry)), degree)) {
      return IndexOf(entry);
    }
  }
}

int32_t SubtermIndex::Find(int32_t degree, const int32_t* ids) const {
  if (slots_.empty()) return -1;
  const uint64_t hash = Hash(degree, ids);
  return Probe(hash & (slots_.size() - 1), hash, degree, ids);
}

void SubtermIndex::FindSubsets(TermRef term, int32_t* found) {
  const int32_t d = term.degree;
  const uint32_t n = uint32_t{1} << d;
  if (slots_.empty()) {
    std::fill(found + 1, found + n, -1);
    return;
  }
  const size_t mask = slots_.size() - 1;
  // The ids of subset s in order are those of s without its lowest bit, then the id of that
  // bit, so its prefix hash extends the one of s & (s - 1), which comes earlier.
  if (prefix_.size() < n) prefix_.resize(n);
  prefix_[0] = 0;
  for (uint32_t s = 1; s < n; ++s) {
    prefix_[s] = Fold(prefix_[s & (s - 1)], term.ids[d - 1 - std::countr_zero(s)]);
  }
  for (uint32_t s = n - 1; s > 0; --s) {
    prefix_[s] = Finish(prefix_[s], std::popcount(s));
    __builtin_prefetch(&slots_[prefix_[s] & mask]);
  }
  // First pass: each subset's first slot that may hold it, whose term's ids and coefficient are
  // prefetched; none (the subset is certainly absent) is slots_.size().
  if (candidate_.size() < n) candidate_.resize(n);
  for (uint32_t s = 1; s < n; ++s) {
    const uint64_t hash = prefix_[s];
    const int32_t degree = std::popcount(s);
    size_t slot = hash & mask;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
      if (MayHold(slots_[slot], degree, hash)) break;
    }
    if (slots_[slot] == 0) {
      candidate_[s] = slots_.size();
      continue;
    }
    candidate_[s] = slot;
    const TermTable& table = store_.Table(degree);
    const int32_t index = IndexOf(slots_[slot]);
    __builtin_prefetch(table.Ids(index));
    __builtin_prefetch(table.coefs.data() + index);
  }
  // Second pass: make sure, and go on probing after a slot that held another term.
  int32_t ids[kMaxApproxDegree];
  for (uint32_t s = 1; s < n; ++s) {
    const size_t slot = candidate_[s];
    if (slot == slots_.size()) {
      found[s] = -1;
      continue;
    }
    const int32_t degree = SubsetIds(term.ids, d, s, ids);
    const int32_t index = IndexOf(slots_[slot]);
    found[s] = SameIds(ids, store_.Table(degree).Ids(index), degree)
                   ? index
                   : Probe((slot + 1) & mask, prefix_[s], degree, ids);
  }
}

void SubtermIndex::Insert(int32_t degree, int32_t index) {
  if (2 * (used_ + 1) > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  const uint64_t hash = Hash(degree, store_.Table(degree).Ids(index));
  size_t slot = hash & mask;
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = SlotOf(degree, index, hash);
  ++used_;
}

void SubtermIndex::Grow() {
  std::vector<uint64_t> old(std::max<size_t>(64, 2 * slots_.size()), 0);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const uint64_t entry : old) {
    if (entry == 0) continue;
    const int32_t d = DegreeOf(entry);
    size_t slot = Hash(d, store_.Table(d).Ids(IndexOf(entry))) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = entry;
  }
}

}  // namespace pbf
