#include "velquin/lower_literal.h"

#include "literal/unicode.h"
#include "velquin/numeric_text.h"

namespace brackwater::velquin {

using construct::EngineError;
using construct::fail;
using construct::Result;
using literal::Literal;
using literal::LiteralKind;

namespace {

Result<Literal> build(std::string_view text, LiteralKind kind) {
  auto lit = Literal::from_token(std::string(text), kind);
  if (!lit) return fail(EngineError::execution(std::move(lit.error())));
  return std::move(*lit);
}

Result<Literal> lower_constant(std::string_view text, const literal::TimeValue& now) {
  std::string_view word = literal::trim_white_space(text);
  if (word == "@NOW") return build("'" + now.display() + "'", LiteralKind::Time);
  if (word == "@BOT" || word == "@EOT") return build(word, LiteralKind::Time);
  return fail(EngineError::execution("unknown value constant '" + std::string(word) + "'"));
}

}  // namespace

Result<Literal> lower_literal(Rule rule, std::string_view text, const literal::TimeValue& now) {
  switch (rule) {
    case Rule::int_: return build(text, LiteralKind::Integer);
    case Rule::decimal: return build(text, LiteralKind::Decimal);
    case Rule::certainty: return build(text, LiteralKind::Certainty);
    case Rule::time: return build(text, LiteralKind::Time);
    case Rule::json: return build(text, LiteralKind::Json);
    case Rule::string: return build(text, LiteralKind::String);
    case Rule::constant: return lower_constant(text, now);
    default:
      return fail(EngineError::internal("grammar rule " + std::string(rule_name(rule)) + " is not a literal"));
  }
}

Result<Literal> lower_value_literal(Rule rule, std::string_view text, const literal::TimeValue& now) {
  if (rule == Rule::int_ || rule == Rule::decimal) text = cut_after_last_digit(text);
  return lower_literal(rule, text, now);
}

std::string normalize_role_name(std::string_view text) {
  std::string_view name = literal::trim_white_space(text);
  if (name.size() > 1 && name.front() == '`' && name.back() == '`') name = name.substr(1, name.size() - 2);
  return literal::to_nfc(name);
}

std::optional<std::string> normalize_role_names_next(NodeView::iterator& it, const NodeView::iterator& end) {
  for (; it != end; ++it) {
    NodeView child = *it;
    if (child.rule() != Rule::role) continue;
    ++it;
    return normalize_role_name(child.text());
  }
  return std::nullopt;
}

}  // namespace brackwater::velquin
