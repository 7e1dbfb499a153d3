// The Terrain report: a statistical map of a database for its history and for the state current
// at a chosen moment, computed within fixed work limits.
//
// capture_terrain validates the limits, resolves `as_of` (the UTC wall clock when absent), copies
// the snapshot under the engine-wide lock (held for the copy only) and builds the Terrain from it:
// the two frames, their statistics, the projection, both frames' profile masks, the relationship
// catalog, then the history frame and the current frame, with a stop check before the catalog and
// one at the end (each step checks inside its own loops too). Any failure
// abandons the whole report. The engine must stay alive until this returns.
// write_terrain_json appends the compact JSON of a Terrain.
#pragma once

#include <cstdint>
#include <string>

#include "construct/engine.h"
#include "terrain/limits.h"
#include "terrain/model.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

Result<Terrain> capture_terrain(construct::Engine& engine, const TerrainLimits& limits);

// The Terrain of a snapshot (exposed for tests that build snapshots by hand).
Result<Terrain> build_terrain(TerrainSnapshot snapshot, const literal::TimeValue& as_of,
                              uint64_t projected_role_limit, uint64_t max_relationship_signatures,
                              TerrainBudget& budget);

// "@BOT", "@EOT", or the display text between single quotes ('2024-05-01').
std::string format_resolved_as_of(const literal::TimeValue& as_of);

void write_terrain_json(const Terrain& terrain, std::string& out);

}  // namespace brackwater::terrain
