// A hash map keyed by text that can be searched with a std::string_view without building a string.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brackwater::velquin {

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

template <class V>
using StringMap = std::unordered_map<std::string, V, TextHash, std::equal_to<>>;

}  // namespace brackwater::velquin
