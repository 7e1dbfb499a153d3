// Script parameters after conversion.
//
// Every parameter a script is given is converted once, before the script runs: the name must be a
// Unicode identifier (first character Alphabetic, then Alphabetic, Numeric (Nd, Nl, No) or "_"),
// else `InvalidParameter` "'{}' is not a valid parameter name"; the token is never trimmed (white space at
// either end is refused) and becomes a Literal, whose family a literal parameter's text decides
// ('"' String; "'" or "@" Time when it is a time; '{' Json; trailing '%' Certainty; a '.' Decimal;
// else Integer), or, for a time parameter, a Time literal together with its TimeValue. A token that
// is exactly "@NOW" takes the display text of the resolved now as its literal text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "construct/error.h"
#include "literal/literal.h"
#include "literal/time_value.h"
#include "velquin/script_parameter.h"
#include "velquin/string_map.h"

namespace brackwater::velquin {

// A converted parameter: a literal of any family; a time parameter also carries its TimeValue (only
// such a parameter can stand where a time is required).
struct ParameterValue {
  literal::Literal literal;
  std::optional<literal::TimeValue> time;

  bool is_time() const { return time.has_value(); }
};

using ParameterMap = StringMap<ParameterValue>;

construct::Result<void> check_parameter_name(std::string_view name);

construct::Result<ParameterValue> convert_parameter_token(const ScriptParameter& parameter,
                                                          const literal::TimeValue& now);

// Checks the name, converts the token and enters the result into `out` under the same name.
construct::Result<void> convert_parameter(const std::string& name, const ScriptParameter& parameter,
                                          const literal::TimeValue& now, ParameterMap& out);

// Converts every entry, stopping at the first failure.
construct::Result<ParameterMap> convert_parameters(const ScriptParameterMap& parameters,
                                                   const literal::TimeValue& now);

// `InvalidParameter` "{} is a literal parameter, not a time parameter" with the parameter as written ("$x").
construct::EngineError err_literal_not_time_parameter(std::string_view written);

}  // namespace brackwater::velquin
