// The rules of the Velquin grammar.
//
// `Rule` names each of the 72 grammar rules by a fixed id (0 to 71) held in one byte. The ids are
// part of the contract: parse errors sort their rule lists by id, and script execution tells
// statements and clauses apart by them. `rule_name` gives the rule's own spelling ("int", "string",
// "time" for the enumerators `int_`, `string`, `time`), which parse errors print; `rule_description`
// gives the friendly text of the "Expected one of" list ("token" for rules without their own text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brackwater::velquin {

enum class Rule : uint8_t {
  EOI = 0,
  velquin = 1,
  COMMENT = 2,
  WHITESPACE = 3,
  digit = 4,
  int_ = 5,
  decimal = 6,
  certainty = 7,
  time = 8,
  json_string = 9,
  json_object = 10,
  json_array = 11,
  json = 12,
  string = 13,
  keyword = 14,
  identifier = 15,
  variable = 16,
  constant = 17,
  query_variable = 18,
  parameter = 19,
  bare_role = 20,
  quoted_role = 21,
  role = 22,
  add_role = 23,
  insert = 24,
  recall = 25,
  appearance = 26,
  appearance_set = 27,
  appearing_value = 28,
  appearance_time = 29,
  posit = 30,
  assertion_binding = 31,
  assertion_source = 32,
  assertion_certainty = 33,
  assertion_time = 34,
  and_assert_clause = 35,
  posit_addition = 36,
  add_posit = 37,
  wildcard = 38,
  recall_union = 39,
  query_union = 40,
  appearance_search = 41,
  ellipsis = 42,
  appearance_list = 43,
  appearance_set_binding = 44,
  appearance_set_search = 45,
  appearing_value_search = 46,
  appearance_time_search = 47,
  posit_binding = 48,
  latest_marker = 49,
  posit_search = 50,
  via_posit = 51,
  effect_cut_operand = 52,
  in_effect_clause = 53,
  via_clause = 54,
  variable_reference = 55,
  distinct = 56,
  return_clause = 57,
  search_clause = 58,
  union_clause = 59,
  not_exists_clause = 60,
  comparator = 61,
  rhs_value = 62,
  condition = 63,
  where_clause = 64,
  limit_clause = 65,
  direction = 66,
  order_item = 67,
  order_by_clause = 68,
  or_add_clause = 69,
  search = 70,
  as_of_clause = 71,
};

inline constexpr size_t kRuleCount = 72;

// The rule's name as the grammar spells it, e.g. "add_role", "int", "EOI".
std::string_view rule_name(Rule rule);

// The friendly description used in "Expected one of" lists, e.g. "integer literal", "token".
std::string_view rule_description(Rule rule);

}  // namespace brackwater::velquin
