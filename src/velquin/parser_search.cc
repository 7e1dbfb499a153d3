// Search rules: posit patterns, the search statement and its clauses.
#include "velquin/parser_state.h"

namespace brackwater::velquin::grammar {

// A piece of a rule body.
#define PIECE(expr) [&]() -> bool { return expr; }

bool Parser::query_union() {
  return normal(Rule::query_union,
                PIECE(seq(PIECE(query_variable()), PIECE(plus(PIECE(seq(PIECE(match('|')), PIECE(query_variable()))))))));
}

bool Parser::appearance_search() {
  return normal(Rule::appearance_search,
                PIECE(seq(PIECE(match('(')), PIECE(wildcard() || query_union() || query_variable()), PIECE(match(',')),
                          PIECE(wildcard() || query_variable() || role()), PIECE(match(')')))));
}

bool Parser::appearance_list() {
  auto patterns = PIECE(seq(PIECE(appearance_search()),
                            PIECE(star(PIECE(seq(PIECE(match(',')), PIECE(appearance_search()))))),
                            PIECE(opt(PIECE(seq(PIECE(match(',')), PIECE(ellipsis())))))));
  return normal(Rule::appearance_list, PIECE(patterns() || ellipsis()));
}

bool Parser::appearance_set_binding() {
  return normal(Rule::appearance_set_binding, PIECE(seq(PIECE(query_variable()), PIECE(match('=')))));
}

bool Parser::appearance_set_search() {
  auto braces = PIECE(seq(PIECE(match('{')), PIECE(opt(PIECE(appearance_list()))), PIECE(match('}'))));
  return normal(Rule::appearance_set_search,
                PIECE(seq(PIECE(opt(PIECE(appearance_set_binding()))), PIECE(wildcard() || braces()))));
}

bool Parser::appearing_value_search() {
  return normal(Rule::appearing_value_search,
                PIECE(wildcard() || query_variable() || parameter() || constant() || json() || string() || time() ||
                      certainty() || decimal() || int_()));
}

bool Parser::appearance_time_search() {
  return normal(Rule::appearance_time_search,
                PIECE(wildcard() || query_variable() || parameter() || constant() || time()));
}

bool Parser::posit_binding() {
  return normal(Rule::posit_binding, PIECE(seq(PIECE(query_variable()), PIECE(match('=')))));
}

bool Parser::latest_marker() {
  return leaf(Rule::latest_marker, PIECE(match_folded("latest")));
}

bool Parser::pattern_slots() {
  return seq(PIECE(match('[')), PIECE(appearance_set_search()), PIECE(match(',')), PIECE(appearing_value_search()),
             PIECE(match(',')), PIECE(appearance_time_search()), PIECE(match(']')));
}

bool Parser::posit_search() {
  return normal(Rule::posit_search,
                PIECE(seq(PIECE(opt(PIECE(latest_marker()))), PIECE(opt(PIECE(posit_binding()))), PIECE(pattern_slots()),
                          PIECE(opt(PIECE(as_of_clause() || in_effect_clause()))), PIECE(opt(PIECE(via_clause()))))));
}

bool Parser::via_posit() {
  return normal(Rule::via_posit, PIECE(seq(PIECE(opt(PIECE(posit_binding()))), PIECE(pattern_slots()))));
}

bool Parser::effect_cut_operand() {
  return normal(Rule::effect_cut_operand, PIECE(parameter() || constant() || time() || query_variable()));
}

bool Parser::in_effect_clause() {
  return normal(Rule::in_effect_clause, PIECE(seq(PIECE(match_folded("in effect")), PIECE(effect_cut_operand()),
                                                  PIECE(match(',')), PIECE(effect_cut_operand()))));
}

bool Parser::via_clause() {
  return normal(Rule::via_clause, PIECE(seq(PIECE(match_folded("via")), PIECE(via_posit()))));
}

bool Parser::as_of_clause() {
  return normal(Rule::as_of_clause, PIECE(seq(PIECE(match("as of")),
                                              PIECE(parameter() || constant() || time() || query_variable()))));
}

// Search statement and clauses

bool Parser::variable_reference() {
  return normal(Rule::variable_reference, PIECE(query_variable()));
}

bool Parser::distinct() {
  return leaf(Rule::distinct, PIECE(match_folded("distinct")));
}

bool Parser::return_clause() {
  return normal(Rule::return_clause, PIECE(seq(PIECE(match_folded("return")), PIECE(opt(PIECE(distinct()))),
                                               PIECE(comma_list(PIECE(variable_reference()))))));
}

bool Parser::search_clause() {
  return normal(Rule::search_clause,
                PIECE(seq(PIECE(match_folded("search")), PIECE(comma_list(PIECE(posit_search()))))));
}

bool Parser::union_clause() {
  return normal(Rule::union_clause, PIECE(seq(PIECE(match_folded("union")), PIECE(comma_list(PIECE(posit_search()))))));
}

bool Parser::not_exists_clause() {
  return normal(Rule::not_exists_clause, PIECE(seq(PIECE(match_folded("not exists")), PIECE(match('{')),
                                                   PIECE(comma_list(PIECE(posit_search()))), PIECE(match('}')))));
}

bool Parser::rhs_value() {
  return normal(Rule::rhs_value, PIECE(parameter() || constant() || time() || certainty() || decimal() || int_() ||
                                       string() || json()));
}

bool Parser::condition() {
  return normal(Rule::condition, PIECE(seq(PIECE(variable_reference()), PIECE(comparator()),
                                           PIECE(rhs_value() || variable_reference()))));
}

bool Parser::where_clause() {
  return normal(Rule::where_clause, PIECE(seq(PIECE(match_folded("where")), PIECE(condition()),
                                              PIECE(star(PIECE(seq(PIECE(match("and")), PIECE(condition()))))))));
}

bool Parser::limit_clause() {
  return normal(Rule::limit_clause, PIECE(seq(PIECE(match_folded("limit")), PIECE(int_()))));
}

bool Parser::direction() {
  return leaf(Rule::direction, PIECE(match_folded("asc") || match_folded("desc")));
}

bool Parser::order_item() {
  return normal(Rule::order_item, PIECE(seq(PIECE(variable_reference()), PIECE(opt(PIECE(direction()))))));
}

bool Parser::order_by_clause() {
  return normal(Rule::order_by_clause, PIECE(seq(PIECE(match_folded("order by")), PIECE(order_item()),
                                                 PIECE(star(PIECE(seq(PIECE(match(',')), PIECE(order_item()))))))));
}

bool Parser::or_add_clause() {
  return normal(Rule::or_add_clause,
                PIECE(seq(PIECE(match_folded("or add posit")), PIECE(comma_list(PIECE(posit_addition()))))));
}

bool Parser::search() {
  return normal(Rule::search,
                PIECE(seq(PIECE(search_clause()), PIECE(star(PIECE(union_clause()))),
                          PIECE(star(PIECE(not_exists_clause()))), PIECE(opt(PIECE(where_clause()))),
                          PIECE(opt(PIECE(return_clause()))), PIECE(opt(PIECE(order_by_clause()))),
                          PIECE(opt(PIECE(limit_clause()))), PIECE(opt(PIECE(or_add_clause()))), PIECE(match(';')))));
}

#undef PIECE

}  // namespace brackwater::velquin::grammar
