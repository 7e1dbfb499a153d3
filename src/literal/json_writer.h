// Compact JSON writing helpers.
//
// Every writer appends to a caller-owned byte buffer and never fails. Output is compact: no blanks,
// no line breaks. Strings are escaped minimally: '"' and '\' get a backslash, the control
// characters U+0008, U+0009, U+000A, U+000C and U+000D their short forms (\b \t \n \f \r), every
// other byte below 0x20 the form \u00XX with lower-case hex digits; everything else (DEL, '/',
// U+2028, U+2029, any non-ASCII byte) is copied verbatim.
//
// Object members are written as `"name":value`, preceded by a separating comma unless `first` says
// the member opens its object. Member names are copied as they are: they must need no escaping.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brackwater::literal {

// Appends `text` as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view text);

// The size of written JSON text: its bytes, its characters (code points), and the widest
// character's class: 1 up to U+00FF, 2 up to U+FFFF, 4 beyond (what a text of fixed-width
// characters takes per character). Sizes of consecutive pieces add up with `+=`.
struct JsonTextSize {
  uint64_t bytes = 0;
  uint64_t chars = 0;
  uint8_t width = 1;

  // ASCII text of `n` bytes.
  static JsonTextSize ascii(uint64_t n) { return JsonTextSize{n, n, 1}; }
  JsonTextSize& operator+=(const JsonTextSize& other) {
    bytes += other.bytes;
    chars += other.chars;
    width = width < other.width ? other.width : width;
    return *this;
  }
};

// The size of append_json_string(out, text) for UTF-8 `text`.
JsonTextSize json_string_size(std::string_view text);
// The size of append_json_u64(out, value).
uint64_t json_u64_size(uint64_t value);

// Appends the string, or "null" when absent.
inline void append_json_optional_string(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    append_json_string(out, *text);
  } else {
    out.append("null");
  }
}

// Appends an unsigned integer in decimal.
void append_json_u64(std::string& out, uint64_t value);

// Appends "true" or "false".
inline void append_json_bool(std::string& out, bool value) { out.append(value ? "true" : "false"); }

// Appends `"name":`, after a comma unless `first`.
inline void append_json_key(std::string& out, std::string_view name, bool first = false) {
  if (!first) out.push_back(',');
  out.push_back('"');
  out.append(name);
  out.append("\":");
}

// Appends the member `"name":value` for an unsigned integer.
inline void append_json_u64_member(std::string& out, std::string_view name, uint64_t value, bool first = false) {
  append_json_key(out, name, first);
  append_json_u64(out, value);
}

// Appends the member `"name":"value"` for a string.
inline void append_json_string_member(std::string& out, std::string_view name, std::string_view value,
                                      bool first = false) {
  append_json_key(out, name, first);
  append_json_string(out, value);
}

// Appends `[item,item,...]`, each item written by write(out, item).
template <class Items, class Write>
void append_json_array(std::string& out, const Items& items, Write&& write) {
  out.push_back('[');
  bool first = true;
  for (const auto& item : items) {
    if (!first) out.push_back(',');
    first = false;
    write(out, item);
  }
  out.push_back(']');
}

// Appends an array of strings.
inline void append_json_string_array(std::string& out, std::span<const std::string> items) {
  append_json_array(out, items, [](std::string& o, const std::string& s) { append_json_string(o, s); });
}

}  // namespace brackwater::literal
