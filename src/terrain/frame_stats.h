// The statistics of one frame, gathered from its Posit counts per appearance set.
//
// For each set with m members and c Posits of the frame: m above the arity bound
// (`relationship_arity`, or 1 when that is 0) fails with `ResourceLimit` "relationship arity" (maximum: the
// budget's value); m * c adds to the incidences; the members' Things join the endpoint Things (more
// than `endpoint_things` fails with "endpoint Things"); a one-member set files its Thing under its
// Role among the attribute Roles; a larger set adds its Posits and itself to its signature.
// These checks are made in appearance-set order (member by member, Role then Thing identity). The
// sets are first walked as given, and only a walk that fails is repeated in that order (sorted
// with stop checks), so that the error reported is the one that order meets first. A walk checks
// for a stop every 1024 sets and after every 16,384 members (PacedStop).
//
// The statistics are built in place and handed on by pointer: the Things bitmap is not cheap to move.
// A large one goes to the background releaser when its owner lets it go.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "construct/identity_set.h"
#include "construct/records.h"
#include "terrain/attribute_roles.h"
#include "terrain/limits.h"
#include "terrain/model.h"
#include "terrain/signature_table.h"
#include "terrain/thing_masks.h"

namespace brackwater::terrain {

struct FrameStats {
  FrameCounts counts;
  construct::IdentitySet endpoint_bitmap;
  AttributeRoles attributes;   // Role -> Things alone in it
  SignatureTable signatures;   // relationship signatures, with their Posits and sets
  ThingMasks profile_masks;    // filled by compute_profile_masks

  // The Role's support: the Things alone in it in some one-member set of the frame.
  uint64_t support(construct::Identity role) const { return attributes.support(role); }
};

struct FrameStatsRelease {
  void operator()(FrameStats* stats) const;
};
using FrameStatsPtr = std::unique_ptr<FrameStats, FrameStatsRelease>;

// `posits[i]` is the frame's Posit count of `sets[i]`; sets with 0 are not in the frame.
Result<FrameStatsPtr> collect_frame_stats(std::span<const construct::AppearanceSetRef> sets,
                                          std::span<const uint32_t> posits, const TerrainBudget& budget);

}  // namespace brackwater::terrain
