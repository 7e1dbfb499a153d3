// An open-addressing hash table of small entries (record handles, or a handle with a compact value).
//
// The caller supplies every hash and every equality test, so one table type serves all the record
// keys of the engine. Each slot keeps 32 bits of its entry's hash (never 0; 0 marks an empty slot):
// a probe compares them before it looks at the entry, and growing never recomputes a hash, so the
// records behind the handles are not touched. Linear probing, load factor at most 7/8, capacity a
// power of two. Entries are never removed: the catalogs and indexes only grow.
//
// A table that a statement's input sizes (distinct rows) grows through a Charge on the statement's
// budget: each growth charges the new table beside the old one before allocating it, counts the
// entries it moves as work, and keeps the new table's bytes charged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "construct/block_storage.h"
#include "construct/budget.h"
#include "construct/error.h"

namespace brackwater::construct {

template <class Entry>
class FlatTable {
  static_assert(std::is_trivially_copyable_v<Entry> && std::is_trivially_destructible_v<Entry>);

 public:
  FlatTable() = default;
  FlatTable(FlatTable&& other) noexcept { take(other); }
  FlatTable& operator=(FlatTable&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  FlatTable(const FlatTable&) = delete;
  FlatTable& operator=(const FlatTable&) = delete;
  ~FlatTable() { release(); }

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
    if (capacity_ != 0) std::memset(stamps_, 0, capacity_ * sizeof(uint32_t));
    size_ = 0;
  }

  // Makes room for `n` entries in all without growing again. A large table's pages are touched
  // only as entries land on them.
  void reserve(size_t n) {
    while (n * 8 > capacity_ * 7) (void)grow(nullptr);
  }

  // Inserts an entry known to be absent.
  Entry& insert_new(uint64_t h, Entry entry) {
    if ((size_ + 1) * 8 > capacity_ * 7) (void)grow(nullptr);
    ++size_;
    return place(stamp_of(h), entry);
  }

  // The same, for a table that grows under `charge`: failing (out of budget, or stopped while it
  // moves the entries), the table stays as it was and the error is returned.
  Result<void> insert_new(uint64_t h, Entry entry, Charge& charge) {
    if ((size_ + 1) * 8 > capacity_ * 7) {
      if (auto grown = grow(&charge); !grown) return grown;
    }
    ++size_;
    place(stamp_of(h), entry);
    return {};
  }

  size_t memory_bytes() const { return bytes_of(capacity_); }

  template <class F>
  void for_each(F&& f) const {
    for (size_t i = 0; i < capacity_; ++i) {
      if (stamps_[i] != 0) f(slots_[i]);
    }
  }

 private:
  static size_t bytes_of(size_t capacity) {
    return block_footprint(capacity * sizeof(uint32_t)) + block_footprint(capacity * sizeof(Entry));
  }

  // 32 well-mixed bits of the hash with the top bit set, so that no stamp is 0.
  static uint32_t stamp_of(uint64_t h) { return static_cast<uint32_t>(h ^ (h >> 32)) | 0x80000000u; }

  Entry& place(uint32_t stamp, const Entry& entry) {
    size_t i = stamp & mask_;
    while (stamps_[i] != 0) i = (i + 1) & mask_;
    stamps_[i] = stamp;
    slots_[i] = entry;
    return slots_[i];
  }

  // Without a charge, growing never fails (short of memory, it throws std::bad_alloc).
  Result<void> grow(Charge* charge) {
    const size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
    Budget* budget = charge != nullptr ? charge->budget() : nullptr;
    if (budget != nullptr) {
      if (auto r = charge->hold(bytes_of(capacity_) + bytes_of(capacity)); !r) return r;
    }
    FlatTable bigger;
    bigger.stamps_ = static_cast<uint32_t*>(allocate_zeroed_block(capacity * sizeof(uint32_t)));
    bigger.capacity_ = capacity;  // from here `bigger` gives back its stamps on every path
    bigger.slots_ = static_cast<Entry*>(allocate_block(capacity * sizeof(Entry)));
    bigger.mask_ = capacity - 1;
    for (size_t i = 0; i < capacity_; ++i) {
      if (stamps_[i] == 0) continue;
      if (budget != nullptr) {
        if (auto r = budget->work(1); !r) {
          static_cast<void>(charge->hold(bytes_of(capacity_)));
          return r;
        }
      }
      bigger.place(stamps_[i], slots_[i]);
    }
    bigger.size_ = size_;
    *this = std::move(bigger);
    if (budget != nullptr) static_cast<void>(charge->hold(bytes_of(capacity)));
    return {};
  }

  void take(FlatTable& other) {
    stamps_ = std::exchange(other.stamps_, nullptr);
    slots_ = std::exchange(other.slots_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
    mask_ = std::exchange(other.mask_, 0);
  }
  void release() {
    if (capacity_ == 0) return;
    release_block(stamps_, capacity_ * sizeof(uint32_t));
    if (slots_ != nullptr) release_block(slots_, capacity_ * sizeof(Entry));
    stamps_ = nullptr;
    slots_ = nullptr;
    capacity_ = size_ = mask_ = 0;
  }

  uint32_t* stamps_ = nullptr;
  Entry* slots_ = nullptr;
  size_t capacity_ = 0;  // 0, or a power of two
  size_t size_ = 0;
  size_t mask_ = 0;
};

}  // namespace brackwater::construct
