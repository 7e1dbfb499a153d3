// The statistics of one frame, gathered from its Posit counts per appearance set.
//
// For each set with m members and c Posits of the frame: m above the arity bound
// (`relationship_arity`, or 1 when that is 0) fails with `ResourceLimit` "relationship arity" (maximum: the
// budget's value); m * c adds to the incidences; the members' Things join the endpoint Things (more
// than `endpoint_things` fails with "endpoint Things"); a one-member set files its Thing under its
// Role in the attribute map; a larger set adds its Posits and itself to the entry of its signature.
// These checks are made in appearance-set order (member by member, Role then Thing identity). The
// sets are first walked as given, and only a walk that fails is repeated in that order, so that the
// error reported is the one that order meets first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "construct/identity_set.h"
#include "construct/records.h"
#include "terrain/limits.h"
#include "terrain/model.h"
#include "terrain/thing_masks.h"

namespace brackwater::terrain {

// Signatures compare element by element, a prefix first; lookups take any span of identities.
struct SignatureLess {
  using is_transparent = void;
  bool operator()(std::span<const uint64_t> a, std::span<const uint64_t> b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  }
};

struct RelationshipCounts {
  std::vector<construct::AppearanceSetRef> sets;  // each of the frame's sets with the signature once
  uint64_t posits = 0;
};

using SignatureMap = std::map<Signature, RelationshipCounts, SignatureLess>;

struct FrameStats {
  FrameCounts counts;
  construct::IdentitySet endpoint_bitmap;
  std::map<construct::Identity, construct::IdentitySet> attribute_map;  // Role -> Things alone in it
  SignatureMap signature_map;
  ThingMasks profile_masks;  // filled by compute_profile_masks

  // The Role's support: the Things alone in it in some one-member set of the frame.
  uint64_t support(construct::Identity role) const {
    auto it = attribute_map.find(role);
    return it == attribute_map.end() ? 0 : it->second.cardinality();
  }
};

// `posits[i]` is the frame's Posit count of `sets[i]`; sets with 0 are not in the frame.
Result<FrameStats> collect_frame_stats(std::span<const construct::AppearanceSetRef> sets,
                                       std::span<const uint32_t> posits, const TerrainBudget& budget);

}  // namespace brackwater::terrain
