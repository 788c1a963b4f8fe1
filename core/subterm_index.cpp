// Unary terms in an array by their id; every longer term in a bucket chosen by its first two ids,
// 8 slots of 8 bytes (a slot's ids are read from its table), then the bucket's partner, then a
// spill table for the terms whose two buckets are full. The buckets double when half of their
// slots are taken.
//
// On large functions the index is far larger than the caches, and every bucket a lookup reads is
// a cache miss. What keeps their number down:
// - A term T of degree d has 2^d - 1 subsets but only d(d-1)/2 pairs of ids that can begin one:
//   the subsets beginning with the same two ids are looked up in one bucket, so T reads at most
//   d(d-1)/2 buckets and their partners when full (15 buckets instead of 57 lookups for d = 6,
//   3 instead of 4 for d = 3), and the unary subsets none. The terms a rewrite appends are
//   subsets of T and land in buckets T has just read, and the next terms of the walk are often
//   those very terms, whose subsets share T's buckets again.
// - Each slot keeps 27 bits of its term's hash, so a lookup reads the ids of another term only
//   once in 2^27 times (and of the one it looks for, to make sure). A bucket's eight keys are
//   compared with the one looked for four at a time, without a branch per slot.
// - FindSubsets hashes a term's subsets from their shared prefixes and requests every bucket
//   first, then every candidate's ids and coefficient, so that the misses overlap instead of
//   following one another. Growing, the buckets are refilled from the tables (read in order)
//   with the buckets of the terms a few places ahead requested in advance.
// - A bucket that a crowd of terms sharing their first two ids (all (0, 1, x), say) has filled
//   sends the rest to the spill, whose linear probing by each term's own hash keeps a lookup
//   among them at a few slots.
#include "subterm_index.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "id_lists.h"

namespace pbf {
namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
constexpr int kFingerprintShift = 37;  // the slot bits above the index and the degree
constexpr int kAhead = 8;              // terms between a bucket's request and its insertion

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

// What chooses the bucket of a term of degree >= 2: the hash of its first two ids.
uint64_t PairHash(const int32_t* ids) { return Finish(Fold(Fold(0, ids[0]), ids[1]), 2); }

uint64_t SlotOf(int32_t degree, int32_t index, uint64_t hash) {
  return (hash >> kFingerprintShift << kFingerprintShift) | static_cast<uint64_t>(degree) << 32 |
         static_cast<uint32_t>(index);
}

// What a slot holding the term of this degree and hash has in its upper half: the hash bits it
// keeps and the degree. A slot may hold the term when its upper half equals this key.
uint32_t KeyOf(int32_t degree, uint64_t hash) {
  return static_cast<uint32_t>(hash >> kFingerprintShift << (kFingerprintShift - 32)) |
         static_cast<uint32_t>(degree);
}

bool MayHold(uint64_t entry, uint32_t key) { return static_cast<uint32_t>(entry >> 32) == key; }

int32_t DegreeOf(uint64_t entry) { return static_cast<int32_t>((entry >> 32) & 31); }
int32_t IndexOf(uint64_t entry) { return static_cast<int32_t>(entry & 0xFFFFFFFFu); }

// A bucket's slots seen at once: the first free one (8 when the bucket is full; slots fill from
// the first and are never freed), and bit k of `may_hold` for each slot k whose upper half is
// `key`. Every slot is tested, without a branch on where a scan would have stopped: that place is
// as random as the hashes, and the mispredicted exits of a scan cost more than the slots it skips.
// A taken slot's upper half holds its degree (2 or more), so it is never 0, and a free slot never
// matches the key of a term.
struct SlotMasks {
  int first_free;
  unsigned may_hold;
};

// `slots`: a bucket's eight slots, 64-byte aligned.
SlotMasks Examine(const uint64_t (&slots)[8], uint32_t key) {
  unsigned free = 1u << 8;
  unsigned may_hold = 0;
#if defined(__SSE2__)
  // Four slots at a time: their upper halves gathered into one register and compared at once.
  const auto* lines = reinterpret_cast<const __m128*>(slots);
  const __m128i wanted = _mm_set1_epi32(static_cast<int>(key));
  for (int half = 0; half < 2; ++half) {
    const __m128i upper = _mm_castps_si128(
        _mm_shuffle_ps(lines[2 * half], lines[2 * half + 1], _MM_SHUFFLE(3, 1, 3, 1)));
    const int shift = 4 * half;
    free |= static_cast<unsigned>(_mm_movemask_ps(
                _mm_castsi128_ps(_mm_cmpeq_epi32(upper, _mm_setzero_si128()))))
            << shift;
    may_hold |= static_cast<unsigned>(
                    _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(upper, wanted))))
                << shift;
  }
