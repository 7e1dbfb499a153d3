#include "literal/json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "literal/byte_scan.h"

namespace brackwater::literal {

namespace {

// True for the bytes that the string writer must escape.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The bytes of the escape of `c` (one that needs escaping).
constexpr uint64_t escape_size(unsigned char c) {
  switch (c) {
    case '"': case '\\': case '\b': case '\t': case '\n': case '\f': case '\r': return 2;
    default: return 6;
  }
}

// Writes the escape of `c` (one that needs escaping) at `w`; returns the end of it.
char* write_escape(char* w, unsigned char c) {
  w[0] = '\\';
  switch (c) {
    case '"': w[1] = '"'; return w + 2;
    case '\\': w[1] = '\\'; return w + 2;
    case '\b': w[1] = 'b'; return w + 2;
    case '\t': w[1] = 't'; return w + 2;
    case '\n': w[1] = 'n'; return w + 2;
    case '\f': w[1] = 'f'; return w + 2;
    case '\r': w[1] = 'r'; return w + 2;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      w[1] = 'u';
      w[2] = '0';
      w[3] = '0';
      w[4] = kHex[c >> 4];
      w[5] = kHex[c & 0xF];
      return w + 6;
    }
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  const char* data = text.data();
  const size_t n = text.size();
  // A short string is escaped in one pass into a buffer that holds its longest form.
  constexpr size_t kShort = 32;
  if (n <= kShort) {
    char buffer[6 * kShort + 2];
    char* w = buffer;
    *w++ = '"';
    for (size_t k = 0; k < n; ++k) {
      const auto c = static_cast<unsigned char>(data[k]);
      if (needs_escape(c)) {
        w = write_escape(w, c);
      } else {
        *w++ = static_cast<char>(c);
      }
    }
    *w++ = '"';
    out.append(buffer, static_cast<size_t>(w - buffer));
    return;
  }
  // Calls f(k) for each byte k at or after `from` that needs an escape, skipping blocks without one.
  auto each_escape = [&](size_t from, auto&& f) {
    for (size_t k = from; k < n;) {
      k = skip_plain_string_bytes(text, k, n);
      for (const size_t block_end = std::min(n, k + 8); k < block_end; ++k) {
        if (needs_escape(static_cast<unsigned char>(data[k]))) f(k);
      }
    }
  };
  size_t extra = 0;  // the bytes the escapes add
  each_escape(0, [&](size_t k) { extra += escape_size(static_cast<unsigned char>(data[k])) - 1; });
  // The whole string is written in place: its length is known. (The size handed to the writer may
  // be the grown capacity, so the length is given back as computed.)
  const size_t at = out.size();
  const size_t end = at + n + extra + 2;
  out.resize_and_overwrite(end, [&](char* p, size_t) {
    char* w = p + at;
    *w++ = '"';
    size_t run_start = 0;
    if (extra != 0) {
      each_escape(0, [&](size_t k) {
        std::memcpy(w, data + run_start, k - run_start);
        w = write_escape(w + (k - run_start), static_cast<unsigned char>(data[k]));
        run_start = k + 1;
      });
    }
    std::memcpy(w, data + run_start, n - run_start);
    w[n - run_start] = '"';
    return end;
  });
}

namespace {

// What a byte adds to a string's size: the bytes of its escape beyond itself (kEscapeBytes), or
// that it continues a UTF-8 character, or that it leads one of U+0100 and above (kWide2) or of
// U+10000 and above (kWide4). 0 for a byte carried as it is, one byte a character.
constexpr uint8_t kEscapeBytes = 0x07;
constexpr uint8_t kContinuation = 0x08;
constexpr uint8_t kWide2 = 0x10;
constexpr uint8_t kWide4 = 0x20;

constexpr std::array<uint8_t, 256> make_byte_sizes() {
  std::array<uint8_t, 256> sizes{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c < 0x80) {
      sizes[c] = needs_escape(static_cast<unsigned char>(c)) ? static_cast<uint8_t>(escape_size(static_cast<unsigned char>(c)) - 1) : 0;
    } else if ((c & 0xC0) == 0x80) {
      sizes[c] = kContinuation;
    } else if (c >= 0xF0) {
      sizes[c] = kWide4;
    } else if (c >= 0xC4) {
      sizes[c] = kWide2;
    }
  }
  return sizes;
}
constexpr std::array<uint8_t, 256> kByteSizes = make_byte_sizes();

// The number of bytes of `flags` (high bits set in whole bytes only) that are set.
inline uint64_t count_flagged(uint64_t flags) { return ((flags >> 7) * byte_scan_detail::kOnes) >> 56; }

}  // namespace

JsonTextSize json_string_size(std::string_view text) {
  using namespace byte_scan_detail;
  uint64_t escapes = 0;       // bytes the escapes add
  uint64_t continuation = 0;  // UTF-8 bytes that continue a character
  uint8_t wide = 0;           // kWide2 and kWide4 of the lead bytes seen
  auto bytes_of = [&](const char* p, size_t count) {
    for (size_t k = 0; k < count; ++k) {
      const uint8_t size = kByteSizes[static_cast<unsigned char>(p[k])];
      if (size == 0) continue;
      escapes += size & kEscapeBytes;
      continuation += (size & kContinuation) != 0;
      wide |= size;
    }
  };
  const char* data = text.data();
  const size_t n = text.size();
  size_t i = 0;
  for (; n - i >= 8; i += 8) {
    const uint64_t w = load(data + i);
    if (((w & kHighs) | below(w, 0x20)) == 0) {
      // ASCII without control bytes: each quote and backslash adds one.
      escapes += count_flagged(exactly_equal(w, '"') | exactly_equal(w, '\\'));
      continue;
    }
    bytes_of(data + i, 8);
  }
  bytes_of(data + i, n - i);
  const uint64_t bytes = n + escapes + 2;
  return JsonTextSize{bytes, bytes - continuation, static_cast<uint8_t>((wide & kWide4) ? 4 : (wide & kWide2) ? 2 : 1)};
}

uint64_t json_u64_size(uint64_t value) {
  uint64_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

void append_json_u64(std::string& out, uint64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<size_t>(res.ptr - buf));
}

}  // namespace brackwater::literal
