#include "quadratic_builder.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace pbf {
namespace {

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// A sum that leaves int64 stays at kOverflow, which is outside int32, so Finish reports it.
constexpr int64_t kOverflow = std::numeric_limits<int64_t>::min();

void Accumulate(int64_t& sum, int64_t coef) {
  if (sum == kOverflow || __builtin_add_overflow(sum, coef, &sum)) sum = kOverflow;
}

std::vector<int32_t> Narrow(const std::vector<int64_t>& coefs) {
  std::vector<int32_t> out(coefs.size());
  for (size_t t = 0; t < coefs.size(); ++t) out[t] = static_cast<int32_t>(coefs[t]);
  return out;
}

}  // namespace

QuadraticBuilder::QuadraticBuilder(int64_t first_auxiliary, bool ordered, bool sources)
    : first_auxiliary_(first_auxiliary),
      next_auxiliary_(first_auxiliary),
      ordered_(ordered),
      tracks_sources_(sources),
      sources_{TermPosition{}} {
  ResizeIndex(1024);
}

void QuadraticBuilder::Reserve(size_t pairs, size_t unary, size_t indexed) {
  pair_vars_.reserve(2 * pairs);
  pair_coefs_.reserve(pairs);
  if (tracks_sources_) pair_owners_.reserve(pairs);
  unary_vars_.reserve(unary);
  unary_coefs_.reserve(unary);
  if (tracks_sources_) unary_owners_.reserve(unary);
  // Most of the unary terms are those of auxiliaries, numbered in a row: their slots grow to the
  // hint at the first one instead of by doubling.
  auxiliary_unary_slot_.reserve(unary);
  if (2 * indexed > index_.size()) ResizeIndex(std::bit_ceil(2 * indexed));
}

void QuadraticBuilder::SetSource(TermPosition term) {
  if (!tracks_sources_) return;
  // Copies of f's own terms can never be blamed: they all share the first entry.
  if (term.degree <= 2) {
    source_ = 0;
    return;
  }
  if (sources_[static_cast<size_t>(source_)] == term) return;
  source_ = static_cast<int32_t>(sources_.size());
  sources_.push_back(term);
}

int32_t QuadraticBuilder::NewAuxiliary() { return static_cast<int32_t>(next_auxiliary_++); }

void QuadraticBuilder::Credit(int32_t& owner) {
  if (owner == 0) owner = source_;
}

void QuadraticBuilder::AddConstant(int64_t coef) {
  Accumulate(constant_, coef);
  if (tracks_sources_) Credit(constant_owner_);
}

int32_t& QuadraticBuilder::UnarySlot(int32_t var) {
  // Auxiliaries may start far above f's ids (newvar), so they have an index of their own.
  std::vector<int32_t>& slots = var < first_auxiliary_ ? unary_slot_ : auxiliary_unary_slot_;
  const auto id = static_cast<size_t>(var < first_auxiliary_ ? var : var - first_auxiliary_);
  if (slots.size() <= id) slots.resize(std::max({id + 1, 2 * slots.size(), slots.capacity()}), -1);
  return slots[id];
}

void QuadraticBuilder::AddUnary(int64_t coef, int32_t var) {
  int32_t& slot = UnarySlot(var);
  if (slot >= 0) {
    Accumulate(unary_coefs_[static_cast<size_t>(slot)], coef);
    if (tracks_sources_) Credit(unary_owners_[static_cast<size_t>(slot)]);
    return;
  }
  slot = static_cast<int32_t>(unary_vars_.size());
  unary_vars_.push_back(var);
  unary_coefs_.push_back(coef);
  if (tracks_sources_) unary_owners_.push_back(source_);
}

uint64_t QuadraticBuilder::Key(int32_t i, int32_t j) const {
  if (!ordered_ && j < i) std::swap(i, j);
  return uint64_t{static_cast<uint32_t>(i)} << 32 | static_cast<uint32_t>(j);
}

int32_t QuadraticBuilder::FindPair(uint64_t key) const {
  if (indexed_ == 0) return -1;
  const size_t mask = index_.size() - 1;
  for (size_t h = Home(key);; h = (h + 1) & mask) {
    if (index_[h].key == key || index_[h].slot < 0) return index_[h].slot;
  }
}

void QuadraticBuilder::IndexPair(uint64_t key, int32_t slot) {
  if (2 * (indexed_ + 1) > index_.size()) ResizeIndex(2 * index_.size());
  const size_t mask = index_.size() - 1;
  size_t h = Home(key);
  while (index_[h].slot >= 0) h = (h + 1) & mask;
  index_[h] = {key, slot};
  ++indexed_;
}

void QuadraticBuilder::ResizeIndex(size_t slots) {
  std::vector<IndexEntry> old(slots);
  std::swap(old, index_);
  index_shift_ = 64 - std::countr_zero(slots);
  indexed_ = 0;
  for (const IndexEntry& entry : old) {
    if (entry.slot >= 0) IndexPair(entry.key, entry.slot);
  }
}

