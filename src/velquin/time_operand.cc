#include "velquin/time_operand.h"

#include "velquin/parameters.h"
#include "velquin/time_token.h"

namespace brackwater::velquin {

construct::Result<std::optional<literal::TimeValue>> lower_time_operand(NodeView token, const ExecContext& ctx) {
  if (token.rule() != Rule::parameter) return parse_time_token(token.text(), ctx.now);
  auto parameter = ctx.lookup_parameter(token.text());
  if (!parameter) return construct::fail(std::move(parameter.error()));
  if (!(*parameter)->is_time()) return construct::fail(err_literal_not_time_parameter(token.text()));
  return *(*parameter)->time;
}

}  // namespace brackwater::velquin
