#include "velquin/search_limit.h"

#include <algorithm>

#include "velquin/numeric_text.h"

namespace brackwater::velquin {

std::optional<uint64_t> statement_limit(NodeView search) {
  for (NodeView clause : search.children()) {
    if (clause.rule() != Rule::limit_clause) continue;
    for (NodeView token : clause.children()) {
      if (token.rule() == Rule::int_) return parse_limit(cut_after_last_digit(token.text()));
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<uint64_t> effective_limit(std::optional<uint64_t> max_rows, std::optional<uint64_t> limit) {
  if (limit && max_rows) return std::min(*limit, *max_rows);
  return limit ? limit : max_rows;
}

}  // namespace brackwater::velquin
