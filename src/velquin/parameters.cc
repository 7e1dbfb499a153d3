#include "velquin/parameters.h"

#include "literal/unicode.h"
#include "velquin/time_token.h"

namespace brackwater::velquin {

using construct::EngineError;
using construct::fail;
using construct::Result;
using literal::Literal;
using literal::LiteralKind;
using literal::TimeValue;

namespace {

// Decodes the next scalar of strictly valid UTF-8, or gives -1.
int32_t next_scalar(std::string_view text, size_t& pos) {
  if (literal::utf8_sequence_at(text, pos).length == 0) return -1;
  return static_cast<int32_t>(literal::decode_utf8(text, pos));
}

bool has_surrounding_white_space(std::string_view text) { return literal::trim_white_space(text).size() != text.size(); }

// The literal text of a parameter token: the display of now for exactly "@NOW", else the token.
std::string literal_text(const std::string& token, const TimeValue& now) {
  return token == "@NOW" ? now.display() : token;
}

Result<Literal> build_literal(std::string text, LiteralKind kind) {
  auto lit = Literal::from_token(std::move(text), kind);
  if (!lit) return fail(EngineError::invalid_parameter(std::move(lit.error())));
  return std::move(*lit);
}

Result<ParameterValue> convert_time(const std::string& token, const TimeValue& now) {
  if (has_surrounding_white_space(token)) {
    return fail(EngineError::invalid_parameter("time parameter text may not contain surrounding whitespace"));
  }
  auto time = parse_time_token(token, now);
  if (!time) return fail(EngineError::invalid_parameter("invalid time parameter '" + token + "'"));
  auto lit = build_literal(literal_text(token, now), LiteralKind::Time);
  if (!lit) return fail(std::move(lit.error()));
  return ParameterValue{std::move(*lit), *time};
}

Result<ParameterValue> convert_literal(const std::string& token, const TimeValue& now) {
  if (has_surrounding_white_space(token)) {
    return fail(EngineError::invalid_parameter("literal parameter text may not contain surrounding whitespace"));
  }
  LiteralKind kind = LiteralKind::Integer;
  const char first = token.empty() ? '\0' : token.front();
  if (first == '"') {
    kind = LiteralKind::String;
  } else if (first == '\'' || first == '@') {
    if (!parse_time_token(token, now)) {
      return fail(EngineError::invalid_parameter("invalid temporal literal parameter '" + token + "'"));
    }
    kind = LiteralKind::Time;
  } else if (first == '{') {
    kind = LiteralKind::Json;
  } else if (!token.empty() && token.back() == '%') {
    kind = LiteralKind::Certainty;
  } else if (token.find('.') != std::string::npos) {
    kind = LiteralKind::Decimal;
  }
  auto lit = build_literal(literal_text(token, now), kind);
  if (!lit) return fail(std::move(lit.error()));
  return ParameterValue{std::move(*lit), std::nullopt};
}

}  // namespace

Result<void> check_parameter_name(std::string_view name) {
  bool valid = !name.empty();
  size_t pos = 0;
  bool first = true;
  while (valid && pos < name.size()) {
    int32_t cp = next_scalar(name, pos);
    if (cp < 0) {
      valid = false;
    } else if (first) {
      valid = literal::is_alphabetic(static_cast<char32_t>(cp));
    } else {
      auto c = static_cast<char32_t>(cp);
      valid = c == U'_' || literal::is_alphabetic(c) || literal::is_numeric(c);
    }
    first = false;
  }
  if (!valid) return fail(EngineError::invalid_parameter("'" + std::string(name) + "' is not a valid parameter name"));
  return {};
}

Result<ParameterValue> convert_parameter_token(const ScriptParameter& parameter, const TimeValue& now) {
  return parameter.kind == ParameterKind::Time ? convert_time(parameter.text, now)
                                               : convert_literal(parameter.text, now);
}

Result<void> convert_parameter(const std::string& name, const ScriptParameter& parameter, const TimeValue& now,
                               ParameterMap& out) {
  if (auto ok = check_parameter_name(name); !ok) return ok;
  auto value = convert_parameter_token(parameter, now);
  if (!value) return fail(std::move(value.error()));
  out.insert_or_assign(name, std::move(*value));
  return {};
}

Result<ParameterMap> convert_parameters(const ScriptParameterMap& parameters, const TimeValue& now) {
  ParameterMap out;
  out.reserve(parameters.size());
  for (const auto& [name, parameter] : parameters) {
    if (auto ok = convert_parameter(name, parameter, now, out); !ok) return fail(std::move(ok.error()));
  }
  return out;
}

EngineError err_literal_not_time_parameter(std::string_view written) {
  return EngineError::invalid_parameter(std::string(written) + " is a literal parameter, not a time parameter");
}

}  // namespace brackwater::velquin
