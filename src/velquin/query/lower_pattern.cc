#include "velquin/query/lower_pattern.h"

#include <algorithm>
#include <array>
#include <string>

#include "velquin/lower_literal.h"
#include "velquin/parameters.h"
#include "velquin/query/lower_operand.h"
#include "velquin/time_operand.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

// What the children of one pattern node filled in so far.
struct PatternDraft {
  explicit PatternDraft(PositPattern& out) : pattern(out) {}

  PositPattern& pattern;
  bool has_set_slot = false;
  bool ellipsis = false;
  std::optional<ValueSlot> value;
  std::optional<TimeSlot> time;
  std::optional<PositPattern> via;
};

Result<void> append_appearance(NodeView node, PatternDraft& draft) {
  auto appearance = lower_appearance(node);
  if (!appearance) return fail(std::move(appearance.error()));
  draft.pattern.appearances.push_back(std::move(*appearance));
  return {};
}

Result<void> lower_set_slot(NodeView slot, PatternDraft& draft) {
  draft.has_set_slot = true;
  for (NodeView child : slot.children()) {
    switch (child.rule()) {
      case Rule::appearance_set_binding: draft.pattern.appearance_set_binding = Var{variable_name(child)}; break;
      case Rule::wildcard: draft.pattern.any_appearance_set = true; break;
      case Rule::ellipsis: draft.ellipsis = true; break;
      case Rule::appearance_search:
        if (auto r = append_appearance(child, draft); !r) return r;
        break;
      case Rule::appearance_list:
        for (NodeView member : child.children()) {
          if (member.rule() == Rule::ellipsis) {
            draft.ellipsis = true;
          } else if (member.rule() == Rule::appearance_search) {
            if (auto r = append_appearance(member, draft); !r) return r;
          } else {
            return fail(unexpected_rule("unexpected appearance-list member", member.rule()));
          }
        }
        break;
      default: return fail(unexpected_rule("unexpected appearance-set member", child.rule()));
    }
  }
  return {};
}

Result<ValueSlot> lower_value_slot(NodeView slot, const ExecContext& ctx) {
  auto node = slot.first_child();
  if (!node) return fail(EngineError::internal("value pattern is empty"));
  switch (node->rule()) {
    case Rule::wildcard: return ValueSlot(Wildcard{});
    case Rule::query_variable: return ValueSlot(Var{variable_name(*node)});
    case Rule::parameter: {
      auto parameter = ctx.lookup_parameter(node->text());
      if (!parameter) return fail(std::move(parameter.error()));
      return ValueSlot((*parameter)->literal);
    }
    default: {
      auto lit = lower_value_literal(node->rule(), node->text(), ctx.now);
      if (!lit) return fail(std::move(lit.error()));
      return ValueSlot(std::move(*lit));
    }
  }
}

Result<TimeSlot> lower_time_slot(NodeView slot, const ExecContext& ctx) {
  auto node = slot.first_child();
  if (!node) return fail(EngineError::internal("time pattern is empty"));
  switch (node->rule()) {
    case Rule::wildcard: return TimeSlot(Wildcard{});
    case Rule::query_variable: return TimeSlot(Var{variable_name(*node)});
    default: {
      if (!is_time_operand(node->rule())) return fail(unexpected_rule("unexpected time slot", node->rule()));
      auto time = lower_time_operand(*node, ctx);
      if (!time) return fail(std::move(time.error()));
      if (!*time) return fail(invalid_time_literal(node->text()));
      return TimeSlot(**time);
    }
  }
}

Result<void> lower_in_effect(NodeView clause, const ExecContext& ctx, PatternDraft& draft) {
  auto first = clause.first_child();
  if (!first) return fail(EngineError::internal("in-effect clause has no assertion cutoff"));
  auto second = nth_child(clause, 1);
  if (!second) return fail(EngineError::internal("in-effect clause has no appearance cutoff"));
  auto assertion = lower_cutoff(*first, ctx, "in-effect assertion");
  if (!assertion) return fail(std::move(assertion.error()));
  auto appearance = lower_cutoff(*second, ctx, "in-effect appearance");
  if (!appearance) return fail(std::move(appearance.error()));
  draft.pattern.in_effect = InEffectClause{std::move(*assertion), std::move(*appearance), nullptr};
  return {};
}

