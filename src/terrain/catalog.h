// The relationship catalog: the signatures of both frames, ordered and cut to a limit.
//
// Order: more appearance sets in the current frame first, then in the history frame, then more
// Roles, then the Role names position by position (a Role without a name first, then byte order),
// then the Role identities position by position. The order is total, so the two frames' signatures
// are joined by hash and the first `limit` are picked in one pass, never sorting them all. A kept
// signature with a Role that has no name fails with `Internal` "Terrain references unknown Role {}".
// The join, the naming of the Roles and the pick check for a stop every 1024 steps.
#pragma once

#include <cstdint>

#include "terrain/frame_stats.h"
#include "terrain/limits.h"
#include "terrain/model.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

Result<RelationshipCatalog> build_relationship_catalog(const FrameStats& history, const FrameStats& current,
                                                       const RoleNames& names, uint64_t limit,
                                                       const TerrainBudget& budget);

}  // namespace brackwater::terrain
