// The projection of attribute Roles, and per frame the profile masks, role supports, profiles and
// isopleths.
//
// The projection keeps at most `limit` of the attribute Roles of both frames, ordered by current
// support (greater first), history support (greater first), name (a Role without a name first, then
// byte order) and identity; a kept Role without a name fails with `Internal` "Terrain references
// unknown Role {}". A Thing's mask in a frame has bit b set when the Thing is alone in the Role of
// bit b in some one-member set of that frame. A profile counts the endpoint Things of exactly one
// mask (ascending mask); an isopleth, one per non-zero mask that has a profile, counts the Things
// whose mask contains it, ordered by fewer bits, greater support, then smaller mask.
#pragma once

#include <cstdint>
#include <vector>

#include "terrain/frame_stats.h"
#include "terrain/limits.h"
#include "terrain/model.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

// The join of both frames' attribute Roles and the pick of the first `limit` check for a stop every
// 1024 Roles.
Result<Projection> build_projection(const FrameStats& history, const FrameStats& current, const RoleNames& names,
                                    uint64_t limit, const TerrainBudget& budget);

// Fills the frame's profile_masks, with a stop check every 1024 Things.
Result<void> compute_profile_masks(FrameStats& stats, const std::vector<ProjectedRole>& projected,
                                   const TerrainBudget& budget);

std::vector<RoleSupport> build_role_supports(const FrameStats& stats, const std::vector<ProjectedRole>& projected);

struct ProfilesAndIsopleths {
  std::vector<Profile> profiles;
  std::vector<Isopleth> isopleths;
};

// From the frame's profile masks; their population must equal the frame's endpoint Things. Counting
// the masks checks for a stop every 1024 Things.
Result<ProfilesAndIsopleths> build_profiles(const FrameStats& stats, const std::vector<ProjectedRole>& projected,
                                            const TerrainBudget& budget);

}  // namespace brackwater::terrain
