// An open-addressing hash table of small entries (record handles, or a handle with a compact value).
//
// The caller supplies every hash and every equality test, so one table type serves all the record
// keys of the engine. Each slot has a control byte (0 empty, else 0x80 | the hash's top 7 bits) that
// rejects most mismatches without touching the entry. Linear probing, load factor at most 7/8,
// capacity a power of two. Entries are never removed: the catalogs and indexes only grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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
    const uint8_t tag = tag_of(h);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      const uint8_t c = ctrl_[i];
      if (c == 0) return nullptr;
      if (c == tag && eq(slots_[i])) return &slots_[i];
    }
  }
  template <class Eq>
  const Entry* find(uint64_t h, Eq&& eq) const {
    return const_cast<FlatTable*>(this)->find(h, std::forward<Eq>(eq));
  }

  // Inserts an entry known to be absent. `hash_of(entry)` rehashes stored entries when the table grows.
  template <class HashOf>
  Entry& insert_new(uint64_t h, Entry entry, HashOf&& hash_of) {
    if ((size_ + 1) * 8 > ctrl_.size() * 7) grow(hash_of);
    ++size_;
    return place(h, std::move(entry));
  }

  template <class F>
  void for_each(F&& f) const {
    for (size_t i = 0; i < ctrl_.size(); ++i) {
      if (ctrl_[i] != 0) f(slots_[i]);
    }
  }

  // Bytes held by the table's arrays (for memory reports).
  size_t bytes() const { return ctrl_.capacity() + slots_.capacity() * sizeof(Entry); }

 private:
  static uint8_t tag_of(uint64_t h) { return static_cast<uint8_t>(0x80 | (h >> 57)); }

  Entry& place(uint64_t h, Entry entry) {
    size_t i = h & mask_;
    while (ctrl_[i] != 0) i = (i + 1) & mask_;
    ctrl_[i] = tag_of(h);
    slots_[i] = std::move(entry);
    return slots_[i];
  }

  template <class HashOf>
  void grow(HashOf& hash_of) {
    const size_t capacity = ctrl_.empty() ? 16 : ctrl_.size() * 2;
    std::vector<uint8_t> old_ctrl(capacity, 0);
    std::vector<Entry> old_slots(capacity);
    old_ctrl.swap(ctrl_);
    old_slots.swap(slots_);
    mask_ = capacity - 1;
    for (size_t i = 0; i < old_ctrl.size(); ++i) {
      if (old_ctrl[i] != 0) place(hash_of(old_slots[i]), std::move(old_slots[i]));
    }
  }

  std::vector<uint8_t> ctrl_;
  std::vector<Entry> slots_;
  size_t size_ = 0;
  size_t mask_ = 0;
};

}  // namespace brackwater::construct
