#include "velquin/numeric_text.h"

namespace brackwater::velquin {

std::string_view cut_after_last_digit(std::string_view text) {
  size_t end = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, 2, "/*") == 0) {
      size_t close = text.find("*/", i + 2);
      if (close == std::string_view::npos) break;  // not a comment: nothing after it counts
      i = close + 2;
      continue;
    }
    if (text[i] >= '0' && text[i] <= '9') end = i + 1;
    ++i;
  }
  return end == 0 ? text : text.substr(0, end);
}

std::optional<uint64_t> parse_limit(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, uint64_t{10}, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

}  // namespace brackwater::velquin