#else
  for (int k = 0; k < 8; ++k) {
    free |= unsigned{slots[k] == 0} << k;
    may_hold |= unsigned{MayHold(slots[k], key)} << k;
  }
#endif
  return {std::countr_zero(free), may_hold};
}

int FirstFree(const uint64_t (&slots)[8]) { return Examine(slots, 0).first_free; }

}  // namespace

void SubtermIndex::CatchUp() {
  const int32_t top =
      std::min<int32_t>(kMaxApproxDegree, static_cast<int32_t>(store_.tables.size()) - 1);
  // Room for all of them first, so that the buckets are refilled at most once.
  size_t pending = 0;
  for (int32_t d = 2; d <= top; ++d) {
    if (store_.HasTable(d)) {
      pending += static_cast<size_t>(store_.Table(d).Size() - indexed_[static_cast<size_t>(d)]);
    }
  }
  if (exact_ && pending > 0 && 2 * (used_ + pending) > bucket_count_ * kSlots) {
    Grow(used_ + pending, bucket_count_ == 0 ? expected_ : 0);
  }
  for (int32_t d = 1; exact_ && d <= top; ++d) {
    if (!store_.HasTable(d)) continue;
    const TermTable& table = store_.Table(d);
    int32_t& t = indexed_[static_cast<size_t>(d)];
    const int32_t size = table.Size();
    for (; t < size; ++t) {
      if (!StrictlyAscending(table.Ids(t), d)) {
        exact_ = false;
        break;
      }
      if (d >= 2 && t + kAhead < size) {
        __builtin_prefetch(&buckets_[PairHash(table.Ids(t + kAhead)) & (bucket_count_ - 1)]);
      }
      Insert(d, t);
    }
  }
}

int32_t SubtermIndex::Lookup(size_t bucket, uint64_t hash, int32_t degree,
                             const int32_t* ids) const {
  const TermTable& table = store_.Table(degree);
  const uint32_t key = KeyOf(degree, hash);
  // The home bucket, then its partner, each only while the one before is full.
  for (const size_t b : {bucket, bucket ^ 1}) {
    const SlotMasks masks = Examine(buckets_[b].slots, key);
    for (unsigned m = masks.may_hold; m != 0; m &= m - 1) {
      const int32_t index = IndexOf(buckets_[b].slots[std::countr_zero(m)]);
      if (SameIds(ids, table.Ids(index), degree)) return index;
    }
    if (masks.first_free < kSlots) return -1;
  }
  if (!Spilled(bucket)) return -1;
  const size_t mask = spill_.size() - 1;
  for (size_t slot = SpillSlot(hash);; slot = (slot + 1) & mask) {
    const uint64_t entry = spill_[slot];
    if (entry == 0) return -1;
    if (MayHold(entry, key) && SameIds(ids, table.Ids(IndexOf(entry)), degree)) {
      return IndexOf(entry);
    }
  }
}

int32_t SubtermIndex::Find(int32_t degree, const int32_t* ids) const {
  if (degree == 1) {
    const auto id = static_cast<size_t>(ids[0]);
    return id < unary_.size() ? unary_[id] : -1;
  }
  if (bucket_count_ == 0) return -1;
  return Lookup(PairHash(ids) & (bucket_count_ - 1), Hash(degree, ids), degree, ids);
}

