#include "literal/json_writer.h"

#include <bit>
#include <charconv>

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

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out.append("\\\""); return;
    case '\\': out.append("\\\\"); return;
    case '\b': out.append("\\b"); return;
    case '\t': out.append("\\t"); return;
    case '\n': out.append("\\n"); return;
    case '\f': out.append("\\f"); return;
    case '\r': out.append("\\r"); return;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      char buf[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(buf, sizeof buf);
      return;
    }
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  const char* data = text.data();
  size_t run_start = 0;
  for (size_t i = 0;; ++i) {
    i = skip_plain_string_bytes(text, i, text.size());
    if (i == text.size()) break;
    auto c = static_cast<unsigned char>(data[i]);
    if (!needs_escape(c)) continue;
    out.append(data + run_start, i - run_start);
    append_escape(out, c);
    run_start = i + 1;
  }
  out.append(data + run_start, text.size() - run_start);
  out.push_back('"');
}

JsonTextSize json_string_size(std::string_view text) {
  using namespace byte_scan_detail;
  uint64_t escapes = 0;       // bytes the escapes add
  uint64_t continuation = 0;  // UTF-8 bytes that continue a character
  uint8_t width = 1;
  const char* data = text.data();
  const size_t n = text.size();
  auto one_byte = [&](unsigned char c) {
    if (c < 0x80) {
      if (needs_escape(c)) escapes += escape_size(c) - 1;
    } else if ((c & 0xC0) == 0x80) {
      ++continuation;
    } else if (c >= 0xF0) {
      width = 4;
    } else if (c >= 0xC4 && width < 2) {
      width = 2;  // a lead byte of U+0100 or above
    }
  };
  size_t i = 0;
  for (; n - i >= 8; i += 8) {
    const uint64_t w = load(data + i);
    if (((w & kHighs) | below(w, 0x20)) == 0) {
      // ASCII without control bytes: each quote and backslash adds one.
      escapes += static_cast<uint64_t>(std::popcount(exactly_equal(w, '"') | exactly_equal(w, '\\')));
      continue;
    }
    for (size_t k = 0; k < 8; ++k) one_byte(static_cast<unsigned char>(data[i + k]));
  }
  for (; i < n; ++i) one_byte(static_cast<unsigned char>(data[i]));
  const uint64_t bytes = n + escapes + 2;
  return JsonTextSize{bytes, bytes - continuation, width};
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
