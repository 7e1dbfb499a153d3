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
#include <string_view>
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

// The members of an Appearance set, in 16 bytes. One member is held inline; more are either a view
// of member storage owned by the engine (stored sets) or a heap copy the list owns (lists built
// elsewhere: an initializer list, push_back, a vector). Reads like a span of AppearanceRef and
// converts to one; a view or inline member stays valid as long as the list (or the storage) does.
class MemberList {
 public:
  MemberList() = default;
  MemberList(std::initializer_list<AppearanceRef> refs) { assign(refs.begin(), refs.size()); }
  explicit MemberList(const std::vector<AppearanceRef>& refs) { assign(refs.data(), refs.size()); }
  MemberList(const MemberList& other) {
    if (other.is_view()) {
      data_ = other.data_;
      counts_ = other.counts_;
    } else {
      assign(other.data(), other.size());
    }
  }
  MemberList(MemberList&& other) noexcept { take(other); }
  MemberList& operator=(const MemberList& other) {
    if (this != &other) *this = MemberList(other);
    return *this;
  }
  MemberList& operator=(MemberList&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~MemberList() { release(); }

  // The members `refs`: one is copied inline, more are viewed and must outlive the list.
  static MemberList view(std::span<const AppearanceRef> refs) {
    MemberList out;
    if (refs.size() == 1) {
      out.set_inline(refs[0]);
    } else if (!refs.empty()) {
      out.data_ = refs.data();
      out.counts_ = Counts{static_cast<uint32_t>(refs.size()), 0};
    }
    return out;
  }

  const AppearanceRef* data() const { return data_; }
  const AppearanceRef* begin() const { return data_; }
  const AppearanceRef* end() const { return data_ + size(); }
  size_t size() const { return is_inline() ? 1 : counts_.size; }
  bool empty() const { return data_ == nullptr; }
  AppearanceRef operator[](size_t i) const { return data_[i]; }
  AppearanceRef front() const { return data_[0]; }
  AppearanceRef back() const { return data_[size() - 1]; }
  operator std::span<const AppearanceRef>() const { return {data_, size()}; }

  void push_back(AppearanceRef ref) {
    if (empty()) {
      set_inline(ref);
      return;
    }
    const size_t n = size();
    if (!is_owned() || n == counts_.capacity) grow(n < 2 ? 4 : n * 2);
    const_cast<AppearanceRef*>(data_)[counts_.size++] = ref;
  }
  void reserve(size_t) {}

 private:
  struct Counts {
    uint32_t size;
    uint32_t capacity;  // non-zero: data_ is a heap array the list owns
  };

  bool is_inline() const { return data_ == &one_; }
  bool is_owned() const { return !is_inline() && data_ != nullptr && counts_.capacity != 0; }
  bool is_view() const { return !is_inline() && !is_owned(); }

  void set_inline(AppearanceRef ref) {
    one_ = ref;
    data_ = &one_;
  }
  void assign(const AppearanceRef* refs, size_t n) {
    if (n == 1) {
      set_inline(refs[0]);
    } else if (n > 1) {
      auto* fresh = new AppearanceRef[n];
      std::copy(refs, refs + n, fresh);
      data_ = fresh;
      counts_ = Counts{static_cast<uint32_t>(n), static_cast<uint32_t>(n)};
    }
  }
  void grow(size_t capacity) {
    const size_t n = size();
    auto* fresh = new AppearanceRef[capacity];
    std::copy(data_, data_ + n, fresh);
    if (is_owned()) delete[] data_;
    data_ = fresh;
    counts_ = Counts{static_cast<uint32_t>(n), static_cast<uint32_t>(capacity)};
  }
  void take(MemberList& other) {
    if (other.is_inline()) {
      set_inline(other.one_);
    } else {
      data_ = other.data_;
      counts_ = other.counts_;
    }
    other.data_ = nullptr;
    other.counts_ = Counts{0, 0};
  }
  void release() {
    if (is_owned()) delete[] data_;
    data_ = nullptr;
    counts_ = Counts{0, 0};
  }

  const AppearanceRef* data_ = nullptr;  // &one_ when the one member is inline
  union {
    Counts counts_ = {0, 0};
    AppearanceRef one_;
  };
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

// The proposition of a Posit (its set, value text and time) as a view, for finding a Posit without
// building one: the value text is not copied. A Posit reads as its own key.
struct PositKey {
  PositKey(AppearanceSetRef set, std::string_view value, const TimeValue& time)
      : appearance_set(set), value(value), appearance_time(time) {}
  PositKey(const Posit& posit) : PositKey(posit.appearance_set, posit.value.text, posit.appearance_time) {}

  AppearanceSetRef appearance_set;
  std::string_view value;  // the value text
  TimeValue appearance_time;
};

// Equalities (handle identity first, then fields).
bool appearance_eq(const Appearance& a, const Appearance& b);
bool appearance_list_eq(const AppearanceSet& a, const AppearanceSet& b);
// Two member sequences of one length, equal position by position.
bool appearance_slice_eq(std::span<const AppearanceRef> a, std::span<const AppearanceRef> b);
// Proposition equality: same set, same value text bytes, identical time. Family and identity ignored.
bool posit_key_eq(const Posit& a, const Posit& b);
bool posit_key_eq(const Posit& a, const PositKey& b);

// "{(9, s),(8, r)}": members in stored order as "(thing, role name)".
std::string format_appearance_set(const AppearanceSet& set);

// The member-by-member order of two sets: at each position the Role identity, then the Thing
// identity; the first difference decides and a prefix comes first. Negative, 0 or positive.
int compare_members(const AppearanceSet& a, const AppearanceSet& b);

// The order used to sort assertion-effect entries (first Posit, second Posit, key).
bool posit_record_less(const Posit& first_a, const Posit& second_a, uint64_t key_a, const Posit& first_b,
                       const Posit& second_b, uint64_t key_b);

}  // namespace brackwater::construct
