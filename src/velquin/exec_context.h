// The per-call context of script execution, its stop check and the parameter lookup.
//
// check_stop is construct::check_stop over the context's cancel flag and deadline. lookup_parameter drops exactly one leading "$" of the name as written
// and looks the rest up exactly; absent: `InvalidParameter` "missing parameter '${}'".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

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
  std::optional<uint64_t> max_rows;
  std::vector<Warning> warnings;  // nothing adds to it
  literal::TimeValue now;         // the resolved now: what "@NOW" stands for
  std::optional<Deadline> deadline;
  CancelFlag cancel;  // never null inside a run
  ParameterMap parameters;

  construct::Result<void> check_stop() const { return construct::check_stop(*cancel, deadline); }

  construct::Result<const ParameterValue*> lookup_parameter(std::string_view written) const;
};

}  // namespace brackwater::velquin
