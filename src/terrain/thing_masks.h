// The profile masks of one frame: a 16-bit mask per endpoint Thing.
//
// Thing identities come from one sequence shared with Roles and Posits, so a frame's endpoint
// Things usually span a range not much wider than their number: then the masks sit in an array
// indexed by identity (2 bytes per identity of the range). A sparse range falls back to a sorted
// identity list searched by bisection.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "construct/identity.h"
#include "construct/identity_set.h"
#include "terrain/limits.h"

namespace brackwater::terrain {

class ThingMasks {
 public:
  // Enters every Thing of `endpoints` with mask 0, with a stop check before every 1024th.
  Result<void> reset(const construct::IdentitySet& endpoints, const TerrainBudget& budget);

  // Sets bit `bit` in the mask of every Thing of `things`, all of them endpoints, with a stop check
  // before every 1024th.
  Result<void> set_bit(std::span<const construct::Identity> things, unsigned bit, const TerrainBudget& budget);

  // The mask of an endpoint Thing; no value for any other identity.
  std::optional<uint16_t> find(construct::Identity thing) const {
    if (dense_) {
      if (thing < base_ || thing - base_ >= masks_.size() || masks_[thing - base_] == kAbsent) return std::nullopt;
      return masks_[thing - base_];
    }
    const size_t i = position(thing);
    if (i == things_.size() || things_[i] != thing) return std::nullopt;
    return masks_[i];
  }

  // Calls f(mask) once per endpoint Thing, with a stop check every 1024 masks looked at.
  template <class F>
  Result<void> for_each_mask(F&& f, const TerrainBudget& budget) const {
    for (size_t i = 0; i < masks_.size(); ++i) {
      if (auto stop = budget.check_stop_periodic(i); !stop) return stop;
      if (!dense_ || masks_[i] != kAbsent) f(masks_[i]);
    }
    return {};
  }

 private:
  static constexpr uint16_t kAbsent = 0xFFFF;  // masks use at most 8 bits

  size_t position(construct::Identity thing) const;
  uint16_t& mask_of(construct::Identity endpoint) { return masks_[dense_ ? endpoint - base_ : position(endpoint)]; }

  bool dense_ = true;
  construct::Identity base_ = 0;
  std::vector<construct::Identity> things_;  // sparse form: the endpoints, ascending
  std::vector<uint16_t> masks_;              // by identity - base_ (dense) or by position in things_
};

}  // namespace brackwater::terrain
