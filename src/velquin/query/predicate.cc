#include "velquin/query/predicate.h"

#include "literal/compare.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

// One side of a comparison: a bound slot or an operand written in the condition.
struct Operand {
  BindingKind kind;
  const BoundSlot* slot = nullptr;   // when bound from the row
  const Literal* literal = nullptr;  // LiteralValue
  const TimeValue* time = nullptr;   // Time
};

Operand operand_of(const BoundSlot& slot) {
  Operand out{kind_of(slot), &slot};
  if (auto* l = std::get_if<LiteralRef>(&slot)) out.literal = *l;
  if (auto* t = std::get_if<TimeValue>(&slot)) out.time = t;
  return out;
}

bool is_identity(BindingKind k) { return k == BindingKind::Thing || k == BindingKind::Posit; }

Identity identity_of(const BoundSlot& slot) {
  if (auto* t = std::get_if<ThingValue>(&slot)) return t->id;
  return std::get<PositValue>(slot).id;
}

bool is_equality(std::string_view op) { return op == "=" || op == "?=" || op == "==="; }

EngineError unsupported(std::string message) { return EngineError::unsupported_comparison(std::move(message)); }

Result<bool> compare_literals(const Literal& left, std::string_view op, const Literal& right) {
  if (op == "=" || op == "?=") {
    auto equal = literal::compare_nominal(left, right);
    if (!equal) return fail(unsupported(std::move(equal.error())));
    return *equal;
  }
  if (op == "===") return left.text == right.text;
  if (op == "<" || op == ">" || op == "<=" || op == ">=") {
    auto order = literal::compare_order(left, right);
    if (!order) {
      std::string message = "Ordering comparison not allowed: " + order.error();
      if (left.kind == literal::LiteralKind::Certainty || right.kind == literal::LiteralKind::Certainty) {
        message += "; certainty comparisons require a percent sign (%) on both sides";
      }
      return fail(unsupported(std::move(message)));
    }
    if (op == "<") return *order < 0;
    if (op == ">") return *order > 0;
    if (op == "<=") return *order <= 0;
    return *order >= 0;
  }
  return fail(unsupported("unknown operator '" + std::string(op) + "'"));
}

Result<bool> compare_times(const TimeValue& left, std::string_view op, const TimeValue& right) {
  if (op == "=" || op == "===") return left.identical(right);
  if (op == "?=") return TimeValue::overlaps(left, right);
  if (op == "<") return TimeValue::ends_at_or_before_start(left, right);
  if (op == ">") return TimeValue::starts_at_or_after_end(left, right);
  if (op == "<=") return TimeValue::is_at_or_before(left, right);
  if (op == ">=") return TimeValue::is_at_or_after(left, right);
  return fail(unsupported("unknown operator '" + std::string(op) + "'"));
}

}  // namespace

Result<bool> evaluate_predicate(const Predicate& predicate, std::span<const BoundSlot> row) {
  const BoundSlot* left_slot = bound_slot(row, predicate.left);
  if (left_slot == nullptr) return fail(EngineError::unknown_variable(predicate.left.name));
  const Operand left = operand_of(*left_slot);
  Operand right{BindingKind::LiteralValue};
  if (auto* var = std::get_if<Var>(&predicate.right)) {
    const BoundSlot* right_slot = bound_slot(row, *var);
    if (right_slot == nullptr) return fail(EngineError::unknown_variable(var->name));
    right = operand_of(*right_slot);
  } else if (auto* lit = std::get_if<Literal>(&predicate.right)) {
    right.literal = lit;
  } else {
    right.kind = BindingKind::Time;
    right.time = &std::get<TimeValue>(predicate.right);
  }

  const std::string_view op = predicate.op;
  if (is_identity(left.kind) && is_identity(right.kind)) {
    if (!is_equality(op)) return fail(unsupported("identity values support equality only"));
    return identity_of(*left.slot) == identity_of(*right.slot);
  }
  if (left.kind == right.kind) {
    switch (left.kind) {
      case BindingKind::Role:
        if (!is_equality(op)) return fail(unsupported("identity values support equality only"));
        return bound_value_eq(*left.slot, *right.slot);
      case BindingKind::AppearanceSet:
        if (!is_equality(op)) return fail(unsupported("appearance sets support equality only"));
        return bound_value_eq(*left.slot, *right.slot);
      case BindingKind::LiteralValue: return compare_literals(*left.literal, op, *right.literal);
      case BindingKind::Time: return compare_times(*left.time, op, *right.time);
      default: break;
    }
  }
  return fail(unsupported(std::string(binding_kind_name(left.kind)) + " " + std::string(op) + " " +
                          std::string(binding_kind_name(right.kind)) + " is unsupported"));
}

}  // namespace brackwater::velquin::query
