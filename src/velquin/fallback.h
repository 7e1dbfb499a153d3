// The rows of "or add posit" when the search found nothing: built from what the add branch bound.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/result_binding.h"
#include "velquin/result_set.h"
#include "velquin/row_sink.h"

namespace brackwater::velquin {

struct FallbackOrderKey {
  size_t variable = 0;  // position in FallbackProjection::variables
  bool descending = false;
};

// What the fallback needs of the search's return clause.
struct FallbackProjection {
  std::vector<std::string> variables;   // distinct returned names, in order of first appearance
  std::vector<size_t> column_variables; // per returned column: position in `variables`
  std::vector<ValueKind> column_kinds;  // per returned column: Thing or Posit, as the add branch binds it
  std::vector<FallbackOrderKey> order_keys;
  bool distinct = false;
};

// Pushes (never `begin`) one row per combination of the variables' identities, the last variable
// varying fastest, into `sink` until it asks to stop: distinct rows only when asked, sorted stably
// by identity per order key. A name without a script variable is `UnknownVariable`; an empty identity list
// is `Execution` "or-add fallback produced an empty returned binding"; more combinations than
// kMaxAddPositCombinations is `ResourceLimit`; each before any row is built. A combination is kept
// as its number, its identities read from it; a row is rendered only when it is offered, and
// without an order the rows are offered as they are found. The numbers and the distinct index are
// charged to the context's budget; the combinations, the sort and the rows offered count as work.
construct::Result<void> bind_or_add_fallback(const ScriptVariables& variables, const FallbackProjection& projection,
                                             RowSink& sink, const ExecContext& ctx);

}  // namespace brackwater::velquin
