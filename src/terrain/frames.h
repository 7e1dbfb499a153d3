// The two frames of a Terrain as counts per appearance set.
//
// The history frame holds every captured Posit. The current frame holds, for each appearance set,
// the candidates (a time identical to `as_of`, or one ending at or before the start of `as_of`)
// that no other candidate of the set lies entirely after: ties and overlapping times are all kept.
// Each candidate test and each pairwise test is one temporal comparison charged to the budget, in
// entry order within a set; the selection checks for a stop before every set. More distinct sets
// than `active_appearance_sets` fail with `ResourceLimit` "active appearance sets".
//
// Sets are listed in order of first appearance (ascending posit identity): the appearance-set
// order decides nothing here, since every count of the selection is the same in any set order.
#pragma once

#include <cstdint>
#include <vector>

#include "terrain/limits.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

struct FrameSets {
  std::vector<construct::AppearanceSetRef> sets;
  std::vector<uint32_t> history_posits;  // per set: its Posits
  std::vector<uint32_t> current_posits;  // per set: its Posits in the current frame (may be 0)
};

// Consumes the entries (their memory is released before this returns).
Result<FrameSets> select_frames(std::vector<SnapshotEntry> entries, const literal::TimeValue& as_of,
                                TerrainBudget& budget);

}  // namespace brackwater::terrain
