// One frame of the Terrain: its statistics, role supports, profiles and isopleths, and one
// relationship per kept catalog signature, in catalog order.
//
// A relationship counts, per Role of its signature, the distinct Things and the participations
// (one per set member, whatever the set's Posit count), and splits both by the Things' profile
// masks into allocations: one per (Role, mask) that occurs. A signature the frame lacks still has
// its relationship, with zero counts, zeroed Role totals and no allocations. The allocations of
// both frames count against one budget (`allocation_total` carries over from the history frame):
// a total above `allocations` fails with `ResourceLimit` "allocations", equal passes. The relationship loop
// and each relationship's set loop check for a stop every 1024 steps, the set loop also after every
// 16,384 members (PacedStop).
#pragma once

#include <cstdint>
#include <vector>

#include "terrain/frame_stats.h"
#include "terrain/limits.h"
#include "terrain/model.h"

namespace brackwater::terrain {

Result<TerrainFrame> build_terrain_frame(FrameScope scope, const FrameStats& stats,
                                         const std::vector<ProjectedRole>& projected,
                                         const std::vector<Signature>& signatures, const TerrainBudget& budget,
                                         uint64_t& allocation_total);

}  // namespace brackwater::terrain
