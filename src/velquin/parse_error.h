// The failure result of a parse.
//
// A `ParsingError` names the furthest position at which a counted rule began, the rules expected
// there (`positives`) and the rules that matched there where they must not (`negatives`), both
// sorted by rule id without repeats. `to_text` lays it out in six lines: the position, the offending
// line with a caret under the position, and the wording "expected ...", "unexpected ..." or
// "unexpected ...; expected ...". `parse_message` is that text followed, when anything was expected,
// by "\nExpected one of: " and the friendly descriptions of the expected rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "velquin/rule.h"

namespace brackwater::velquin {

struct ParsingError {
  std::vector<Rule> positives;
  std::vector<Rule> negatives;
  size_t pos = 0;   // byte offset into the parsed text
  size_t line = 1;  // 1 + line feeds before pos
  size_t col = 1;   // 1 + scalar values between the line start and pos
  std::string line_text;  // the line holding pos, without carriage returns and line feeds
  bool stopped = false;   // the caller asked the parse to stop: no error in the text

  // Builds the error for `text` from the error record of a failed parse: sorts and deduplicates the
  // rule lists and locates `pos`.
  static ParsingError make(std::string_view text, size_t pos, std::vector<Rule> positives,
                           std::vector<Rule> negatives);

  std::string to_text() const;
};

// The error text, then "\nExpected one of: " and the descriptions when `positives` is not empty.
std::string parse_message(const ParsingError& error);

}  // namespace brackwater::velquin
