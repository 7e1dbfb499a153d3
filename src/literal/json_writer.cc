#include "literal/json_writer.h"

#include <charconv>

namespace brackwater::literal {

namespace {

// True for the bytes that the string writer must escape.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

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
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(data[i]);
    if (!needs_escape(c)) continue;
    out.append(data + run_start, i - run_start);
    append_escape(out, c);
    run_start = i + 1;
  }
  out.append(data + run_start, text.size() - run_start);
  out.push_back('"');
}

void append_json_u64(std::string& out, uint64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<size_t>(res.ptr - buf));
}

}  // namespace brackwater::literal
