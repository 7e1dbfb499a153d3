// The immutable records of the posit model and their identity keys.
//
// Records are created by the engine's catalogs and live as long as the engine: handles are plain
// const pointers (RoleRef, AppearanceRef, AppearanceSetRef, PositRef) that stay valid while the
// engine exists. Equality tries handle identity first, then compares identities and bytes.
#pragma once

#include <algorithm>
#include <compare>
#include <initializer_list>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "construct/identity.h"
#include "literal/literal.h"
#include "literal/time_value.h"

namespace brackwater::construct {

using literal::Literal;
using literal::TimeValue;

struct Role {
  std::string name;  // Unicode normal form C
  Identity identity = 0;
  bool reserved = false;
};
using RoleRef = const Role*;

struct Appearance {
  RoleRef role = nullptr;
  Identity thing = 0;
};
using AppearanceRef = const Appearance*;

// The members of an Appearance set. A stored set views member storage owned by the engine (no
// allocation of its own); a list built elsewhere (an initializer list, push_back, a vector) owns a
// heap copy. Reads like a span of AppearanceRef and converts to one.
class MemberList {
 public:
  MemberList() = default;
  MemberList(std::initializer_list<AppearanceRef> refs) { assign(refs.begin(), refs.size()); }
  explicit MemberList(const std::vector<AppearanceRef>& refs) { assign(refs.data(), refs.size()); }
  MemberList(const MemberList& other) {
    if (other.owned()) {
      assign(other.data_, other.size_);
    } else {
      data_ = other.data_;
      size_ = other.size_;
    }
  }
  MemberList(MemberList&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  MemberList& operator=(MemberList other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~MemberList() { release(); }

  // A list viewing `refs`, which must outlive it (engine-owned member storage).
  static MemberList view(std::span<const AppearanceRef> refs) {
    MemberList out;
    out.data_ = refs.data();
    out.size_ = static_cast<uint32_t>(refs.size());
    return out;
  }

  const AppearanceRef* data() const { return data_; }
  const AppearanceRef* begin() const { return data_; }
  const AppearanceRef* end() const { return data_ + size_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  AppearanceRef operator[](size_t i) const { return data_[i]; }
  AppearanceRef front() const { return data_[0]; }
  AppearanceRef back() const { return data_[size_ - 1]; }
  operator std::span<const AppearanceRef>() const { return {data_, size_}; }

  void push_back(AppearanceRef ref) {
    if (!owned() || size_ == capacity_) grow(size_ == 0 ? 4 : size_ * 2);
    const_cast<AppearanceRef*>(data_)[size_++] = ref;
  }
  void reserve(size_t n) {
    if (n > capacity_) grow(n);
  }

 private:
  bool owned() const { return capacity_ != 0; }
  void assign(const AppearanceRef* refs, size_t n) {
    if (n == 0) return;
    grow(n);
    std::copy(refs, refs + n, const_cast<AppearanceRef*>(data_));
    size_ = static_cast<uint32_t>(n);
  }
  void grow(size_t capacity) {
    auto* fresh = new AppearanceRef[capacity];
    std::copy(data_, data_ + size_, fresh);
    release_storage();
    data_ = fresh;
    capacity_ = static_cast<uint32_t>(capacity);
  }
  void release_storage() {
    if (owned()) delete[] data_;
    capacity_ = 0;
  }
  void release() {
    release_storage();
    data_ = nullptr;
    size_ = 0;
  }

  const AppearanceRef* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;  // non-zero: data_ is owned
};

// Members sorted ascending by (Role identity, Thing identity); at most one member per Role.
struct AppearanceSet {
  MemberList members;
};
using AppearanceSetRef = const AppearanceSet*;

struct Posit {
  Identity identity = 0;
  AppearanceSetRef appearance_set = nullptr;
  Literal value;
  TimeValue appearance_time;
};
using PositRef = const Posit*;

// Equalities (handle identity first, then fields).
bool appearance_eq(const Appearance& a, const Appearance& b);
bool appearance_list_eq(const AppearanceSet& a, const AppearanceSet& b);
// Two member sequences of one length, equal position by position.
bool appearance_slice_eq(std::span<const AppearanceRef> a, std::span<const AppearanceRef> b);
// Proposition equality: same set, same value text bytes, identical time. Family and identity ignored.
bool posit_key_eq(const Posit& a, const Posit& b);

// "{(9, s),(8, r)}": members in stored order as "(thing, role name)".
std::string format_appearance_set(const AppearanceSet& set);

// The order used to sort assertion-effect entries (first Posit, second Posit, key).
bool posit_record_less(const Posit& first_a, const Posit& second_a, uint64_t key_a, const Posit& first_b,
                       const Posit& second_b, uint64_t key_b);

}  // namespace brackwater::construct
