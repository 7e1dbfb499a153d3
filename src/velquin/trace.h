// Structured trace events of script execution (target "brackwater::velquin", level INFO).
//
// No subscriber exists in this module, so no event is ever enabled and every event is discarded.
// Call sites test trace_enabled() before they build any field.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace brackwater::velquin {

struct TraceField {
  std::string_view name;
  std::string value;
};

constexpr bool trace_enabled() { return false; }

inline void trace_event(std::string_view /*message*/, std::string_view /*event*/,
                        std::initializer_list<TraceField> /*fields*/) {}

}  // namespace brackwater::velquin
