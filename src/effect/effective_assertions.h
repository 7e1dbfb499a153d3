// The assertions in effect at a pair of cutoffs.
//
// An assertion is a Posit whose Appearance set is exactly {target Posit in Role "posit", source Thing
// in Role "ascertains"}, whose value is a certainty and whose appearance time is the assertion time.
// It is in effect at (assertion cutoff, appearance cutoff) when its assertion time is at or before
// the assertion cutoff, its target's appearance time is at or before the appearance cutoff, its
// certainty is not 0%, no 0% assertion of the same source on the same target (within the cutoff)
// was made strictly later, no other remaining assertion of the same source over the same target set
// has a strictly later target time, and no other remaining assertion of the same source over the same
// target set and value text has a strictly later assertion time. "Later" is
// TimeValue::ends_at_or_before_start: identical values are never later than each other.
//
// The computation reads the engine (its caller holds the engine-wide lock), changes nothing, and its
// result is immutable and may be shared for the same cutoffs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/records.h"
#include "literal/time_value.h"

namespace brackwater::effect {

struct EffectCutoffs {
  literal::TimeValue assertion_cutoff;   // compared with each assertion's own appearance time
  literal::TimeValue appearance_cutoff;  // compared with the appearance time of its target

  // Both times identical (same precision and fields).
  bool operator==(const EffectCutoffs& other) const {
    return assertion_cutoff.identical(other.assertion_cutoff) && appearance_cutoff.identical(other.appearance_cutoff);
  }
};

struct EffectiveAssertion {
  construct::PositRef assertion;  // its appearance time is the assertion time
  construct::PositRef target;     // the Posit bound in Role "posit"
  construct::Identity source;     // the Thing bound in Role "ascertains"
  int8_t certainty;               // -100..100, never 0 in a result
};

// Sorted by source, target set (member-wise), target value text, target time and assertion time
// (structural order), target identity, assertion identity.
using EffectiveAssertions = std::shared_ptr<const std::vector<EffectiveAssertion>>;

// Counts its work on `budget`. Fails with `Cancelled`/`TimedOut` at a stop check, `LockPoisoned` on a poisoned component,
// `ResourceLimit` "effective assertion candidates" when more than `max_candidates` Posits bind both
// Roles, `Execution` for a malformed or dangling assertion within the cutoff, `Internal` for a broken
// index or certainty text, and `ResourceLimit` "effective temporal comparisons" when the pairwise
// passes need more than `max_comparisons` temporal comparisons.
construct::Result<EffectiveAssertions> compute_effective_assertions(construct::Engine& engine, const EffectCutoffs& cutoffs,
                                                                    uint64_t max_candidates, uint64_t max_comparisons,
                                                                    construct::Budget& budget);

}  // namespace brackwater::effect