void SubtermIndex::Prefetch(TermRef term) const {
  if (bucket_count_ == 0) return;
  const size_t mask = bucket_count_ - 1;
  const int32_t d = term.degree;
  const int32_t* ids = term.ids;
  for (int32_t k = 0; k < d; ++k) {
    const auto id = static_cast<size_t>(ids[k]);
    if (id < unary_.size()) __builtin_prefetch(&unary_[id]);
  }
  for (int32_t i = 0; i + 1 < d; ++i) {
    const uint64_t first = Fold(0, ids[i]);
    for (int32_t j = i + 1; j < d; ++j) {
      const uint64_t pair = Fold(first, ids[j]);
      const size_t bucket = Finish(pair, 2) & mask;
      __builtin_prefetch(&buckets_[bucket]);
      __builtin_prefetch(&buckets_[bucket ^ 1]);
      // A spilled bucket: the first spill slots of the subsets that begin with these two ids,
      // the ids after j (bit b of m the id r-1-b places after j), for up to five of them.
      const int32_t r = d - 1 - j;
      if (!Spilled(bucket) || r > 5) continue;
      uint64_t prefix[32];
      int32_t degree[32];
      prefix[0] = pair;
      degree[0] = 2;
      __builtin_prefetch(&spill_[SpillSlot(Finish(pair, 2))]);
      for (uint32_t m = 1; m < (uint32_t{1} << r); ++m) {
        const uint32_t rest = m & (m - 1);
        prefix[m] = Fold(prefix[rest], ids[j + r - std::countr_zero(m)]);
        degree[m] = degree[rest] + 1;
        __builtin_prefetch(&spill_[SpillSlot(Finish(prefix[m], degree[m]))]);
      }
    }
  }
}

void SubtermIndex::FindSubsets(TermRef term, int32_t* found, int32_t stored_at) {
  searched_ = term;
  const int32_t d = term.degree;
  assert(d >= 1 && d <= kMaxApproxDegree);
  const int32_t* ids = term.ids;
  const uint32_t n = uint32_t{1} << d;
  // The ids of subset s in order are those of s without its lowest bit, then the id of that
  // bit, so its prefix hash extends the one of s & (s - 1), which comes earlier.
  if (prefix_.size() < n) {
    prefix_.resize(n);
    degree_.resize(n);
    bucket_of_.resize(n);
    candidate_.resize(n);
  }
  prefix_[0] = 0;
  degree_[0] = 0;
  for (uint32_t s = 1; s < n; ++s) {
    const uint32_t rest = s & (s - 1);
    prefix_[s] = Fold(prefix_[rest], ids[d - 1 - std::countr_zero(s)]);
    degree_[s] = static_cast<uint8_t>(degree_[rest] + 1);
  }
  for (int32_t b = 0; b < d; ++b) {
    const auto id = static_cast<size_t>(ids[d - 1 - b]);
    found[uint32_t{1} << b] = id < unary_.size() ? unary_[id] : -1;
  }
  if (bucket_count_ == 0) {
    for (uint32_t s = 1; s < n; ++s) {
      if ((s & (s - 1)) != 0) found[s] = -1;
    }
    return;
  }
  const size_t mask = bucket_count_ - 1;
  // The buckets, one per pair of ids that can begin a subset: requested.
  for (int32_t hi = 1; hi < d; ++hi) {
    for (int32_t lo = 0; lo < hi; ++lo) {
      const uint32_t pair = uint32_t{1} << hi | uint32_t{1} << lo;
      const auto bucket = static_cast<uint32_t>(Finish(prefix_[pair], 2) & mask);
      bucket_of_[pair] = bucket;
      __builtin_prefetch(&buckets_[bucket].slots[0]);
    }
  }
  // First pass: each subset's first slot that may hold it, whose term's ids and coefficient are
  // prefetched; none, null, when the subset is certainly absent.
  const size_t spill_mask = spill_.size() - 1;
  // Where each degree's ids and coefficients lie (the tables do not change during the search).
  const int32_t* vars[kMaxApproxDegree + 1];
  const int32_t* coefs[kMaxApproxDegree + 1];
  for (int32_t k = 2; k <= d; ++k) {
    vars[k] = store_.HasTable(k) ? store_.Table(k).vars.data() : nullptr;
    coefs[k] = store_.HasTable(k) ? store_.Table(k).coefs.data() : nullptr;
  }
  const auto ids_of = [&vars](int32_t degree, int32_t index) {
    return vars[degree] + static_cast<size_t>(degree) * static_cast<size_t>(index);
  };
  const uint32_t last = stored_at >= 0 && d >= 2 ? n - 1 : n;  // the subsets looked up: s < last
  for (uint32_t s = 3; s < last; ++s) {
    if ((s & (s - 1)) == 0) continue;  // unary, answered above
    const int32_t degree = degree_[s];
    const uint64_t hash = Finish(prefix_[s], degree);
    const uint32_t key = KeyOf(degree, hash);
    // Its first two ids are those of s without its lowest bit, which comes earlier, unless s is
    // the pair itself.
    if (degree > 2) bucket_of_[s] = bucket_of_[s & (s - 1)];
    const uint32_t bucket = bucket_of_[s];
    // A spilled bucket and its partner are full, and a crowd that filled them has most of its
    // terms in the spill (all of them but 16 for the subsets of a clique): there first.
    const uint64_t* candidate = nullptr;
    if (Spilled(bucket)) {
      for (size_t slot = SpillSlot(hash); spill_[slot] != 0; slot = (slot + 1) & spill_mask) {
        if (MayHold(spill_[slot], key)) {
          candidate = &spill_[slot];
          break;
        }
      }
    }
    for (const size_t b : {size_t{bucket}, size_t{bucket} ^ 1}) {
      if (candidate) break;
      const SlotMasks masks = Examine(buckets_[b].slots, key);
      if (masks.may_hold != 0) candidate = &buckets_[b].slots[std::countr_zero(masks.may_hold)];
      // A free slot: the partner holds none of this bucket's terms.
      if (masks.first_free < kSlots) break;
    }
    candidate_[s] = candidate;
    if (candidate) {
      const int32_t index = IndexOf(*candidate);
      __builtin_prefetch(ids_of(degree, index));
      __builtin_prefetch(coefs[degree] + index);
    }
  }
  // Second pass: make sure, and look further after a slot that held another term.
  int32_t subset[kMaxApproxDegree];
  if (last < n) found[last] = stored_at;
  for (uint32_t s = 3; s < last; ++s) {
    if ((s & (s - 1)) == 0) continue;
    const uint64_t* candidate = candidate_[s];
    if (!candidate) {
      found[s] = -1;
      continue;
    }
    const int32_t index = IndexOf(*candidate);
    const int32_t degree = degree_[s];
    if (SameSubsetIds(ids, d, s, ids_of(degree, index))) {
      found[s] = index;
    } else {
      SubsetIds(ids, d, s, subset);
      found[s] = Lookup(bucket_of_[s], Finish(prefix_[s], degree), degree, subset);
    }
  }
}

