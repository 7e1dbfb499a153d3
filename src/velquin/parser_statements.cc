// Statement rules: add role, add posit and the posit additions with their and-assert clauses.
#include "velquin/parser_state.h"

namespace brackwater::velquin::grammar {

// A piece of a rule body.
#define PIECE(expr) [&]() -> bool { return expr; }

bool Parser::add_role() {
  return normal(Rule::add_role,
                PIECE(seq(PIECE(match_folded("add role")), PIECE(comma_list(PIECE(role()))), PIECE(match(';')))));
}

bool Parser::insert() {
  return normal(Rule::insert, PIECE(seq(PIECE(match('+')), PIECE(variable()))));
}

bool Parser::recall() {
  return normal(Rule::recall, PIECE(variable()));
}

bool Parser::appearance() {
  return normal(Rule::appearance, PIECE(seq(PIECE(match('(')), PIECE(insert() || recall()), PIECE(match(',')),
                                            PIECE(role()), PIECE(match(')')))));
}

bool Parser::appearance_set() {
  return normal(Rule::appearance_set,
                PIECE(seq(PIECE(match('{')), PIECE(comma_list(PIECE(appearance()))), PIECE(match('}')))));
}

bool Parser::appearing_value() {
  return normal(Rule::appearing_value, PIECE(parameter() || constant() || json() || string() || time() ||
                                             certainty() || decimal() || int_()));
}

bool Parser::appearance_time() {
  return normal(Rule::appearance_time, PIECE(parameter() || constant() || time()));
}

bool Parser::posit() {
  return normal(Rule::posit,
                PIECE(seq(PIECE(opt(PIECE(insert()))), PIECE(match('[')), PIECE(appearance_set()), PIECE(match(',')),
                          PIECE(appearing_value()), PIECE(match(',')), PIECE(appearance_time()), PIECE(match(']')))));
}

bool Parser::assertion_binding() {
  return normal(Rule::assertion_binding, PIECE(insert()));
}

bool Parser::assertion_source() {
  return normal(Rule::assertion_source, PIECE(insert() || recall()));
}

bool Parser::assertion_certainty() {
  return normal(Rule::assertion_certainty, PIECE(parameter() || certainty()));
}

bool Parser::assertion_time() {
  return normal(Rule::assertion_time, PIECE(parameter() || constant() || time()));
}

bool Parser::and_assert_clause() {
  return normal(Rule::and_assert_clause,
                PIECE(seq(PIECE(match_folded("and assert")), PIECE(opt(PIECE(assertion_binding()))),
                          PIECE(match_folded("by")), PIECE(assertion_source()), PIECE(match_folded("with")),
                          PIECE(assertion_certainty()), PIECE(match_folded("at")), PIECE(assertion_time()))));
}

bool Parser::posit_addition() {
  return seq(PIECE(posit()), PIECE(opt(PIECE(and_assert_clause()))));
}

bool Parser::add_posit() {
  return normal(Rule::add_posit, PIECE(seq(PIECE(match_folded("add posit")), PIECE(comma_list(PIECE(posit_addition()))),
                                           PIECE(match(';')))));
}

bool Parser::recall_union() {
  return normal(Rule::recall_union,
                PIECE(seq(PIECE(recall()), PIECE(plus(PIECE(seq(PIECE(match('|')), PIECE(recall()))))))));
}

#undef PIECE

}  // namespace brackwater::velquin::grammar
