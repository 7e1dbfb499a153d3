// Statement rules: add role, add posit and the posit additions with their and-assert clauses.
#include "velquin/parser_state.h"

namespace brackwater::velquin::grammar {

// One term of a rule body, as a callable.
#define TERM(expr) [&]() -> bool { return expr; }

bool Parser::add_role() {
  return normal(Rule::add_role,
                TERM(seq(TERM(match_folded("add role")), TERM(comma_list(TERM(role()))), TERM(match(';')))));
}

bool Parser::insert() {
  if (cannot_start_with('+')) return false;
  return normal(Rule::insert, TERM(seq(TERM(match('+')), TERM(variable()))));
}

bool Parser::recall() {
  return normal(Rule::recall, TERM(variable()));
}

bool Parser::appearance() {
  if (cannot_start_with('(')) return false;
  return normal(Rule::appearance, TERM(seq(TERM(match('(')), TERM(insert() || recall()), TERM(match(',')),
                                            TERM(role()), TERM(match(')')))));
}

bool Parser::appearance_set() {
  if (cannot_start_with('{')) return false;
  return normal(Rule::appearance_set,
                TERM(seq(TERM(match('{')), TERM(comma_list(TERM(appearance()))), TERM(match('}')))));
}

bool Parser::appearing_value() {
  return normal(Rule::appearing_value, TERM(parameter() || constant() || json() || string() || time() ||
                                             certainty() || decimal() || int_()));
}

bool Parser::appearance_time() {
  return normal(Rule::appearance_time, TERM(parameter() || constant() || time()));
}

bool Parser::posit() {
  return normal(Rule::posit,
                TERM(seq(TERM(opt(TERM(insert()))), TERM(match('[')), TERM(appearance_set()), TERM(match(',')),
                          TERM(appearing_value()), TERM(match(',')), TERM(appearance_time()), TERM(match(']')))));
}

bool Parser::assertion_binding() {
  return normal(Rule::assertion_binding, TERM(insert()));
}

bool Parser::assertion_source() {
  return normal(Rule::assertion_source, TERM(insert() || recall()));
}

bool Parser::assertion_certainty() {
  return normal(Rule::assertion_certainty, TERM(parameter() || certainty()));
}

bool Parser::assertion_time() {
  return normal(Rule::assertion_time, TERM(parameter() || constant() || time()));
}

bool Parser::and_assert_clause() {
  return normal(Rule::and_assert_clause,
                TERM(seq(TERM(match_folded("and assert")), TERM(opt(TERM(assertion_binding()))),
                          TERM(match_folded("by")), TERM(assertion_source()), TERM(match_folded("with")),
                          TERM(assertion_certainty()), TERM(match_folded("at")), TERM(assertion_time()))));
}

bool Parser::posit_addition() {
  return seq(TERM(posit()), TERM(opt(TERM(and_assert_clause()))));
}

bool Parser::add_posit() {
  return normal(Rule::add_posit, TERM(seq(TERM(match_folded("add posit")), TERM(comma_list(TERM(posit_addition()))),
                                           TERM(match(';')))));
}

bool Parser::recall_union() {
  return normal(Rule::recall_union,
                TERM(seq(TERM(recall()), TERM(plus(TERM(seq(TERM(match('|')), TERM(recall()))))))));
}

#undef TERM

}  // namespace brackwater::velquin::grammar
