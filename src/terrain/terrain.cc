#include "terrain/terrain.h"

#include "terrain/capture.h"
#include "terrain/catalog.h"
#include "terrain/frame_stats.h"
#include "terrain/frames.h"
#include "terrain/ids.h"
#include "terrain/projection.h"
#include "terrain/relationships.h"

namespace brackwater::terrain {

Result<Terrain> capture_terrain(construct::Engine& engine, const TerrainLimits& limits) {
  auto budget = limits.validate();
  if (!budget) return fail(std::move(budget.error()));
  const literal::TimeValue as_of = limits.as_of ? *limits.as_of : literal::wall_clock_now();
  if (auto stop = budget->check_stop(); !stop) return fail(std::move(stop.error()));
  auto snapshot = capture_snapshot(engine, *budget);
  if (!snapshot) return fail(std::move(snapshot.error()));
  return build_terrain(std::move(*snapshot), as_of, limits.projected_role_limit, limits.max_relationship_signatures,
                       *budget);
}

Result<Terrain> build_terrain(TerrainSnapshot snapshot, const literal::TimeValue& as_of, uint64_t projected_role_limit,
                              uint64_t max_relationship_signatures, TerrainBudget& budget) {
  auto frames = select_frames(std::move(snapshot.entries), as_of, budget);
  if (!frames) return fail(std::move(frames.error()));
  auto collected = collect_frame_stats(frames->sets, frames->history_posits, budget);
  if (!collected) return fail(std::move(collected.error()));
  const FrameStatsPtr history = std::move(*collected);
  collected = collect_frame_stats(frames->sets, frames->current_posits, budget);
  if (!collected) return fail(std::move(collected.error()));
  const FrameStatsPtr current = std::move(*collected);
  frames.value() = FrameSets{};

  Terrain out;
  auto projection = build_projection(*history, *current, snapshot.role_names, projected_role_limit, budget);
  if (!projection) return fail(std::move(projection.error()));
  out.projection = std::move(*projection);
  for (FrameStats* stats : {history.get(), current.get()}) {
    if (auto masks = compute_profile_masks(*stats, out.projection.roles, budget); !masks) {
      return fail(std::move(masks.error()));
    }
  }
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
  auto catalog =
      build_relationship_catalog(*history, *current, snapshot.role_names, max_relationship_signatures, budget);
  if (!catalog) return fail(std::move(catalog.error()));
  out.relationship_catalog = std::move(*catalog);

  uint64_t allocation_total = 0;
  auto history_frame = build_terrain_frame(FrameScope::History, *history, out.projection.roles,
                                           out.relationship_catalog.kept, budget, allocation_total);
  if (!history_frame) return fail(std::move(history_frame.error()));
  out.history = std::move(*history_frame);
  auto current_frame = build_terrain_frame(FrameScope::Current, *current, out.projection.roles,
                                           out.relationship_catalog.kept, budget, allocation_total);
  if (!current_frame) return fail(std::move(current_frame.error()));
  out.current = std::move(*current_frame);
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  out.terrain_version = kTerrainVersion;
  out.resolved_as_of = format_resolved_as_of(as_of);
  out.database = snapshot.counts;
  return out;
}

std::string format_resolved_as_of(const literal::TimeValue& as_of) {
  switch (as_of.tag) {
    case literal::TimeTag::Bot: return "@BOT";
    case literal::TimeTag::Eot: return "@EOT";
    default: return "'" + as_of.display() + "'";
  }
}

}  // namespace brackwater::terrain