// The via checks after "in effect" is known to be present.
Result<void> check_via_shape(const PositPattern& via) {
  if (via.as_of || via.in_effect || via.latest) {
    return fail(EngineError::execution("via must be a plain assertion-envelope pattern"));
  }
  auto shape_error = [] { return EngineError::execution("via requires the exact {posit, ascertains} assertion shape"); };
  if (via.any_appearance_set || via.open || via.appearances.size() != 2) return fail(shape_error());
  std::array<std::string_view, 2> names;
  for (size_t i = 0; i < 2; ++i) {
    auto* role = std::get_if<RoleName>(&via.appearances[i].role);
    if (role == nullptr) {
      return fail(EngineError::execution("via assertion roles must be the literal roles posit and ascertains"));
    }
    names[i] = role->name;
  }
  std::sort(names.begin(), names.end());
  if (names[0] != "ascertains" || names[1] != "posit") return fail(shape_error());
  return {};
}

Result<void> lower_child(NodeView node, NodeView child, const ExecContext& ctx, PatternDraft& draft) {
  switch (child.rule()) {
    case Rule::latest_marker: draft.pattern.latest = true; return {};
    case Rule::posit_binding: draft.pattern.posit_binding = Var{variable_name(child)}; return {};
    case Rule::appearance_set_search: return lower_set_slot(child, draft);
    case Rule::appearing_value_search: {
      auto value = lower_value_slot(child, ctx);
      if (!value) return fail(std::move(value.error()));
      draft.value = std::move(*value);
      return {};
    }
    case Rule::appearance_time_search: {
      auto time = lower_time_slot(child, ctx);
      if (!time) return fail(std::move(time.error()));
      draft.time = *time;
      return {};
    }
    case Rule::as_of_clause: {
      auto operand = child.first_child();
      if (!operand) return fail(EngineError::internal("as-of clause has no cutoff"));
      auto cutoff = lower_cutoff(*operand, ctx, "as-of");
      if (!cutoff) return fail(std::move(cutoff.error()));
      draft.pattern.as_of = std::move(*cutoff);
      return {};
    }
    case Rule::in_effect_clause: return lower_in_effect(child, ctx, draft);
    case Rule::via_clause: {
      // A via pattern holds no via clause: lowering nests at most once.
      if (node.rule() == Rule::via_posit) break;
      auto via_node = child.first_child();
      if (!via_node) return fail(EngineError::internal("via clause has no assertion pattern"));
      auto via = lower_posit_pattern(*via_node, ctx);
      if (!via) return fail(std::move(via.error()));
      draft.via = std::move(*via);
      return {};
    }
    default: break;
  }
  return fail(unexpected_rule("unexpected posit-pattern component", child.rule()));
}

}  // namespace

Result<PositPattern> lower_posit_pattern(NodeView node, const ExecContext& ctx) {
  PositPattern pattern;
  if (auto r = lower_posit_pattern_into(node, ctx, pattern); !r) return fail(std::move(r.error()));
  return pattern;
}

Result<void> lower_posit_pattern_into(NodeView node, const ExecContext& ctx, PositPattern& out) {
  PatternDraft draft(out);
  for (NodeView child : node.children()) {
    if (auto r = lower_child(node, child, ctx, draft); !r) return fail(std::move(r.error()));
  }

  PositPattern& pattern = draft.pattern;
  if (!draft.has_set_slot) return fail(EngineError::internal("posit pattern has no appearance-set slot"));
  pattern.open = draft.ellipsis || std::any_of(pattern.appearances.begin(), pattern.appearances.end(),
                                               [](const AppearanceSearch& a) {
                                                 return std::holds_alternative<ThingUnion>(a.thing);
                                               });
  if (pattern.latest && pattern.in_effect) {
    return fail(EngineError::execution("latest cannot be combined with in effect"));
  }
  if (draft.via) {
    if (!pattern.in_effect) return fail(EngineError::execution("via requires an in effect target pattern"));
    if (auto r = check_via_shape(*draft.via); !r) return fail(std::move(r.error()));
    pattern.in_effect->via = std::make_shared<const PositPattern>(std::move(*draft.via));
  }
  if (!draft.value) return fail(EngineError::internal("posit pattern has no value slot"));
  if (!draft.time) return fail(EngineError::internal("posit pattern has no time slot"));
  pattern.value = std::move(*draft.value);
  pattern.time = *draft.time;
  return {};
}

}  // namespace brackwater::velquin::query
