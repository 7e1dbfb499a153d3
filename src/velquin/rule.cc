#include "velquin/rule.h"

#include <array>

namespace brackwater::velquin {

namespace {

constexpr std::array<std::string_view, kRuleCount> kNames = {
    "EOI",                    "velquin",                "COMMENT",
    "WHITESPACE",             "digit",                  "int",
    "decimal",                "certainty",              "time",
    "json_string",            "json_object",            "json_array",
    "json",                   "string",                 "keyword",
    "identifier",             "variable",               "constant",
    "query_variable",         "parameter",              "bare_role",
    "quoted_role",            "role",                   "add_role",
    "insert",                 "recall",                 "appearance",
    "appearance_set",         "appearing_value",        "appearance_time",
    "posit",                  "assertion_binding",      "assertion_source",
    "assertion_certainty",    "assertion_time",         "and_assert_clause",
    "posit_addition",         "add_posit",              "wildcard",
    "recall_union",           "query_union",            "appearance_search",
    "ellipsis",               "appearance_list",        "appearance_set_binding",
    "appearance_set_search",  "appearing_value_search", "appearance_time_search",
    "posit_binding",          "latest_marker",          "posit_search",
    "via_posit",              "effect_cut_operand",     "in_effect_clause",
    "via_clause",             "variable_reference",     "distinct",
    "return_clause",          "search_clause",          "union_clause",
    "not_exists_clause",      "comparator",             "rhs_value",
    "condition",              "where_clause",           "limit_clause",
    "direction",              "order_item",             "order_by_clause",
    "or_add_clause",          "search",                 "as_of_clause",
};

constexpr std::array<std::string_view, kRuleCount> make_descriptions() {
  std::array<std::string_view, kRuleCount> d{};
  for (auto& text : d) text = "token";
  auto set = [&d](Rule r, std::string_view text) { d[static_cast<size_t>(r)] = text; };
  set(Rule::velquin, "Velquin script");
  set(Rule::int_, "integer literal");
  set(Rule::decimal, "decimal literal");
  set(Rule::certainty, "certainty (e.g., 100%)");
  set(Rule::time, "time literal (e.g., 'YYYY-MM-DD')");
  set(Rule::json, "JSON literal");
  set(Rule::string, "string literal");
  set(Rule::constant, "time constant (@NOW/@BOT/@EOT)");
  set(Rule::role, "role name");
  set(Rule::add_role, "add role");
  set(Rule::insert, "+variable");
  set(Rule::recall, "variable");
  set(Rule::appearance, "appearance (..., <role>)");
  set(Rule::appearance_set, "appearance set [{(...)}]");
  set(Rule::appearing_value, "value");
  set(Rule::appearance_time, "time");
  set(Rule::and_assert_clause, "and assert <binding?> by <source> with <certainty> at <time>");
  set(Rule::add_posit, "add posit");
  set(Rule::wildcard, "*");
  set(Rule::recall_union, "variable union (a|b)");
  set(Rule::appearance_search, "appearance (..., <role>)");
  set(Rule::appearance_set_search, "appearance set [{(...)}]");
  set(Rule::appearing_value_search, "value");
  set(Rule::appearance_time_search,
      "time literal (e.g., 'YYYY-MM-DD'), time constant (@NOW/@BOT/@EOT), +variable, variable, or *");
  set(Rule::return_clause, "return clause");
  set(Rule::search_clause, "search clause");
  set(Rule::comparator, "comparator (<, <=, >, >=, =, ===, ?=)");
  set(Rule::where_clause, "where clause");
  set(Rule::or_add_clause, "or add posit");
  set(Rule::search, "search");
  set(Rule::as_of_clause, "as of <time> or <variable>");
  return d;
}

constexpr std::array<std::string_view, kRuleCount> kDescriptions = make_descriptions();

}  // namespace

std::string_view rule_name(Rule rule) {
  auto i = static_cast<size_t>(rule);
  return i < kRuleCount ? kNames[i] : std::string_view("unknown");
}

std::string_view rule_description(Rule rule) {
  auto i = static_cast<size_t>(rule);
  return i < kRuleCount ? kDescriptions[i] : std::string_view("token");
}

}  // namespace brackwater::velquin
