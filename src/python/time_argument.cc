#include "python/time_argument.h"

#include "velquin/time_token.h"

namespace brackwater::python {

std::optional<literal::TimeValue> parse_time_argument(const std::optional<std::string>& token,
                                                      const literal::TimeValue& wall_clock, const char* argument) {
  const std::string_view text = token ? std::string_view(*token) : std::string_view("@NOW");
  std::optional<literal::TimeValue> resolved = velquin::parse_time_token(text, wall_clock);
  if (!resolved) {
    std::string message = "invalid ";
    message.append(argument).append(" time token '").append(text).append("'");
    raise(PyExc_ValueError, message);
  }
  return resolved;
}

}  // namespace brackwater::python
