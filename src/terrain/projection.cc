#include "terrain/projection.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "terrain/ids.h"
#include "terrain/ordering.h"

namespace brackwater::terrain {

namespace {

struct RoleKey {
  uint64_t current = 0;
  uint64_t history = 0;
  const std::string* name = nullptr;  // nullptr: the Role has no name
  construct::Identity role = 0;
};

bool projection_order_is_less(const RoleKey& a, const RoleKey& b) {
  if (a.current != b.current) return a.current > b.current;
  if (a.history != b.history) return a.history > b.history;
  if (int c = compare_role_names(a.name, b.name)) return c < 0;
  return a.role < b.role;
}

EngineError unknown_role(construct::Identity role) {
  return EngineError::internal("Terrain references unknown Role " + decimal(role));
}

}  // namespace

Result<Projection> build_projection(const FrameStats& history, const FrameStats& current, const RoleNames& names,
                                    uint64_t limit, const TerrainBudget& budget) {
  // The attribute Roles of both frames, joined by hash.
  const AttributeRoles& h = history.attributes;
  const AttributeRoles& c = current.attributes;
  std::vector<RoleKey> keys;
  keys.reserve(size_t{h.size()} + c.size());
  std::vector<bool> joined(c.size());
  for (uint32_t i = 0; i < h.size(); ++i) {
    if (auto stop = budget.check_stop_periodic(i); !stop) return fail(std::move(stop.error()));
    RoleKey key;
    key.role = h.role(i);
    key.history = h.things(i).size();
    if (const uint32_t j = c.find(key.role); j != AttributeRoles::kNone) {
      key.current = c.things(j).size();
      joined[j] = true;
    }
    key.name = names.find(key.role);
    keys.push_back(key);
  }
  for (uint32_t j = 0; j < c.size(); ++j) {
    if (auto stop = budget.check_stop_periodic(j); !stop) return fail(std::move(stop.error()));
    if (!joined[j]) keys.push_back(RoleKey{c.things(j).size(), 0, names.find(c.role(j)), c.role(j)});
  }

  Projection out;
  out.total_attribute_roles = keys.size();
  out.complete = keys.size() <= limit;
  if (auto picked = keep_first(keys, std::min<uint64_t>(limit, keys.size()), projection_order_is_less, budget);
      !picked) {
    return fail(std::move(picked.error()));
  }
  for (size_t p = 0; p < keys.size(); ++p) {
    const RoleKey& key = keys[p];
    if (key.name == nullptr) return fail(unknown_role(key.role));
    out.roles.push_back(
        ProjectedRole{decimal(key.role), *key.name, static_cast<uint8_t>(p), key.history, key.current, key.role});
  }
  return out;
}

Result<void> compute_profile_masks(FrameStats& stats, const std::vector<ProjectedRole>& projected,
                                   const TerrainBudget& budget) {
  if (auto reset = stats.profile_masks.reset(stats.endpoint_bitmap, budget); !reset) return reset;
  for (const ProjectedRole& role : projected) {
    const uint32_t i = stats.attributes.find(role.role);
    if (i == AttributeRoles::kNone) continue;
    if (auto set = stats.profile_masks.set_bit(stats.attributes.things(i), role.bit, budget); !set) return set;
  }
  return {};
}

std::vector<RoleSupport> build_role_supports(const FrameStats& stats, const std::vector<ProjectedRole>& projected) {
  std::vector<RoleSupport> out;
  out.reserve(projected.size());
  for (const ProjectedRole& role : projected) out.push_back(RoleSupport{role.id, stats.support(role.role)});
  return out;
}

Result<ProfilesAndIsopleths> build_profiles(const FrameStats& stats, const std::vector<ProjectedRole>& projected,
                                            const TerrainBudget& budget) {
  const size_t k = projected.size();
  const size_t n = size_t{1} << k;  // k is at most 8
  std::array<uint64_t, 256> population{};
  std::optional<uint16_t> outside;
  auto counted = stats.profile_masks.for_each_mask(
      [&](uint16_t mask) {
        if (mask >= n) {
          outside = mask;
        } else {
          ++population[mask];
        }
      },
      budget);
  if (!counted) return fail(std::move(counted.error()));
  if (outside) {
    return fail(EngineError::internal("profile mask " + decimal(*outside) + " is outside projection"));
  }
  // Superset sums: afterwards support[m] counts the Things whose mask contains m.
  std::array<uint64_t, 256> support = population;
  for (size_t bit = 0; bit < k; ++bit) {
    for (size_t m = 0; m < n; ++m) {
      if ((m & (size_t{1} << bit)) == 0) support[m] += support[m | (size_t{1} << bit)];
    }
  }

  ProfilesAndIsopleths out;
  uint64_t total = 0;
  for (size_t m = 0; m < n; ++m) {
    if (population[m] == 0) continue;
    total += population[m];
    const auto mask = static_cast<uint16_t>(m);
    Profile profile{profile_id(mask), mask, {}, {}, population[m], std::nullopt};
    for (const ProjectedRole& role : projected) {
      ((mask >> role.bit) & 1 ? profile.present_role_ids : profile.absent_role_ids).push_back(role.id);
    }
    if (mask != 0) {
      profile.isopleth_id = isopleth_id(mask);
      out.isopleths.push_back(Isopleth{*profile.isopleth_id, mask, profile.present_role_ids, support[m]});
    }
    out.profiles.push_back(std::move(profile));
  }
  if (total != stats.counts.endpoint_things) {
    return fail(EngineError::internal("profile population " + decimal(total) + " does not equal endpoint Things " +
                                      decimal(stats.counts.endpoint_things)));
  }
  std::sort(out.isopleths.begin(), out.isopleths.end(), [](const Isopleth& a, const Isopleth& b) {
    const int bits_a = std::popcount(a.mask);
    const int bits_b = std::popcount(b.mask);
    if (bits_a != bits_b) return bits_a < bits_b;
    if (a.support != b.support) return a.support > b.support;
    return a.mask < b.mask;
  });
  return out;
}

}  // namespace brackwater::terrain
