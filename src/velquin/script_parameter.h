// Script parameters as callers hand them over: a kind and an unconverted token text, in a map keyed
// by the bare parameter name (scripts write the name after a "$"). Conversion happens when a script
// starts (velquin/parameters.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace brackwater::velquin {

// The kind of a script parameter: the binding maps "literal" and "time" (exactly) onto these.
enum class ParameterKind : uint8_t {
  Literal = 0,
  Time = 1,
};

// One script parameter as the caller hands it over: its kind and its token text, unconverted.
struct ScriptParameter {
  ParameterKind kind = ParameterKind::Literal;
  std::string text;

  bool operator==(const ScriptParameter&) const = default;
};

// Keyed by the bare parameter name (scripts write it after a "$").
using ScriptParameterMap = std::unordered_map<std::string, ScriptParameter>;

}  // namespace brackwater::velquin