void SubtermIndex::ReserveSubsets(TermRef term, size_t count) {
  const auto largest = static_cast<size_t>(term.ids[term.degree - 1]);
  if (largest >= unary_.size()) unary_.resize(largest + 1, -1);
  if (2 * (used_ + count) > bucket_count_ * kSlots) Grow(used_ + count);
  while (2 * (spill_used_ + count) > spill_.size()) GrowSpill();
}

void SubtermIndex::TakeInSubset(uint32_t s, int32_t index) {
  const int32_t degree = degree_[s];
  int32_t& indexed = indexed_[static_cast<size_t>(degree)];
  assert(exact_ && indexed == index);
  indexed = index + 1;
  if (degree == 1) {
    unary_[static_cast<size_t>(searched_.ids[searched_.degree - 1 - std::countr_zero(s)])] = index;
    return;
  }
  // The bucket of its first two ids, the two highest bits of s (the buckets may have grown since
  // FindSubsets chose them).
  const uint32_t rest = s ^ (uint32_t{1} << (31 - std::countl_zero(s)));
  const uint32_t pair = s ^ rest ^ (uint32_t{1} << (31 - std::countl_zero(rest)));
  const uint64_t hash = Finish(prefix_[s], degree);
  InsertHashed(Finish(prefix_[pair], 2) & (bucket_count_ - 1), SlotOf(degree, index, hash), hash);
  ++used_;
}

void SubtermIndex::Insert(int32_t degree, int32_t index) {
  const int32_t* ids = store_.Table(degree).Ids(index);
  if (degree == 1) {
    const auto id = static_cast<size_t>(ids[0]);
    if (id >= unary_.size()) unary_.resize(id + 1, -1);
    unary_[id] = index;
    return;
  }
  if (2 * (used_ + 1) > bucket_count_ * kSlots) Grow(used_ + 1);
  const uint64_t hash = Hash(degree, ids);
  InsertHashed(PairHash(ids) & (bucket_count_ - 1), SlotOf(degree, index, hash), hash);
  ++used_;
}

