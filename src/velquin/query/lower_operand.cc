#include "velquin/query/lower_operand.h"

#include "literal/unicode.h"
#include "velquin/lower_literal.h"
#include "velquin/parameters.h"
#include "velquin/time_operand.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;

std::optional<NodeView> nth_child(NodeView node, size_t position) {
  for (NodeView child : node.children()) {
    if (position == 0) return child;
    --position;
  }
  return std::nullopt;
}

EngineError unexpected_rule(std::string_view what, Rule rule) {
  std::string message(what);
  message.append(" ").append(rule_name(rule));
  return EngineError::internal(std::move(message));
}

EngineError invalid_time_literal(std::string_view text) {
  return EngineError::execution("invalid time literal '" + std::string(text) + "'");
}

std::string variable_name(NodeView node) {
  for (;;) {
    Rule rule = node.rule();
    if (rule != Rule::appearance_set_binding && rule != Rule::posit_binding && rule != Rule::variable_reference &&
        rule != Rule::order_item) {
      break;
    }
    auto child = node.first_child();
    if (!child) break;
    node = *child;
  }
  std::string_view name = literal::trim_white_space(node.text());
  while (!name.empty() && (name.front() == '?' || name.front() == '+')) name.remove_prefix(1);
  return std::string(name);
}

Result<AppearanceSearch> lower_appearance(NodeView node) {
  auto thing_node = node.first_child();
  if (!thing_node) return fail(EngineError::internal("appearance lacks a Thing slot"));
  auto role_node = nth_child(node, 1);
  if (!role_node) return fail(EngineError::internal("appearance lacks a Role slot"));

  AppearanceSearch out;
  switch (thing_node->rule()) {
    case Rule::wildcard: out.thing = Wildcard{}; break;
    case Rule::query_variable: out.thing = Var{variable_name(*thing_node)}; break;
    case Rule::query_union: {
      ThingUnion members;
      for (NodeView member : thing_node->children()) {
        if (member.rule() == Rule::query_variable) members.members.push_back(Var{variable_name(member)});
      }
      out.thing = std::move(members);
      break;
    }
    default: return fail(unexpected_rule("unexpected Thing slot", thing_node->rule()));
  }
  switch (role_node->rule()) {
    case Rule::wildcard: out.role = Wildcard{}; break;
    case Rule::query_variable: out.role = Var{variable_name(*role_node)}; break;
    case Rule::role: out.role = RoleName{normalize_role_name(role_node->text())}; break;
    default: return fail(unexpected_rule("unexpected Role slot", role_node->rule()));
  }
  return out;
}

Result<CutoffOperand> lower_cutoff(NodeView node, const ExecContext& ctx, std::string_view label) {
  while (node.rule() == Rule::effect_cut_operand) {
    auto child = node.first_child();
    if (!child) return fail(EngineError::internal(std::string(label) + " cutoff is empty"));
    node = *child;
  }
  if (node.rule() == Rule::query_variable) return CutoffOperand(Var{variable_name(node)});
  if (!is_time_operand(node.rule())) return fail(unexpected_rule("unexpected " + std::string(label) + " cutoff", node.rule()));
  auto time = lower_time_operand(node, ctx);
  if (!time) return fail(std::move(time.error()));
  if (!*time) {
    return fail(EngineError::execution("invalid " + std::string(label) + " cutoff '" + std::string(node.text()) + "'"));
  }
  return CutoffOperand(**time);
}

Result<PredicateOperand> lower_predicate(NodeView node, const ExecContext& ctx) {
  while (node.rule() == Rule::variable_reference || node.rule() == Rule::rhs_value) {
    auto child = node.first_child();
    if (!child) return fail(EngineError::internal("empty right operand"));
    node = *child;
  }
  switch (node.rule()) {
    case Rule::query_variable: return PredicateOperand(Var{variable_name(node)});
    case Rule::parameter: {
      auto parameter = ctx.lookup_parameter(node.text());
      if (!parameter) return fail(std::move(parameter.error()));
      if ((*parameter)->is_time()) return PredicateOperand(*(*parameter)->time);
      return PredicateOperand((*parameter)->literal);
    }
    case Rule::time:
    case Rule::constant: {
      auto time = lower_time_operand(node, ctx);
      if (!time) return fail(std::move(time.error()));
      if (!*time) return fail(invalid_time_literal(node.text()));
      return PredicateOperand(**time);
    }
    default: {
      auto lit = lower_literal(node.rule(), literal::trim_white_space(node.text()), ctx.now);
      if (!lit) return fail(std::move(lit.error()));
      return PredicateOperand(std::move(*lit));
    }
  }
}

}  // namespace brackwater::velquin::query
