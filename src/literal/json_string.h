// Decoding of JSON string tokens.
//
// One decoder serves string literals and the strings inside JSON literals. Escapes \" \\ \/ \b \f
// \n \r \t and \uXXXX (either hex case, surrogate pairs joined) are decoded; an unknown escape, a
// lone surrogate, malformed UTF-8 and an unescaped byte below 0x20 are refused. Decoded text may hold
// U+0000: lengths are always explicit.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "literal/literal.h"

namespace brackwater::literal {

struct JsonStringError {
  enum class Kind : uint8_t {
    Unterminated,  // the text ends before the closing quote
    ControlByte,   // an unescaped byte below 0x20 before the closing quote
    Invalid,       // the scan succeeded but decoding failed; `reason` says why
  };
  Kind kind;
  std::string_view reason;
};

// Reads the string whose opening quote is at text[start]. The scan for the closing quote treats the
// byte after a backslash as part of the string whatever it is; scan failures win over decoding
// failures. On success returns the offset just past the closing quote and points `decoded` at the
// decoded text: a view into `text` when the string has no escape, else into `scratch`.
std::expected<size_t, JsonStringError> read_json_string(std::string_view text, size_t start, std::string& scratch,
                                                        std::string_view& decoded);

constexpr bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Exactly one JSON string, JSON whitespace allowed around it. Decodes into a view as above.
std::expected<std::string_view, std::string_view> decode_string_literal(std::string_view text, std::string& scratch);

// "invalid string literal '{text}': {reason}".
std::string invalid_string_message(std::string_view text, std::string_view reason);

// The decoded string, or "invalid string literal '{text}': {reason}".
Parsed<std::string> parse_string_literal(std::string_view text);

}  // namespace brackwater::literal
