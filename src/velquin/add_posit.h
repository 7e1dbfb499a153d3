// The add posit command: one `add posit` statement, or the add branch of "or add posit".
//
// The statement's children are walked in order. A posit clause draws an identity for each appearance
// insert at once (binding it in the script variables), builds one candidate list per variable, and
// enumerates the combinations of its slots (sorted stably by list length, last slot fastest, a stop
// check per combination), interning one Appearance set per combination; then the time is checked
// ("add posit requires a valid appearance time"), then the value ("... a valid appearing value").
// The clause's Posits share its value and time. A variable named in several slots gives combinations
// that repeat an earlier one's set, so its Posit: these are counted with the Posit they repeat
// instead of being built and queued. An `and assert` clause turns into assertions of each posit the
// clause before it queued, by each identity of its source (a repeat's assertions are counted with
// its Posit's). Everything queued goes to Engine::add_pending_posits in one call (one committed
// batch); only then are the posit bindings and then the assertion bindings recorded. Identities
// and bindings come out as if every combination had been queued.
#pragma once

#include <cstdint>

#include "construct/engine.h"
#include "construct/error.h"
#include "literal/time_value.h"
#include "velquin/exec_context.h"
#include "velquin/node_view.h"
#include "velquin/parse_tree.h"
#include "velquin/result_binding.h"

namespace brackwater::velquin {

// The most Posits and assertions one statement may enumerate, and the most rows the or-add
// fallback may build: a few slots that each take a variable's whole candidate list multiply
// quickly, so the product is checked before any of it is built (`ResourceLimit` "add posit combinations").
inline constexpr uint64_t kMaxAddPositCombinations = 10'000'000;

using construct::saturating_mul;

// The error of a statement or fallback past kMaxAddPositCombinations.
inline construct::EngineError too_many_combinations() {
  return construct::EngineError::resource_limit("add posit combinations", kMaxAddPositCombinations);
}

// What the caller of a statement run lets it give back early.
struct StatementScope {
  // The caller owns the tree alone and reads none of the statement's child nodes again: the nodes
  // of its clauses are given back as they are consumed (a long statement's tree shrinks as it runs).
  bool release_consumed = false;
  // No statement of the script follows, so the script variables are never read again: they are
  // given back before the Posits are filed, and the statement's own bindings are not recorded.
  bool last_statement = false;
};

// `statement` is an `add_posit` or an `or_add_clause` node.
construct::Result<void> execute_add_posit_command(construct::Engine& engine, NodeView statement,
                                                  ScriptVariables& variables, const literal::TimeValue& now,
                                                  const ExecContext& ctx, StatementScope scope = {});

// The same for a pair (the add branch of "or add posit").
construct::Result<void> execute_add_posit_command(construct::Engine& engine, const Pair& statement,
                                                  ScriptVariables& variables, const literal::TimeValue& now,
                                                  const ExecContext& ctx);

}  // namespace brackwater::velquin
