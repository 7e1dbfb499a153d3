// Literal values: the validated token text of a value together with its family.
//
// The text is the value: it is stored exactly as written (007, +5, 1.50 and escaped strings stay
// verbatim) and parsed again by every consumer that needs a number, certainty, string or JSON tree.
// Validation failures are plain messages; the caller picks the engine error kind.
// The parsers live beside this header: decimal.h (parse_big_number), certainty.h (parse_certainty),
// json_string.h (parse_string_literal), json.h (parse_json_literal, json_equal), int_parse.h
// (parse_int); comparison is in compare.h (compare_order, compare_nominal).
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace brackwater::literal {

enum class LiteralKind : uint8_t {
  String = 1,
  Integer = 2,
  Decimal = 3,
  Certainty = 4,
  Json = 5,
  Time = 6,
};

// "String", "Integer", "Decimal", "Certainty", "Json", "Time".
std::string_view family_name(LiteralKind kind);

// A literal parse result: the value, or a message.
template <class T>
using Parsed = std::expected<T, std::string>;

struct Literal {
  std::string text;
  LiteralKind kind = LiteralKind::String;

  // The one validating constructor: checks `text` for `kind` and keeps it unchanged.
  static Parsed<Literal> from_token(std::string text, LiteralKind kind);

  bool operator==(const Literal&) const = default;
};

}  // namespace brackwater::literal
