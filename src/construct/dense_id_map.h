// A map from identities to small values, dense where identities are dense.
//
// Identities are drawn one after the other, so most keys fall into a vector indexed by identity; an
// identity far beyond the count of entries (possible only with unusual stored data) goes to a sparse
// hash map instead, so memory never grows with the size of a number. A default-constructed value
// means "absent"; `V` must be testable as a bool (pointers, or small handles with operator bool).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "construct/identity.h"

namespace brackwater::construct {

template <class V>
class DenseIdMap {
 public:
  size_t size() const { return count_; }

  const V* find(Identity id) const {
    if (id < dense_.size() && dense_[id]) return &dense_[id];
    if (sparse_.empty()) return nullptr;
    auto it = sparse_.find(id);
    return it == sparse_.end() ? nullptr : &it->second;
  }
  V* find(Identity id) { return const_cast<V*>(static_cast<const DenseIdMap*>(this)->find(id)); }

  // The slot of `id`, created absent when missing; the caller must make it present (non-empty).
  V& slot(Identity id) {
    if (!sparse_.empty()) {
      auto it = sparse_.find(id);
      if (it != sparse_.end()) return it->second;
    }
    if (id < dense_.size()) {
      if (!dense_[id]) ++count_;
      return dense_[id];
    }
    if (id <= 2 * count_ + kDenseSlack) {
      dense_.resize(id + 1);
      ++count_;
      return dense_[id];
    }
    ++count_;
    return sparse_[id];
  }

  // Visits (identity, value) pairs in ascending identity order.
  template <class F>
  void for_each(F&& f) const {
    std::vector<Identity> far;
    far.reserve(sparse_.size());
    for (const auto& entry : sparse_) far.push_back(entry.first);
    std::sort(far.begin(), far.end());
    size_t next_far = 0;
    for (size_t id = 0; id < dense_.size(); ++id) {
      while (next_far < far.size() && far[next_far] < id) {
        f(far[next_far], sparse_.at(far[next_far]));
        ++next_far;
      }
      if (dense_[id]) f(Identity(id), dense_[id]);
    }
    for (; next_far < far.size(); ++next_far) f(far[next_far], sparse_.at(far[next_far]));
  }

 private:
  static constexpr size_t kDenseSlack = 1 << 16;
  std::vector<V> dense_;
  std::unordered_map<Identity, V> sparse_;
  size_t count_ = 0;
};

}  // namespace brackwater::construct
