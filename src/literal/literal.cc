#include "literal/literal.h"

#include "literal/certainty.h"
#include "literal/decimal.h"
#include "literal/int_parse.h"
#include "literal/json.h"
#include "literal/json_string.h"

namespace brackwater::literal {

namespace {

std::string quote_text(std::string_view head, std::string_view text, std::string_view tail = "'") {
  std::string out;
  out.reserve(head.size() + text.size() + tail.size());
  out.append(head).append(text).append(tail);
  return out;
}

bool is_digit_run(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

std::string_view without_sign(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  return text;
}

bool is_integer_shape(std::string_view text) { return is_digit_run(without_sign(text)); }

bool is_decimal_shape(std::string_view text) {
  std::string_view body = without_sign(text);
  size_t dot = body.find('.');
  return dot != std::string_view::npos && is_digit_run(body.substr(0, dot)) && is_digit_run(body.substr(dot + 1));
}

}  // namespace

std::string_view family_name(LiteralKind kind) {
  switch (kind) {
    case LiteralKind::String: return "String";
    case LiteralKind::Integer: return "Integer";
    case LiteralKind::Decimal: return "Decimal";
    case LiteralKind::Certainty: return "Certainty";
    case LiteralKind::Json: return "Json";
    case LiteralKind::Time: return "Time";
  }
  return "Unknown";
}

Parsed<Certainty> parse_certainty(std::string_view text) {
  if (text.empty() || text.back() != '%') return std::unexpected(quote_text("certainty literal lacks percent sign: '", text));
  auto value = parse_int<int16_t>(text.substr(0, text.size() - 1));
  if (!value) {
    std::string message = quote_text("invalid certainty '", text, "': ");
    message.append(value.error());
    return std::unexpected(std::move(message));
  }
  if (*value < -100 || *value > 100) return std::unexpected(quote_text("certainty is outside -100%..=100%: '", text));
  return static_cast<Certainty>(*value);
}

Parsed<Literal> Literal::from_token(std::string text, LiteralKind kind) {
  switch (kind) {
    case LiteralKind::String: {
      std::string scratch;
      auto decoded = decode_string_literal(text, scratch);
      if (!decoded) return std::unexpected(invalid_string_message(text, decoded.error()));
      break;
    }
    case LiteralKind::Integer:
    case LiteralKind::Decimal: {
      bool shaped = kind == LiteralKind::Integer ? is_integer_shape(text) : is_decimal_shape(text);
      if (!shaped) {
        return std::unexpected(quote_text(kind == LiteralKind::Integer ? "invalid integer literal '"
                                                                       : "invalid decimal literal '",
                                          text));
      }
      // The shape admits no exponent, so this cannot fail; it keeps the number grammar the judge.
      if (auto number = view_decimal(text); !number) return std::unexpected(invalid_number_message(text, number.error()));
      break;
    }
    case LiteralKind::Certainty:
      if (auto certainty = parse_certainty(text); !certainty) return std::unexpected(std::move(certainty.error()));
      break;
    case LiteralKind::Json:
      if (auto tree = parse_json_literal(text); !tree) return std::unexpected(std::move(tree.error()));
      break;
    case LiteralKind::Time:
      if (text.empty()) return std::unexpected(std::string("time literal token cannot be empty"));
      break;
    default: {
      std::string message = "unknown literal family ";
      message.append(std::to_string(static_cast<unsigned>(kind)));
      return std::unexpected(std::move(message));
    }
  }
  return Literal{std::move(text), kind};
}

}  // namespace brackwater::literal
