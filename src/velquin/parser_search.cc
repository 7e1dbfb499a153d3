// Search rules: posit patterns, the search statement and its clauses.
#include "velquin/parser_state.h"

namespace brackwater::velquin::grammar {

// One term of a rule body, as a callable.
#define TERM(expr) [&]() -> bool { return expr; }

bool Parser::query_union() {
  return normal(Rule::query_union,
                TERM(seq(TERM(query_variable()), TERM(plus(TERM(seq(TERM(match('|')), TERM(query_variable()))))))));
}

bool Parser::appearance_search() {
  return normal(Rule::appearance_search,
                TERM(seq(TERM(match('(')), TERM(wildcard() || query_union() || query_variable()), TERM(match(',')),
                          TERM(wildcard() || query_variable() || role()), TERM(match(')')))));
}

bool Parser::appearance_list() {
  auto patterns = TERM(seq(TERM(appearance_search()),
                            TERM(star(TERM(seq(TERM(match(',')), TERM(appearance_search()))))),
                            TERM(opt(TERM(seq(TERM(match(',')), TERM(ellipsis())))))));
  return normal(Rule::appearance_list, TERM(patterns() || ellipsis()));
}

bool Parser::appearance_set_binding() {
  return normal(Rule::appearance_set_binding, TERM(seq(TERM(query_variable()), TERM(match('=')))));
}

bool Parser::appearance_set_search() {
  auto braces = TERM(seq(TERM(match('{')), TERM(opt(TERM(appearance_list()))), TERM(match('}'))));
  return normal(Rule::appearance_set_search,
                TERM(seq(TERM(opt(TERM(appearance_set_binding()))), TERM(wildcard() || braces()))));
}

bool Parser::appearing_value_search() {
  return normal(Rule::appearing_value_search,
                TERM(wildcard() || query_variable() || parameter() || constant() || json() || string() || time() ||
                      certainty() || decimal() || int_()));
}

bool Parser::appearance_time_search() {
  return normal(Rule::appearance_time_search,
                TERM(wildcard() || query_variable() || parameter() || constant() || time()));
}

bool Parser::posit_binding() {
  return normal(Rule::posit_binding, TERM(seq(TERM(query_variable()), TERM(match('=')))));
}

bool Parser::latest_marker() {
  return leaf(Rule::latest_marker, TERM(match_folded("latest")));
}

bool Parser::pattern_slots() {
  return seq(TERM(match('[')), TERM(appearance_set_search()), TERM(match(',')), TERM(appearing_value_search()),
             TERM(match(',')), TERM(appearance_time_search()), TERM(match(']')));
}

bool Parser::posit_search() {
  return normal(Rule::posit_search,
                TERM(seq(TERM(opt(TERM(latest_marker()))), TERM(opt(TERM(posit_binding()))), TERM(pattern_slots()),
                          TERM(opt(TERM(as_of_clause() || in_effect_clause()))), TERM(opt(TERM(via_clause()))))));
}

bool Parser::via_posit() {
  return normal(Rule::via_posit, TERM(seq(TERM(opt(TERM(posit_binding()))), TERM(pattern_slots()))));
}

bool Parser::effect_cut_operand() {
  return normal(Rule::effect_cut_operand, TERM(parameter() || constant() || time() || query_variable()));
}

bool Parser::in_effect_clause() {
  return normal(Rule::in_effect_clause, TERM(seq(TERM(match_folded("in effect")), TERM(effect_cut_operand()),
                                                  TERM(match(',')), TERM(effect_cut_operand()))));
}

bool Parser::via_clause() {
  return normal(Rule::via_clause, TERM(seq(TERM(match_folded("via")), TERM(via_posit()))));
}

bool Parser::as_of_clause() {
  return normal(Rule::as_of_clause, TERM(seq(TERM(match("as of")),
                                              TERM(parameter() || constant() || time() || query_variable()))));
}

// Search statement and clauses

bool Parser::variable_reference() {
  return normal(Rule::variable_reference, TERM(query_variable()));
}

bool Parser::distinct() {
  return leaf(Rule::distinct, TERM(match_folded("distinct")));
}

bool Parser::return_clause() {
  return normal(Rule::return_clause, TERM(seq(TERM(match_folded("return")), TERM(opt(TERM(distinct()))),
                                               TERM(comma_list(TERM(variable_reference()))))));
}

bool Parser::search_clause() {
  return normal(Rule::search_clause,
                TERM(seq(TERM(match_folded("search")), TERM(comma_list(TERM(posit_search()))))));
}

bool Parser::union_clause() {
  return normal(Rule::union_clause, TERM(seq(TERM(match_folded("union")), TERM(comma_list(TERM(posit_search()))))));
}

bool Parser::not_exists_clause() {
  return normal(Rule::not_exists_clause, TERM(seq(TERM(match_folded("not exists")), TERM(match('{')),
                                                   TERM(comma_list(TERM(posit_search()))), TERM(match('}')))));
}

bool Parser::rhs_value() {
  return normal(Rule::rhs_value, TERM(parameter() || constant() || time() || certainty() || decimal() || int_() ||
                                       string() || json()));
}

bool Parser::condition() {
  return normal(Rule::condition, TERM(seq(TERM(variable_reference()), TERM(comparator()),
                                           TERM(rhs_value() || variable_reference()))));
}

bool Parser::where_clause() {
  return normal(Rule::where_clause, TERM(seq(TERM(match_folded("where")), TERM(condition()),
                                              TERM(star(TERM(seq(TERM(match("and")), TERM(condition()))))))));
}

bool Parser::limit_clause() {
  return normal(Rule::limit_clause, TERM(seq(TERM(match_folded("limit")), TERM(int_()))));
}

bool Parser::direction() {
  return leaf(Rule::direction, TERM(match_folded("asc") || match_folded("desc")));
}

bool Parser::order_item() {
  return normal(Rule::order_item, TERM(seq(TERM(variable_reference()), TERM(opt(TERM(direction()))))));
}

bool Parser::order_by_clause() {
  return normal(Rule::order_by_clause, TERM(seq(TERM(match_folded("order by")), TERM(order_item()),
                                                 TERM(star(TERM(seq(TERM(match(',')), TERM(order_item()))))))));
}

bool Parser::or_add_clause() {
  return normal(Rule::or_add_clause,
                TERM(seq(TERM(match_folded("or add posit")), TERM(comma_list(TERM(posit_addition()))))));
}

bool Parser::search() {
  return normal(Rule::search,
                TERM(seq(TERM(search_clause()), TERM(star(TERM(union_clause()))),
                          TERM(star(TERM(not_exists_clause()))), TERM(opt(TERM(where_clause()))),
                          TERM(opt(TERM(return_clause()))), TERM(opt(TERM(order_by_clause()))),
                          TERM(opt(TERM(limit_clause()))), TERM(opt(TERM(or_add_clause()))), TERM(match(';')))));
}

#undef TERM

}  // namespace brackwater::velquin::grammar
