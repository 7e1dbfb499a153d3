// Compact containers for index values.
//
// RefList<T>: a list of record handles in one machine word: empty, one handle stored inline, or a
// heap vector for two and more. Most Things have one Appearance and most Appearances belong to few
// sets, so the common case allocates nothing.
// Posting: a set of Posit identities in one word: empty, one identity inline, or a compressed bitmap
// (IdentitySet) from the second identity on. Most Appearance sets carry one Posit.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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
    } else if (!is_many()) {
      auto* v = new std::vector<const T*>{head_, ref};
      head_ = reinterpret_cast<const T*>(reinterpret_cast<uintptr_t>(v) | 1);
    } else {
      many()->push_back(ref);
    }
  }

  std::span<const T* const> items() const {
    if (head_ == nullptr) return {};
    if (!is_many()) return {&head_, 1};
    const auto* v = many();
    return {v->data(), v->size()};
  }
  size_t size() const { return items().size(); }

 private:
  bool is_many() const { return (reinterpret_cast<uintptr_t>(head_) & 1) != 0; }
  std::vector<const T*>* many() const {
    return reinterpret_cast<std::vector<const T*>*>(reinterpret_cast<uintptr_t>(head_) & ~uintptr_t(1));
  }
  void reset() {
    if (head_ != nullptr && is_many()) delete many();
    head_ = nullptr;
  }

  // nullptr: empty; an aligned handle: the one item; odd: a heap vector's address | 1.
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
