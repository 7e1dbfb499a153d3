// The work limits of one Terrain request and the stop checks of its loops.
//
// TerrainLimits is what a caller asks for; validate() checks the eight counts against their maxima
// in a fixed order (the first one above its maximum gives `ResourceLimit` with that limit's name and
// maximum; equal and 0 pass), then fixes the deadline (`Execution` "Terrain timeout is too large" when
// it cannot be represented), and yields the TerrainBudget every later step reads. check_stop reports
// a set cancel flag (`Cancelled`) before a reached deadline (`TimedOut`); check_stop_periodic runs it only
// at steps that are multiples of 1024, so the first step of every loop is checked. A loop whose steps
// do unequal work (sets of up to 256 members) paces its checks with PacedStop.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "construct/deadline.h"
#include "construct/error.h"
#include "literal/time_value.h"

namespace brackwater::terrain {

using construct::EngineError;
using construct::fail;
using construct::Result;

inline constexpr uint64_t kMaxPositsScanned = 1'000'000;
inline constexpr uint64_t kMaxActiveAppearanceSets = 250'000;
inline constexpr uint64_t kMaxEndpointThings = 1'000'000;
inline constexpr uint64_t kMaxTemporalComparisons = 5'000'000;
inline constexpr uint64_t kMaxRelationshipArity = 256;
inline constexpr uint64_t kMaxAllocations = 4'096;
inline constexpr uint64_t kMaxProjectedRoles = 8;
inline constexpr uint64_t kMaxRelationshipSignatures = 128;

struct TerrainBudget;

struct TerrainLimits {
  uint64_t posits_scanned = kMaxPositsScanned;
  uint64_t active_appearance_sets = kMaxActiveAppearanceSets;
  uint64_t endpoint_things = kMaxEndpointThings;
  uint64_t temporal_comparisons = kMaxTemporalComparisons;
  uint64_t relationship_arity = kMaxRelationshipArity;
  uint64_t allocations = kMaxAllocations;
  uint64_t projected_role_limit = kMaxProjectedRoles;
  uint64_t max_relationship_signatures = 16;
  std::optional<construct::Duration> timeout;  // absent: no deadline
  std::optional<literal::TimeValue> as_of;     // absent: the wall clock at capture
  construct::CancelFlag cancel;                // null: a private flag nobody sets

  Result<TerrainBudget> validate() const;
};

struct TerrainBudget {
  uint64_t posits_scanned = 0;
  uint64_t active_appearance_sets = 0;
  uint64_t endpoint_things = 0;
  uint64_t temporal_comparisons = 0;
  uint64_t relationship_arity = 0;
  uint64_t allocations = 0;
  uint64_t temporal_comparisons_used = 0;
  construct::CancelFlag cancel;  // never null
  std::optional<construct::Deadline> deadline;

  Result<void> check_stop() const { return construct::check_stop(*cancel, deadline); }

  Result<void> check_stop_periodic(uint64_t step) const {
    if ((step & 1023) != 0) return {};
    return check_stop();
  }

  // Charges one time comparison of the current-frame selection: fails once the budget is spent
  // (so at most `temporal_comparisons` succeed), and checks for a stop after every 1024th.
  Result<void> count_temporal_comparison() {
    const uint64_t used = temporal_comparisons_used;
    if (used == UINT64_MAX) return fail(EngineError::resource_limit("temporal comparisons", UINT64_MAX));
    temporal_comparisons_used = used + 1;
    if (used >= temporal_comparisons) {
      return fail(EngineError::resource_limit("temporal comparisons", temporal_comparisons));
    }
    if (((used + 1) & 1023) == 0) return check_stop();
    return {};
  }
};

// The stop checks of a loop whose steps do unequal work: before every 1024th step, as
// check_stop_periodic, and besides before any step once the steps since the last check have done
// kWork units of work, so that 1024 heavy steps do not run unchecked.
class PacedStop {
 public:
  static constexpr uint64_t kWork = 16384;

  explicit PacedStop(const TerrainBudget& budget) : budget_(budget) {}

  // Before step `step`, which will do `work` units.
  Result<void> before(uint64_t step, uint64_t work) {
    if ((step & 1023) == 0 || done_ >= kWork) {
      done_ = 0;
      if (auto stop = budget_.check_stop(); !stop) return stop;
    }
    done_ += work;
    return {};
  }

 private:
  const TerrainBudget& budget_;
  uint64_t done_ = 0;
};

}  // namespace brackwater::terrain
