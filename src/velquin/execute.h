// Script execution: the one entry that runs a Velquin script against an engine.
//
// execute_script fixes the deadline (overflow: `Execution` "execution timeout is too large"), resolves
// "now" (the given value, else the UTC wall clock read once), converts every parameter (before the
// engine lock is taken, so a bad parameter beats a parse error), takes the engine-wide lock by
// polling (try; cancel flag -> `Cancelled`; deadline -> `TimedOut`; sleep 1 ms), trims and parses the script,
// and runs the statements in order with a stop check before each and before the end of input. It
// returns one ResultSet per search that yields one, in statement order, or the first error; the
// effects of statements that completed before a failure stay committed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "literal/json_writer.h"
#include "literal/time_value.h"
#include "velquin/exec_context.h"
#include "velquin/result_set.h"
#include "velquin/script_parameter.h"

namespace brackwater::velquin {

struct ExecuteOptions {
  std::optional<uint64_t> max_rows;      // row cap of every result set; callers never pass 0
  std::optional<Duration> timeout;       // absent: no deadline
  std::optional<literal::TimeValue> now;  // what "@NOW" means; absent: the wall clock
  ScriptParameterMap parameters;
  CancelFlag cancel;  // null: a private flag nobody sets
  // The response the caller writes around the returned sets (its envelope), but for the first
  // set's warnings, which the envelope repeats: counted with the sets against the result limit.
  literal::JsonTextSize response_envelope;
  // When given, receives on success at least the bytes of the response: the envelope, the first
  // set's warnings (a comma between two) and the sets' JSON (each set as append_result_set_json
  // writes it, a comma between two), as counted while their rows were kept.
  uint64_t* response_json_bytes = nullptr;
};

construct::Result<std::vector<ResultSet>> execute_script(std::shared_ptr<construct::Engine> engine,
                                                         std::string_view script, ExecuteOptions options);

}  // namespace brackwater::velquin
