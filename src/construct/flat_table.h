// An open-addressing hash table of small entries (record handles, or a handle with a compact value).
//
// The caller supplies every hash and every equality test, so one table type serves all the record
// keys of the engine. Each slot keeps 32 bits of its entry's hash (never 0; 0 marks an empty slot):
// a probe compares them before it looks at the entry, and growing never recomputes a hash, so the
// records behind the handles are not touched. Linear probing, load factor at most 7/8, capacity a
// power of two. Entries are never removed: the catalogs and indexes only grow.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "construct/block_storage.h"

namespace brackwater::construct {

template <class Entry>
class FlatTable {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The entry with hash `h` for which `eq(entry)` holds, or nullptr.
  template <class Eq>
  Entry* find(uint64_t h, Eq&& eq) {
    if (size_ == 0) return nullptr;
    const uint32_t stamp = stamp_of(h);
    for (size_t i = stamp & mask_;; i = (i + 1) & mask_) {
      const uint32_t s = stamps_[i];
      if (s == 0) return nullptr;
      if (s == stamp && eq(slots_[i])) return &slots_[i];
    }
  }
  template <class Eq>
  const Entry* find(uint64_t h, Eq&& eq) const {
    return const_cast<FlatTable*>(this)->find(h, std::forward<Eq>(eq));
  }

  // Removes every entry, keeping the capacity.
  void clear() {
    std::fill(stamps_.begin(), stamps_.end(), 0u);
    size_ = 0;
  }

  // Makes room for `n` entries in all without growing again.
  void reserve(size_t n) {
    while (n * 8 > stamps_.size() * 7) grow();
  }

  // Inserts an entry known to be absent.
  Entry& insert_new(uint64_t h, Entry entry) {
    if ((size_ + 1) * 8 > stamps_.size() * 7) grow();
    ++size_;
    return place(stamp_of(h), std::move(entry));
  }

  size_t memory_bytes() const {
    return block_footprint(stamps_.capacity() * sizeof(uint32_t)) + block_footprint(slots_.capacity() * sizeof(Entry));
  }

  template <class F>
  void for_each(F&& f) const {
    for (size_t i = 0; i < stamps_.size(); ++i) {
      if (stamps_[i] != 0) f(slots_[i]);
    }
  }

 private:
  // 32 well-mixed bits of the hash with the top bit set, so that no stamp is 0.
  static uint32_t stamp_of(uint64_t h) { return static_cast<uint32_t>(h ^ (h >> 32)) | 0x80000000u; }

  Entry& place(uint32_t stamp, Entry entry) {
    size_t i = stamp & mask_;
    while (stamps_[i] != 0) i = (i + 1) & mask_;
    stamps_[i] = stamp;
    slots_[i] = std::move(entry);
    return slots_[i];
  }

  void grow() {
    const size_t capacity = stamps_.empty() ? 16 : stamps_.size() * 2;
    Array<uint32_t> old_stamps(capacity, 0);
    Array<Entry> old_slots(capacity);
    old_stamps.swap(stamps_);
    old_slots.swap(slots_);
    mask_ = capacity - 1;
    for (size_t i = 0; i < old_stamps.size(); ++i) {
      if (old_stamps[i] != 0) place(old_stamps[i], std::move(old_slots[i]));
    }
  }

  template <class T>
  using Array = std::vector<T, BlockAllocator<T>>;

  Array<uint32_t> stamps_;
  Array<Entry> slots_;
  size_t size_ = 0;
  size_t mask_ = 0;
};

}  // namespace brackwater::construct
