#include "terrain/attribute_roles.h"

#include <algorithm>
#include <functional>

#include "terrain/ordering.h"

namespace brackwater::terrain {

bool AttributeRoles::add(construct::Identity role, construct::Identity thing) {
  bool is_new = false;
  if (last_number_ == kNone || role != last_role_) {
    last_number_ = numbers_.number(role, &is_new);
    last_role_ = role;
  }
  things_.push_back(thing);
  thing_roles_.push_back(last_number_);
  return is_new;
}

Result<void> AttributeRoles::finish(const TerrainBudget& budget) {
  // Group the Things by Role, then sort each Role's and drop repeats.
  const std::vector<uint32_t> starts = group_stably(things_, thing_roles_, size());
  std::vector<uint32_t>().swap(thing_roles_);
  offsets_.assign(size() + 1, 0);
  size_t out = 0;
  for (uint32_t r = 0; r < size(); ++r) {
    if (auto stop = budget.check_stop_periodic(r); !stop) return stop;
    const std::span<construct::Identity> own = std::span(things_).subspan(starts[r], starts[r + 1] - starts[r]);
    if (!std::is_sorted(own.begin(), own.end())) {
      if (auto sorted = sort_checked(own, std::less<>(), budget); !sorted) return sorted;
    }
    offsets_[r] = static_cast<uint32_t>(out);
    for (const construct::Identity thing : own) {  // never ahead of the Thing it reads
      if (out == offsets_[r] || things_[out - 1] != thing) things_[out++] = thing;
    }
  }
  offsets_.back() = static_cast<uint32_t>(out);
  things_.resize(out);
  return {};
}

}  // namespace brackwater::terrain
