// The relationship catalog: the signatures of both frames, ordered and cut to a limit.
//
// Order: more appearance sets in the current frame first, then in the history frame, then more
// Roles, then the Role names position by position (a Role without a name first, then byte order),
// then the Role identities position by position. The first `limit` are kept; a kept signature
// with a Role that has no name fails with `Internal` "Terrain references unknown Role {}".
#pragma once

#include <cstdint>

#include "terrain/frame_stats.h"
#include "terrain/model.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

Result<RelationshipCatalog> build_relationship_catalog(const FrameStats& history, const FrameStats& current,
                                                       const RoleNames& names, uint64_t limit);

}  // namespace brackwater::terrain
