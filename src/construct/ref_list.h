// Compact containers for index values.
//
// RefList<T>: a list of record handles in one machine word: empty, one handle stored inline, or one
// heap block of its count, capacity and handles for two and more. Most Things have one Appearance
// and most Appearances belong to few sets, so the common case allocates nothing.
// Posting: a set of Posit identities in one word: empty, one identity inline, or a compressed bitmap
// (IdentitySet) from the second identity on. Most Appearance sets carry one Posit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "construct/block_storage.h"
#include "construct/identity.h"
#include "construct/identity_set.h"

namespace brackwater::construct {

template <class T>
class RefList {
 public:
  RefList() = default;
  RefList(RefList&& other) noexcept : head_(other.head_) { other.head_ = nullptr; }
  RefList& operator=(RefList&& other) noexcept {
    if (this != &other) {
      reset();
      head_ = other.head_;
      other.head_ = nullptr;
    }
    return *this;
  }
  RefList(const RefList&) = delete;
  RefList& operator=(const RefList&) = delete;
  ~RefList() { reset(); }

  explicit operator bool() const { return head_ != nullptr; }

  void push_back(const T* ref) {
    if (head_ == nullptr) {
      head_ = ref;
      return;
    }
    if (!is_many()) {
      Block* block = Block::make(2);
      block->items()[0] = head_;
      block->size = 1;
      head_ = reinterpret_cast<const T*>(reinterpret_cast<uintptr_t>(block) | 1);
    }
    Block* block = many();
    if (block->size == block->capacity) {
      Block* grown = Block::make(block->capacity * 2);
      std::copy(block->items(), block->items() + block->size, grown->items());
      grown->size = block->size;
      Block::free(block);
      block = grown;
      head_ = reinterpret_cast<const T*>(reinterpret_cast<uintptr_t>(block) | 1);
    }
    block->items()[block->size++] = ref;
  }

  std::span<const T* const> items() const {
    if (head_ == nullptr) return {};
    if (!is_many()) return {&head_, 1};
    const Block* block = many();
    return {block->items(), block->size};
  }
  size_t size() const { return items().size(); }
  // Heap bytes held beyond the list's own word.
  size_t memory_bytes() const { return head_ != nullptr && is_many() ? block_footprint(Block::bytes(many()->capacity)) : 0; }

 private:
  // Two and more handles: one heap block of a count, a capacity and the handles.
  struct Block {
    uint32_t size = 0;
    uint32_t capacity = 0;

    static size_t bytes(uint32_t capacity) { return sizeof(Block) + capacity * sizeof(const T*); }
    static Block* make(uint32_t capacity) {
      Block* block = static_cast<Block*>(::operator new(bytes(capacity)));
      block->size = 0;
      block->capacity = capacity;
      return block;
    }
    static void free(Block* block) { ::operator delete(block); }
    const T** items() { return reinterpret_cast<const T**>(this + 1); }
    const T* const* items() const { return reinterpret_cast<const T* const*>(this + 1); }
  };

  bool is_many() const { return (reinterpret_cast<uintptr_t>(head_) & 1) != 0; }
  Block* many() const { return reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(head_) & ~uintptr_t(1)); }
  void reset() {
    if (head_ != nullptr && is_many()) Block::free(many());
    head_ = nullptr;
  }

  // nullptr: empty; an aligned handle: the one item; odd: a Block's address | 1.
  const T* head_ = nullptr;
};

class Posting {
 public:
  Posting() = default;
  Posting(Posting&& other) noexcept : word_(other.word_) { other.word_ = 0; }
  Posting& operator=(Posting&& other) noexcept {
    if (this != &other) {
      reset();
      word_ = other.word_;
      other.word_ = 0;
    }
    return *this;
  }
  Posting(const Posting&) = delete;
  Posting& operator=(const Posting&) = delete;
  ~Posting() { reset(); }

  explicit operator bool() const { return word_ != 0; }

  void add(Identity id) {
    if (word_ == 0 && id < (uint64_t(1) << 63)) {
      word_ = (id << 1) | 1;
      return;
    }
    if (word_ & 1) {
      const Identity single = word_ >> 1;
      if (single == id) return;
      auto* set = new IdentitySet();
      set->add(single);
      word_ = reinterpret_cast<uintptr_t>(set);
    } else if (word_ == 0) {
      word_ = reinterpret_cast<uintptr_t>(new IdentitySet());
    }
    bitmap()->add(id);
  }

  uint64_t cardinality() const {
    if (word_ == 0) return 0;
    if (word_ & 1) return 1;
    return identity_count(*bitmap());
  }

  bool contains(Identity id) const {
    if (word_ == 0) return false;
    if (word_ & 1) return (word_ >> 1) == id;
    return bitmap()->contains(id);
  }

  // Visits the identities in ascending order.
  template <class F>
  void for_each(F&& f) const {
    if (word_ == 0) return;
    if (word_ & 1) {
      f(Identity(word_ >> 1));
      return;
    }
    for (const Identity id : *bitmap()) f(id);
  }

  // Adds every identity of the posting to `out`.
  void unite_into(IdentitySet& out) const {
    if (word_ == 0) return;
    if (word_ & 1) {
      out.add(word_ >> 1);
    } else {
      out |= *bitmap();
    }
  }

  // Heap bytes held beyond the posting's own word.
  size_t memory_bytes() const {
    if (word_ == 0 || (word_ & 1)) return 0;
    return block_footprint(sizeof(IdentitySet)) + identity_set_bytes(*bitmap());
  }

  IdentitySet to_identity_set() const {
    IdentitySet out;
    unite_into(out);
    return out;
  }

 private:
  IdentitySet* bitmap() const { return reinterpret_cast<IdentitySet*>(word_); }
  void reset() {
    if (word_ != 0 && (word_ & 1) == 0) delete bitmap();
    word_ = 0;
  }

  uintptr_t word_ = 0;  // 0 empty; odd: one identity (id << 1 | 1); even: IdentitySet pointer
};

}  // namespace brackwater::construct
