// The Velquin parser.
//
// `VelquinParser::parse` runs one grammar rule from the start of a UTF-8 text and returns the
// top-level pairs of the tree it built, or the parse error. Script execution passes `Rule::velquin`,
// which demands the whole text and yields the statement pairs followed by one empty `EOI` pair; any
// other rule may be named and then needs to match only a prefix. The parser is a pure function of
// its input (a caller may ask it to stop early): no shared state, no lock, no clock, no limit on work or nesting depth, and constant
// stack use however deeply JSON brackets nest. Input is expected to be valid UTF-8; an invalid byte
// is stepped over as one character and belongs to no character class.
#pragma once

#include <expected>
#include <memory>
#include <string_view>

#include "construct/budget.h"
#include "velquin/parse_error.h"
#include "velquin/parse_tree.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

struct VelquinParser {
  // The tree keeps its own copy of `input`; pair texts view that copy.
  static std::expected<Pairs, ParsingError> parse(Rule start, std::string_view input);
  // The same without the copy: pair texts view `input`, which must outlive every pair of the tree
  // (a script run, which holds its text for as long as it runs).
  // Every list item counts as work on `budget`, when given, with the bytes the parse moved over
  // since the item before; when the budget's stop check fails the parse ends with an error whose
  // `stopped` is set (no position, no expected rules).
  static std::expected<Pairs, ParsingError> parse_borrowed(Rule start, std::string_view input,
                                                           construct::Budget* budget = nullptr);

 private:
  static std::expected<Pairs, ParsingError> parse_into(std::shared_ptr<ParseTree> tree, Rule start,
                                                       construct::Budget* budget = nullptr);
};

inline std::expected<Pairs, ParsingError> parse(Rule start, std::string_view input) {
  return VelquinParser::parse(start, input);
}

inline std::expected<Pairs, ParsingError> parse_borrowed(Rule start, std::string_view input,
                                                         construct::Budget* budget = nullptr) {
  return VelquinParser::parse_borrowed(start, input, budget);
}

}  // namespace brackwater::velquin
