// Locale-free message building for the store: `str_cat` appends texts and decimal integers.
#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

namespace brackwater::storage {

namespace detail {

inline void append_piece(std::string& out, std::string_view text) { out.append(text); }
inline void append_piece(std::string& out, const char* text) { out.append(text); }
inline void append_piece(std::string& out, const std::string& text) { out.append(text); }

template <std::integral T>
  requires(!std::same_as<T, char> && !std::same_as<T, bool>)
void append_piece(std::string& out, T value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof(digits), value);
  (void)ec;
  out.append(digits, end);
}

}  // namespace detail

// Concatenates texts and integers (integers in plain decimal; u8/i8 as numbers, not characters).
template <class... Parts>
std::string str_cat(const Parts&... parts) {
  std::string out;
  (detail::append_piece(out, parts), ...);
  return out;
}

}  // namespace brackwater::storage
