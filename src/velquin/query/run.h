// The search run: join every group, filter, bind, render, order and emit into the row sink.
//
// Rows already pushed stay in the sink when a later step fails. Without returned variables the
// run stops after the binding step and offers nothing (`returned` false).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/query/query.h"
#include "velquin/result_binding.h"
#include "velquin/row_sink.h"

namespace brackwater::velquin::query {

struct OutcomeBinding {
  std::string name;
  BindingKind kind = BindingKind::Thing;  // Thing or Posit
  ResultBinding identities;
};

struct SearchOutcome {
  std::vector<OutcomeBinding> bindings;  // Thing and Posit variables of the matched rows, by name bytes
  uint64_t matched_rows = 0;             // after not exists and where; before distinct and limit
  bool returned = false;                 // rows were offered to the sink
  bool stopped = false;                  // the sink asked to stop
};

// When the search returns variables, `columns` is replaced by their names. Without
// `keep_bindings` the binding step checks the kinds but leaves `bindings` empty.
construct::Result<SearchOutcome> run_search(construct::Engine& engine, const CompiledSearch& search, RowSink& sink,
                                            std::optional<std::vector<std::string>>& columns,
                                            const ExecContext& ctx, bool keep_bindings = true);

}  // namespace brackwater::velquin::query
