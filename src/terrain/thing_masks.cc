#include "terrain/thing_masks.h"

#include <algorithm>

namespace brackwater::terrain {

Result<void> ThingMasks::reset(const construct::IdentitySet& endpoints, const TerrainBudget& budget) {
  things_.clear();
  masks_.clear();
  const uint64_t count = construct::identity_count(endpoints);
  if (count == 0) return {};
  base_ = endpoints.minimum();
  const uint64_t span = endpoints.maximum() - base_;
  dense_ = span < 4 * count + 65536;
  if (dense_) {
    masks_.assign(span + 1, kAbsent);
  } else {
    things_.reserve(count);
    masks_.reserve(count);
  }
  uint64_t step = 0;
  for (const construct::Identity thing : endpoints) {
    if (auto stop = budget.check_stop_periodic(step++); !stop) return fail(std::move(stop.error()));
    if (dense_) {
      masks_[thing - base_] = 0;
    } else {
      things_.push_back(thing);
      masks_.push_back(0);
    }
  }
  return {};
}

Result<void> ThingMasks::set_bit(std::span<const construct::Identity> things, unsigned bit,
                                 const TerrainBudget& budget) {
  const uint16_t flag = static_cast<uint16_t>(1u << (bit % 16));
  for (size_t step = 0; step < things.size(); ++step) {
    if (auto stop = budget.check_stop_periodic(step); !stop) return stop;
    mask_of(things[step]) |= flag;
  }
  return {};
}

size_t ThingMasks::position(construct::Identity thing) const {
  return static_cast<size_t>(std::lower_bound(things_.begin(), things_.end(), thing) - things_.begin());
}

}  // namespace brackwater::terrain