void SubtermIndex::InsertHashed(size_t bucket, uint64_t entry, uint64_t hash) {
  for (const size_t b : {bucket, bucket ^ 1}) {
    const int first_free = FirstFree(buckets_[b].slots);
    if (first_free < kSlots) {
      buckets_[b].slots[first_free] = entry;
      return;
    }
  }
  spilled_[bucket >> 6] |= uint64_t{1} << (bucket & 63);
  if (2 * (spill_used_ + 1) > spill_.size()) GrowSpill();
  const size_t mask = spill_.size() - 1;
  size_t slot = SpillSlot(hash);
  while (spill_[slot] != 0) slot = (slot + 1) & mask;
  spill_[slot] = entry;
  ++spill_used_;
}

void SubtermIndex::Grow(size_t terms, size_t hoped) {
  const auto buckets_for = [this](size_t n) {
    size_t count = std::max<size_t>(16, 2 * bucket_count_);
    while (count * kSlots < 2 * n) count *= 2;
    return count;
  };
  // A hope beyond any memory would overflow the sizes below; it only has to fail to allocate.
  hoped = std::min(hoped, (size_t{1} << 50) / sizeof(Bucket));
  // Everything new is allocated before anything is replaced.
  // Zeroed by calloc, which for a block this large maps fresh pages instead of writing zeros, and
  // aligned within it; from 2 MiB on to 2 MiB, so that the system may back the buckets with huge
  // pages (asked for before the first write), and a lookup rarely misses the TLB as well.
  constexpr size_t kHuge = size_t{2} << 20;
  size_t count = 0;
  size_t bytes = 0;
  size_t align = 0;
  std::unique_ptr<void, Free> memory;
  for (const size_t n : {std::max(terms, hoped), terms}) {
    count = buckets_for(n);
    bytes = count * sizeof(Bucket);
    align = bytes >= kHuge ? kHuge : sizeof(Bucket);
    memory.reset(std::calloc(bytes + align, 1));
    if (memory || hoped <= terms) break;
  }
  if (!memory) throw std::bad_alloc();
  const auto start = (reinterpret_cast<uintptr_t>(memory.get()) + align - 1) / align * align;
  auto* buckets = reinterpret_cast<Bucket*>(start);
#ifdef MADV_HUGEPAGE
  if (align == kHuge) madvise(buckets, bytes, MADV_HUGEPAGE);
#endif
  std::vector<uint64_t> spilled((count + 63) / 64, 0);
  std::vector<uint64_t> spill;
  bucket_memory_.swap(memory);
  buckets_ = buckets;
  memory.reset();
  spilled_.swap(spilled);
  spill_.swap(spill);
  bucket_count_ = count;
  used_ = 0;
  spill_used_ = 0;
  const size_t mask = count - 1;
  // Only the spill can run out of memory here; the index is then of no use.
  try {
  for (int32_t d = 2; d <= kMaxApproxDegree; ++d) {
    const int32_t size = indexed_[static_cast<size_t>(d)];
    if (size == 0) continue;
    const TermTable& table = store_.Table(d);
    for (int32_t t = 0; t < size; ++t) {
      if (t + kAhead < size) __builtin_prefetch(&buckets_[PairHash(table.Ids(t + kAhead)) & mask]);
      const int32_t* ids = table.Ids(t);
      const uint64_t hash = Hash(d, ids);
      InsertHashed(PairHash(ids) & mask, SlotOf(d, t, hash), hash);
      ++used_;
    }
  }
  } catch (...) {
    exact_ = false;
    throw;
  }
}

void SubtermIndex::GrowSpill() {
  std::vector<uint64_t> old(std::max<size_t>(64, 2 * spill_.size()), 0);
  old.swap(spill_);
  const size_t mask = spill_.size() - 1;
  for (const uint64_t entry : old) {
    if (entry == 0) continue;
    // The entry's hash bits give its slot, up to 2^27 slots; above, its ids.
    const int32_t d = DegreeOf(entry);
    size_t slot = spill_.size() <= kSpillBySlot ? SpillSlot(entry)
                                                : SpillSlot(Hash(d, store_.Table(d).Ids(IndexOf(entry))));
    while (spill_[slot] != 0) slot = (slot + 1) & mask;
    spill_[slot] = entry;
  }
}

}  // namespace pbf
