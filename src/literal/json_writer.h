// Compact JSON writing helpers.
//
// Every writer appends to a caller-owned byte buffer and never fails. Output is compact: no blanks,
// no line breaks. Strings are escaped minimally: '"' and '\' get a backslash, the control
// characters U+0008, U+0009, U+000A, U+000C and U+000D their short forms (\b \t \n \f \r), every
// other byte below 0x20 the form \u00XX with lower-case hex digits; everything else (DEL, '/',
// U+2028, U+2029, any non-ASCII byte) is copied verbatim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brackwater::literal {

// Appends `text` as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view text);

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

// Appends "null".
inline void append_json_null(std::string& out) { out.append("null"); }

}  // namespace brackwater::literal
