#include "velquin/parser.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "velquin/parser_state.h"

namespace brackwater::velquin {

namespace grammar {

// One term of a rule body, as a callable.
#define TERM(expr) [&]() -> bool { return expr; }

void Parser::track(const Entry& e) {
  const size_t before = e.expected_size + e.unexpected_size;
  const size_t after = furthest_ == e.pos ? expected_.size() + unexpected_.size() : 0;
  if (after == before + 1) return;  // the one inner entry stands for this rule
  if (e.pos == furthest_) {
    if (expected_.size() > e.expected_size) expected_.resize(e.expected_size);
    if (unexpected_.size() > e.unexpected_size) unexpected_.resize(e.unexpected_size);
  } else if (e.pos > furthest_) {
    expected_.clear();
    unexpected_.clear();
    furthest_ = e.pos;
  } else {
    return;
  }
  (lookahead_ == Lookahead::Negative ? unexpected_ : expected_).push_back(e.rule);
}

size_t Parser::comment_close(size_t from) {
  if (from >= no_close_from_ || from >= n_) return kNone;
  const void* hit = memmem(s_ + from, n_ - from, "*/", 2);
  if (hit == nullptr) {
    no_close_from_ = from;
    return kNone;
  }
  return static_cast<size_t>(static_cast<const char*>(hit) - s_);
}

void Parser::skip_blanks_and_comments() {
  if (pos_ == skip_from_) {
    pos_ = skip_to_;
    return;
  }
  const size_t start = pos_;
  size_t p = pos_;
  while (p < n_ && is_blank(s_[p])) ++p;
  while (n_ - p >= 2 && s_[p] == '/' && s_[p + 1] == '*') {
    const size_t close = comment_close(p + 2);
    if (close == kNone) break;  // an unterminated "/*" is no comment
    p = close + 2;
    while (p < n_ && is_blank(s_[p])) ++p;
  }
  skip_from_ = start;
  skip_to_ = p;
  pos_ = p;
}

bool Parser::velquin() {
  return seq(TERM(pos_ == 0), TERM(star(TERM(statement()))), TERM(eoi()));
}

bool Parser::statement() {
  last_statement_ = pos_;
  return add_role() || add_posit() || search();
}

// Statements are tried only where the one before ended, and every rule a statement tries starts
// before its ";". So when `velquin` fails, the furthest failure lies at or after the last
// statement attempt, and the attempts before it have no part in the record: trying that statement
// and then EOI there, as `velquin` did, leaves the record a full parse would.
bool Parser::velquin_failure(size_t last_statement) {
  pos_ = last_statement;
  if (statement()) return true;  // cannot happen: the statement failed there before
  return eoi();
}

bool Parser::eoi() {
  return leaf(Rule::EOI, TERM(pos_ == n_));
}

bool Parser::comment() {
  return with_atomicity(Atomicity::Atomic, [&] {
    if (n_ - pos_ < 2 || s_[pos_] != '/' || s_[pos_ + 1] != '*') return false;
    const size_t close = comment_close(pos_ + 2);
    if (close == kNone) return false;
    pos_ = close + 2;
    return true;
  });
}

bool Parser::whitespace() {
  if (pos_ < n_ && is_blank(s_[pos_])) {
    ++pos_;
    return true;
  }
  return false;
}

bool Parser::run(Rule start) {
  switch (start) {
    case Rule::EOI: return eoi();
    case Rule::velquin: return velquin();
    case Rule::COMMENT: return comment();
    case Rule::WHITESPACE: return whitespace();
    case Rule::digit: return digit();
    case Rule::int_: return int_();
    case Rule::decimal: return decimal();
    case Rule::certainty: return certainty();
    case Rule::time: return time();
    case Rule::json_string: return json_string();
    case Rule::json_object: return json_object();
    case Rule::json_array: return json_array();
    case Rule::json: return json();
    case Rule::string: return string();
    case Rule::keyword: return keyword();
    case Rule::identifier: return identifier();
    case Rule::variable: return variable();
    case Rule::constant: return constant();
    case Rule::query_variable: return query_variable();
    case Rule::parameter: return parameter();
    case Rule::bare_role: return bare_role();
    case Rule::quoted_role: return quoted_role();
    case Rule::role: return role();
    case Rule::add_role: return add_role();
    case Rule::insert: return insert();
    case Rule::recall: return recall();
    case Rule::appearance: return appearance();
    case Rule::appearance_set: return appearance_set();
    case Rule::appearing_value: return appearing_value();
    case Rule::appearance_time: return appearance_time();
    case Rule::posit: return posit();
    case Rule::assertion_binding: return assertion_binding();
    case Rule::assertion_source: return assertion_source();
    case Rule::assertion_certainty: return assertion_certainty();
    case Rule::assertion_time: return assertion_time();
    case Rule::and_assert_clause: return and_assert_clause();
    case Rule::posit_addition: return posit_addition();
    case Rule::add_posit: return add_posit();
    case Rule::wildcard: return wildcard();
    case Rule::recall_union: return recall_union();
    case Rule::query_union: return query_union();
    case Rule::appearance_search: return appearance_search();
    case Rule::ellipsis: return ellipsis();
    case Rule::appearance_list: return appearance_list();
    case Rule::appearance_set_binding: return appearance_set_binding();
    case Rule::appearance_set_search: return appearance_set_search();
    case Rule::appearing_value_search: return appearing_value_search();
    case Rule::appearance_time_search: return appearance_time_search();
    case Rule::posit_binding: return posit_binding();
    case Rule::latest_marker: return latest_marker();
    case Rule::posit_search: return posit_search();
    case Rule::via_posit: return via_posit();
    case Rule::effect_cut_operand: return effect_cut_operand();
    case Rule::in_effect_clause: return in_effect_clause();
    case Rule::via_clause: return via_clause();
    case Rule::variable_reference: return variable_reference();
    case Rule::distinct: return distinct();
    case Rule::return_clause: return return_clause();
    case Rule::search_clause: return search_clause();
    case Rule::union_clause: return union_clause();
    case Rule::not_exists_clause: return not_exists_clause();
    case Rule::comparator: return comparator();
    case Rule::rhs_value: return rhs_value();
    case Rule::condition: return condition();
    case Rule::where_clause: return where_clause();
    case Rule::limit_clause: return limit_clause();
    case Rule::direction: return direction();
    case Rule::order_item: return order_item();
    case Rule::order_by_clause: return order_by_clause();
    case Rule::or_add_clause: return or_add_clause();
    case Rule::search: return search();
    case Rule::as_of_clause: return as_of_clause();
  }
  return false;
}

#undef TERM

}  // namespace grammar

std::expected<Pairs, ParsingError> VelquinParser::parse(Rule start, std::string_view input) {
  auto tree = std::make_shared<ParseTree>();
  tree->owned.assign(input.data(), input.size());
  tree->text = tree->owned;
  return parse_into(std::move(tree), start);
}

std::expected<Pairs, ParsingError> VelquinParser::parse_borrowed(Rule start, std::string_view input,
                                                                 construct::Budget* budget) {
  auto tree = std::make_shared<ParseTree>();
  tree->text = input;
  return parse_into(std::move(tree), start, budget);
}

std::expected<Pairs, ParsingError> VelquinParser::parse_into(std::shared_ptr<ParseTree> tree, Rule start,
                                                             construct::Budget* budget) {
  const std::string_view input = tree->text;
  // Offsets are packed into 40 bits: a larger text is beyond the tree, as a container beyond its
  // max_size (no machine holds such a script together with its tree).
  if (input.size() >= Node::kLimit) throw std::length_error("script is too large to parse");
  // Dense scripts make about one pair per three bytes. A large reservation is address space only
  // (its pages are touched as nodes are made), and it spares a large tree the copy of a regrowth;
  // beyond the cap the array grows by itself.
  tree->nodes.reserve(std::min<size_t>(input.size() / 3, size_t{1} << 28) + 4);
  const auto tree_pairs = [&] {
    const size_t count = tree->nodes.size();
    return Pairs(std::move(tree), 0, count);
  };
  grammar::Parser fast(tree->text, tree->nodes, grammar::Record::Off);
  fast.set_budget(budget);
  if (fast.run(start)) return tree_pairs();
  if (fast.stopped()) {
    ParsingError stopped;
    stopped.stopped = true;
    return std::unexpected(std::move(stopped));
  }
  // Parse again keeping the error record; a script only from its failing statement on.
  tree->nodes.clear();
  grammar::Parser parser(tree->text, tree->nodes, grammar::Record::On);
  const bool matched =
      start == Rule::velquin ? parser.velquin_failure(fast.last_statement()) : parser.run(start);
  if (matched) return tree_pairs();
  return std::unexpected(ParsingError::make(tree->text, parser.furthest(), parser.take_expected(),
                                            parser.take_unexpected()));
}

}  // namespace brackwater::velquin
