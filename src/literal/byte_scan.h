// Word-at-a-time scans over the bytes of a long text, for the loops that step through string
// tokens byte by byte: each skips whole blocks of eight bytes that hold nothing the loop stops at,
// and returns where such a block begins (or where fewer than eight bytes are left), from where the
// caller goes on byte by byte. A block is skipped only when none of its bytes could stop the loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace brackwater::literal {

namespace byte_scan_detail {
inline constexpr uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t load(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
// High bits set in (at least) the bytes of `w` that are below `n` (n <= 128).
inline uint64_t below(uint64_t w, uint8_t n) { return (w - kOnes * n) & ~w & kHighs; }
// High bits set in (at least) the bytes of `w` equal to `c`.
inline uint64_t equal(uint64_t w, uint8_t c) { return below(w ^ (kOnes * c), 1); }
// High bits set in exactly the bytes of `w` equal to `c`.
inline uint64_t exactly_equal(uint64_t w, uint8_t c) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t x = w ^ (kOnes * c);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}
}  // namespace byte_scan_detail

// From `pos`, past the blocks of ASCII bytes (below 0x80) within [pos, end).
inline size_t skip_ascii(std::string_view text, size_t pos, size_t end) {
  using namespace byte_scan_detail;
  while (end - pos >= 8 && (load(text.data() + pos) & kHighs) == 0) pos += 8;
  return pos;
}

// From `pos`, past the blocks within [pos, end) that hold no double quote, no backslash and no
// byte below 0x20.
inline size_t skip_plain_string_bytes(std::string_view text, size_t pos, size_t end) {
  using namespace byte_scan_detail;
  while (end - pos >= 8) {
    const uint64_t w = load(text.data() + pos);
    if ((below(w, 0x20) | equal(w, '"') | equal(w, '\\')) != 0) break;
    pos += 8;
  }
  return pos;
}

}  // namespace brackwater::literal