int32_t QuadraticBuilder::NewPair(int64_t coef, int32_t i, int32_t j) {
  const auto slot = static_cast<int32_t>(pair_coefs_.size());
  pair_vars_.push_back(i);
  pair_vars_.push_back(j);
  pair_coefs_.push_back(coef);
  if (tracks_sources_) pair_owners_.push_back(source_);
  return slot;
}

void QuadraticBuilder::AddToPair(int64_t coef, int32_t pair) {
  Accumulate(pair_coefs_[static_cast<size_t>(pair)], coef);
  if (tracks_sources_) Credit(pair_owners_[static_cast<size_t>(pair)]);
}

void QuadraticBuilder::AddPair(int64_t coef, int32_t i, int32_t j) {
  const int32_t slot = FindPair(i, j);
  if (slot >= 0) return AddToPair(coef, slot);
  IndexPair(Key(i, j), NewPair(coef, i, j));
}

void QuadraticBuilder::AddNewPair(int64_t coef, int32_t i, int32_t j) { NewPair(coef, i, j); }

void QuadraticBuilder::CopyPairsOf(const TermStore& f, bool through_lists) {
  const TermTable& pairs = f.Table(2);
  const auto n = static_cast<size_t>(pairs.Size());
  SetSource({});
  if (through_lists) {
    // Without pairs in f there is nothing to find there.
    if (n > 0) base_ = &f;
    pair_vars_.insert(pair_vars_.end(), pairs.vars.begin(), pairs.vars.end());
    pair_coefs_.insert(pair_coefs_.end(), pairs.coefs.begin(), pairs.coefs.end());
    if (tracks_sources_) pair_owners_.insert(pair_owners_.end(), n, source_);
    return;
  }
  for (int32_t t = 0; t < pairs.Size(); ++t) {
    const int32_t* ids = pairs.Ids(t);
    const uint64_t key = Key(ids[0], ids[1]);
    const int32_t slot = NewPair(pairs.Coef(t), ids[0], ids[1]);
    // f holds no two pairs with the same ordered ids, but may hold (i, j) and (j, i).
    if (ordered_ || FindPair(key) < 0) IndexPair(key, slot);
  }
}

int32_t QuadraticBuilder::FindBasePair(int32_t i, int32_t j) const {
  if (!base_->HasList(i) || !base_->HasList(j)) return -1;
  const OccurrenceList& a = base_->OccurrencesOf(i);
  const OccurrenceList& b = base_->OccurrencesOf(j);
  const TermTable& pairs = base_->Table(2);
  // A list names the pairs in ascending index order, so the first match is the first pair.
  for (const Occurrence& occ : b.size() < a.size() ? b : a) {
    if (occ.degree != 2) continue;
    const int32_t* ids = pairs.Ids(occ.index);
    if ((ids[0] == i && ids[1] == j) || (!ordered_ && ids[0] == j && ids[1] == i)) return occ.index;
  }
  return -1;
}

void QuadraticBuilder::PrefetchPair(int32_t i, int32_t j) const {
  // While f's pairs are found through its lists the index may still be empty: nothing to load.
  if (base_ && indexed_ == 0) return;
  __builtin_prefetch(&index_[Home(Key(i, j))]);
}

bool QuadraticBuilder::AllFit() const {
  const auto fits = [](const std::vector<int64_t>& coefs) {
    return std::all_of(coefs.begin(), coefs.end(), FitsInt32);
  };
  return FitsInt32(constant_) && fits(pair_coefs_) && fits(unary_coefs_);
}

std::optional<TermPosition> QuadraticBuilder::Finish(PBF& out) {
  const auto blame = [&](int32_t owner) {
    return tracks_sources_ ? sources_[static_cast<size_t>(owner)] : TermPosition{};
  };
  if (!FitsInt32(constant_)) return blame(constant_owner_);
  for (size_t t = 0; t < pair_coefs_.size(); ++t) {
    if (!FitsInt32(pair_coefs_[t])) return blame(tracks_sources_ ? pair_owners_[t] : 0);
  }
  for (size_t t = 0; t < unary_coefs_.size(); ++t) {
    if (!FitsInt32(unary_coefs_[t])) return blame(tracks_sources_ ? unary_owners_[t] : 0);
  }
  out.constant = static_cast<int32_t>(constant_);
  TermTable& pairs = out.terms.Table(2);
  pairs.coefs = Narrow(pair_coefs_);
  pairs.vars = std::move(pair_vars_);
  TermTable& unary = out.terms.Table(1);
  unary.coefs = Narrow(unary_coefs_);
  unary.vars = std::move(unary_vars_);
  // Every auxiliary handed out is named by a term, and all of them lie above f's ids.
  if (next_auxiliary_ > first_auxiliary_) {
    out.terms.BuildOccurrences(static_cast<int32_t>(next_auxiliary_ - 1));
  } else {
    out.terms.BuildOccurrences();
  }
  return std::nullopt;
}

}  // namespace pbf
