// Dense indices for the distinct texts of one statement, in order of first sight.
//
// The texts are views (into a parse tree) that must outlive the index. A few texts are found by a
// linear scan; past kLinearLimit a hash map takes over, so many distinct texts stay linear overall.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brackwater::velquin {

class TextIndex {
 public:
  // The index of `text`, and whether it was new.
  std::pair<uint32_t, bool> insert(std::string_view text) {
    if (map_.empty()) {
      for (size_t i = 0; i < texts_.size(); ++i) {
        if (texts_[i] == text) return {static_cast<uint32_t>(i), false};
      }
      if (texts_.size() < kLinearLimit) return {add(text), true};
      for (size_t i = 0; i < texts_.size(); ++i) map_.emplace(texts_[i], static_cast<uint32_t>(i));
    }
    auto [it, added] = map_.emplace(text, static_cast<uint32_t>(texts_.size()));
    if (added) texts_.push_back(text);
    return {it->second, added};
  }
  size_t size() const { return texts_.size(); }
  void clear() {
    texts_.clear();
    map_.clear();
  }

 private:
  static constexpr size_t kLinearLimit = 16;
  uint32_t add(std::string_view text) {
    texts_.push_back(text);
    return static_cast<uint32_t>(texts_.size() - 1);
  }

  std::vector<std::string_view> texts_;
  std::unordered_map<std::string_view, uint32_t> map_;  // empty while the scan serves
};

}  // namespace brackwater::velquin
