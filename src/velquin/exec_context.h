// The per-call context of script execution, its stop check and the parameter lookup.
//
// check_stop is construct::check_stop over the context's cancel flag and deadline. lookup_parameter drops exactly one leading "$" of the name as written
// and looks the rest up exactly; absent: `InvalidParameter` "missing parameter '${}'".
//
// The context carries the budget of the script's statements (construct/budget.h): the bytes their
// structures hold and the work between two stop checks. work(units) counts work and runs
// check_stop once enough has gathered. A copy of a context has a budget of its own, with nothing
// charged.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "construct/budget.h"
#include "construct/error.h"
#include "literal/time_value.h"
#include "construct/deadline.h"
#include "velquin/parameters.h"
#include "velquin/result_set.h"

namespace brackwater::velquin {

using construct::CancelFlag;
using construct::Deadline;
using construct::Duration;
using construct::make_cancel_flag;
using construct::MonoInstant;

struct ExecContext {
  ExecContext() = default;
  ExecContext(std::optional<uint64_t> max_rows, std::vector<Warning> warnings, literal::TimeValue now,
              std::optional<Deadline> deadline, CancelFlag cancel, ParameterMap parameters,
              uint64_t max_bytes = construct::kStatementBytes)
      : max_rows(max_rows),
        warnings(std::move(warnings)),
        now(now),
        deadline(deadline),
        cancel(std::move(cancel)),
        parameters(std::move(parameters)),
        budget_([this] { return check_stop(); }, max_bytes) {}
  ExecContext(const ExecContext& other)
      : ExecContext(other.max_rows, other.warnings, other.now, other.deadline, other.cancel, other.parameters,
                    other.budget_.max_bytes()) {}
  ExecContext& operator=(const ExecContext&) = delete;

  std::optional<uint64_t> max_rows;
  std::vector<Warning> warnings;  // nothing adds to it
  literal::TimeValue now;         // the resolved now: what "@NOW" stands for
  std::optional<Deadline> deadline;
  CancelFlag cancel;  // never null inside a run
  ParameterMap parameters;

  construct::Result<void> check_stop() const { return construct::check_stop(*cancel, deadline); }
  // Counts `units` of work on the budget (a stop check when due).
  construct::Result<void> work(uint64_t units) const { return budget_.work(units); }
  construct::Budget& budget() const { return budget_; }

  construct::Result<const ParameterValue*> lookup_parameter(std::string_view written) const;

 private:
  mutable construct::Budget budget_{[this] { return check_stop(); }};
};

}  // namespace brackwater::velquin
